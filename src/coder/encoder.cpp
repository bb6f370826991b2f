// SPDX-License-Identifier: BSD-3-Clause
#include "coder/encoder.h"

#include "coder/bits.h"
#include "coder/runs.h"
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

// The registers of an encoder that a run of symbols changes, kept in locals
// while it runs and stored back before anything that may raise or look at
// the encoder.
struct EncoderRegisters {
  uint32_t low;           // as EncoderState
  uint32_t high;          // as EncoderState
  int64_t pending;        // bits_to_follow
  uint64_t gathered;      // as EncoderState
  int32_t gathered_bits;  // as EncoderState
  int32_t staged;         // as EncoderState
};

static CODE_INLINE EncoderRegisters encoder_load(const EncoderState* state) {
  return EncoderRegisters{static_cast<uint32_t>(state->low), static_cast<uint32_t>(state->high),
                          state->bits_to_follow, state->gathered, state->gathered_bits, state->staged};
}

static CODE_INLINE void encoder_store(EncoderState* state, const EncoderRegisters& r) {
  state->low = static_cast<int32_t>(r.low);
  state->high = static_cast<int32_t>(r.high);
  state->bits_to_follow = r.pending;
  state->gathered = r.gathered;
  state->gathered_bits = r.gathered_bits;
  state->staged = r.staged;
}

// Emits count (0..56) bits, the earliest at bit count-1 of bits and nothing
// above them, into r.gathered (r.gathered_bits of them, 0..7, at its top);
// whole bytes go to staging, at r.staged, which must have room for 8 bytes.
static CODE_INLINE void encoder_put_bits(EncoderRegisters& r, uint8_t* staging, uint64_t bits, int32_t count) {
  KESTREL_ASSERT(count >= 0 && count <= 56 && r.gathered_bits >= 0 && r.gathered_bits <= 7);
  KESTREL_ASSERT(r.staged <= ENCODER_STAGED_BYTES - 8 && (bits >> count) == 0);
  uint64_t joined = r.gathered | ((bits << (63 - r.gathered_bits - count)) << 1);
  int32_t joined_bits = r.gathered_bits + count;
  code_store_top_first(staging + r.staged, joined);
  r.staged += joined_bits >> 3;
  r.gathered = joined << (joined_bits & ~7);
  r.gathered_bits = joined_bits & 7;
}

