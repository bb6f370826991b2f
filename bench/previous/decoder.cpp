// SPDX-License-Identifier: BSD-3-Clause
#include "decoder.h"

#include <cstdio>

#include "gateway/failure.h"
#include "gateway/messages.h"

// Bits one renormalisation can take: the settled bits and a run of follow
// conditions together never exceed two code widths.
constexpr int32_t DECODER_FAST_BITS = 2 * CODE_BITS;

// Next byte of the input, 0..255, or EOF past the end of a file; reads the
// stream DECODER_INPUT_BYTES at a time.
static int decoder_next_byte(DecoderState* state) {
  if (state->input_pos == state->input_length) {
    if (state->input_ended) return EOF;
    state->input_length = stream_get_bytes(state->stream, state->input, DECODER_INPUT_BYTES);
    state->input_pos = 0;
    state->input_ended = state->input_length < DECODER_INPUT_BYTES;
    if (state->input_length == 0) return EOF;
  }
  return state->input[state->input_pos++];
}

// Tops the reservoir up to at least 57 bits, unless the read that must fail
// has been met: its bits, and any after it, never enter the reservoir. Each
// byte missing at the end of a file counts as one end-of-file read of eight
// 1 bits.
PREVIOUS_OUT_OF_LINE static void decoder_refill(DecoderState* state) {
  if (state->exhausted != DECODER_READING) return;
  while (state->reserved <= 56) {
    int byte = decoder_next_byte(state);
    if (byte == EOF) {
      state->garbage_bits += 1;
      if (state->garbage_bits > MAX_GARBAGE_READS) {
        state->exhausted = DECODER_EXHAUSTED;
        return;
      }
      byte = 0xFF;
    }
    state->reservoir |= static_cast<uint64_t>(CODE_REVERSED_BYTES[byte]) << (56 - state->reserved);
    state->reserved += 8;
  }
}

// Takes count (0..DECODER_FAST_BITS) bits that the reservoir holds, the first
// as the most significant.
static int32_t decoder_take_bits(DecoderState* state, int count) {
  auto bits = static_cast<int32_t>((state->reservoir >> 1) >> (63 - count));  // 0 bits for count 0
  state->reservoir <<= count;
  state->reserved -= count;
  return bits;
}

// One bit, refilling as needed; raises at the bit of the read that must fail,
// after which the decoder stays failed.
static int32_t decoder_get_bit(DecoderState* state) {
  if (state->reserved == 0) decoder_refill(state);
  if (state->reserved == 0) {
    state->exhausted = DECODER_FAILED;
    raise_failure(MSG_BAD_INPUT_FILE);
  }
  return decoder_take_bits(state, 1);
}

int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory) {
  state->stream = nullptr;
  if (from_memory) {
    if (count_or_offset < 0 || count_or_offset > INT32_MAX) raise_failure(MSG_BUFFER_ALLOCATION);
    state->stream = stream_open_memory_reader(static_cast<const uint8_t*>(source),
                                              static_cast<int32_t>(count_or_offset));
  } else {
    state->stream = stream_open_file(static_cast<const char*>(source), "rb");
    if (count_or_offset > 0 && stream_seek(state->stream, count_or_offset, 0) < 0) {
      raise_failure(MSG_UNSEEKABLE);
    }
  }
  state->reservoir = 0;
  state->reserved = 0;
  state->input_pos = 0;
  state->input_length = 0;
  state->input_ended = 0;
  state->garbage_bits = 0;
  state->exhausted = DECODER_READING;
  decoder_refill(state);
  state->value = decoder_take_bits(state, CODE_BITS);
  state->last_symbol = -1;
  state->last_bottom = 0;
  state->last_leaf = 0;
  state->leaf_churn = 0;
  state->low = 0;
  state->high = CODE_TOP;
  return 0;
}

// Prints the cumulative table when no symbol fits the value.
static void decoder_dump(const FrequencyModel* model, int32_t cum) {
  std::printf("cum=%ld\n", static_cast<long>(cum));
  for (int32_t j = 0; j <= model->nsym; ++j) {
    std::printf("csym[%d]=%ld\n", static_cast<int>(j), static_cast<long>(model_cumulative(model, j)));
  }
  std::fflush(stdout);
}

// Renormalises one bit at a time: near a failing end of file, where the
// failure must come at exactly the right bit and leave the registers as
// they stand at that bit.
PREVIOUS_OUT_OF_LINE static void decoder_renormalise_slowly(DecoderState* state) {
  for (;;) {
    if (state->high < CODE_HALF) {
      // the top bit is 0 for low, high and value alike
    } else if (state->low >= CODE_HALF) {
      state->value -= CODE_HALF;
      state->low -= CODE_HALF;
      state->high -= CODE_HALF;
    } else if (state->low >= CODE_QUARTER && state->high < CODE_THREE_QUARTERS) {
      state->value -= CODE_QUARTER;
      state->low -= CODE_QUARTER;
      state->high -= CODE_QUARTER;
    } else {
      break;
    }
    state->low = 2 * state->low;
    state->high = 2 * state->high + 1;
    state->value = 2 * state->value + decoder_get_bit(state);
  }
}

