// SPDX-License-Identifier: BSD-3-Clause
// Rows of the model's tables: 16 signed 16-bit lanes, 32 bytes aligned to 16.
// Each operation costs a fixed number of steps whatever the lane it is about:
// no branch depends on the data. On x86-64 the steps are SSE2 instructions;
// every other CPU, builds with KESTREL_PORTABLE, and a process that asked
// platform_limit_path for PATH_PLAIN run plain loops that give identical
// results.
#pragma once

#include <cstdint>

#include "base/checks.h"
#include "coder/bits.h"
#include "coder/constants.h"

// The SSE2 steps are built in where the processor has them, and taken
// unless platform_limit_path asks for the plain path.
#if defined(KESTREL_SSE2)
#define CODE_ROWS_SSE2 1
#endif

constexpr int32_t ROW_LANES = 16;  // lanes of a row; a power of two

// True when row starts on a 16-byte boundary, as every row must.
inline bool row_is_aligned(const int16_t* row) { return reinterpret_cast<uintptr_t>(row) % 16 == 0; }

// True when no lane of row exceeds the lane before it (the checks' claim).
inline bool row_lanes_fall(const int16_t* row) {
  for (int32_t i = 1; i < ROW_LANES; ++i) {
    if (row[i] > row[i - 1]) return false;
  }
  return true;
}

// Number of leading lanes of row whose value exceeds c, 0..16. The lanes
// must not rise from one to the next, so that those lanes form a prefix.
inline int32_t row_count_above(const int16_t* row, int32_t c) {
  KESTREL_ASSERT(row_is_aligned(row) && row_lanes_fall(row));
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    const __m128i* lanes = reinterpret_cast<const __m128i*>(row);
    __m128i limit = _mm_set1_epi16(static_cast<int16_t>(c));
    __m128i above = _mm_packs_epi16(_mm_cmpgt_epi16(_mm_load_si128(lanes), limit),
                                    _mm_cmpgt_epi16(_mm_load_si128(lanes + 1), limit));
    return code_trailing_zeros(~static_cast<uint32_t>(_mm_movemask_epi8(above)));
  }
#endif
  int32_t count = 0;
  for (int32_t i = 0; i < ROW_LANES; ++i) count += row[i] > c;
  return count;
}

// Lanes a mask spans: the widest level of the model, 64 groups in 4 rows.
constexpr int32_t ROW_MASK_LANES = 4 * ROW_LANES;

// Per j in 0..ROW_MASK_LANES, lanes below j all ones (-1), the rest 0: the
// lanes an update or a halving changes, by the index of its symbol, row or
// group.
struct RowMasks {
  alignas(16) int16_t lanes[ROW_MASK_LANES + 1][ROW_MASK_LANES];
};
constexpr RowMasks row_make_masks() {
  RowMasks masks{};
  for (int32_t j = 0; j <= ROW_MASK_LANES; ++j) {
    for (int32_t i = 0; i < ROW_MASK_LANES; ++i) masks.lanes[j][i] = i < j ? -1 : 0;
  }
  return masks;
}
inline constexpr RowMasks ROW_MASKS = row_make_masks();

// Adds 1 to every lane of row whose index, counted from first (a multiple of
// 16 below ROW_MASK_LANES), is below j (0..ROW_MASK_LANES).
inline void row_increment_below(int16_t* row, int32_t j, int32_t first = 0) {
  KESTREL_ASSERT(row_is_aligned(row) && j >= 0 && j <= ROW_MASK_LANES);
  KESTREL_ASSERT(first >= 0 && first < ROW_MASK_LANES && first % ROW_LANES == 0);
  const int16_t* mask = ROW_MASKS.lanes[j] + first;
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    __m128i* lanes = reinterpret_cast<__m128i*>(row);
    const __m128i* masks = reinterpret_cast<const __m128i*>(mask);
    _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), _mm_load_si128(masks)));
    _mm_store_si128(lanes + 1, _mm_sub_epi16(_mm_load_si128(lanes + 1), _mm_load_si128(masks + 1)));
    return;
  }
#endif
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] - mask[i]);
}

