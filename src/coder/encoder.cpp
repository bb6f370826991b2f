// SPDX-License-Identifier: BSD-3-Clause
#include "coder/encoder.h"

#include "coder/bits.h"
#include "gateway/checks.h"
#include "gateway/failure.h"
#include "gateway/heap.h"

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
  state->gathered = 0;
  state->gathered_bits = 0;
  state->staged = 0;
  state->bits_written = 0;
  state->broken = 0;
  return 0;
}

// Writes the staged bytes to the stream in the byte format's bit order. The
// encoder counts as broken until they are written: a memory writer that
// cannot grow raises, and the bytes are lost.
static void encoder_write_staged(EncoderState* state) {
  code_reverse_bytes(state->staging, state->staged);
  state->broken = 1;
  stream_put_bytes(state->stream, state->staging, state->staged);
  state->broken = 0;
  state->staged = 0;
}

// The registers of an encoder that a run of symbols changes, kept in locals
// while it runs and stored back before anything that may raise or look at
// the encoder.
struct EncoderRegisters {
  uint32_t low;            // as EncoderState
  uint32_t high;           // as EncoderState
  int64_t bits_to_follow;  // as EncoderState
  uint64_t gathered;       // as EncoderState
  int32_t gathered_bits;   // as EncoderState
  int32_t staged;          // as EncoderState
  int64_t bits_written;    // as EncoderState
};

static inline EncoderRegisters encoder_load(const EncoderState* state) {
  return EncoderRegisters{static_cast<uint32_t>(state->low), static_cast<uint32_t>(state->high),
                          state->bits_to_follow, state->gathered, state->gathered_bits, state->staged,
                          state->bits_written};
}

static inline void encoder_store(EncoderState* state, const EncoderRegisters& r) {
  state->low = static_cast<int32_t>(r.low);
  state->high = static_cast<int32_t>(r.high);
  state->bits_to_follow = r.bits_to_follow;
  state->gathered = r.gathered;
  state->gathered_bits = r.gathered_bits;
  state->staged = r.staged;
  state->bits_written = r.bits_written;
}

// Writes the staged bytes out when staging has no room for 8 more.
static inline void encoder_make_room(EncoderState* state, EncoderRegisters& r) {
  if (r.staged <= ENCODER_STAGED_BYTES - 8) return;
  encoder_store(state, r);
  encoder_write_staged(state);
  r.staged = 0;
}

// Emits count (0..56) bits, the earliest at bit count-1 of bits and nothing
// above them; whole bytes go to staging, which must have room for 8 bytes.
static inline void encoder_put_bits(EncoderRegisters& r, uint8_t* staging, uint64_t bits, int32_t count) {
  KESTREL_ASSERT(count >= 0 && count <= 56 && r.gathered_bits >= 0 && r.gathered_bits <= 7);
  KESTREL_ASSERT(r.staged <= ENCODER_STAGED_BYTES && (count == 64 || (bits >> count) == 0));
  uint64_t gathered = r.gathered | ((bits << (63 - r.gathered_bits - count)) << 1);
  int32_t gathered_bits = r.gathered_bits + count;
  code_store_top_first(staging + r.staged, gathered);
  r.staged += gathered_bits >> 3;
  r.gathered = gathered << (gathered_bits & ~7);
  r.gathered_bits = gathered_bits & 7;
  r.bits_written += count;
}

// Emits bit and then the pending follow bits, its opposites, however many;
// writes staged bytes out as needed.
CODE_OUT_OF_LINE static void encoder_put_bit_plus_follow(EncoderState* state, EncoderRegisters& r, uint32_t bit) {
  uint64_t opposite = bit ? 0 : ~uint64_t{0};
  int64_t pending = r.bits_to_follow;
  int32_t count = 1;
  uint64_t bits = bit;
  for (;;) {
    int32_t more = pending < 32 ? static_cast<int32_t>(pending) : 32;
    bits = (bits << more) | (opposite & ((uint64_t{1} << more) - 1));
    count += more;
    pending -= more;
    encoder_make_room(state, r);
    encoder_put_bits(r, state->staging, bits, count);
    if (pending == 0) break;
    bits = 0;
    count = 0;
  }
  r.bits_to_follow = 0;
}

// Emits settled (0..CODE_BITS) settled bits, the first at bit settled-1 of
// bits, behind more pending follow bits than one number can join them to.
CODE_OUT_OF_LINE static void encoder_settle_long_follow(EncoderState* state, EncoderRegisters& r, uint32_t bits,
                                                        int32_t settled) {
  if (settled == 0) return;
  encoder_put_bit_plus_follow(state, r, bits >> (settled - 1));
  encoder_make_room(state, r);
  encoder_put_bits(r, state->staging, bits & ((1u << (settled - 1)) - 1), settled - 1);
}

