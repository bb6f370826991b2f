// SPDX-License-Identifier: BSD-3-Clause
// Linear prediction per segment of a signal, as lossless audio coders do it:
// a windowed autocorrelation, Levinson-Durbin recursion, the order chosen by
// the estimated cost, coefficients quantised to 16-bit integers with a shift.
// The prediction of y[p] is (sum over k of c[k] * y[p-1-k]) >> shift, in
// 64-bit modular arithmetic, so coder and decoder agree exactly.
#pragma once

#include <cstdint>

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
