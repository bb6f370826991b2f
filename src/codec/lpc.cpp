// SPDX-License-Identifier: BSD-3-Clause
#include "codec/lpc.h"

#include <cmath>

#include "base/platform.h"

namespace {

// The sums of lags lag..lag+3 over positions i = first..count-1 in steps of
// two, in two lanes: lane 0 sums the even i - first, lane 1 the odd ones, so
// that the vector path and the plain one do the same additions in the same
// order and fit the same coefficients. sums[2j + lane] for lag + j; first
// >= lag + 3.
void autocorrelate_lanes(const double* w, uint64_t first, uint64_t count, int32_t lag, double* sums) {
  uint64_t i = first;
#if defined(KESTREL_SSE2)
  __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  for (; i + 1 < count; i += 2) {
    __m128d v = _mm_loadu_pd(w + i);
    s0 = _mm_add_pd(s0, _mm_mul_pd(v, _mm_loadu_pd(w + i - lag)));
    s1 = _mm_add_pd(s1, _mm_mul_pd(v, _mm_loadu_pd(w + i - lag - 1)));
    s2 = _mm_add_pd(s2, _mm_mul_pd(v, _mm_loadu_pd(w + i - lag - 2)));
    s3 = _mm_add_pd(s3, _mm_mul_pd(v, _mm_loadu_pd(w + i - lag - 3)));
  }
  _mm_storeu_pd(sums, s0);
  _mm_storeu_pd(sums + 2, s1);
  _mm_storeu_pd(sums + 4, s2);
  _mm_storeu_pd(sums + 6, s3);
#else
  for (int32_t k = 0; k < 8; ++k) sums[k] = 0;
  for (; i + 1 < count; i += 2) {
    for (int32_t j = 0; j < 4; ++j) {
      sums[2 * j] += w[i] * w[i - lag - j];
      sums[2 * j + 1] += w[i + 1] * w[i + 1 - lag - j];
    }
  }
#endif
  if (i < count) {
    for (int32_t j = 0; j < 4; ++j) sums[2 * j] += w[i] * w[i - lag - j];
  }
}

// r[0..max_order] = the sums of w[i] w[i - lag] over i = lag..count-1, four
// lags at a time (r has room for max_order + 4 lags).
void autocorrelate(const double* w, uint64_t count, int32_t max_order, double* r) {
  for (int32_t lag = 0; lag <= max_order; lag += 4) {
    double sums[8];
    uint64_t first = static_cast<uint64_t>(lag) + 3;
    autocorrelate_lanes(w, first, count, lag, sums);
    double s0 = sums[0] + sums[1], s1 = sums[2] + sums[3], s2 = sums[4] + sums[5], s3 = sums[6] + sums[7];
    for (uint64_t i = static_cast<uint64_t>(lag); i < first && i < count; ++i) {
      s0 += w[i] * w[i - lag];
      if (i >= static_cast<uint64_t>(lag) + 1) s1 += w[i] * w[i - lag - 1];
      if (i >= static_cast<uint64_t>(lag) + 2) s2 += w[i] * w[i - lag - 2];
    }
    r[lag] = s0;
    r[lag + 1] = s1;
    r[lag + 2] = s2;
    r[lag + 3] = s3;
  }
}

}  // namespace

LpcCoefficients lpc_fit(const int64_t* y, uint64_t count) {
  LpcCoefficients result{0, 0, {}};
  int32_t max_order = count > 4 * LPC_MAX_ORDER ? LPC_MAX_ORDER : static_cast<int32_t>(count / 4);
  if (max_order < 1) return result;
  // Welch window, then the autocorrelation of lags 0..max_order.
  double w[LPC_SEGMENT];
  double half = static_cast<double>(count - 1) / 2;
  for (uint64_t i = 0; i < count; ++i) {
    double t = (static_cast<double>(i) - half) / (half + 1);
    w[i] = static_cast<double>(y[i]) * (1 - t * t);
  }
  double r[LPC_MAX_ORDER + 4];
  autocorrelate(w, count, max_order, r);
  if (!(r[0] > 0)) return result;
  r[0] *= 1 + 1e-9;
  // Levinson-Durbin; keeps the coefficients of the order of least estimated cost.
  double a[LPC_MAX_ORDER + 1] = {}, best[LPC_MAX_ORDER + 1] = {}, error = r[0];
  double n = static_cast<double>(count), best_cost = 0.5 * n * std::log2(error / n + 1e-12);
  int32_t best_order = 0;
  for (int32_t m = 1; m <= max_order; ++m) {
    double acc = r[m];
    for (int32_t k = 1; k < m; ++k) acc -= a[k] * r[m - k];
    double reflection = acc / error;
    double next[LPC_MAX_ORDER + 1];
    for (int32_t k = 1; k < m; ++k) next[k] = a[k] - reflection * a[m - k];
    next[m] = reflection;
    for (int32_t k = 1; k <= m; ++k) a[k] = next[k];
    error *= 1 - reflection * reflection;
    if (!(error > 0)) break;
    double cost = 0.5 * n * std::log2(error / n + 1e-12) + LPC_COEFFICIENT_BITS * m;
    if (cost < best_cost) {
      best_cost = cost;
      best_order = m;
      for (int32_t k = 1; k <= m; ++k) best[k] = a[k];
    }
  }
  if (best_order == 0) return result;
  double largest = 0;
  for (int32_t k = 1; k <= best_order; ++k) largest = std::fmax(largest, std::fabs(best[k]));
  int32_t shift = 15;
  while (shift > 0 && largest * std::ldexp(1.0, shift) > 32767) --shift;
  result.order = best_order;
  result.shift = shift;
  for (int32_t k = 0; k < best_order; ++k) {
    double q = std::nearbyint(best[k + 1] * std::ldexp(1.0, shift));
    result.coefficient[k] = static_cast<int16_t>(q > 32767 ? 32767 : q < -32768 ? -32768 : q);
  }
  return result;
}
