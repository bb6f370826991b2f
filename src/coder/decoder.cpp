// SPDX-License-Identifier: BSD-3-Clause
#include "coder/decoder.h"

#include <cstdio>
#include <cstring>

#include "coder/bits.h"
#include "gateway/checks.h"
#include "gateway/failure.h"

// Moves the unread bytes of input to its front and reads more behind them,
// putting their bits top first. Past the end of a file each missing byte
// counts as one end-of-file read of eight 1 bits, up to the read that must
// fail: that one never enters input.
CODE_OUT_OF_LINE static void decoder_refill(DecoderState* state) {
  if (state->input_state != DECODER_READING) return;
  int32_t first = state->input_pos / 8;
  int32_t kept = state->input_bits / 8 - first;
  std::memmove(state->input, state->input + first, static_cast<size_t>(kept));
  state->input_pos -= 8 * first;
  int32_t wanted = DECODER_INPUT_BYTES - kept;
  int32_t got = state->input_ended ? 0 : stream_get_bytes(state->stream, state->input + kept, wanted);
  if (got < wanted) state->input_ended = 1;
  code_reverse_bytes(state->input + kept, got);
  int32_t held = kept + got;
  for (; held < DECODER_INPUT_BYTES && state->input_ended; ++held) {
    if (state->garbage_bits == MAX_GARBAGE_READS) {
      state->input_state = DECODER_AT_FAILING_READ;
      break;
    }
    state->garbage_bits += 1;
    state->input[held] = 0xFF;
  }
  state->input_bits = 8 * held;
}

// The next count (0..DECODER_SYMBOL_BITS-1) bits of input, the first as the
// most significant; input must hold them.
static inline uint32_t decoder_take_bits(const uint8_t* input, int32_t* pos, int32_t count) {
  uint64_t word = code_load_top_first(input + *pos / 8) << (*pos % 8);
  *pos += count;
  return static_cast<uint32_t>((word >> 1) >> (63 - count));  // 0 bits for count 0
}

