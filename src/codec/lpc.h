// SPDX-License-Identifier: BSD-3-Clause
// Linear prediction per segment of a signal, as lossless audio coders do it:
// a windowed autocorrelation, Levinson-Durbin recursion, the order chosen by
// the estimated cost, coefficients quantised to 16-bit integers with a shift.
// The prediction of y[p] is (sum over k of c[k] * y[p-1-k]) >> shift, in
// 64-bit modular arithmetic, so coder and decoder agree exactly.
#pragma once

#include <cstdint>

#include "base/platform.h"

constexpr int32_t LPC_MAX_ORDER = 32;
constexpr uint64_t LPC_SEGMENT = 4096;  // samples per set of coefficients
constexpr int32_t LPC_ORDER_BITS = 6;   // coded fields: order 0..32, shift 0..15, coefficients
constexpr int32_t LPC_SHIFT_BITS = 4;
constexpr int32_t LPC_COEFFICIENT_BITS = 16;

struct LpcCoefficients {
  int32_t order;                        // 0..LPC_MAX_ORDER; 0: the previous sample
  int32_t shift;                        // 0..15
  int16_t coefficient[LPC_MAX_ORDER];   // c[k] weighs y[p-1-k]
};

// The coefficients for y[0..count-1] (count >= 1).
LpcCoefficients lpc_fit(const int64_t* y, uint64_t count);

// The prediction of y[p] from y[p-1], y[p-2], ...; p >= order.
inline int64_t lpc_predict(const LpcCoefficients& c, const int64_t* y, uint64_t p) {
  if (c.order == 0) return p == 0 ? 0 : y[p - 1];
  uint64_t sum = 0;
  for (int32_t k = 0; k < c.order; ++k) {
    sum += static_cast<uint64_t>(static_cast<int64_t>(c.coefficient[k])) * static_cast<uint64_t>(y[p - 1 - k]);
  }
  return static_cast<int64_t>(sum) >> c.shift;
}

// The same prediction in doubles, for signals whose every value has a
// magnitude below 2^LPC_EXACT_BITS: each product is then below 2^39 and each
// partial sum below 2^44, so the sum is exact whatever its order, and the
// result equals lpc_predict's.
constexpr int32_t LPC_EXACT_BITS = 24;

struct LpcWeights {
  int32_t order;                   // as the coefficients'; 1..LPC_MAX_ORDER
  int32_t shift;                   // as the coefficients'
  double weight[LPC_MAX_ORDER];    // weight[j] = coefficient[order - 1 - j]: it weighs y[p - order + j]
};

inline LpcWeights lpc_weights(const LpcCoefficients& c) {
  LpcWeights w{c.order, c.shift, {}};
  for (int32_t j = 0; j < c.order; ++j) w.weight[j] = c.coefficient[c.order - 1 - j];
  return w;
}

// The prediction of y[p] (p >= order >= 1) from yd, y as doubles.
inline int64_t lpc_predict_exact(const LpcWeights& w, const double* yd, uint64_t p) {
  const double* h = yd + p - w.order;
  int32_t j = 0;
  double sum = 0;
#if defined(KESTREL_SSE2)
  __m128d s0 = _mm_setzero_pd(), s1 = s0;
  for (; j + 4 <= w.order; j += 4) {
    s0 = _mm_add_pd(s0, _mm_mul_pd(_mm_loadu_pd(w.weight + j), _mm_loadu_pd(h + j)));
    s1 = _mm_add_pd(s1, _mm_mul_pd(_mm_loadu_pd(w.weight + j + 2), _mm_loadu_pd(h + j + 2)));
  }
  s0 = _mm_add_pd(s0, s1);
  sum = _mm_cvtsd_f64(_mm_add_sd(s0, _mm_unpackhi_pd(s0, s0)));
#endif
  for (; j < w.order; ++j) sum += w.weight[j] * h[j];
  return static_cast<int64_t>(sum) >> w.shift;
}