// Shifts out the settled bits of low, high and value together, then removes
// the run of follow conditions behind them, taking a new bit for each.
static inline void decoder_renormalise(DecoderState* state) {
  if (state->reserved < DECODER_FAST_BITS) decoder_refill(state);
  if (state->reserved < DECODER_FAST_BITS) {
    decoder_renormalise_slowly(state);
    return;
  }
  // Both steps work unchanged for a count of 0, so they need no branch.
  int settled = code_equal_leading_bits(state->low, state->high);
  state->low = (state->low << settled) & CODE_TOP;
  state->high = ((state->high << settled) & CODE_TOP) | ((1 << settled) - 1);
  state->value = ((state->value << settled) & CODE_TOP) | decoder_take_bits(state, settled);
  int follow = code_follow_run(state->low, state->high);
  state->low = (state->low << follow) & (CODE_HALF - 1);
  state->high = ((state->high << follow) & (CODE_HALF - 1)) | CODE_HALF | ((1 << follow) - 1);
  state->value = (state->value & CODE_HALF) | ((state->value << follow) & (CODE_HALF - 1)) |
                 decoder_take_bits(state, follow);
}

// The body of decoder_decode, inlined into the loop of decoder_decode_symbols.
// Tells whether the symbol decoded last is the one the value selects again,
// without the search: for a model whose cumulative counts never rise, s is
// the first symbol with csym(s+1) <= cum exactly when csym(s+1) <= cum <
// csym(s), and c <= cum exactly when range * c / total (rounded down) <=
// value - low. The scaled bounds are the new interval's, so a right guess
// costs no division. Counting s changed neither csym(s+1) nor, since
// last_bottom is dropped at a halving, anything else the guess reads.
static inline bool decoder_guess_holds(const DecoderState* state, const FrequencyModel* model, int32_t range,
                                       int32_t total, int32_t* bottom_scaled, int32_t* top_scaled) {
  // Only a symbol that holds most of the counts is worth the try.
  if (state->last_symbol < 0 || 2 * model->freq[state->last_symbol] <= total) return false;
  int32_t bottom = state->last_bottom;
  *bottom_scaled = code_divide_by_total(range * bottom, total);
  *top_scaled = code_divide_by_total(range * (bottom + model->freq[state->last_symbol]), total);
  int32_t offset = state->value - state->low;
  return *bottom_scaled <= offset && offset < *top_scaled;
}

// Counts the tree levels at which leaf parts from the leaf found before it,
// into a running mean that weighs the last 16 searches most.
static inline void decoder_track_leaf(DecoderState* state, int32_t leaf) {
  int32_t parted = code_bit_length(static_cast<uint32_t>(leaf ^ state->last_leaf));
  state->leaf_churn += parted - (state->leaf_churn >> 4);
  state->last_leaf = leaf;
}

// Finds the symbol the value selects by its cumulative count, as a linear
// search from symbol 0 would, with its bottom csym(s+1) and scaled bounds.
static inline int32_t decoder_search(DecoderState* state, const FrequencyModel* model, int32_t range,
                                     int32_t total, int32_t* bottom, int32_t* bottom_scaled, int32_t* top_scaled) {
  int32_t cum = ((state->value - state->low + 1) * total - 1) / range;
  int32_t top = 0;
  int32_t levels = code_bit_length(static_cast<uint32_t>(model->tree_size)) - 1;
  int32_t masked = state->leaf_churn > DECODER_MASKED_CHURN * levels;
  int32_t s = model_find_symbol(model, cum, &top, bottom, masked);
  if (s >= model->head && s < model->nsym) decoder_track_leaf(state, s - model->head);
  if (s == model->nsym) {
    decoder_dump(model, cum);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  if (*bottom < 0 || top > total) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  *bottom_scaled = code_divide_by_total(range * *bottom, total);
  *top_scaled = code_divide_by_total(range * top, total);
  return s;
}

// The body of decoder_decode, inlined into the loop of decoder_decode_symbols.
// The symbol decoded last is tried first when it holds most of the counts: a
// source that mostly repeats one symbol then skips the division and the
// search.
static inline int32_t decoder_next_symbol(DecoderState* state, FrequencyModel* model) {
  // A symbol abandoned at the end of a file leaves the registers midway, and
  // further turns would only widen them without bound.
  if (state->exhausted == DECODER_FAILED) raise_failure(MSG_BAD_INPUT_FILE);
  int32_t range = state->high - state->low + 1;
  int32_t total = model_total(model);
  // Only caller-supplied counts can leave a model without a positive total.
  if (model->nsym > 0 && total <= 0) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t bottom_scaled = 0;
  int32_t top_scaled = 0;
  int32_t s = state->last_symbol;
  if (!decoder_guess_holds(state, model, range, total, &bottom_scaled, &top_scaled)) {
    s = decoder_search(state, model, range, total, &state->last_bottom, &bottom_scaled, &top_scaled);
    state->last_symbol = model->ordered ? s : -1;
  }
  state->high = state->low + top_scaled - 1;
  state->low = state->low + bottom_scaled;
  if (code_needs_renormalising(state->low, state->high)) decoder_renormalise(state);
  if (model->adaptive) {
    model_update(model, s);
    if (model_total(model) != total + 1) state->last_symbol = -1;  // halved
  }
  return s;
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) { return decoder_next_symbol(state, model); }

void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  for (size_t i = 0; i < count; ++i) symbols[i] = decoder_next_symbol(state, model);
}

void decoder_close(DecoderState* state) {
  ByteStream* stream = state->stream;
  state->stream = nullptr;
  stream_close(stream);
}