// One bit, refilling as needed; raises at the bit of the read that must fail,
// after which the decoder stays failed.
static int32_t decoder_get_bit(DecoderState* state) {
  if (state->input_pos == state->input_bits) decoder_refill(state);
  if (state->input_pos == state->input_bits) {
    state->input_state = DECODER_FAILED;
    raise_failure(MSG_BAD_INPUT_FILE);
  }
  return static_cast<int32_t>(decoder_take_bits(state->input, &state->input_pos, 1));
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
  state->input_bits = 0;
  state->input_pos = 0;
  state->input_ended = 0;
  state->garbage_bits = 0;
  state->input_state = DECODER_READING;
  std::memset(state->input, 0, sizeof state->input);
  decoder_refill(state);  // at least 14 bytes: a file's end gives 14 end-of-file reads
  state->value = static_cast<int32_t>(decoder_take_bits(state->input, &state->input_pos, CODE_BITS));
  state->low = 0;
  state->high = CODE_TOP;
  state->last_symbol = -1;
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

// Renormalises one bit at a time, with the tests in their defining order:
// near a failing end of file, where the failure must come at exactly the
// right bit and leave the registers as they stand at that bit.
CODE_OUT_OF_LINE static void decoder_renormalise_slowly(DecoderState* state) {
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

// The registers of a decoder that a run of symbols changes, kept in locals
// while it runs and stored back before anything that may raise or look at
// the decoder.
struct DecoderRegisters {
  uint32_t value;       // as DecoderState
  uint32_t low;         // as DecoderState
  uint32_t high;        // as DecoderState
  int32_t input_pos;    // as DecoderState
  int32_t last_symbol;  // as DecoderState
};

static inline DecoderRegisters decoder_load(const DecoderState* state) {
  return DecoderRegisters{static_cast<uint32_t>(state->value), static_cast<uint32_t>(state->low),
                          static_cast<uint32_t>(state->high), state->input_pos, state->last_symbol};
}

static inline void decoder_store(DecoderState* state, const DecoderRegisters& r) {
  state->value = static_cast<int32_t>(r.value);
  state->low = static_cast<int32_t>(r.low);
  state->high = static_cast<int32_t>(r.high);
  state->input_pos = r.input_pos;
  state->last_symbol = r.last_symbol;
}

// Shifts out the bits on which low and high agree, then the run of follow
// conditions behind them, taking the bits value needs in one read; input
// must hold DECODER_SYMBOL_BITS bits.
static inline void decoder_settle(DecoderState* state, DecoderRegisters& r, uint32_t low, uint32_t high) {
  int32_t settled = code_settled_bits(low, high);
  low = (low << settled) & CODE_TOP;
  high = ((high << settled) & CODE_TOP) | ((1u << settled) - 1);
  int32_t follow = code_follow_run(low, high);
  r.low = (low << follow) & (CODE_HALF - 1);
  r.high = ((high << follow) & (CODE_HALF - 1)) | CODE_HALF | ((1u << follow) - 1);
  uint32_t bits = decoder_take_bits(state->input, &r.input_pos, settled + follow);
  uint32_t value = ((r.value << settled) & CODE_TOP) | (bits >> follow);
  r.value = (value & CODE_HALF) | ((value << follow) & (CODE_HALF - 1)) | (bits & ((1u << follow) - 1));
  KESTREL_ASSERT(r.low <= r.value && r.value <= r.high && r.high <= static_cast<uint32_t>(CODE_TOP));
}

// The symbol the value selects and its scaled bounds. The symbol decoded
// last is tried first when it holds most of the counts, without a division:
// for any symbol with a nonempty slice, bottom <= cum < top exactly when its
// scaled bounds enclose value - low, since c <= cum exactly when range * c /
// total (rounded down) <= value - low.
template <int32_t SHAPE>
static inline int32_t decoder_find(DecoderState* state, DecoderRegisters& r, const FrequencyModel* model,
                                   int32_t range, int32_t* bottom_scaled, int32_t* top_scaled) {
  int32_t total = model_total(model);
  int32_t offset = static_cast<int32_t>(r.value - r.low);
  int32_t top;
  int32_t bottom;
  if (r.last_symbol >= 0) {
    model_slice<SHAPE>(model, r.last_symbol, &top, &bottom);
    if (2 * (top - bottom) > total) {
      *bottom_scaled = code_scale(range, bottom, total);
      *top_scaled = code_scale(range, top, total);
      if (*bottom_scaled <= offset && offset < *top_scaled) return r.last_symbol;
    }
  }
  int32_t cum = ((offset + 1) * total - 1) / range;
  if (total <= 0) {
    // Only an empty alphabet, or caller counts that are all 0, leave no slice.
    decoder_store(state, r);
    if (model->nsym == 0) decoder_dump(model, cum);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  int32_t s = model_find<SHAPE>(model, cum, &top, &bottom);
  *bottom_scaled = code_scale(range, bottom, total);
  *top_scaled = code_scale(range, top, total);
  r.last_symbol = s;
  return s;
}

// Decodes one symbol with the model's shape SHAPE (see model.h).
template <int32_t SHAPE>
static inline int32_t decoder_next_symbol(DecoderState* state, DecoderRegisters& r, FrequencyModel* model) {
  // A symbol abandoned at the end of a file leaves the registers midway, and
  // further turns would only widen them without bound.
  if (state->input_state == DECODER_FAILED) raise_failure(MSG_BAD_INPUT_FILE);
  int32_t range = static_cast<int32_t>(r.high - r.low) + 1;
  int32_t bottom_scaled;
  int32_t top_scaled;
  int32_t s = decoder_find<SHAPE>(state, r, model, range, &bottom_scaled, &top_scaled);
  uint32_t high = r.low + static_cast<uint32_t>(top_scaled) - 1;
  uint32_t low = r.low + static_cast<uint32_t>(bottom_scaled);
  if (state->input_bits - r.input_pos < DECODER_SYMBOL_BITS) {
    r.low = low;
    r.high = high;
    decoder_store(state, r);
    decoder_refill(state);
    if (state->input_bits - state->input_pos < DECODER_SYMBOL_BITS) {
      decoder_renormalise_slowly(state);
      r = decoder_load(state);
      if (model->adaptive) model_update<SHAPE>(model, s);
      return s;
    }
    r = decoder_load(state);
  }
  decoder_settle(state, r, low, high);
  if (model->adaptive) model_update<SHAPE>(model, s);
  return s;
}

template <int32_t SHAPE>
static void decoder_decode_run(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  DecoderRegisters r = decoder_load(state);
  for (size_t i = 0; i < count; ++i) symbols[i] = decoder_next_symbol<SHAPE>(state, r, model);
  decoder_store(state, r);
}

void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  switch (model->shape) {
    case MODEL_ONE_ROW: decoder_decode_run<MODEL_ONE_ROW>(state, model, symbols, count); break;
    case MODEL_ONE_GROUP: decoder_decode_run<MODEL_ONE_GROUP>(state, model, symbols, count); break;
    default: decoder_decode_run<MODEL_GROUPS>(state, model, symbols, count); break;
  }
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) {
  int32_t symbol = 0;
  decoder_decode_symbols(state, model, &symbol, 1);
  return symbol;
}

void decoder_close(DecoderState* state) {
  ByteStream* stream = state->stream;
  state->stream = nullptr;
  stream_close(stream);
}
