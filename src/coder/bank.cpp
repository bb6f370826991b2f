// SPDX-License-Identifier: BSD-3-Clause
#include "coder/bank.h"

#include <cstring>

#include "base/failure.h"
#include "base/heap.h"

static void* bank_take(size_t bytes) {
  void* block = heap_take(bytes);
  if (block == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  std::memset(block, 0, bytes);
  return block;
}

void bank_init(ModelBank* bank, int32_t nsym, int32_t count, int32_t order, const int32_t* counts, int32_t columns,
               int32_t adaptive, int32_t increment) {
  KESTREL_ASSERT(count >= 1 && int64_t{count} * nsym <= BANK_MAX_COUNTS && (order == 0 || count == nsym));
  KESTREL_ASSERT((counts == nullptr) == (columns == 0) && (columns <= 1 || columns == count));
  std::memset(bank, 0, sizeof *bank);
  bank->nsym = nsym;
  bank->count = count;
  bank->order = order;
  bank->adaptive = adaptive;
  bank->increment = increment;
  bank->models = static_cast<FrequencyModel**>(bank_take(static_cast<size_t>(count) * sizeof(FrequencyModel*)));
  if (counts != nullptr) {
    size_t values = static_cast<size_t>(columns) * static_cast<size_t>(nsym);
    bank->counts = static_cast<int32_t*>(bank_take(values * sizeof(int32_t)));
    if (values > 0) std::memcpy(bank->counts, counts, values * sizeof(int32_t));
    bank->columns = columns;
  }
  bank_open(bank, 0);
}

void bank_release(ModelBank* bank) {
  for (int32_t k = 0; bank->models != nullptr && k < bank->count; ++k) {
    if (bank->models[k] == nullptr) continue;
    model_release(bank->models[k]);
    heap_free(bank->models[k]);
  }
  heap_free(bank->models);
  heap_free(bank->counts);
  std::memset(bank, 0, sizeof *bank);
}

FrequencyModel* bank_open(ModelBank* bank, int32_t k) {
  KESTREL_ASSERT(k >= 0 && k < bank->count && bank->models[k] == nullptr);
  auto* model = static_cast<FrequencyModel*>(bank_take(sizeof(FrequencyModel)));
  const int32_t* column = nullptr;
  if (bank->columns > 0) column = bank->counts + static_cast<size_t>(bank->columns == 1 ? 0 : k) * bank->nsym;
  try {
    model_init(model, bank->nsym, column, bank->adaptive, bank->increment);
  } catch (const Failure&) {
    model_release(model);
    heap_free(model);
    throw;
  }
  bank->models[k] = model;
  return model;
}

size_t bank_find_bad_context(const ModelBank* bank, const int32_t* contexts, size_t count) {
  const uint32_t models = static_cast<uint32_t>(bank->count);
  for (size_t i = 0; i < count; ++i) {
    if (static_cast<uint32_t>(contexts[i]) >= models) return i;
  }
  return count;
}
