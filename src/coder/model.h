// Adaptive frequency model: a count per symbol and a cumulative table taken
// from the top. Symbol s owns the counts csym[s+1] .. csym[s]-1 of the total
// csym[0]; symbol 0 owns the top slice. When the total has reached
// MAX_FREQUENCY, every count is halved (rounding up) before the next is added.
#pragma once

#include <cstdint>

#include "coder/constants.h"

struct FrequencyModel {
  int32_t nsym;      // alphabet size; 0 after release
  int32_t* freq;     // nsym counts (heap); freq[s] is the count of symbol s
  int32_t* csym;     // nsym+1 cumulative counts (heap); csym[i] = freq[i] + ... + freq[nsym-1]
  int32_t adaptive;  // nonzero: the coder calls model_update after each symbol
};

// Fills model for nsym symbols (0..MAX_UNIFORM_ALPHABET) from counts (nsym
// values) or, with counts nullptr, uniform with every count 1. Returns 0.
// Raises "arithmetic coder model max frequency exceeded" for nsym above
// MAX_UNIFORM_ALPHABET (nothing allocated) or counts totalling more than
// MAX_FREQUENCY (tables kept for model_release), and "arithmetic coder model
// allocation failure" for a negative nsym or a failed allocation.
int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive);

// Counts symbol s (0 <= s < nsym, not checked), halving all counts first when
// the total equals MAX_FREQUENCY.
void model_update(FrequencyModel* model, int32_t s);

// Frees both tables and sets nsym 0; a released model may be released again.
void model_release(FrequencyModel* model);
