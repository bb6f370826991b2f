#include "coder/model.h"

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

// Fills freq and csym from caller counts; partial sums are taken in 64 bits
// so that no count can overflow them.
static void model_fill_counts(FrequencyModel* model, const int32_t* counts) {
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

static void model_fill_uniform(FrequencyModel* model) {
  model->csym[model->nsym] = 0;
  for (int32_t i = 0; i < model->nsym; ++i) {
    model->freq[i] = 1;
    model->csym[i] = model->nsym - i;
  }
}

int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  model->nsym = 0;
  model->freq = nullptr;
  model->csym = nullptr;
  if (nsym < 0) raise_failure(MSG_MODEL_ALLOCATION);
  if (nsym > MAX_UNIFORM_ALPHABET) raise_failure(MSG_MAX_FREQUENCY);
  model->nsym = nsym;
  model->freq = model_take_table(nsym);
  model->csym = model_take_table(nsym + 1);
  model->adaptive = adaptive;
  if (counts != nullptr) {
    model_fill_counts(model, counts);
  } else {
    model_fill_uniform(model);
  }
  return 0;
}

// Halves every count, rounding up, and rebuilds the cumulative table.
static void model_halve(FrequencyModel* model) {
  int32_t sum = 0;
  model->csym[model->nsym] = 0;
  for (int32_t i = model->nsym - 1; i >= 0; --i) {
    model->freq[i] = (model->freq[i] + 1) / 2;
    sum += model->freq[i];
    model->csym[i] = sum;
  }
}

void model_update(FrequencyModel* model, int32_t s) {
  if (model->csym[0] == MAX_FREQUENCY) model_halve(model);
  model->freq[s] += 1;
  for (int32_t i = s; i >= 0; --i) model->csym[i] += 1;
}

void model_release(FrequencyModel* model) {
  model->nsym = 0;
  heap_free(model->freq);
  model->freq = nullptr;
  heap_free(model->csym);
  model->csym = nullptr;
}
