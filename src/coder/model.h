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
//   after s in its row;
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
// A halving changes only the counts above 1: those symbols are kept in a
// list, and when it is short they alone are halved, so that an alphabet
// near the largest, which halves at almost every update, pays for one or
// two symbols instead of all of them.
#pragma once

#include <cstdint>

#include "coder/constants.h"
#include "coder/rows.h"
#include "gateway/checks.h"

// Shapes: the levels of rows a model needs.
constexpr int32_t MODEL_ONE_ROW = 1;    // nsym <= 16: symbols only
constexpr int32_t MODEL_ONE_GROUP = 2;  // nsym <= 256: symbols and rows
constexpr int32_t MODEL_GROUPS = 3;     // any nsym: symbols, rows and groups

constexpr int32_t MODEL_GROUP_SYMBOLS = ROW_LANES * ROW_LANES;  // 256 symbols in a group

// A halving rebuilds every table instead of halving the listed symbols one by
// one when more than one symbol in this many is listed.
constexpr int32_t MODEL_REBUILD_SHARE = 8;

struct FrequencyModel {
  int32_t nsym;         // alphabet size, 0..MAX_UNIFORM_ALPHABET; 0 after release
  int32_t total;        // csym(0), the sum of all counts, 0..MAX_FREQUENCY
  int32_t adaptive;     // nonzero: the coder calls model_update after each symbol
  int32_t shape;        // MODEL_ONE_ROW, MODEL_ONE_GROUP or MODEL_GROUPS, by nsym
  int16_t* freq;        // count of each symbol, 0..MAX_FREQUENCY; zero past nsym up to a whole group
  int16_t* after;       // per symbol: counts of the symbols after it in its row
  int16_t* row_after;   // per row of 16 symbols: counts of the rows after it in its group
  int16_t* group_after; // per group of 256 symbols: counts of the groups after it; group_rows rows
  int32_t group_rows;   // rows of group_after, 1..4
  int16_t* grown;       // the symbols whose count is above 1, in any order (nsym+1 entries)
  int32_t grown_count;  // number of symbols in grown, 0..nsym
  void* storage;        // the one heap block holding every table
};

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

// The total of all counts, csym(0).
inline int32_t model_total(const FrequencyModel* model) { return model->total; }

// The cumulative count csym(i) = freq[i] + ... + freq[nsym-1], 0 <= i <= nsym.
int32_t model_cumulative(const FrequencyModel* model, int32_t i);

// The slice of symbol s (0 <= s < nsym): *top = csym(s), *bottom = csym(s+1).
template <int32_t SHAPE = MODEL_GROUPS>
inline void model_slice(const FrequencyModel* model, int32_t s, int32_t* top, int32_t* bottom) {
  KESTREL_ASSERT(s >= 0 && s < model->nsym && SHAPE >= model->shape);
  int32_t below = model->after[s];
  if (SHAPE >= MODEL_ONE_GROUP) below += model->row_after[s / ROW_LANES];
  if (SHAPE >= MODEL_GROUPS) below += model->group_after[s / MODEL_GROUP_SYMBOLS];
  *bottom = below;
  *top = below + model->freq[s];
}

// The symbol whose slice holds cum (0 <= cum < total): the first s with
// csym(s+1) <= cum, as a linear search from symbol 0 finds it, with *top =
// csym(s) and *bottom = csym(s+1). Symbols with a count of 0 are passed over.
template <int32_t SHAPE = MODEL_GROUPS>
inline int32_t model_find(const FrequencyModel* model, int32_t cum, int32_t* top, int32_t* bottom) {
  KESTREL_ASSERT(cum >= 0 && cum < model->total && SHAPE >= model->shape);
  int32_t rest = cum;
  int32_t group = 0;
  if (SHAPE >= MODEL_GROUPS) {
    for (int32_t r = 0; r < model->group_rows; ++r) group += row_count_above(model->group_after + r * ROW_LANES, cum);
    rest -= model->group_after[group];
  }
  int32_t row = group * ROW_LANES;
  if (SHAPE >= MODEL_ONE_GROUP) {
    row += row_count_above(model->row_after + row, rest);
    rest -= model->row_after[row];
  }
  int32_t s = row * ROW_LANES + row_count_above(model->after + row * ROW_LANES, rest);
  *bottom = cum - rest + model->after[s];
  *top = *bottom + model->freq[s];
  KESTREL_ASSERT(s < model->nsym && *bottom <= cum && cum < *top);
  return s;
}

// Counts symbol s (0 <= s < nsym, not checked), halving all counts first when
// the total equals MAX_FREQUENCY.
template <int32_t SHAPE = MODEL_GROUPS>
inline void model_update(FrequencyModel* model, int32_t s) {
  KESTREL_ASSERT(s >= 0 && s < model->nsym && SHAPE >= model->shape);
  if (model->total == MAX_FREQUENCY) model_halve(model);
  int32_t count = model->freq[s] + 1;
  model->freq[s] = static_cast<int16_t>(count);
  model->grown[model->grown_count] = static_cast<int16_t>(s);  // kept only when s has just grown past 1
  model->grown_count += count == 2;
  model->total += 1;
  row_increment_below(model->after + (s & -ROW_LANES), s % ROW_LANES);
  if (SHAPE >= MODEL_ONE_GROUP) {
    row_increment_below(model->row_after + s / MODEL_GROUP_SYMBOLS * ROW_LANES, s / ROW_LANES % ROW_LANES);
  }
  if (SHAPE >= MODEL_GROUPS) {
    for (int32_t r = 0; r < model->group_rows; ++r) {
      row_increment_below(model->group_after + r * ROW_LANES, s / MODEL_GROUP_SYMBOLS - r * ROW_LANES);
    }
  }
  KESTREL_ASSERT(model->total <= MAX_FREQUENCY);
}
