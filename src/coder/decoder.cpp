// SPDX-License-Identifier: BSD-3-Clause
#include "coder/decoder.h"

#include <cstdio>
#include <cstring>

#include "coder/bits.h"
#include "base/checks.h"
#include "base/failure.h"

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
static CODE_INLINE uint32_t decoder_take_bits(const uint8_t* input, int32_t* pos, int32_t count) {
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
  int32_t input_bits;   // as DecoderState
  int32_t last_symbol;  // as DecoderState
  int32_t last_bottom;  // csym(last_symbol+1) when last_symbol >= 0: it stays while last_symbol alone is counted
  int32_t last_count;   // the count of last_symbol when last_symbol >= 0
};

// The registers from the decoder, and the slice of its last symbol from rows.
static inline DecoderRegisters decoder_load(const DecoderState* state, const ModelRows& rows) {
  DecoderRegisters r{static_cast<uint32_t>(state->value), static_cast<uint32_t>(state->low),
                     static_cast<uint32_t>(state->high), state->input_pos, state->input_bits,
                     state->last_symbol, 0, 0};
  if (r.last_symbol >= 0) {
    int32_t top = 0;
    model_slice(rows, static_cast<uint32_t>(r.last_symbol), &top, &r.last_bottom);
    r.last_count = top - r.last_bottom;
  }
  return r;
}

static inline void decoder_store(DecoderState* state, const DecoderRegisters& r) {
  state->value = static_cast<int32_t>(r.value);
  state->low = static_cast<int32_t>(r.low);
  state->high = static_cast<int32_t>(r.high);
  state->input_pos = r.input_pos;
  state->input_bits = r.input_bits;
  state->last_symbol = r.last_symbol;
}

// Shifts out the bits on which low and high agree, then the run of follow
// conditions behind them, taking the bits value needs in one read; input
// must hold DECODER_SYMBOL_BITS bits from r.input_pos.
static CODE_INLINE void decoder_settle(const uint8_t* input, DecoderRegisters& r, uint32_t low, uint32_t high) {
  int32_t settled = code_settled_bits(low, high);
  int32_t shift = settled + code_follow_run(low, high, settled);
  int32_t follow = shift - settled;
  r.low = (low << shift) & (CODE_HALF - 1);
  r.high = ((high << shift) & (CODE_HALF - 1)) | CODE_HALF | ((1u << shift) - 1);
  uint32_t bits = decoder_take_bits(input, &r.input_pos, shift);
  // The top bit of value is its first unsettled bit; the follow bits below it
  // are dropped, and the bits taken fill in behind.
  uint32_t top = ((r.value << settled) | (bits >> follow)) & CODE_HALF;
  r.value = top | (((r.value << shift) | bits) & (CODE_HALF - 1));
  KESTREL_ASSERT(r.low <= r.value && r.value <= r.high && r.high <= static_cast<uint32_t>(CODE_TOP));
}

// Renormalises the interval low..high when input may hold fewer bits than a
// symbol needs: refills it, and near a failing end of file takes the bits
// one at a time.
CODE_OUT_OF_LINE static void decoder_settle_at_end(DecoderState* state, uint32_t low, uint32_t high) {
  state->low = static_cast<int32_t>(low);
  state->high = static_cast<int32_t>(high);
  decoder_refill(state);
  if (state->input_bits - state->input_pos < DECODER_SYMBOL_BITS) {
    decoder_renormalise_slowly(state);
    return;
  }
  DecoderRegisters r{static_cast<uint32_t>(state->value), 0, 0, state->input_pos, state->input_bits, -1, 0, 0};
  decoder_settle(state->input, r, low, high);
  state->value = static_cast<int32_t>(r.value);
  state->low = static_cast<int32_t>(r.low);
  state->high = static_cast<int32_t>(r.high);
  state->input_pos = r.input_pos;
}

// Reports a model in which no symbol has a slice: the dump of its table for
// an empty alphabet, then "symbol out of range".
[[noreturn]] CODE_OUT_OF_LINE static void decoder_refuse(const FrequencyModel* model, int32_t cum) {
  if (model->nsym == 0) decoder_dump(model, cum);
  raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
}

// The symbol the value selects and its scaled bounds, or -1 when the model
// has no slice at all. The symbol decoded last is tried first when it holds
// a quarter of the counts or more, without a division or a search: for any
// symbol with a nonempty slice, bottom <= cum < top exactly when its scaled
// bounds enclose value - low, since c <= cum exactly when range * c / total
// (rounded down) <= value - low. Its bounds come from registers, not from
// the rows that the last update has just written.
template <int32_t SHAPE>
static CODE_INLINE int32_t decoder_find(DecoderRegisters& r, const ModelRows& rows, int32_t range,
                                        int32_t* cum_out, int32_t* bottom_scaled, int32_t* top_scaled) {
  int32_t total = model_total(rows);
  int32_t offset = static_cast<int32_t>(r.value - r.low);
  if (r.last_symbol >= 0 && 4 * r.last_count > total) {
    *bottom_scaled = code_scale(range, r.last_bottom, total);
    *top_scaled = code_scale(range, r.last_bottom + r.last_count, total);
    if (*bottom_scaled <= offset && offset < *top_scaled) return r.last_symbol;
  }
  int32_t top;
  int32_t bottom;
  int32_t cum = ((offset + 1) * total - 1) / range;
  *cum_out = cum;
  // Only an empty alphabet, or caller counts that are all 0, leave no slice.
  if (total <= 0) return -1;
  int32_t s = static_cast<int32_t>(model_find<SHAPE>(rows, cum, &top, &bottom));
  *bottom_scaled = code_scale(range, bottom, total);
  *top_scaled = code_scale(range, top, total);
  r.last_symbol = s;
  r.last_bottom = bottom;
  r.last_count = top - bottom;
  return s;
}