// Renormalises after a symbol narrowed the interval to low..high: emits the
// bits on which they agree, then counts the run of follow conditions behind
// them. Staging must have room for 8 bytes.
static inline void encoder_settle(EncoderState* state, EncoderRegisters& r, uint32_t low, uint32_t high) {
  int32_t settled = code_settled_bits(low, high);
  uint32_t bits = low >> (CODE_BITS - settled);
  low = (low << settled) & CODE_TOP;
  high = ((high << settled) & CODE_TOP) | ((1u << settled) - 1);
  int32_t follow = code_follow_run(low, high);
  low = (low << follow) & (CODE_HALF - 1);
  high = ((high << follow) & (CODE_HALF - 1)) | CODE_HALF | ((1u << follow) - 1);
  r.low = low;
  r.high = high;
  int64_t pending = r.bits_to_follow;
  if (pending > ENCODER_FAST_FOLLOW) {
    encoder_settle_long_follow(state, r, bits, settled);
    r.bits_to_follow += follow;
    return;
  }
  // The first settled bit b behind the pending follow bits is 2^pending - 1 + b.
  uint64_t any = settled > 0 ? ~uint64_t{0} : 0;
  uint64_t joined = ((((uint64_t{1} << pending) - 1) << settled) >> 1) + bits;
  encoder_put_bits(r, state->staging, joined & any, static_cast<int32_t>((pending + settled) & static_cast<int64_t>(any)));
  r.bits_to_follow = (pending & ~static_cast<int64_t>(any)) + follow;
  KESTREL_ASSERT(r.low < static_cast<uint32_t>(CODE_HALF) && r.high >= static_cast<uint32_t>(CODE_HALF));
}

// Codes one symbol with the model's shape SHAPE (see model.h).
template <int32_t SHAPE>
static inline void encoder_code_symbol(EncoderState* state, EncoderRegisters& r, FrequencyModel* model,
                                       int32_t symbol) {
  if (static_cast<uint32_t>(symbol) >= static_cast<uint32_t>(model->nsym)) {
    encoder_store(state, r);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  int32_t top;
  int32_t bottom;
  model_slice<SHAPE>(model, symbol, &top, &bottom);
  // Only caller-supplied counts leave a symbol without a slice.
  if (bottom >= top || state->broken) {
    encoder_store(state, r);
    raise_failure(bottom >= top ? MSG_SYMBOL_OUT_OF_RANGE : MSG_BUFFER_ALLOCATION);
  }
  encoder_make_room(state, r);
  int32_t total = model_total(model);
  int32_t range = static_cast<int32_t>(r.high - r.low) + 1;
  uint32_t high = r.low + static_cast<uint32_t>(code_scale(range, top, total)) - 1;
  uint32_t low = r.low + static_cast<uint32_t>(code_scale(range, bottom, total));
  KESTREL_ASSERT(low <= high && high <= static_cast<uint32_t>(CODE_TOP));
  encoder_settle(state, r, low, high);
  if (model->adaptive) model_update<SHAPE>(model, symbol);
}

template <int32_t SHAPE>
static void encoder_code_run(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  EncoderRegisters r = encoder_load(state);
  for (size_t i = 0; i < count; ++i) encoder_code_symbol<SHAPE>(state, r, model, symbols[i]);
  encoder_store(state, r);
}

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  switch (model->shape) {
    case MODEL_ONE_ROW: encoder_code_run<MODEL_ONE_ROW>(state, model, symbols, count); break;
    case MODEL_ONE_GROUP: encoder_code_run<MODEL_ONE_GROUP>(state, model, symbols, count); break;
    default: encoder_code_run<MODEL_GROUPS>(state, model, symbols, count); break;
  }
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  encoder_encode_symbols(state, model, &symbol, 1);
  return 0;
}

int64_t encoder_bits_written(const EncoderState* state) { return state->bits_written; }

// Emits the final bits and the last byte, and takes a memory writer's bytes.
static uint8_t* encoder_flush(EncoderState* state, int32_t* length_out) {
  if (state->broken) raise_failure(MSG_BUFFER_ALLOCATION);
  EncoderRegisters r = encoder_load(state);
  r.bits_to_follow += 1;
  encoder_put_bit_plus_follow(state, r, r.low < static_cast<uint32_t>(CODE_QUARTER) ? 0 : 1);
  state->staging[r.staged++] = static_cast<uint8_t>(r.gathered >> 56);  // the partly filled byte, or 0x00
  r.gathered = 0;
  r.gathered_bits = 0;
  encoder_store(state, r);
  encoder_write_staged(state);
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
