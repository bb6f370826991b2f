#include "coder/decoder.h"

#include <cstdio>

#include "gateway/failure.h"
#include "gateway/messages.h"

// Bits one renormalisation can take: the settled bits and a run of follow
// conditions together never exceed two code widths.
constexpr int32_t DECODER_FAST_BITS = 2 * CODE_BITS;

// Tops the reservoir up to at least 57 bits, unless the read that must fail
// has been met: its bits, and any after it, never enter the reservoir. Each
// byte missing at the end of a file counts as one end-of-file read of eight
// 1 bits.
static void decoder_refill(DecoderState* state) {
  if (state->exhausted != DECODER_READING) return;
  uint8_t bytes[8];
  int32_t wanted = (64 - state->reserved) / 8;
  int32_t read = stream_get_bytes(state->stream, bytes, wanted);
  for (int32_t i = 0; i < wanted; ++i) {
    uint32_t byte = bytes[i];
    if (i >= read) {
      state->garbage_bits += 1;
      if (state->garbage_bits > MAX_GARBAGE_READS) {
        state->exhausted = DECODER_EXHAUSTED;
        return;
      }
      byte = 0xFF;
    }
    state->reservoir |= static_cast<uint64_t>(code_reverse_bits(byte, 8)) << (56 - state->reserved);
    state->reserved += 8;
  }
}

// Takes count (0..DECODER_FAST_BITS) bits that the reservoir holds, the first
// as the most significant.
static int32_t decoder_take_bits(DecoderState* state, int count) {
  if (count == 0) return 0;
  auto bits = static_cast<int32_t>(state->reservoir >> (64 - count));
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
  state->garbage_bits = 0;
  state->exhausted = DECODER_READING;
  decoder_refill(state);
  state->value = decoder_take_bits(state, CODE_BITS);
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

// Renormalises one bit at a time, as close to a failing end of file the
// failure must come at exactly the right bit and leave the registers as
// they stand at that bit.
static void decoder_renormalise_slowly(DecoderState* state) {
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
static void decoder_renormalise(DecoderState* state) {
  if (state->low < CODE_HALF && state->high >= CODE_HALF &&
      (state->low < CODE_QUARTER || state->high >= CODE_THREE_QUARTERS)) {
    return;
  }
  if (state->reserved < DECODER_FAST_BITS) decoder_refill(state);
  if (state->reserved < DECODER_FAST_BITS) {
    decoder_renormalise_slowly(state);
    return;
  }
  int settled = code_equal_leading_bits(state->low, state->high);
  if (settled > 0) {
    state->low = (state->low << settled) & CODE_TOP;
    state->high = ((state->high << settled) & CODE_TOP) | ((1 << settled) - 1);
    state->value = ((state->value << settled) & CODE_TOP) | decoder_take_bits(state, settled);
  }
  int follow = code_follow_run(state->low, state->high);
  if (follow > 0) {
    state->low = (state->low << follow) & (CODE_HALF - 1);
    state->high = ((state->high << follow) & (CODE_HALF - 1)) | CODE_HALF | ((1 << follow) - 1);
    state->value = (state->value & CODE_HALF) | ((state->value << follow) & (CODE_HALF - 1)) |
                   decoder_take_bits(state, follow);
  }
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) {
  // A symbol abandoned at the end of a file leaves the registers midway, and
  // further turns would only widen them without bound.
  if (state->exhausted == DECODER_FAILED) raise_failure(MSG_BAD_INPUT_FILE);
  int32_t range = state->high - state->low + 1;
  int32_t total = model->nsym > 0 ? model->csym[0] : 0;
  // Only caller-supplied counts can leave a model without a positive total.
  if (model->nsym > 0 && total <= 0) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t cum = ((state->value - state->low + 1) * total - 1) / range;
  int32_t top = 0;
  int32_t bottom = 0;
  int32_t s = model_find_symbol(model, cum, &top, &bottom);
  if (s == model->nsym) {
    decoder_dump(model, cum);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  if (bottom < 0 || top > total) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  state->high = state->low + code_divide_by_total(range * top, total) - 1;
  state->low = state->low + code_divide_by_total(range * bottom, total);
  decoder_renormalise(state);
  if (model->adaptive) model_update(model, s);
  return s;
}

void decoder_close(DecoderState* state) {
  ByteStream* stream = state->stream;
  state->stream = nullptr;
  stream_close(stream);
}
