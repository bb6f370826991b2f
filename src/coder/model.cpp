// SPDX-License-Identifier: BSD-3-Clause
#include "coder/model.h"

#include <cstring>

#include "gateway/failure.h"
#include "gateway/heap.h"

// Sizes of the tables, in lanes: every symbol table covers whole groups, so
// that any symbol's row and group exist, and every table starts on a row.
struct ModelLayout {
  int32_t symbol_lanes;  // lanes of freq and of after
  int32_t row_lanes;     // lanes of row_after: one per row of symbols
  int32_t group_lanes;   // lanes of group_after: whole rows of groups
  int32_t grown_lanes;   // entries of grown, nsym + 1
};

static ModelLayout model_layout(int32_t nsym) {
  int32_t groups = nsym == 0 ? 1 : (nsym + MODEL_GROUP_SYMBOLS - 1) / MODEL_GROUP_SYMBOLS;
  int32_t group_rows = (groups + ROW_LANES - 1) / ROW_LANES;
  return ModelLayout{groups * MODEL_GROUP_SYMBOLS, groups * ROW_LANES, group_rows * ROW_LANES, nsym + 1};
}

static int32_t model_shape(int32_t nsym) {
  if (nsym <= ROW_LANES) return MODEL_ONE_ROW;
  if (nsym <= MODEL_GROUP_SYMBOLS) return MODEL_ONE_GROUP;
  return MODEL_GROUPS;
}

// Takes the one zeroed block of every table and points the fields into it.
static void model_take_tables(FrequencyModel* model) {
  ModelLayout layout = model_layout(model->nsym);
  size_t lanes = 2 * static_cast<size_t>(layout.symbol_lanes) + static_cast<size_t>(layout.row_lanes) +
                 static_cast<size_t>(layout.group_lanes) + static_cast<size_t>(layout.grown_lanes);
  auto* block = static_cast<int16_t*>(heap_take(lanes * sizeof(int16_t)));
  if (block == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  std::memset(block, 0, lanes * sizeof(int16_t));
  model->storage = block;
  model->freq = block;
  model->after = model->freq + layout.symbol_lanes;
  model->row_after = model->after + layout.symbol_lanes;
  model->group_after = model->row_after + layout.row_lanes;
  model->grown = model->group_after + layout.group_lanes;
  model->group_rows = layout.group_lanes / ROW_LANES;
}

// Rebuilds every sum, the total and the list of grown symbols from freq, in
// O(nsym).
static void model_rebuild(FrequencyModel* model) {
  ModelLayout layout = model_layout(model->nsym);
  int32_t rows = layout.symbol_lanes / ROW_LANES;
  for (int32_t row = 0; row < rows; ++row) {
    int32_t sum = 0;
    for (int32_t s = row * ROW_LANES + ROW_LANES - 1; s >= row * ROW_LANES; --s) {
      model->after[s] = static_cast<int16_t>(sum);
      sum += model->freq[s];
    }
  }
  int32_t groups = layout.row_lanes / ROW_LANES;
  int32_t sum = 0;
  for (int32_t group = groups - 1; group >= 0; --group) {
    model->group_after[group] = static_cast<int16_t>(sum);
    int32_t group_sum = 0;
    for (int32_t row = group * ROW_LANES + ROW_LANES - 1; row >= group * ROW_LANES; --row) {
      model->row_after[row] = static_cast<int16_t>(group_sum);
      group_sum += model->after[row * ROW_LANES] + model->freq[row * ROW_LANES];
    }
    sum += group_sum;
  }
  model->total = sum;
  model->grown_count = 0;
  for (int32_t s = 0; s < model->nsym; ++s) {
    model->grown[model->grown_count] = static_cast<int16_t>(s);
    model->grown_count += model->freq[s] > 1;
  }
}

// Copies caller counts into freq; raises when one is below 0 or their total
// exceeds MAX_FREQUENCY.
static void model_fill_counts(FrequencyModel* model, const int32_t* counts) {
  int64_t sum = 0;
  bool negative = false;
  for (int32_t s = 0; s < model->nsym; ++s) {
    negative |= counts[s] < 0;
    sum += counts[s];
  }
  if (negative || sum > MAX_FREQUENCY) raise_failure(MSG_MAX_FREQUENCY);
  for (int32_t s = 0; s < model->nsym; ++s) model->freq[s] = static_cast<int16_t>(counts[s]);
}

int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  std::memset(model, 0, sizeof *model);
  if (nsym < 0) raise_failure(MSG_MODEL_ALLOCATION);
  if (nsym > MAX_UNIFORM_ALPHABET) raise_failure(MSG_MAX_FREQUENCY);
  model->nsym = nsym;
  model->adaptive = adaptive;
  model->shape = model_shape(nsym);
  model_take_tables(model);
  if (counts != nullptr) {
    model_fill_counts(model, counts);
  } else {
    for (int32_t s = 0; s < nsym; ++s) model->freq[s] = 1;
  }
  model_rebuild(model);
  return 0;
}

void model_release(FrequencyModel* model) {
  heap_free(model->storage);
  std::memset(model, 0, sizeof *model);
}

// Takes delta from the count of symbol s and from every sum that holds it.
static void model_take_from(FrequencyModel* model, int32_t s, int32_t delta) {
  model->freq[s] = static_cast<int16_t>(model->freq[s] - delta);
  model->total -= delta;
  row_subtract_below(model->after + (s & -ROW_LANES), s % ROW_LANES, delta);
  row_subtract_below(model->row_after + s / MODEL_GROUP_SYMBOLS * ROW_LANES, s / ROW_LANES % ROW_LANES, delta);
  for (int32_t r = 0; r < model->group_rows; ++r) {
    row_subtract_below(model->group_after + r * ROW_LANES, s / MODEL_GROUP_SYMBOLS - r * ROW_LANES, delta);
  }
}

void model_halve(FrequencyModel* model) {
  if (model->grown_count * MODEL_REBUILD_SHARE > model->nsym) {
    row_halve_lanes(model->freq, model_layout(model->nsym).symbol_lanes);
    model_rebuild(model);
    return;
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < model->grown_count; ++i) {
    int32_t s = model->grown[i];
    int32_t count = model->freq[s];
    model_take_from(model, s, count / 2);  // count - (count + 1) / 2
    model->grown[kept] = static_cast<int16_t>(s);
    kept += count > 2;
  }
  model->grown_count = kept;
}

int32_t model_cumulative(const FrequencyModel* model, int32_t i) {
  KESTREL_ASSERT(i >= 0 && i <= model->nsym);
  if (i == model->nsym) return 0;
  int32_t top = 0;
  int32_t bottom = 0;
  model_slice(model, i, &top, &bottom);
  return top;
}
