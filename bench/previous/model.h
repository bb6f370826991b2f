// SPDX-License-Identifier: BSD-3-Clause
// Adaptive frequency model: a count per symbol, read by the coder as a
// cumulative table taken from the top. Symbol s owns the counts
// csym(s+1) .. csym(s)-1 of the total csym(0), where csym(i) = freq[i] + ...
// + freq[nsym-1]; symbol 0 owns the top slice. When the total has reached
// MAX_FREQUENCY, every count is halved (rounding up) before the next is added.
//
// The first `head` symbols keep their cumulative counts in the plain table
// csym, read and updated directly: cheap for small alphabets and for symbols
// near 0. The other symbols keep their counts in a binary indexed (Fenwick)
// tree, so that an update or a search costs O(log nsym) however large the
// alphabet, and their sum in tail_total. So csym(i) = csym[i] + tail_total
// for i <= head, and the total is csym[0] + tail_total.
#pragma once

#include <cstdint>

#include "constants.h"

// Symbols whose cumulative counts are kept in the plain table: alphabets up to
// this size are all table, which costs no more than a tree below it.
constexpr int32_t MODEL_HEAD_SYMBOLS = 8;

struct FrequencyModel {
  int32_t nsym;       // alphabet size; 0 after release
  int32_t* freq;      // nsym counts (heap); freq[s] is the count of symbol s
  int32_t* csym;      // head+1 cumulative counts of the head (heap): csym[i] = freq[i] + ... + freq[head-1]
  int32_t adaptive;   // nonzero: the coder calls model_update after each symbol
  int32_t head;       // symbols 0..head-1 are read from csym; head == nsym means no tree
  int32_t* tree;      // Fenwick tree over freq[head..nsym-1] and zero padding (heap), 1-based
  int32_t tree_size;  // leaves of the tree: the power of two >= nsym-head; 0 without a tree
  int32_t tail_total; // freq[head] + ... + freq[nsym-1]
  int32_t ordered;    // 1 when no count is below 0, so that csym never rises (all but some caller counts)
};

// Fills model for nsym symbols (0..MAX_UNIFORM_ALPHABET) from counts (nsym
// values) or, with counts nullptr, uniform with every count 1. Returns 0.
// Raises "arithmetic coder model max frequency exceeded" for nsym above
// MAX_UNIFORM_ALPHABET (nothing allocated) or counts totalling more than
// MAX_FREQUENCY (tables kept for model_release), and "arithmetic coder model
// allocation failure" for a negative nsym or a failed allocation.
int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive);

// Halves every count, rounding up (a count of 1 stays 1), and rebuilds the
// cumulative counts.
void model_halve(FrequencyModel* model);

// The total of all counts, csym(0).
inline int32_t model_total(const FrequencyModel* model) { return model->csym[0] + model->tail_total; }

// Counts symbol s (0 <= s < nsym, not checked), halving all counts first when
// the total equals MAX_FREQUENCY.
inline void model_update(FrequencyModel* model, int32_t s) {
  if (model_total(model) == MAX_FREQUENCY) model_halve(model);
  model->freq[s] += 1;
  if (s < model->head) {
    for (int32_t i = 0; i <= s; ++i) model->csym[i] += 1;
    return;
  }
  for (int32_t k = s - model->head + 1; k <= model->tree_size; k += k & -k) model->tree[k] += 1;
  model->tail_total += 1;
}

// Frees the tables and sets nsym 0; a released model may be released again.
void model_release(FrequencyModel* model);

// The cumulative count csym(i) = freq[i] + ... + freq[nsym-1], 0 <= i <= nsym.
int32_t model_cumulative(const FrequencyModel* model, int32_t i);

// Sum of the first k counts of the tree (freq[head] .. freq[head+k-1]).
inline int32_t model_tree_prefix(const FrequencyModel* model, int32_t k) {
  int32_t sum = 0;
  for (; k > 0; k &= k - 1) sum += model->tree[k];
  return sum;
}

// The slice of symbol s (0 <= s < nsym): *top = csym(s), *bottom = csym(s+1).
inline void model_symbol_slice(const FrequencyModel* model, int32_t s, int32_t* top, int32_t* bottom) {
  if (s < model->head) {
    *top = model->csym[s] + model->tail_total;
    *bottom = model->csym[s + 1] + model->tail_total;
  } else {
    *top = model->tail_total - model_tree_prefix(model, s - model->head);
    *bottom = *top - model->freq[s];
  }
}

// One turn of the tree descent: count is the sum of the left half of the
// subtree at *leaf (of 2 * step leaves), stay and move the sums the next turn
// compares when it stays left or moves right. Moves right when count is
// below *remaining, taking count off it; returns the next turn's count.
// MASKED chooses by masks instead of branches: a fixed cost whatever the
// data, where a branch that the data makes unpredictable costs more than the
// whole turn.
template <bool MASKED>
inline int32_t model_descend_turn(int32_t count, int32_t stay, int32_t move, int32_t step, int32_t* leaf,
                                  int32_t* remaining) {
  if constexpr (MASKED) {
    int32_t mask = -static_cast<int32_t>(count < *remaining);
    *leaf += step & mask;
    *remaining -= count & mask;
    return stay ^ ((stay ^ move) & mask);
  } else {
    bool below = count < *remaining;
    *leaf += below ? step : 0;
    *remaining -= below ? count : 0;
    return below ? move : stay;
  }
}

// The first leaf (0..tree_size-1) of a tree with at least two leaves whose
// prefix sum reaches remaining (1..tail_total), with *remaining reduced by
// the counts of the leaves before it. Each turn loads both nodes the next
// turn may need before it knows which, so that the loads overlap the choice.
template <bool MASKED>
inline int32_t model_descend(const FrequencyModel* model, int32_t* remaining) {
  int32_t leaf = 0;
  int32_t step = model->tree_size >> 1;
  int32_t count = model->tree[step];
  for (; step > 1; step >>= 1) {
    int32_t stay = model->tree[leaf + (step >> 1)];
    int32_t move = model->tree[leaf + step + (step >> 1)];
    count = model_descend_turn<MASKED>(count, stay, move, step, &leaf, remaining);
  }
  model_descend_turn<MASKED>(count, 0, 0, 1, &leaf, remaining);
  return leaf;
}

// The symbol whose slice holds cum, as a linear search from symbol 0 finds it:
// the first s with csym(s+1) <= cum, with *top = csym(s) and *bottom =
// csym(s+1); nsym when there is none (cum below 0, or no symbols). masked
// nonzero descends the tree by masks (for symbols that are hard to predict);
// the result is the same either way.
inline int32_t model_find_symbol(const FrequencyModel* model, int32_t cum, int32_t* top, int32_t* bottom,
                                 int32_t masked) {
  const int32_t* csym = model->csym;
  int32_t head = model->head;
  int32_t tail_total = model->tail_total;
  if (cum >= tail_total) {
    int32_t in_head = cum - tail_total;
    int32_t s = 0;
    while (s < head && csym[s + 1] > in_head) ++s;
    if (s < head) {
      *top = csym[s] + tail_total;
      *bottom = csym[s + 1] + tail_total;
    }
    return s;
  }
  if (cum < 0) return model->nsym;
  // In the tree: the first leaf whose prefix reaches the counts above cum.
  int32_t remaining = tail_total - cum;
  int32_t leaf = 0;
  if (model->tree_size > 1) {
    leaf = masked ? model_descend<true>(model, &remaining) : model_descend<false>(model, &remaining);
  }
  int32_t s = head + leaf;
  *top = cum + remaining;
  *bottom = *top - model->freq[s];
  return s;
}
