// SPDX-License-Identifier: BSD-3-Clause
// Rows of the model's tables: 16 signed 16-bit lanes, 32 bytes aligned to 16.
// Each operation costs a fixed number of steps whatever the lane it is about:
// no branch depends on the data. On x86-64 the steps are SSE2 instructions;
// every other CPU, and builds with KESTREL_PORTABLE, run plain loops that
// give identical results.
#pragma once

#include <cstdint>

#include "coder/bits.h"

#if defined(__SSE2__) && !defined(KESTREL_PORTABLE)
#include <emmintrin.h>
#define CODE_ROWS_SSE2 1
#endif

constexpr int32_t ROW_LANES = 16;  // lanes of a row; a power of two

// Number of leading lanes of row whose value exceeds c, 0..16. The lanes
// must not rise from one to the next, so that those lanes form a prefix.
inline int32_t row_count_above(const int16_t* row, int32_t c) {
#if defined(CODE_ROWS_SSE2)
  const __m128i* lanes = reinterpret_cast<const __m128i*>(row);
  __m128i limit = _mm_set1_epi16(static_cast<int16_t>(c));
  __m128i above = _mm_packs_epi16(_mm_cmpgt_epi16(_mm_load_si128(lanes), limit),
                                  _mm_cmpgt_epi16(_mm_load_si128(lanes + 1), limit));
  return code_trailing_zeros(~static_cast<uint32_t>(_mm_movemask_epi8(above)));
#else
  int32_t count = 0;
  for (int32_t i = 0; i < ROW_LANES; ++i) count += row[i] > c;
  return count;
#endif
}

#if defined(CODE_ROWS_SSE2)
// Lanes whose index is below j (any int16 value) as all-ones masks.
inline void row_lanes_below(int32_t j, __m128i* low_half, __m128i* high_half) {
  const __m128i first = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i second = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
  __m128i limit = _mm_set1_epi16(static_cast<int16_t>(j));
  *low_half = _mm_cmpgt_epi16(limit, first);
  *high_half = _mm_cmpgt_epi16(limit, second);
}
#endif

// Adds 1 to every lane whose index is below j (j may lie outside 0..16).
inline void row_increment_below(int16_t* row, int32_t j) {
#if defined(CODE_ROWS_SSE2)
  __m128i* lanes = reinterpret_cast<__m128i*>(row);
  __m128i low_half, high_half;
  row_lanes_below(j, &low_half, &high_half);
  _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), low_half));
  _mm_store_si128(lanes + 1, _mm_sub_epi16(_mm_load_si128(lanes + 1), high_half));
#else
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] + (i < j));
#endif
}

// Subtracts delta from every lane whose index is below j.
inline void row_subtract_below(int16_t* row, int32_t j, int32_t delta) {
#if defined(CODE_ROWS_SSE2)
  __m128i* lanes = reinterpret_cast<__m128i*>(row);
  __m128i low_half, high_half;
  row_lanes_below(j, &low_half, &high_half);
  __m128i amount = _mm_set1_epi16(static_cast<int16_t>(delta));
  _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), _mm_and_si128(low_half, amount)));
  _mm_store_si128(lanes + 1, _mm_sub_epi16(_mm_load_si128(lanes + 1), _mm_and_si128(high_half, amount)));
#else
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] - (i < j ? delta : 0));
#endif
}

// Halves every lane of count (>= 0) lanes, rounding up: (x + 1) >> 1, so that
// 1 stays 1 and 0 stays 0. count is a multiple of 8.
inline void row_halve_lanes(int16_t* lanes, int32_t count) {
#if defined(CODE_ROWS_SSE2)
  __m128i* blocks = reinterpret_cast<__m128i*>(lanes);
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < count / 8; ++i) _mm_store_si128(blocks + i, _mm_avg_epu16(_mm_load_si128(blocks + i), zero));
#else
  for (int32_t i = 0; i < count; ++i) lanes[i] = static_cast<int16_t>((lanes[i] + 1) >> 1);
#endif
}