// Decodes count symbols with a model of shape SHAPE (see model.h), adaptive
// or not, keeping the registers and the model's rows in locals. Everything is
// stored back before anything that may raise: the symbols before a failure
// stay decoded.
template <int32_t SHAPE, bool ADAPTIVE>
static CODE_INLINE void decoder_decode_loop(DecoderState* state, FrequencyModel* model, int32_t* symbols,
                                            size_t count) {
  // A symbol abandoned at the end of a file leaves the registers midway, and
  // further turns would only widen them without bound.
  if (state->input_state == DECODER_FAILED && count > 0) raise_failure(MSG_BAD_INPUT_FILE);
  ModelRows rows = model->rows;
  DecoderRegisters r = decoder_load(state, rows);
  for (size_t i = 0; i < count; ++i) {
    int32_t range = static_cast<int32_t>(r.high - r.low) + 1;
    int32_t cum = 0;
    int32_t bottom_scaled = 0;
    int32_t top_scaled = 0;
    int32_t s = decoder_find<SHAPE>(r, rows, range, &cum, &bottom_scaled, &top_scaled);
    if (s < 0) {
      decoder_store(state, r);
      model_keep_counts(model, rows);
      decoder_refuse(model, cum);
    }
    uint32_t high = r.low + static_cast<uint32_t>(top_scaled) - 1;
    uint32_t low = r.low + static_cast<uint32_t>(bottom_scaled);
    if (r.input_bits - r.input_pos >= DECODER_SYMBOL_BITS) {
      decoder_settle(state->input, r, low, high);
    } else {
      decoder_store(state, r);
      model_keep_counts(model, rows);
      decoder_settle_at_end(state, low, high);
      r = decoder_load(state, rows);
    }
    if (ADAPTIVE) {
      // The symbol just decoded is the last one; counting it keeps its bottom,
      // unless the counts were halved first.
      int32_t total = model_total(rows);
      model_update<SHAPE>(model, rows, static_cast<uint32_t>(s));
      r.last_count += 1;
      if (model_total(rows) != total + 1) {
        int32_t top = 0;
        model_slice<SHAPE>(rows, static_cast<uint32_t>(s), &top, &r.last_bottom);
        r.last_count = top - r.last_bottom;
      }
    }
    symbols[i] = s;
  }
  decoder_store(state, r);
  model_keep_counts(model, rows);
}

// The loop for one shape and adaptivity, built for the baseline processor
// and, where they can be chosen at run time, for wider instructions.
template <int32_t SHAPE, bool ADAPTIVE>
CODE_RUN static void decoder_decode_run(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  decoder_decode_loop<SHAPE, ADAPTIVE>(state, model, symbols, count);
}
#if defined(CODE_WIDE_LOOPS)
template <int32_t SHAPE, bool ADAPTIVE>
CODE_RUN CODE_WIDE static void decoder_decode_run_wide(DecoderState* state, FrequencyModel* model, int32_t* symbols,
                                                       size_t count) {
  decoder_decode_loop<SHAPE, ADAPTIVE>(state, model, symbols, count);
}
#else
#define decoder_decode_run_wide decoder_decode_run
#endif

using DecoderRun = void (*)(DecoderState*, FrequencyModel*, int32_t*, size_t);

// The loops by [wide][adaptive][shape - 1].
static const DecoderRun DECODER_RUNS[2][2][3] = {
    {{decoder_decode_run<MODEL_ONE_ROW, false>, decoder_decode_run<MODEL_ONE_GROUP, false>,
      decoder_decode_run<MODEL_GROUPS, false>},
     {decoder_decode_run<MODEL_ONE_ROW, true>, decoder_decode_run<MODEL_ONE_GROUP, true>,
      decoder_decode_run<MODEL_GROUPS, true>}},
    {{decoder_decode_run_wide<MODEL_ONE_ROW, false>, decoder_decode_run_wide<MODEL_ONE_GROUP, false>,
      decoder_decode_run_wide<MODEL_GROUPS, false>},
     {decoder_decode_run_wide<MODEL_ONE_ROW, true>, decoder_decode_run_wide<MODEL_ONE_GROUP, true>,
      decoder_decode_run_wide<MODEL_GROUPS, true>}},
};

void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  DECODER_RUNS[code_wide_in_use()][model->adaptive != 0][model->shape - 1](state, model, symbols, count);
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
