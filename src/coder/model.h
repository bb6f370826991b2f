// SPDX-License-Identifier: BSD-3-Clause
// Adaptive frequency model: a count per symbol, read by the coder as a
// cumulative table taken from the top. Symbol s owns the counts csym(s+1) ..
// csym(s)-1 of the total csym(0), where csym(i) = freq[i] + ... +
// freq[nsym-1]; symbol 0 owns the top slice. When the total has reached
// MAX_FREQUENCY, every count is halved (rounding up) before the next is added.
//
// The coder sees four operations: the total, the slice of a symbol, the
// symbol whose slice holds a count, and the update. Behind them the counts
// are kept in three levels of rows of 16 signed 16-bit lanes (see rows.h):
// - symbols in rows of 16: after[s] is the sum of the counts of the symbols
//   after s in its row; each row of these sums is followed in memory by the
//   row of the 16 counts themselves;
// - rows in groups of 16 (256 symbols): row_after[r] is the sum of the rows
//   after row r in its group;
// - groups: group_after[g] is the sum of the groups after group g.
// So csym(s+1) = after[s] + row_after[s/16] + group_after[s/256], an update
// adds 1 to the lanes below s at each level, and a search counts, at each
// level, the lanes above the count it looks for. All three cost a fixed
// number of row operations, whatever the symbol. Alphabets of up to 16
// symbols use the first level alone, up to 256 the first two (the model's
// shape); the operations take the shape as a template argument, and
// MODEL_GROUPS, the general form, is right for every model.
//
// A halving changes only the counts above 1. The larger alphabets keep those
// symbols in a list, and when it is short they alone are halved, so that an
// alphabet near the largest, which halves at almost every update, pays for
// one or two symbols instead of all of them.
#pragma once

#include <cstdint>

#include "coder/constants.h"
#include "coder/rows.h"
#include "base/checks.h"

// Shapes: the levels of rows a model needs.
constexpr int32_t MODEL_ONE_ROW = 1;    // nsym <= 16: symbols only
constexpr int32_t MODEL_ONE_GROUP = 2;  // nsym <= 256: symbols and rows
constexpr int32_t MODEL_GROUPS = 3;     // any nsym: symbols, rows and groups

constexpr int32_t MODEL_GROUP_SYMBOLS = ROW_LANES * ROW_LANES;  // 256 symbols in a group

// Lanes of a row of symbols in memory: their 16 sums, then their 16 counts.
constexpr int32_t MODEL_ROW_STRIDE = 2 * ROW_LANES;

// A halving rebuilds every table instead of halving the listed symbols one by
// one when more than one symbol in this many is listed.
constexpr int32_t MODEL_REBUILD_SHARE = 8;

// A model's tables and running counts: what a coder keeps in locals while it
// codes a vector of symbols, and gives back to the model before anything
// else may look at it. The tables stay where they are from model_init to
// model_release.
struct ModelRows {
  int16_t* symbols;      // rows of symbols: per row the sums after each symbol, then the counts (0..MAX_FREQUENCY)
  int16_t* row_after;    // per row of 16 symbols: counts of the rows after it in its group
  int16_t* group_after;  // per group of 256 symbols: counts of the groups after it; group_rows rows
  int32_t group_rows;    // rows of group_after, 1..4
  int32_t total;         // csym(0), the sum of all counts, 0..MAX_FREQUENCY
  int16_t* grown;        // MODEL_GROUPS: the symbols whose count is above 1, in any order (nsym+1 entries)
  int32_t grown_count;   // MODEL_GROUPS: number of symbols in grown, 0..nsym
};

struct FrequencyModel {
  int32_t nsym;      // alphabet size, 0..MAX_UNIFORM_ALPHABET; 0 after release
  int32_t adaptive;  // nonzero: the coder calls model_update after each symbol
  int32_t shape;     // MODEL_ONE_ROW, MODEL_ONE_GROUP or MODEL_GROUPS, by nsym
  ModelRows rows;    // the tables of counts and sums, and the total
  void* storage;     // the one heap block holding every table
};

// Lane of symbol s's sum in rows.symbols; its count lies ROW_LANES further.
inline uint32_t model_lane(uint32_t s) { return s + (s & ~uint32_t{ROW_LANES - 1}); }

