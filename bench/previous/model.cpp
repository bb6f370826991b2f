// SPDX-License-Identifier: BSD-3-Clause
#include "model.h"

#include <cstring>

#include "gateway/failure.h"
#include "gateway/heap.h"
#include "gateway/messages.h"

static int32_t* model_take_table(int32_t entries) {
  size_t bytes = static_cast<size_t>(entries) * sizeof(int32_t);
  auto* table = static_cast<int32_t*>(heap_take(bytes));
  if (table == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  std::memset(table, 0, bytes);
  return table;
}

// True when no caller count is below 0.
static bool model_counts_ordered(int32_t nsym, const int32_t* counts) {
  for (int32_t i = 0; i < nsym; ++i) {
    if (counts[i] < 0) return false;
  }
  return true;
}

// Symbols kept in the plain table: all of them when a count is negative,
// since the tree search relies on partial sums that never fall.
static int32_t model_head_size(int32_t nsym, const int32_t* counts) {
  if (counts != nullptr && !model_counts_ordered(nsym, counts)) return nsym;
  return nsym < MODEL_HEAD_SYMBOLS ? nsym : MODEL_HEAD_SYMBOLS;
}

// Rebuilds csym and the tree from freq, in O(nsym).
static void model_rebuild(FrequencyModel* model) {
  int32_t head = model->head;
  int32_t tail = model->nsym - head;
  int32_t tail_total = 0;
  for (int32_t k = 1; k <= model->tree_size; ++k) {
    model->tree[k] = k <= tail ? model->freq[head + k - 1] : 0;
    tail_total += model->tree[k];
  }
  for (int32_t k = 1; k <= model->tree_size; ++k) {
    int32_t parent = k + (k & -k);
    if (parent <= model->tree_size) model->tree[parent] += model->tree[k];
  }
  model->tail_total = tail_total;
  model->csym[head] = 0;
  for (int32_t i = head - 1; i >= 0; --i) model->csym[i] = model->csym[i + 1] + model->freq[i];
}

// Copies caller counts into freq; raises when their partial sums leave the
// 32-bit range or their total exceeds MAX_FREQUENCY.
static void model_fill_counts(FrequencyModel* model, const int32_t* counts) {
  int64_t sum = 0;
  bool overflow = false;
  for (int32_t i = model->nsym - 1; i >= 0; --i) {
    model->freq[i] = counts[i];
    sum += counts[i];
    if (sum > INT32_MAX || sum < INT32_MIN) overflow = true;
  }
  if (overflow) raise_failure(MSG_MAX_FREQUENCY);
  model_rebuild(model);
  if (sum > MAX_FREQUENCY) raise_failure(MSG_MAX_FREQUENCY);
}

int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  std::memset(model, 0, sizeof *model);
  if (nsym < 0) raise_failure(MSG_MODEL_ALLOCATION);
  if (nsym > MAX_UNIFORM_ALPHABET) raise_failure(MSG_MAX_FREQUENCY);
  model->nsym = nsym;
  model->head = model_head_size(nsym, counts);
  model->ordered = model->head < nsym || counts == nullptr || model_counts_ordered(nsym, counts);
  model->freq = model_take_table(nsym);
  model->csym = model_take_table(model->head + 1);
  int32_t tail = nsym - model->head;
  model->tree_size = tail > 0 ? 1 : 0;
  while (model->tree_size < tail) model->tree_size *= 2;
  model->tree = model_take_table(model->tree_size + 1);
  model->adaptive = adaptive;
  if (counts != nullptr) {
    model_fill_counts(model, counts);
    return 0;
  }
  for (int32_t i = 0; i < nsym; ++i) model->freq[i] = 1;
  model_rebuild(model);
  return 0;
}

void model_halve(FrequencyModel* model) {
  for (int32_t i = 0; i < model->nsym; ++i) model->freq[i] = (model->freq[i] + 1) / 2;
  model_rebuild(model);
}

void model_release(FrequencyModel* model) {
  model->nsym = 0;
  heap_free(model->freq);
  model->freq = nullptr;
  heap_free(model->csym);
  model->csym = nullptr;
  heap_free(model->tree);
  model->tree = nullptr;
  model->head = 0;
  model->tree_size = 0;
  model->tail_total = 0;
}

int32_t model_cumulative(const FrequencyModel* model, int32_t i) {
  if (i <= model->head) return model->csym[i] + model->tail_total;
  return model->tail_total - model_tree_prefix(model, i - model->head);
}
