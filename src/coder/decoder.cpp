#include "coder/decoder.h"

#include <cstdio>

#include "gateway/failure.h"
#include "gateway/messages.h"

static int decoder_get_bit(DecoderState* state) {
  if (state->bits_to_go == 0) {
    state->buffer = stream_get_byte(state->stream);
    if (state->buffer == EOF) {
      state->garbage_bits += 1;
      if (state->garbage_bits > MAX_GARBAGE_READS) raise_failure(MSG_BAD_INPUT_FILE);
    }
    state->bits_to_go = 8;
  }
  int bit = state->buffer & 1;
  state->buffer >>= 1;  // arithmetic: -1 stays -1
  state->bits_to_go -= 1;
  return bit;
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
  state->bits_to_go = 0;
  state->garbage_bits = 0;
  state->value = 0;
  for (int i = 0; i < CODE_BITS; ++i) state->value = 2 * state->value + decoder_get_bit(state);
  state->low = 0;
  state->high = CODE_TOP;
  return 0;
}

// Prints the cumulative table when no symbol fits the value.
static void decoder_dump(const FrequencyModel* model, int32_t cum) {
  std::printf("cum=%ld\n", static_cast<long>(cum));
  for (int32_t j = 0; j <= model->nsym; ++j) {
    std::printf("csym[%d]=%ld\n", static_cast<int>(j), static_cast<long>(model->csym[j]));
  }
  std::fflush(stdout);
}

static void decoder_renormalise(DecoderState* state) {
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

// Symbol whose slice holds cum: the first s with csym[s+1] <= cum, or nsym.
static int32_t model_find_symbol(const FrequencyModel* model, int32_t cum) {
  int32_t s = 0;
  while (s < model->nsym && model->csym[s + 1] > cum) ++s;
  return s;
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) {
  int32_t range = state->high - state->low + 1;
  int32_t total = model->nsym > 0 ? model->csym[0] : 0;
  if (model->nsym > 0 && total <= 0) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t cum = ((state->value - state->low + 1) * model->csym[0] - 1) / range;
  int32_t s = model_find_symbol(model, cum);
  if (s == model->nsym) {
    decoder_dump(model, cum);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  if (model->csym[s + 1] < 0 || model->csym[s] > total) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  state->high = state->low + (range * model->csym[s]) / total - 1;
  state->low = state->low + (range * model->csym[s + 1]) / total;
  decoder_renormalise(state);
  if (model->adaptive) model_update(model, s);
  return s;
}

void decoder_close(DecoderState* state) {
  ByteStream* stream = state->stream;
  state->stream = nullptr;
  stream_close(stream);
}
