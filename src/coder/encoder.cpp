#include "coder/encoder.h"

#include "gateway/failure.h"
#include "gateway/heap.h"
#include "gateway/messages.h"

int encoder_start(EncoderState* state, const char* path, const char* mode) {
  if (mode[0] != 'a' && mode[0] != 'w') return -1;
  state->stream = nullptr;
  if (path[0] == '\0') {
    state->stream = stream_open_memory_writer();
  } else {
    state->stream = stream_open_file(path, mode[0] == 'a' ? "ab" : "wb");
  }
  state->bits_to_go = 8;
  state->low = 0;
  state->high = CODE_TOP;
  state->bits_to_follow = 0;
  state->buffer = 0;
  state->bits_written = 0;
  return 0;
}

static void encoder_put_bit(EncoderState* state, int bit) {
  state->buffer >>= 1;
  if (bit) state->buffer |= 0x80;
  state->bits_to_go -= 1;
  state->bits_written += 1;
  if (state->bits_to_go == 0) {
    stream_put_byte(state->stream, state->buffer);
    state->bits_to_go = 8;
  }
}

static void encoder_put_bit_plus_follow(EncoderState* state, int bit) {
  encoder_put_bit(state, bit);
  while (state->bits_to_follow > 0) {
    encoder_put_bit(state, !bit);
    state->bits_to_follow -= 1;
  }
}

// True when symbol owns a nonempty slice 0 <= csym[s+1] < csym[s] <= csym[0]
// of a positive total; only caller-supplied counts can break this.
static bool model_symbol_codable(const FrequencyModel* model, int32_t symbol) {
  if (symbol < 0 || symbol >= model->nsym) return false;
  int32_t bottom = model->csym[symbol + 1];
  int32_t top = model->csym[symbol];
  return bottom >= 0 && bottom < top && top <= model->csym[0];
}

static void encoder_renormalise(EncoderState* state) {
  for (;;) {
    if (state->high < CODE_HALF) {
      encoder_put_bit_plus_follow(state, 0);
    } else if (state->low >= CODE_HALF) {
      encoder_put_bit_plus_follow(state, 1);
      state->low -= CODE_HALF;
      state->high -= CODE_HALF;
    } else if (state->low >= CODE_QUARTER && state->high < CODE_THREE_QUARTERS) {
      state->bits_to_follow += 1;
      state->low -= CODE_QUARTER;
      state->high -= CODE_QUARTER;
    } else {
      break;
    }
    state->low = 2 * state->low;
    state->high = 2 * state->high + 1;
  }
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  if (!model_symbol_codable(model, symbol)) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t range = state->high - state->low + 1;
  int32_t total = model->csym[0];
  state->high = state->low + (range * model->csym[symbol]) / total - 1;
  state->low = state->low + (range * model->csym[symbol + 1]) / total;
  encoder_renormalise(state);
  if (model->adaptive) model_update(model, symbol);
  return 0;
}

int64_t encoder_bits_written(const EncoderState* state) { return state->bits_written; }

// Emits the final bits and the last byte, and takes a memory writer's bytes.
static uint8_t* encoder_flush(EncoderState* state, int32_t* length_out) {
  state->bits_to_follow += 1;
  encoder_put_bit_plus_follow(state, state->low < CODE_QUARTER ? 0 : 1);
  stream_put_byte(state->stream, state->buffer >> state->bits_to_go);
  return stream_contents(state->stream, length_out);
}

void encoder_finish(EncoderState* state, uint8_t** bytes_out, int32_t* length_out) {
  ByteStream* stream = state->stream;
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  try {
    bytes = encoder_flush(state, &length);
  } catch (const Failure&) {
    state->stream = nullptr;
    stream_close(stream);
    throw;
  }
  state->stream = nullptr;
  if (stream_close(stream) != 0) {
    heap_free(bytes);
    raise_failure(MSG_WRITE_FILE);
  }
  *length_out = length;
  if (length > 0) *bytes_out = bytes;
}
