// SPDX-License-Identifier: BSD-3-Clause
// A bank of models over one alphabet that share one stream: the coder picks
// the model of each symbol by a context, given by the caller or, in a bank
// of order 1, the symbol coded before it. Every model starts uniform, or
// from a column of counts (one column for all, or one for each), and all are
// adaptive with the same increment, or all static.
//
// A model that has never been used costs the bank one pointer: its tables
// are made when a symbol first needs it. Model 0 is made with the bank, so
// that a bank of one model makes all it needs at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/model.h"

// Largest number of counts a bank may hold: models times alphabet size.
constexpr int64_t BANK_MAX_COUNTS = int64_t{1} << 24;

struct ModelBank {
  int32_t nsym;             // alphabet size of every model
  int32_t count;            // number of models, 1..BANK_MAX_COUNTS/nsym; 0 after release
  int32_t order;            // 1: the model of each symbol is the symbol coded before it (count = nsym); else 0
  int32_t previous;         // order 1: the model of the next symbol, 0..count-1; starts at 0
  int32_t adaptive;         // as FrequencyModel, for every model
  int32_t increment;        // as FrequencyModel, for every model
  int32_t columns;          // columns of counts: 0 (uniform), 1 (every model's) or count (one per model)
  int32_t* counts;          // columns * nsym initial counts, a column after another (heap); nullptr when uniform
  FrequencyModel** models;  // count entries (heap); nullptr until the model is first used
};

// Fills bank with count models (1 or more; count * nsym at most
// BANK_MAX_COUNTS) of nsym symbols, of the given order (0 or 1; 1 needs count
// = nsym), from counts (columns of nsym values, columns 1 or count, each
// total 1..MAX_FREQUENCY) or uniform (counts nullptr, columns 0), adaptive
// with increment or not, and makes model 0. The arguments are the caller's
// to check. Raises model_init's failures, and "arithmetic coder model
// allocation failure" when memory runs out; what was taken stays for
// bank_release.
void bank_init(ModelBank* bank, int32_t nsym, int32_t count, int32_t order, const int32_t* counts, int32_t columns,
               int32_t adaptive, int32_t increment);

// The arguments of bank_init, as one record.
struct BankSettings {
  int32_t nsym;           // as bank_init
  int32_t count;          // as bank_init
  int32_t order;          // as bank_init
  const int32_t* counts;  // as bank_init; the caller's, read by bank_init only
  int32_t columns;        // as bank_init
  int32_t adaptive;       // as bank_init
  int32_t increment;      // as bank_init
};
inline void bank_init(ModelBank* bank, const BankSettings& s) {
  bank_init(bank, s.nsym, s.count, s.order, s.counts, s.columns, s.adaptive, s.increment);
}

// Frees every model and table and sets count 0; may be called again.
void bank_release(ModelBank* bank);

// Makes model k (0..count-1, not yet made) and returns it. Raises
// "arithmetic coder model allocation failure" when memory runs out, with the
// bank as it was.
FrequencyModel* bank_open(ModelBank* bank, int32_t k);

// Model k (0..count-1), made first if it has never been used.
inline FrequencyModel* bank_model(ModelBank* bank, int32_t k) {
  KESTREL_ASSERT(k >= 0 && k < bank->count);
  FrequencyModel* model = bank->models[k];
  return model != nullptr ? model : bank_open(bank, k);
}

// Index of the first of count contexts outside 0..bank->count-1, or count
// when there is none.
size_t bank_find_bad_context(const ModelBank* bank, const int32_t* contexts, size_t count);
