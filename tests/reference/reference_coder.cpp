// SPDX-License-Identifier: BSD-3-Clause
#include "reference/reference_coder.h"

#include <cstdio>
#include <cstring>

#include "base/failure.h"
#include "base/heap.h"
#include "base/messages.h"


static int32_t* reference_model_take_table(int32_t entries) {
  size_t bytes = static_cast<size_t>(entries) * sizeof(int32_t);
  auto* table = static_cast<int32_t*>(heap_take(bytes));
  if (table == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  std::memset(table, 0, bytes);
  return table;
}

// Fills freq and csym from caller counts; partial sums are taken in 64 bits
// so that no count can overflow them.
static void reference_model_fill_counts(ReferenceModel* model, const int32_t* counts) {
  int64_t sum = 0;
  bool overflow = false;
  model->csym[model->nsym] = 0;
  for (int32_t i = model->nsym - 1; i >= 0; --i) {
    model->freq[i] = counts[i];
    sum += counts[i];
    if (sum > INT32_MAX || sum < INT32_MIN) overflow = true;
    model->csym[i] = static_cast<int32_t>(sum);
  }
  if (overflow || sum > MAX_FREQUENCY) raise_failure(MSG_MAX_FREQUENCY);
}

static void reference_model_fill_uniform(ReferenceModel* model) {
  model->csym[model->nsym] = 0;
  for (int32_t i = 0; i < model->nsym; ++i) {
    model->freq[i] = 1;
    model->csym[i] = model->nsym - i;
  }
}

int reference_model_init(ReferenceModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  model->nsym = 0;
  model->freq = nullptr;
  model->csym = nullptr;
  if (nsym < 0) raise_failure(MSG_MODEL_ALLOCATION);
  if (nsym > MAX_UNIFORM_ALPHABET) raise_failure(MSG_MAX_FREQUENCY);
  model->nsym = nsym;
  model->freq = reference_model_take_table(nsym);
  model->csym = reference_model_take_table(nsym + 1);
  model->adaptive = adaptive;
  if (counts != nullptr) {
    reference_model_fill_counts(model, counts);
  } else {
    reference_model_fill_uniform(model);
  }
  return 0;
}

// Halves every count, rounding up, and rebuilds the cumulative table.
static void reference_model_halve(ReferenceModel* model) {
  int32_t sum = 0;
  model->csym[model->nsym] = 0;
  for (int32_t i = model->nsym - 1; i >= 0; --i) {
    model->freq[i] = (model->freq[i] + 1) / 2;
    sum += model->freq[i];
    model->csym[i] = sum;
  }
}

void reference_model_update(ReferenceModel* model, int32_t s) {
  if (model->csym[0] == MAX_FREQUENCY) reference_model_halve(model);
  model->freq[s] += 1;
  for (int32_t i = s; i >= 0; --i) model->csym[i] += 1;
}

void reference_model_release(ReferenceModel* model) {
  model->nsym = 0;
  heap_free(model->freq);
  model->freq = nullptr;
  heap_free(model->csym);
  model->csym = nullptr;
}

int reference_encoder_start(ReferenceEncoder* state, const char* path, const char* mode) {
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

static void reference_encoder_put_bit(ReferenceEncoder* state, int bit) {
  state->buffer >>= 1;
  if (bit) state->buffer |= 0x80;
  state->bits_to_go -= 1;
  state->bits_written += 1;
  if (state->bits_to_go == 0) {
    stream_put_byte(state->stream, state->buffer);
    state->bits_to_go = 8;
  }
}

static void reference_encoder_put_bit_plus_follow(ReferenceEncoder* state, int bit) {
  reference_encoder_put_bit(state, bit);
  while (state->bits_to_follow > 0) {
    reference_encoder_put_bit(state, !bit);
    state->bits_to_follow -= 1;
  }
}

// True when symbol owns a nonempty slice 0 <= csym[s+1] < csym[s] <= csym[0]
// of a positive total; only caller-supplied counts can break this.
static bool reference_model_symbol_codable(const ReferenceModel* model, int32_t symbol) {
  if (symbol < 0 || symbol >= model->nsym) return false;
  int32_t bottom = model->csym[symbol + 1];
  int32_t top = model->csym[symbol];
  return bottom >= 0 && bottom < top && top <= model->csym[0];
}

static void reference_encoder_renormalise(ReferenceEncoder* state) {
  for (;;) {
    if (state->high < CODE_HALF) {
      reference_encoder_put_bit_plus_follow(state, 0);
    } else if (state->low >= CODE_HALF) {
      reference_encoder_put_bit_plus_follow(state, 1);
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

int reference_encoder_encode(ReferenceEncoder* state, ReferenceModel* model, int32_t symbol) {
  if (!reference_model_symbol_codable(model, symbol)) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t range = state->high - state->low + 1;
  int32_t total = model->csym[0];
  state->high = state->low + (range * model->csym[symbol]) / total - 1;
  state->low = state->low + (range * model->csym[symbol + 1]) / total;
  reference_encoder_renormalise(state);
  if (model->adaptive) reference_model_update(model, symbol);
  return 0;
}

int64_t reference_encoder_bits_written(const ReferenceEncoder* state) { return state->bits_written; }

// Emits the final bits and the last byte, and takes a memory writer's bytes.
static uint8_t* reference_encoder_flush(ReferenceEncoder* state, int32_t* length_out) {
  state->bits_to_follow += 1;
  reference_encoder_put_bit_plus_follow(state, state->low < CODE_QUARTER ? 0 : 1);
  stream_put_byte(state->stream, state->buffer >> state->bits_to_go);
  return stream_contents(state->stream, length_out);
}

void reference_encoder_finish(ReferenceEncoder* state, uint8_t** bytes_out, int32_t* length_out) {
  ByteStream* stream = state->stream;
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  try {
    bytes = reference_encoder_flush(state, &length);
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

static int reference_decoder_get_bit(ReferenceDecoder* state) {
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

int reference_decoder_start(ReferenceDecoder* state, const void* source, int64_t count_or_offset, int from_memory) {
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
  for (int i = 0; i < CODE_BITS; ++i) state->value = 2 * state->value + reference_decoder_get_bit(state);
  state->low = 0;
  state->high = CODE_TOP;
  return 0;
}

// Prints the cumulative table when no symbol fits the value.
static void reference_decoder_dump(const ReferenceModel* model, int32_t cum) {
  std::printf("cum=%ld\n", static_cast<long>(cum));
  for (int32_t j = 0; j <= model->nsym; ++j) {
    std::printf("csym[%d]=%ld\n", static_cast<int>(j), static_cast<long>(model->csym[j]));
  }
  std::fflush(stdout);
}

static void reference_decoder_renormalise(ReferenceDecoder* state) {
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
    state->value = 2 * state->value + reference_decoder_get_bit(state);
  }
}

// Symbol whose slice holds cum: the first s with csym[s+1] <= cum, or nsym.
static int32_t reference_model_find_symbol(const ReferenceModel* model, int32_t cum) {
  int32_t s = 0;
  while (s < model->nsym && model->csym[s + 1] > cum) ++s;
  return s;
}

int32_t reference_decoder_decode(ReferenceDecoder* state, ReferenceModel* model) {
  // Once failed at the end of a file, stay failed: further turns would widen
  // the half-updated registers without bound.
  if (state->garbage_bits > MAX_GARBAGE_READS) raise_failure(MSG_BAD_INPUT_FILE);
  int32_t range = state->high - state->low + 1;
  int32_t total = model->nsym > 0 ? model->csym[0] : 0;
  if (model->nsym > 0 && total <= 0) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  int32_t cum = ((state->value - state->low + 1) * model->csym[0] - 1) / range;
  int32_t s = reference_model_find_symbol(model, cum);
  if (s == model->nsym) {
    reference_decoder_dump(model, cum);
    raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  }
  if (model->csym[s + 1] < 0 || model->csym[s] > total) raise_failure(MSG_SYMBOL_OUT_OF_RANGE);
  state->high = state->low + (range * model->csym[s]) / total - 1;
  state->low = state->low + (range * model->csym[s + 1]) / total;
  reference_decoder_renormalise(state);
  if (model->adaptive) reference_model_update(model, s);
  return s;
}

void reference_decoder_close(ReferenceDecoder* state) {
  ByteStream* stream = state->stream;
  state->stream = nullptr;
  stream_close(stream);
}
