// SPDX-License-Identifier: BSD-3-Clause
#include "coder/encoder.h"

#include "coder/bits.h"
#include "base/checks.h"
#include "base/failure.h"
#include "base/heap.h"

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
  state->bits_flushed = 0;
  state->broken = 0;
  return 0;
}

int64_t encoder_bits_written(const EncoderState* state) {
  return state->bits_flushed + 8 * int64_t{state->staged} + state->gathered_bits;
}

// Writes the staged bytes to the stream in the byte format's bit order. The
// encoder counts as broken until they are written: a memory writer that
// cannot grow raises, and the bytes are lost.
static void encoder_write_staged(EncoderState* state) {
  code_reverse_bytes(state->staging, state->staged);
  state->broken = 1;
  stream_put_bytes(state->stream, state->staging, state->staged);
  state->broken = 0;
  state->bits_flushed += 8 * int64_t{state->staged};
  state->staged = 0;
}

// Emits count (0..56) bits, the earliest at bit count-1 of bits and nothing
// above them, into gathered (gathered_bits of them, 0..7, at its top); whole
// bytes go to staging, at *staged, which must have room for 8 bytes.
static CODE_INLINE void encoder_put_bits(uint64_t* gathered, int32_t* gathered_bits, uint8_t* staging,
                                         int32_t* staged, uint64_t bits, int32_t count) {
  KESTREL_ASSERT(count >= 0 && count <= 56 && *gathered_bits >= 0 && *gathered_bits <= 7);
  KESTREL_ASSERT(*staged <= ENCODER_STAGED_BYTES - 8 && (bits >> count) == 0);
  uint64_t joined = *gathered | ((bits << (63 - *gathered_bits - count)) << 1);
  int32_t joined_bits = *gathered_bits + count;
  code_store_top_first(staging + *staged, joined);
  *staged += joined_bits >> 3;
  *gathered = joined << (joined_bits & ~7);
  *gathered_bits = joined_bits & 7;
}

// Emits bits (count 0..32 of them, as encoder_put_bits takes them) through
// the encoder's own fields, writing staged bytes out first when needed.
static void encoder_emit(EncoderState* state, uint64_t bits, int32_t count) {
  if (state->staged > ENCODER_STAGED_BYTES - 8) encoder_write_staged(state);
  encoder_put_bits(&state->gathered, &state->gathered_bits, state->staging, &state->staged, bits, count);
}

// Emits bit and then the pending follow bits, its opposites, however many.
static void encoder_put_bit_plus_follow(EncoderState* state, uint32_t bit) {
  uint64_t opposite = bit ? 0 : ~uint64_t{0};
  encoder_emit(state, bit, 1);
  for (int64_t pending = state->bits_to_follow; pending > 0; pending -= 32) {
    int32_t more = pending < 32 ? static_cast<int32_t>(pending) : 32;
    encoder_emit(state, opposite & ((uint64_t{1} << more) - 1), more);
  }
  state->bits_to_follow = 0;
}

// Renormalises after a symbol narrowed the interval to low..high, with the
// encoder's own fields: emits the bits on which low and high agree behind
// the pending follow bits, however many, then counts the run of follow
// conditions behind them.
CODE_OUT_OF_LINE static void encoder_settle_slowly(EncoderState* state, uint32_t low, uint32_t high) {
  int32_t settled = code_settled_bits(low, high);
  int32_t shift = settled + code_follow_run(low, high, settled);
  uint32_t bits = low >> (CODE_BITS - settled);
  if (settled > 0) {
    encoder_put_bit_plus_follow(state, bits >> (settled - 1));
    encoder_emit(state, bits & ((1u << (settled - 1)) - 1), settled - 1);
  }
  state->bits_to_follow += shift - settled;
  state->low = static_cast<int32_t>((low << shift) & (CODE_HALF - 1));
  state->high = static_cast<int32_t>(((high << shift) & (CODE_HALF - 1)) | CODE_HALF | ((1u << shift) - 1));
}

// The refusal of symbol, the first of a run on an encoder that lost bytes:
// a symbol out of range is refused as such, any other with the lost bytes.
[[noreturn]] CODE_OUT_OF_LINE static void encoder_refuse_broken(const FrequencyModel* model, int32_t symbol) {
  int32_t top = 0;
  int32_t bottom = 0;
  if (symbol >= 0 && symbol < model->nsym) model_slice(model, symbol, &top, &bottom);
  raise_failure(bottom >= top ? MSG_SYMBOL_OUT_OF_RANGE : MSG_BUFFER_ALLOCATION);
}

