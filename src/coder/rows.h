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

// Per j in 0..16, a row whose lanes below j are all ones (-1), the rest 0.
struct RowMasks {
  alignas(16) int16_t lanes[ROW_LANES + 1][ROW_LANES];
};
constexpr RowMasks row_make_masks() {
  RowMasks masks{};
  for (int32_t j = 0; j <= ROW_LANES; ++j) {
    for (int32_t i = 0; i < ROW_LANES; ++i) masks.lanes[j][i] = i < j ? -1 : 0;
  }
  return masks;
}
inline constexpr RowMasks ROW_MASKS = row_make_masks();

// j clamped to 0..16: the lanes of a row below j.
inline int32_t row_clamp(int32_t j) { return j < 0 ? 0 : j > ROW_LANES ? ROW_LANES : j; }

// Adds 1 to every lane whose index is below j (0..16).
inline void row_increment_below(int16_t* row, int32_t j) {
  const int16_t* mask = ROW_MASKS.lanes[j];
#if defined(CODE_ROWS_SSE2)
  __m128i* lanes = reinterpret_cast<__m128i*>(row);
  const __m128i* masks = reinterpret_cast<const __m128i*>(mask);
  _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), _mm_load_si128(masks)));
  _mm_store_si128(lanes + 1, _mm_sub_epi16(_mm_load_si128(lanes + 1), _mm_load_si128(masks + 1)));
#else
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] - mask[i]);
#endif
}

// Subtracts delta (0..MAX_FREQUENCY) from every lane whose index is below j (0..16).
inline void row_subtract_below(int16_t* row, int32_t j, int32_t delta) {
  const int16_t* mask = ROW_MASKS.lanes[j];
#if defined(CODE_ROWS_SSE2)
  __m128i* lanes = reinterpret_cast<__m128i*>(row);
  const __m128i* masks = reinterpret_cast<const __m128i*>(mask);
  __m128i amount = _mm_set1_epi16(static_cast<int16_t>(delta));
  _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), _mm_and_si128(_mm_load_si128(masks), amount)));
  _mm_store_si128(lanes + 1,
                  _mm_sub_epi16(_mm_load_si128(lanes + 1), _mm_and_si128(_mm_load_si128(masks + 1), amount)));
#else
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] - (mask[i] & delta));
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