// Fills model for nsym symbols (0..MAX_UNIFORM_ALPHABET) from counts (nsym
// values, each 0 or more) or, with counts nullptr, uniform with every count
// 1. Returns 0. Raises "arithmetic coder model max frequency exceeded" for
// nsym above MAX_UNIFORM_ALPHABET (nothing allocated), and for counts below 0
// or totalling more than MAX_FREQUENCY (tables kept for model_release); and
// "arithmetic coder model allocation failure" for a negative nsym or a
// failed allocation.
int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive);

// Frees the tables and sets nsym 0; a released model may be released again.
void model_release(FrequencyModel* model);

// Halves every count, rounding up (a count of 1 stays 1, 0 stays 0).
void model_halve(FrequencyModel* model);

// Halves the counts of the grown symbols of rows, of a model of shape
// MODEL_GROUPS, one by one: their counts and every sum that holds them.
CODE_INLINE void model_halve_grown(ModelRows& rows) {
  int32_t kept = 0;
  for (int32_t i = 0; i < rows.grown_count; ++i) {
    uint32_t s = static_cast<uint16_t>(rows.grown[i]);
    int16_t* sums = rows.symbols + s / ROW_LANES * MODEL_ROW_STRIDE;
    int32_t count = sums[ROW_LANES + s % ROW_LANES];
    int32_t delta = count / 2;  // count - (count + 1) / 2
    sums[ROW_LANES + s % ROW_LANES] = static_cast<int16_t>(count - delta);
    rows.total -= delta;
    row_subtract_below(sums, static_cast<int32_t>(s % ROW_LANES), delta);
    row_subtract_below(rows.row_after + s / MODEL_GROUP_SYMBOLS * ROW_LANES, static_cast<int32_t>(s / ROW_LANES % ROW_LANES),
                       delta);
    for (int32_t r = 0; r < rows.group_rows; ++r) {
      row_subtract_below(rows.group_after + r * ROW_LANES, static_cast<int32_t>(s / MODEL_GROUP_SYMBOLS), delta,
                         r * ROW_LANES);
    }
    rows.grown[kept] = static_cast<int16_t>(s);
    kept += count > 2;
  }
  rows.grown_count = kept;
}

// Grown symbols that an update halves in place, without a call: an alphabet
// near the largest halves at almost every update, with one or two of them.
constexpr int32_t MODEL_INLINE_HALVING = 2;

// Gives the running counts of rows, a coder's copy of the rows of model, back
// to the model; the tables themselves are shared.
inline void model_keep_counts(FrequencyModel* model, const ModelRows& rows) {
  model->rows.total = rows.total;
  model->rows.grown_count = rows.grown_count;
}

// The total of all counts, csym(0).
inline int32_t model_total(const FrequencyModel* model) { return model->rows.total; }
inline int32_t model_total(const ModelRows& rows) { return rows.total; }

// The cumulative count csym(i) = freq[i] + ... + freq[nsym-1], 0 <= i <= nsym.
int32_t model_cumulative(const FrequencyModel* model, int32_t i);

// The slice of symbol s (0 <= s < nsym) in the rows of a model of shape
// SHAPE or less: *top = csym(s), *bottom = csym(s+1).
template <int32_t SHAPE = MODEL_GROUPS>
inline void model_slice(const ModelRows& rows, uint32_t s, int32_t* top, int32_t* bottom) {
  const int16_t* lane = rows.symbols + model_lane(s);
  int32_t below = lane[0];
  if (SHAPE >= MODEL_ONE_GROUP) below += rows.row_after[s / ROW_LANES];
  if (SHAPE >= MODEL_GROUPS) below += rows.group_after[s / MODEL_GROUP_SYMBOLS];
  *bottom = below;
  *top = below + lane[ROW_LANES];
}