// Codes count symbols with a model of shape SHAPE (see model.h), adaptive or
// not. The registers and the model's rows stay in locals while the run goes
// on, and are stored back before anything that may raise or look at them:
// the symbols before a refused one stay coded.
template <int32_t SHAPE, bool ADAPTIVE>
static CODE_INLINE void encoder_code_loop(EncoderState* state, FrequencyModel* model, const int32_t* symbols,
                                          size_t count) {
  if (state->broken && count > 0) encoder_refuse_broken(model, symbols[0]);
  uint32_t low = static_cast<uint32_t>(state->low);
  uint32_t high = static_cast<uint32_t>(state->high);
  int64_t pending = state->bits_to_follow;
  uint64_t gathered = state->gathered;
  int32_t gathered_bits = state->gathered_bits;
  int32_t staged = state->staged;
  uint8_t* staging = state->staging;
  ModelRows rows = model->rows;
  const uint32_t nsym = static_cast<uint32_t>(model->nsym);
  auto store = [&] {
    state->low = static_cast<int32_t>(low);
    state->high = static_cast<int32_t>(high);
    state->bits_to_follow = pending;
    state->gathered = gathered;
    state->gathered_bits = gathered_bits;
    state->staged = staged;
    model_keep_counts(model, rows);
  };
  auto load = [&] {
    low = static_cast<uint32_t>(state->low);
    high = static_cast<uint32_t>(state->high);
    pending = state->bits_to_follow;
    gathered = state->gathered;
    gathered_bits = state->gathered_bits;
    staged = state->staged;
  };
  for (const int32_t* next = symbols; next != symbols + count; ++next) {
    uint32_t symbol = static_cast<uint32_t>(*next);
    int32_t top = 0;
    int32_t bottom = 0;
    if (symbol < nsym) model_slice<SHAPE>(rows, symbol, &top, &bottom);
    // Only caller-supplied counts leave a symbol in range without a slice.
    if (bottom >= top) {
      store();
      raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
    }
    int32_t range = static_cast<int32_t>(high - low) + 1;
    uint32_t next_high = low + static_cast<uint32_t>(code_scale(range, top, model_total(rows))) - 1;
    uint32_t next_low = low + static_cast<uint32_t>(code_scale(range, bottom, model_total(rows)));
    KESTREL_ASSERT(next_low <= next_high && next_high <= static_cast<uint32_t>(CODE_TOP));
    if (staged > ENCODER_STAGED_BYTES - 8 || pending > ENCODER_FAST_FOLLOW) {
      // Rare: staging is full, or too many follow bits wait to be joined.
      bool slowly = pending > ENCODER_FAST_FOLLOW;
      store();
      if (staged > ENCODER_STAGED_BYTES - 8) encoder_write_staged(state);
      if (slowly) encoder_settle_slowly(state, next_low, next_high);
      load();
      if (slowly) {
        if (ADAPTIVE) model_update<SHAPE>(model, rows, symbol);
        continue;
      }
    }
    // A source that mostly repeats one symbol mostly settles no bit and leaves
    // no follow condition: nothing to emit. The test goes one way for such a
    // source and the other for the rest, so it costs little either way.
    if (((next_low ^ next_high) & CODE_HALF) != 0 &&
        ((next_low & CODE_QUARTER) == 0 || (next_high & CODE_QUARTER) != 0)) {
      low = next_low;
      high = next_high;
      if (ADAPTIVE) model_update<SHAPE>(model, rows, symbol);
      continue;
    }
    // Settles the bits on which the new low and high agree and the run of
    // follow conditions behind them. The first settled bit b behind the
    // pending follow bits is the number 2^pending - 1 + b, and the other
    // settled bits follow it; without settled bits nothing is emitted and the
    // follow bits wait.
    int32_t settled = code_settled_bits(next_low, next_high);
    int32_t shift = settled + code_follow_run(next_low, next_high, settled);
    uint32_t bits = next_low >> (CODE_BITS - settled);
    low = (next_low << shift) & (CODE_HALF - 1);
    high = ((next_high << shift) & (CODE_HALF - 1)) | CODE_HALF | ((1u << shift) - 1);
    int64_t any = -static_cast<int64_t>(settled > 0);  // all ones when a bit was settled
    uint64_t joined = (((((uint64_t{1} << pending) - 1) << settled) >> 1) + bits) & static_cast<uint64_t>(any);
    int32_t joined_bits = static_cast<int32_t>((pending + settled) & any);
    pending = (pending & ~any) + (shift - settled);
    encoder_put_bits(&gathered, &gathered_bits, staging, &staged, joined, joined_bits);
    KESTREL_ASSERT(low < static_cast<uint32_t>(CODE_HALF) && high >= static_cast<uint32_t>(CODE_HALF));
    if (ADAPTIVE) model_update<SHAPE>(model, rows, symbol);
  }
  store();
}

