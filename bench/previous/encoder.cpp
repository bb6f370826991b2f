// SPDX-License-Identifier: BSD-3-Clause
#include "encoder.h"

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
  state->low = 0;
  state->high = CODE_TOP;
  state->bits_to_follow = 0;
  state->buffer = 0;
  state->buffer_bits = 0;
  state->bits_written = 0;
  state->broken = 0;
  return 0;
}

// Writes the whole bytes of buffer, the earliest first.
static void encoder_write_bytes(EncoderState* state) {
  uint8_t bytes[8];
  int32_t count = state->buffer_bits / 8;
  for (int32_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(state->buffer >> (8 * i));
  stream_put_bytes(state->stream, bytes, count);
  state->buffer = count == 8 ? 0 : state->buffer >> (8 * count);
  state->buffer_bits -= 8 * count;
}

// Emits count (0..32) bits, the earliest in bit 0 of bits; whole bytes are
// written once 32 bits are waiting.
static void encoder_put_bits(EncoderState* state, uint32_t bits, int count) {
  state->buffer |= static_cast<uint64_t>(bits) << state->buffer_bits;
  state->buffer_bits += count;
  state->bits_written += count;
  if (state->buffer_bits >= 32) encoder_write_bytes(state);
}

// Emits bit and then the pending follow bits, its opposites.
static void encoder_put_bit_plus_follow(EncoderState* state, int bit) {
  encoder_put_bits(state, static_cast<uint32_t>(bit), 1);
  uint32_t opposite = bit ? 0u : 0xFFFFFFFFu;
  for (; state->bits_to_follow >= 32; state->bits_to_follow -= 32) encoder_put_bits(state, opposite, 32);
  int rest = static_cast<int>(state->bits_to_follow);
  encoder_put_bits(state, opposite & ((1u << rest) - 1), rest);
  state->bits_to_follow = 0;
}

// Emits the settled bits (those on which low and high agree), then counts
// the run of follow conditions behind them.
PREVIOUS_OUT_OF_LINE static void encoder_renormalise(EncoderState* state) {
  int settled = code_equal_leading_bits(state->low, state->high);
  if (settled > 0) {
    uint32_t bits = static_cast<uint32_t>(state->low) >> (CODE_BITS - settled);
    if (state->bits_to_follow == 0) {
      encoder_put_bits(state, code_reverse_bits(bits, settled), settled);
    } else {
      encoder_put_bit_plus_follow(state, static_cast<int>(bits >> (settled - 1)));
      encoder_put_bits(state, code_reverse_bits(bits, settled - 1), settled - 1);
    }
    state->low = (state->low << settled) & CODE_TOP;
    state->high = ((state->high << settled) & CODE_TOP) | ((1 << settled) - 1);
  }
  int follow = code_follow_run(state->low, state->high);  // 0 leaves both as they are
  state->bits_to_follow += follow;
  state->low = (state->low << follow) & (CODE_HALF - 1);
  state->high = ((state->high << follow) & (CODE_HALF - 1)) | CODE_HALF | ((1 << follow) - 1);
}

// The body of encoder_encode, inlined into the loop of encoder_encode_symbols.
static inline void encoder_code_symbol(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  if (symbol < 0 || symbol >= model->nsym) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t top;
  int32_t bottom;
  model_symbol_slice(model, symbol, &top, &bottom);
  int32_t total = model_total(model);
  // Only caller-supplied counts can leave a symbol without a nonempty slice.
  if (bottom < 0 || bottom >= top || top > total) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  if (state->broken) raise_failure(MSG_BUFFER_ALLOCATION);
  int32_t range = state->high - state->low + 1;
  state->high = state->low + code_divide_by_total(range * top, total) - 1;
  state->low = state->low + code_divide_by_total(range * bottom, total);
  // Most symbols of a skewed source settle nothing and leave no follow condition.
  if (code_needs_renormalising(state->low, state->high)) {
    try {
      encoder_renormalise(state);
    } catch (const Failure&) {
      state->broken = 1;
      throw;
    }
  }
  if (model->adaptive) model_update(model, symbol);
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  encoder_code_symbol(state, model, symbol);
  return 0;
}

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  for (size_t i = 0; i < count; ++i) encoder_code_symbol(state, model, symbols[i]);
}

int64_t encoder_bits_written(const EncoderState* state) { return state->bits_written; }

// Emits the final bits and the last byte, and takes a memory writer's bytes.
static uint8_t* encoder_flush(EncoderState* state, int32_t* length_out) {
  if (state->broken) raise_failure(MSG_BUFFER_ALLOCATION);
  state->bits_to_follow += 1;
  encoder_put_bit_plus_follow(state, state->low < CODE_QUARTER ? 0 : 1);
  state->buffer_bits += 8;  // the partly filled byte, zero above its bits
  encoder_write_bytes(state);
  return stream_take_contents(state->stream, length_out);
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