// The symbol whose slice holds cum (0 <= cum < total) in the rows of a model
// of shape SHAPE or less: the first s with csym(s+1) <= cum, as a linear
// search from symbol 0 finds it, with *top = csym(s) and *bottom = csym(s+1).
// Symbols with a count of 0 are passed over.
template <int32_t SHAPE = MODEL_GROUPS>
inline uint32_t model_find(const ModelRows& rows, int32_t cum, int32_t* top, int32_t* bottom) {
  int32_t rest = cum;
  uint32_t group = 0;
  if (SHAPE >= MODEL_GROUPS) {
    for (int32_t r = 0; r < rows.group_rows; ++r) group += row_count_above(rows.group_after + r * ROW_LANES, cum);
    rest -= rows.group_after[group];
  }
  uint32_t row = group * ROW_LANES;
  if (SHAPE >= MODEL_ONE_GROUP) {
    row += row_count_above(rows.row_after + row, rest);
    rest -= rows.row_after[row];
  }
  const int16_t* sums = rows.symbols + row * MODEL_ROW_STRIDE;
  uint32_t j = static_cast<uint32_t>(row_count_above(sums, rest));
  *bottom = cum - rest + sums[j];
  *top = *bottom + sums[ROW_LANES + j];
  uint32_t s = row * ROW_LANES + j;
  KESTREL_ASSERT(*bottom <= cum && cum < *top);
  return s;
}

// Counts symbol s (0 <= s < nsym, not checked) in rows, a coder's copy of
// the rows of model, whose shape is SHAPE or less; halves all counts first
// when the total equals MAX_FREQUENCY.
template <int32_t SHAPE = MODEL_GROUPS>
inline void model_update(FrequencyModel* model, ModelRows& rows, uint32_t s) {
  KESTREL_ASSERT(s < static_cast<uint32_t>(model->nsym) && SHAPE >= model->shape);
  if (rows.total == MAX_FREQUENCY) {
    if (SHAPE >= MODEL_GROUPS && model->shape == MODEL_GROUPS && rows.grown_count <= MODEL_INLINE_HALVING) {
      model_halve_grown(rows);
    } else {
      model->rows = rows;
      model_halve(model);
      rows = model->rows;
    }
  }
  int16_t* sums = rows.symbols + (s / ROW_LANES) * MODEL_ROW_STRIDE;
  int32_t count = sums[ROW_LANES + s % ROW_LANES] + 1;
  sums[ROW_LANES + s % ROW_LANES] = static_cast<int16_t>(count);
  if (SHAPE >= MODEL_GROUPS) {
    rows.grown[rows.grown_count] = static_cast<int16_t>(s);  // kept only when s has just grown past 1
    rows.grown_count += count == 2;
  }
  rows.total += 1;
  row_increment_below(sums, static_cast<int32_t>(s % ROW_LANES));
  if (SHAPE >= MODEL_ONE_GROUP) {
    row_increment_below(rows.row_after + s / MODEL_GROUP_SYMBOLS * ROW_LANES,
                        static_cast<int32_t>(s / ROW_LANES % ROW_LANES));
  }
  if (SHAPE >= MODEL_GROUPS) {
    for (int32_t r = 0; r < rows.group_rows; ++r) {
      row_increment_below(rows.group_after + r * ROW_LANES, static_cast<int32_t>(s / MODEL_GROUP_SYMBOLS),
                          r * ROW_LANES);
    }
  }
  KESTREL_ASSERT(rows.total <= MAX_FREQUENCY);
}

// The count of symbol s (0 <= s < nsym).
inline int32_t model_count(const FrequencyModel* model, int32_t s) {
  return model->rows.symbols[model_lane(static_cast<uint32_t>(s)) + ROW_LANES];
}

// The same operations for a single call, on a model of any shape.
inline void model_slice(const FrequencyModel* model, int32_t s, int32_t* top, int32_t* bottom) {
  KESTREL_ASSERT(s >= 0 && s < model->nsym);
  model_slice(model->rows, static_cast<uint32_t>(s), top, bottom);
}
inline int32_t model_find(const FrequencyModel* model, int32_t cum, int32_t* top, int32_t* bottom) {
  KESTREL_ASSERT(cum >= 0 && cum < model->rows.total);
  return static_cast<int32_t>(model_find(model->rows, cum, top, bottom));
}
inline void model_update(FrequencyModel* model, int32_t s) { model_update(model, model->rows, static_cast<uint32_t>(s)); }