// The loop for one shape and adaptivity, built for the baseline processor
// and, where they can be chosen at run time, for wider instructions.
template <int32_t SHAPE, bool ADAPTIVE>
CODE_RUN static void encoder_code_run(EncoderState* state, FrequencyModel* model, const int32_t* symbols,
                                      size_t count) {
  encoder_code_loop<SHAPE, ADAPTIVE>(state, model, symbols, count);
}
#if defined(CODE_WIDE_LOOPS)
template <int32_t SHAPE, bool ADAPTIVE>
CODE_RUN CODE_WIDE static void encoder_code_run_wide(EncoderState* state, FrequencyModel* model,
                                                     const int32_t* symbols, size_t count) {
  encoder_code_loop<SHAPE, ADAPTIVE>(state, model, symbols, count);
}
#else
#define encoder_code_run_wide encoder_code_run
#endif

using EncoderRun = void (*)(EncoderState*, FrequencyModel*, const int32_t*, size_t);

// The loops by [wide][adaptive][shape - 1].
static const EncoderRun ENCODER_RUNS[2][2][3] = {
    {{encoder_code_run<MODEL_ONE_ROW, false>, encoder_code_run<MODEL_ONE_GROUP, false>,
      encoder_code_run<MODEL_GROUPS, false>},
     {encoder_code_run<MODEL_ONE_ROW, true>, encoder_code_run<MODEL_ONE_GROUP, true>,
      encoder_code_run<MODEL_GROUPS, true>}},
    {{encoder_code_run_wide<MODEL_ONE_ROW, false>, encoder_code_run_wide<MODEL_ONE_GROUP, false>,
      encoder_code_run_wide<MODEL_GROUPS, false>},
     {encoder_code_run_wide<MODEL_ONE_ROW, true>, encoder_code_run_wide<MODEL_ONE_GROUP, true>,
      encoder_code_run_wide<MODEL_GROUPS, true>}},
};

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  ENCODER_RUNS[code_wide_in_use()][model->adaptive != 0][model->shape - 1](state, model, symbols, count);
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  encoder_encode_symbols(state, model, &symbol, 1);
  return 0;
}

int64_t encoder_output_size(const EncoderState* state) {
  if (state->stream == nullptr || !state->stream->is_memory) return 0;
  // The finish emits one bit and its pending opposites (bits_to_follow + 1)
  // behind the gathered bits, stages the partly filled byte (or 0x00), and
  // writes every staged byte behind those already in the writer.
  int64_t final_bits = state->gathered_bits + state->bits_to_follow + 2;
  return state->stream->memory->pos + state->staged + final_bits / 8 + 1;
}

bool encoder_lost_bytes(const EncoderState* state) { return state->broken != 0; }

void encoder_reserve_finish(EncoderState* state) {
  if (state->broken || state->stream == nullptr || !state->stream->is_memory) return;
  int64_t room = encoder_output_size(state) - state->stream->memory->pos;
  if (room > INT32_MAX) raise_failure(MSG_BUFFER_ALLOCATION);
  stream_reserve(state->stream, static_cast<int32_t>(room));
}

// Emits the final bits and the last byte, and takes a memory writer's bytes.
static uint8_t* encoder_flush(EncoderState* state, int32_t* length_out) {
  if (state->broken) raise_failure(MSG_BUFFER_ALLOCATION);
  state->bits_to_follow += 1;
  encoder_put_bit_plus_follow(state, state->low < CODE_QUARTER ? 0 : 1);
  int64_t bits = encoder_bits_written(state);
  state->staging[state->staged++] = static_cast<uint8_t>(state->gathered >> 56);  // the partly filled byte, or 0x00
  state->gathered = 0;
  state->gathered_bits = 0;
  encoder_write_staged(state);
  state->bits_flushed = bits;
  uint8_t* bytes = stream_take_contents(state->stream, length_out);
  KESTREL_ASSERT(!state->stream->is_memory || *length_out == bits / 8 + 1);
  return bytes;
}

// Closes an encoder's stream when the finish ends, whether it raised or not;
// a finish that gets that far closes it first and reads the result.
struct EncoderStreamCloser {
  EncoderState* state;  // the encoder being finished
  ~EncoderStreamCloser() {
    stream_close(state->stream);
    state->stream = nullptr;
  }
};

void encoder_finish(EncoderState* state, uint8_t** bytes_out, int32_t* length_out) {
  EncoderStreamCloser closer{state};
  int32_t length = 0;
  uint8_t* bytes = encoder_flush(state, &length);
  int closed = stream_close(state->stream);
  state->stream = nullptr;
  if (closed != 0) {
    heap_free(bytes);
    raise_failure(MSG_WRITE_FILE);
  }
  *length_out = length;
  if (length > 0) *bytes_out = bytes;
}

void encoder_close_discarding(EncoderState* state) {
  if (state->stream != nullptr && state->stream->is_memory) {
    stream_close(state->stream);
    state->stream = nullptr;
    return;
  }
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  encoder_finish(state, &bytes, &length);  // a file encoder hands back no bytes
}