// Subtracts delta (0..MAX_FREQUENCY) from every lane of row whose index,
// counted from first, is below j, as row_increment_below chooses them.
inline void row_subtract_below(int16_t* row, int32_t j, int32_t delta, int32_t first = 0) {
  KESTREL_ASSERT(row_is_aligned(row) && j >= 0 && j <= ROW_MASK_LANES && delta >= 0 && delta <= MAX_FREQUENCY);
  KESTREL_ASSERT(first >= 0 && first < ROW_MASK_LANES && first % ROW_LANES == 0);
  const int16_t* mask = ROW_MASKS.lanes[j] + first;
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    __m128i* lanes = reinterpret_cast<__m128i*>(row);
    const __m128i* masks = reinterpret_cast<const __m128i*>(mask);
    __m128i amount = _mm_set1_epi16(static_cast<int16_t>(delta));
    _mm_store_si128(lanes, _mm_sub_epi16(_mm_load_si128(lanes), _mm_and_si128(_mm_load_si128(masks), amount)));
    _mm_store_si128(lanes + 1,
                    _mm_sub_epi16(_mm_load_si128(lanes + 1), _mm_and_si128(_mm_load_si128(masks + 1), amount)));
    return;
  }
#endif
  for (int32_t i = 0; i < ROW_LANES; ++i) row[i] = static_cast<int16_t>(row[i] - (mask[i] & delta));
}

// For a row of symbols (16 sums, then 16 counts): sets each sum to the
// counts of the lanes after it, and returns the sum of all 16 counts.
inline int32_t row_fill_after(int16_t* row) {
  KESTREL_ASSERT(row_is_aligned(row));
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    __m128i* lanes = reinterpret_cast<__m128i*>(row);
    __m128i first = _mm_load_si128(lanes + 2);
    __m128i second = _mm_load_si128(lanes + 3);
    // Sums from each lane to the end of its half, in three doublings.
    __m128i first_from = _mm_add_epi16(first, _mm_srli_si128(first, 2));
    __m128i second_from = _mm_add_epi16(second, _mm_srli_si128(second, 2));
    first_from = _mm_add_epi16(first_from, _mm_srli_si128(first_from, 4));
    second_from = _mm_add_epi16(second_from, _mm_srli_si128(second_from, 4));
    first_from = _mm_add_epi16(first_from, _mm_srli_si128(first_from, 8));
    second_from = _mm_add_epi16(second_from, _mm_srli_si128(second_from, 8));
    __m128i second_total = _mm_shuffle_epi32(_mm_shufflelo_epi16(second_from, 0), 0);
    first_from = _mm_add_epi16(first_from, second_total);
    _mm_store_si128(lanes, _mm_sub_epi16(first_from, first));
    _mm_store_si128(lanes + 1, _mm_sub_epi16(second_from, second));
    return static_cast<int16_t>(_mm_cvtsi128_si32(first_from));
  }
#endif
  int32_t sum = 0;
  for (int32_t j = ROW_LANES - 1; j >= 0; --j) {
    row[j] = static_cast<int16_t>(sum);
    sum += row[ROW_LANES + j];
  }
  return sum;
}

// Lanes of a row whose value exceeds c, as a bit per lane (lane i at bit i).
inline uint32_t row_lanes_above(const int16_t* row, int32_t c) {
  KESTREL_ASSERT(row_is_aligned(row));
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    const __m128i* lanes = reinterpret_cast<const __m128i*>(row);
    __m128i limit = _mm_set1_epi16(static_cast<int16_t>(c));
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(_mm_load_si128(lanes), limit),
                                                                   _mm_cmpgt_epi16(_mm_load_si128(lanes + 1), limit))));
  }
#endif
  uint32_t bits = 0;
  for (int32_t i = 0; i < ROW_LANES; ++i) bits |= uint32_t{row[i] > c} << i;
  return bits;
}

// Halves every lane of count (>= 0) lanes, rounding up: (x + 1) >> 1, so that
// 1 stays 1 and 0 stays 0. count is a multiple of 8.
inline void row_halve_lanes(int16_t* lanes, int32_t count) {
  KESTREL_ASSERT(row_is_aligned(lanes) && count >= 0 && count % 8 == 0);
#if defined(CODE_ROWS_SSE2)
  if (platform_path() != PATH_PLAIN) {
    __m128i* blocks = reinterpret_cast<__m128i*>(lanes);
    const __m128i zero = _mm_setzero_si128();
    for (int32_t i = 0; i < count / 8; ++i) _mm_store_si128(blocks + i, _mm_avg_epu16(_mm_load_si128(blocks + i), zero));
    return;
  }
#endif
  for (int32_t i = 0; i < count; ++i) lanes[i] = static_cast<int16_t>((lanes[i] + 1) >> 1);
}
