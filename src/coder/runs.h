// SPDX-License-Identifier: BSD-3-Clause
// What the encoder's and the decoder's loops over a vector of symbols share:
// where each symbol's model comes from (CodeModels), and the one table of
// loop instances, by processor build, model source, adaptivity and shape.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "coder/bank.h"
#include "coder/bits.h"
#include "coder/model.h"

// Where a loop takes the model of each symbol from.
enum CodeSource {
  CODE_ONE_MODEL,        // one model for the whole run
  CODE_GIVEN_CONTEXTS,   // model contexts[i] of a bank for symbol i
  CODE_PREVIOUS_SYMBOL,  // the model of a bank of order 1 named by the symbol before
  CODE_SOURCES           // number of sources; not a source
};

template <int32_t SOURCE>
struct CodeModels;

// One model: its running counts stay in locals while the run goes on, and
// keep gives them back.
template <>
struct CodeModels<CODE_ONE_MODEL> {
  FrequencyModel* model;  // the model of every symbol
  ModelRows rows;         // its rows, the running counts in locals
  uint32_t nsym;          // its alphabet size
  CodeModels(FrequencyModel* one, ModelBank*, const int32_t*)
      : model(one), rows(one->rows), nsym(static_cast<uint32_t>(one->nsym)) {}
  template <typename Store>
  CODE_INLINE FrequencyModel* pick(size_t, Store&) { return model; }
  CODE_INLINE ModelRows& rows_of(FrequencyModel*) { return rows; }
  CODE_INLINE void coded(uint32_t) {}
  CODE_INLINE void keep() { model_keep_counts(model, rows); }
};

// A bank: each model's rows are used where they are. A model never used
// before is made first, after store has saved the coder's registers, since
// making it may raise.
template <int32_t SOURCE>
struct CodeModels {
  ModelBank* bank;          // the coder's bank
  const int32_t* contexts;  // CODE_GIVEN_CONTEXTS: the model of each symbol, all in 0..count-1
  uint32_t previous;        // CODE_PREVIOUS_SYMBOL: the model of the next symbol
  uint32_t nsym;            // the alphabet size of every model
  CodeModels(FrequencyModel*, ModelBank* models, const int32_t* given)
      : bank(models), contexts(given), previous(static_cast<uint32_t>(models->previous)),
        nsym(static_cast<uint32_t>(models->nsym)) {}
  template <typename Store>
  CODE_INLINE FrequencyModel* pick(size_t i, Store& store) {
    uint32_t k = SOURCE == CODE_GIVEN_CONTEXTS ? static_cast<uint32_t>(contexts[i]) : previous;
    KESTREL_ASSERT(k < static_cast<uint32_t>(bank->count));
    FrequencyModel* model = bank->models[k];
    if (model == nullptr) {
      store();
      model = bank_open(bank, static_cast<int32_t>(k));
    }
    return model;
  }
  CODE_INLINE ModelRows& rows_of(FrequencyModel* model) { return model->rows; }
  CODE_INLINE void coded(uint32_t symbol) {
    if (SOURCE == CODE_PREVIOUS_SYMBOL) previous = symbol;
  }
  CODE_INLINE void keep() {
    if (SOURCE == CODE_PREVIOUS_SYMBOL) bank->previous = static_cast<int32_t>(previous);
  }
};

// The source of a run over a bank: contexts given (nullptr: none), the
// symbol before in a bank of order 1, or model 0 alone; a bank of one model
// is always model 0.
inline int32_t code_source(const ModelBank* bank, const int32_t* contexts) {
  if (bank->count == 1) return CODE_ONE_MODEL;
  if (contexts != nullptr) return CODE_GIVEN_CONTEXTS;
  return bank->order == 1 ? CODE_PREVIOUS_SYMBOL : CODE_ONE_MODEL;
}

#if defined(CODE_WIDE_LOOPS)
constexpr bool CODE_HAS_WIDE_LOOPS = true;
#else
constexpr bool CODE_HAS_WIDE_LOOPS = false;
#endif

constexpr int32_t CODE_SHAPES = 3;  // MODEL_ONE_ROW, MODEL_ONE_GROUP, MODEL_GROUPS
constexpr size_t CODE_RUN_COUNT = 2 * CODE_SOURCES * 2 * CODE_SHAPES;

// Entry of a loop in a table of CODE_RUN_COUNT loops.
constexpr size_t code_run_index(bool wide, int32_t source, bool adaptive, int32_t shape) {
  return ((static_cast<size_t>(wide) * CODE_SOURCES + static_cast<size_t>(source)) * 2 + adaptive) * CODE_SHAPES +
         static_cast<size_t>(shape - 1);
}

// Entry I: Run<SHAPE, ADAPTIVE, SOURCE>::run, or its run_wide for the wider
// instructions where they are built.
template <typename Fn, template <int32_t, bool, int32_t> class Run, size_t I>
constexpr Fn code_run_at() {
  constexpr int32_t shape = static_cast<int32_t>(I % CODE_SHAPES) + 1;
  constexpr bool adaptive = I / CODE_SHAPES % 2 != 0;
  constexpr int32_t source = static_cast<int32_t>(I / (2 * CODE_SHAPES) % CODE_SOURCES);
  constexpr bool wide = I / (2 * CODE_SHAPES * CODE_SOURCES) != 0;
  if constexpr (wide && CODE_HAS_WIDE_LOOPS) {
    return &Run<shape, adaptive, source>::run_wide;
  } else {
    return &Run<shape, adaptive, source>::run;
  }
}

template <typename Fn, template <int32_t, bool, int32_t> class Run, size_t... I>
constexpr std::array<Fn, CODE_RUN_COUNT> code_make_runs(std::index_sequence<I...>) {
  return {{code_run_at<Fn, Run, I>()...}};
}

// The table of every instance of a coder's loop, by code_run_index.
template <typename Fn, template <int32_t, bool, int32_t> class Run>
constexpr std::array<Fn, CODE_RUN_COUNT> code_make_runs() {
  return code_make_runs<Fn, Run>(std::make_index_sequence<CODE_RUN_COUNT>{});
}