// Emits bits (count 0..32 of them, as encoder_put_bits takes them) through
// the encoder's own fields, writing staged bytes out first when needed.
static void encoder_emit(EncoderState* state, uint64_t bits, int32_t count) {
  if (state->staged > ENCODER_STAGED_BYTES - 8) encoder_write_staged(state);
  EncoderRegisters r = encoder_load(state);
  encoder_put_bits(r, state->staging, bits, count);
  encoder_store(state, r);
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

// The rare turn of a symbol, with the encoder's own fields: writes the
// staged bytes out when staging is full, and when too many follow bits wait
// to be joined in one number, settles the interval next_low..next_high one
// step at a time. Returns true when it has settled it.
CODE_OUT_OF_LINE static bool encoder_rare_turn(EncoderState* state, uint32_t next_low, uint32_t next_high) {
  bool slowly = state->bits_to_follow > ENCODER_FAST_FOLLOW;
  if (state->staged > ENCODER_STAGED_BYTES - 8) encoder_write_staged(state);
  if (slowly) encoder_settle_slowly(state, next_low, next_high);
  return slowly;
}

// Renormalises after a symbol narrowed the interval to next_low..next_high
// (at most ENCODER_FAST_FOLLOW follow bits pending, room for 8 bytes in
// staging): settles the bits on which they agree and the run of follow
// conditions behind them. The first settled bit b behind the pending follow
// bits is the number 2^pending - 1 + b, and the other settled bits follow
// it; without settled bits nothing is emitted and the follow bits wait.
static CODE_INLINE void encoder_settle(EncoderRegisters& r, uint8_t* staging, uint32_t next_low, uint32_t next_high) {
  // A source that mostly repeats one symbol mostly settles no bit and leaves
  // no follow condition: nothing to emit. The test goes one way for such a
  // source and the other for the rest, so it costs little either way.
  if (((next_low ^ next_high) & CODE_HALF) != 0 &&
      ((next_low & CODE_QUARTER) == 0 || (next_high & CODE_QUARTER) != 0)) {
    r.low = next_low;
    r.high = next_high;
    return;
  }
  int32_t settled = code_settled_bits(next_low, next_high);
  int32_t shift = settled + code_follow_run(next_low, next_high, settled);
  uint32_t bits = next_low >> (CODE_BITS - settled);
  r.low = (next_low << shift) & (CODE_HALF - 1);
  r.high = ((next_high << shift) & (CODE_HALF - 1)) | CODE_HALF | ((1u << shift) - 1);
  int64_t any = -static_cast<int64_t>(settled > 0);  // all ones when a bit was settled
  uint64_t joined = (((((uint64_t{1} << r.pending) - 1) << settled) >> 1) + bits) & static_cast<uint64_t>(any);
  int32_t joined_bits = static_cast<int32_t>((r.pending + settled) & any);
  r.pending = (r.pending & ~any) + (shift - settled);
  encoder_put_bits(r, staging, joined, joined_bits);
  KESTREL_ASSERT(r.low < static_cast<uint32_t>(CODE_HALF) && r.high >= static_cast<uint32_t>(CODE_HALF));
}

// The refusal of symbol, the first of a run on an encoder that lost bytes:
// a symbol out of range of its model (when that model was ever used) is
// refused as such, any other with the lost bytes.
[[noreturn]] CODE_OUT_OF_LINE static void encoder_refuse_broken(const FrequencyModel* model, int32_t symbol) {
  int32_t top = 0;
  int32_t bottom = 0;
  if (model == nullptr) top = 1;
  if (model != nullptr && symbol >= 0 && symbol < model->nsym) model_slice(model, symbol, &top, &bottom);
  raise_failure(bottom >= top ? MSG_SYMBOL_OUT_OF_RANGE : MSG_BUFFER_ALLOCATION);
}

// Codes count symbols, each with the model SOURCE picks for it (see runs.h):
// model alone, or a model of bank. Every model has shape SHAPE (see model.h)
// and is adaptive or not as ADAPTIVE says. The registers and the running
// counts stay in locals while the run goes on, and are stored back before
// anything that may raise or look at them: the symbols before a refused one
// stay coded.
template <int32_t SHAPE, bool ADAPTIVE, int32_t SOURCE>
static CODE_INLINE void encoder_code_loop(EncoderState* state, FrequencyModel* model, ModelBank* bank,
                                          const int32_t* symbols, const int32_t* contexts, size_t count) {
  if (state->broken && count > 0) {
    encoder_refuse_broken(SOURCE == CODE_ONE_MODEL ? model : bank->models[contexts ? contexts[0] : bank->previous],
                          symbols[0]);
  }
  CodeModels<SOURCE> models(model, bank, contexts);
  EncoderRegisters r = encoder_load(state);
  auto store = [&] {
    encoder_store(state, r);
    models.keep();
  };
  for (size_t i = 0; i < count; ++i) {
    uint32_t symbol = static_cast<uint32_t>(symbols[i]);
    FrequencyModel* chosen = models.pick(i, store);
    ModelRows& rows = models.rows_of(chosen);
    int32_t top = 0;
    int32_t bottom = 0;
    if (symbol < models.nsym) model_slice<SHAPE>(rows, symbol, &top, &bottom);
    // A count of 0, which only caller-supplied counts give, leaves no slice.
    if (bottom >= top) {
      store();
      raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
    }
    int32_t range = static_cast<int32_t>(r.high - r.low) + 1;
    uint32_t next_high = r.low + static_cast<uint32_t>(code_scale(range, top, model_total(rows))) - 1;
    uint32_t next_low = r.low + static_cast<uint32_t>(code_scale(range, bottom, model_total(rows)));
    KESTREL_ASSERT(next_low <= next_high && next_high <= static_cast<uint32_t>(CODE_TOP));
    bool settled = false;
    if (r.staged > ENCODER_STAGED_BYTES - 8 || r.pending > ENCODER_FAST_FOLLOW) {
      store();
      settled = encoder_rare_turn(state, next_low, next_high);
      r = encoder_load(state);
    }
    if (!settled) encoder_settle(r, state->staging, next_low, next_high);
    if (ADAPTIVE) model_update<SHAPE>(chosen, rows, symbol);
    models.coded(symbol);
  }
  store();
}

using EncoderRunFn = void (*)(EncoderState*, FrequencyModel*, ModelBank*, const int32_t*, const int32_t*, size_t);

// The loop for one shape, adaptivity and source, built for the baseline
// processor and, where they can be chosen at run time, for wider
// instructions.
template <int32_t SHAPE, bool ADAPTIVE, int32_t SOURCE>
struct EncoderRun {
  CODE_RUN static void run(EncoderState* state, FrequencyModel* model, ModelBank* bank, const int32_t* symbols,
                           const int32_t* contexts, size_t count) {
    encoder_code_loop<SHAPE, ADAPTIVE, SOURCE>(state, model, bank, symbols, contexts, count);
  }
#if defined(CODE_WIDE_LOOPS)
  CODE_RUN CODE_WIDE static void run_wide(EncoderState* state, FrequencyModel* model, ModelBank* bank,
                                          const int32_t* symbols, const int32_t* contexts, size_t count) {
    encoder_code_loop<SHAPE, ADAPTIVE, SOURCE>(state, model, bank, symbols, contexts, count);
  }
#endif
};

static constexpr std::array<EncoderRunFn, CODE_RUN_COUNT> ENCODER_RUNS = code_make_runs<EncoderRunFn, EncoderRun>();

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  ENCODER_RUNS[code_run_index(code_wide_in_use(), CODE_ONE_MODEL, model->adaptive != 0, model->shape)](
      state, model, nullptr, symbols, nullptr, count);
}

void encoder_encode_bank(EncoderState* state, ModelBank* bank, const int32_t* symbols, const int32_t* contexts,
                         size_t count) {
  KESTREL_ASSERT(contexts == nullptr || bank_find_bad_context(bank, contexts, count) == count);
  FrequencyModel* first = bank->models[0];
  ENCODER_RUNS[code_run_index(code_wide_in_use(), code_source(bank, contexts), bank->adaptive != 0, first->shape)](
      state, first, bank, symbols, contexts, count);
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
