// SPDX-License-Identifier: BSD-3-Clause
#include "coder/model.h"

#include <cstring>

#include "base/failure.h"
#include "base/heap.h"

// Sizes of the tables, in lanes: the symbols cover whole groups, so that any
// symbol's row and group exist, and every table starts on a row.
struct ModelLayout {
  int32_t rows;         // rows of symbols, 16 to a group
  int32_t group_lanes;  // lanes of group_after: whole rows of groups
  int32_t grown_lanes;  // entries of grown, nsym + 1
};

static ModelLayout model_layout(int32_t nsym) {
  int32_t groups = nsym == 0 ? 1 : (nsym + MODEL_GROUP_SYMBOLS - 1) / MODEL_GROUP_SYMBOLS;
  int32_t group_rows = (groups + ROW_LANES - 1) / ROW_LANES;
  return ModelLayout{groups * ROW_LANES, group_rows * ROW_LANES, nsym + 1};
}

static int32_t model_shape(int32_t nsym) {
  if (nsym <= ROW_LANES) return MODEL_ONE_ROW;
  if (nsym <= MODEL_GROUP_SYMBOLS) return MODEL_ONE_GROUP;
  return MODEL_GROUPS;
}

// Takes the one zeroed block of every table and points the fields into it.
static void model_take_tables(FrequencyModel* model) {
  ModelLayout layout = model_layout(model->nsym);
  size_t lanes = static_cast<size_t>(layout.rows) * (MODEL_ROW_STRIDE + 1) + static_cast<size_t>(layout.group_lanes) +
                 static_cast<size_t>(layout.grown_lanes);
  auto* block = static_cast<int16_t*>(heap_take(lanes * sizeof(int16_t)));
  if (block == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  std::memset(block, 0, lanes * sizeof(int16_t));
  ModelRows& rows = model->rows;
  model->storage = block;
  rows.symbols = block;
  rows.row_after = rows.symbols + layout.rows * MODEL_ROW_STRIDE;
  rows.group_after = rows.row_after + layout.rows;
  rows.group_rows = layout.group_lanes / ROW_LANES;
  rows.grown = rows.group_after + layout.group_lanes;
}

// Lists the symbols whose count is above 1, for a model of shape
// MODEL_GROUPS.
static void model_list_grown(FrequencyModel* model) {
  ModelRows& rows = model->rows;
  rows.grown_count = 0;
  int32_t row_count = model_layout(model->nsym).rows;
  for (int32_t row = 0; row < row_count; ++row) {
    for (uint32_t bits = row_lanes_above(rows.symbols + row * MODEL_ROW_STRIDE + ROW_LANES, 1); bits != 0;
         bits &= bits - 1) {
      rows.grown[rows.grown_count++] = static_cast<int16_t>(row * ROW_LANES + code_trailing_zeros(bits));
    }
  }
}

// Rebuilds every sum, the total and the list of grown symbols from the
// counts, in O(nsym).
static void model_rebuild(FrequencyModel* model) {
  ModelRows& rows = model->rows;
  ModelLayout layout = model_layout(model->nsym);
  int32_t sum = 0;
  for (int32_t row = layout.rows - 1; row >= 0; --row) {
    if (row % ROW_LANES == ROW_LANES - 1) sum = 0;  // the last row of its group
    rows.row_after[row] = static_cast<int16_t>(sum);
    sum += row_fill_after(rows.symbols + row * MODEL_ROW_STRIDE);
  }
  // The groups after each, summed from the last.
  int32_t total = 0;
  for (int32_t group = layout.rows / ROW_LANES - 1; group >= 0; --group) {
    int32_t group_sum = rows.row_after[group * ROW_LANES] + rows.symbols[group * ROW_LANES * MODEL_ROW_STRIDE] +
                        rows.symbols[group * ROW_LANES * MODEL_ROW_STRIDE + ROW_LANES];
    rows.group_after[group] = static_cast<int16_t>(total);
    total += group_sum;
  }
  rows.total = total;
  rows.grown_count = 0;  // the smaller shapes keep no list: their halvings rebuild
  if (model->shape == MODEL_GROUPS) model_list_grown(model);
}

// Copies caller counts into the rows; raises when one is below 0 or their
// total exceeds MAX_FREQUENCY.
static void model_fill_counts(FrequencyModel* model, const int32_t* counts) {
  int64_t sum = 0;
  bool negative = false;
  for (int32_t s = 0; s < model->nsym; ++s) {
    negative |= counts[s] < 0;
    sum += counts[s];
  }
  if (negative || sum > MAX_FREQUENCY) raise_failure(MSG_MAX_FREQUENCY);
  for (int32_t s = 0; s < model->nsym; ++s) {
    model->rows.symbols[model_lane(static_cast<uint32_t>(s)) + ROW_LANES] = static_cast<int16_t>(counts[s]);
  }
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
    for (int32_t s = 0; s < nsym; ++s) model->rows.symbols[model_lane(static_cast<uint32_t>(s)) + ROW_LANES] = 1;
  }
  model_rebuild(model);
  return 0;
}

void model_release(FrequencyModel* model) {
  heap_free(model->storage);
  std::memset(model, 0, sizeof *model);
}

void model_halve(FrequencyModel* model) {
  ModelRows& rows = model->rows;
  if (model->shape < MODEL_GROUPS || rows.grown_count * MODEL_REBUILD_SHARE > model->nsym) {
    int32_t row_count = model_layout(model->nsym).rows;
    for (int32_t row = 0; row < row_count; ++row) row_halve_lanes(rows.symbols + row * MODEL_ROW_STRIDE + ROW_LANES, ROW_LANES);
    model_rebuild(model);
    return;
  }
  model_halve_grown(rows);
}

int32_t model_cumulative(const FrequencyModel* model, int32_t i) {
  KESTREL_ASSERT(i >= 0 && i <= model->nsym);
  if (i == model->nsym) return 0;
  int32_t top = 0;
  int32_t bottom = 0;
  model_slice(model->rows, static_cast<uint32_t>(i), &top, &bottom);
  return top;
}
