// SPDX-License-Identifier: BSD-3-Clause
// An adaptive model of 16 symbols for the range coder
// (range_coder.h): its cumulative bounds in units of 2^-15 move towards
// each coded symbol by a shift, as the multi-symbol coders of recent video
// codecs adapt theirs. A symbol costs one step of the range coder where
// binary decisions would take several, and the decoder finds it with one
// division and a comparison of all 16 bounds at once.
//
// Every symbol keeps at least 2^-15 of the interval: bound[i] stays within
// i..SYMBOL_TOTAL - SYMBOL_COUNT + i, so the bounds stay strictly increasing.
#pragma once

#include <cstdint>

#include "base/checks.h"
#include "base/platform.h"
#include "codec/range_coder.h"

constexpr int32_t SYMBOL_COUNT = 16;                 // symbols 0..15
constexpr int32_t SYMBOL_BITS = 15;                  // bounds are in units of 2^-SYMBOL_BITS
constexpr uint32_t SYMBOL_TOTAL = 1u << SYMBOL_BITS;  // the bound above the last symbol
constexpr uint16_t SYMBOL_MODEL_MATURE = 128;        // symbols after which a model adapts at its slowest

// bound[s]..bound[s + 1] (SYMBOL_TOTAL past the last) is symbol s's share.
struct SymbolModel {
  alignas(16) uint16_t bound[SYMBOL_COUNT];  // bound[0] = 0, strictly increasing, bound[i] <= SYMBOL_TOTAL - 16 + i
  uint16_t seen;                             // symbols coded with it, up to SYMBOL_MODEL_MATURE
  uint16_t shift;                            // symbol_model_shift(seen), the shift of its next update
};

// The adaptation shift of a model that has seen seen symbols: 1/32 of the
// distance at first, 1/64 from 12 symbols, 1/128 from 40, 1/256 from
// SYMBOL_MODEL_MATURE.
struct SymbolShifts {
  uint8_t shift[SYMBOL_MODEL_MATURE + 1];
  constexpr SymbolShifts() : shift() {
    for (uint32_t seen = 0; seen <= SYMBOL_MODEL_MATURE; ++seen) {
      shift[seen] = static_cast<uint8_t>(5 + (seen >= 12) + (seen >= 40) + (seen >= SYMBOL_MODEL_MATURE));
    }
  }
};
constexpr SymbolShifts SYMBOL_SHIFTS;
inline uint32_t symbol_model_shift(uint32_t seen) { return SYMBOL_SHIFTS.shift[seen]; }

// Every symbol equally likely.
inline void symbol_model_reset(SymbolModel* m) {
  for (int32_t i = 0; i < SYMBOL_COUNT; ++i) m->bound[i] = static_cast<uint16_t>(i * (SYMBOL_TOTAL / SYMBOL_COUNT));
  m->seen = 0;
  m->shift = static_cast<uint16_t>(symbol_model_shift(0));
}

// Counts one more symbol seen, up to SYMBOL_MODEL_MATURE, where a mature
// model stays.
inline void symbol_model_age(SymbolModel* m) {
  if (m->seen < SYMBOL_MODEL_MATURE) {
    m->seen = static_cast<uint16_t>(m->seen + 1);
    m->shift = static_cast<uint16_t>(symbol_model_shift(m->seen));
  }
  KESTREL_ASSERT(m->shift == symbol_model_shift(m->seen));
}

// Moves the bounds towards symbol s (0..15): bound[i] towards its least
// value for i <= s and towards its greatest for i > s, by the shift's
// part of the distance rounded up, so that a bound reaches its end. The
// plain loop and the vector one give the same bounds.
inline void symbol_model_update_plain(SymbolModel* m, int32_t s) {
  int32_t shift = m->shift;
  for (int32_t i = 1; i < SYMBOL_COUNT; ++i) {
    int32_t b = m->bound[i];
    if (i <= s) {
      b += (i - b) >> shift;  // the distance is <= 0: the shift rounds its size up
    } else {
      b -= (b - (static_cast<int32_t>(SYMBOL_TOTAL) - SYMBOL_COUNT + i)) >> shift;
    }
    m->bound[i] = static_cast<uint16_t>(b);
  }
  symbol_model_age(m);
}

// The symbol whose share holds q (0..SYMBOL_TOTAL - 1): the last i with bound[i] <= q.
inline int32_t symbol_model_find_plain(const SymbolModel* m, uint32_t q) {
  int32_t s = 0;
  for (int32_t i = 1; i < SYMBOL_COUNT; ++i) s += m->bound[i] <= q;
  return s;
}

#if defined(KESTREL_SSE2)
inline void symbol_model_update(SymbolModel* m, int32_t s) {
  const __m128i index_low = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), index_high = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i top = _mm_set1_epi16(static_cast<int16_t>(SYMBOL_TOTAL - SYMBOL_COUNT));
  __m128i shift = _mm_cvtsi32_si128(m->shift), sv = _mm_set1_epi16(static_cast<int16_t>(s));
  __m128i* p = reinterpret_cast<__m128i*>(m->bound);
  for (int32_t half = 0; half < 2; ++half) {
    __m128i index = half == 0 ? index_low : index_high;
    __m128i above = _mm_cmpgt_epi16(index, sv);  // lanes i > s, where the distance is negated
    __m128i target = _mm_add_epi16(index, _mm_and_si128(above, top));
    __m128i b = _mm_load_si128(p + half);
    __m128i distance = _mm_sub_epi16(_mm_xor_si128(_mm_sub_epi16(target, b), above), above);  // <= 0
    __m128i step = _mm_sra_epi16(distance, shift);
    _mm_store_si128(p + half, _mm_add_epi16(b, _mm_sub_epi16(_mm_xor_si128(step, above), above)));
  }
  symbol_model_age(m);
}

inline int32_t symbol_model_find(const SymbolModel* m, uint32_t q) {
  const __m128i* p = reinterpret_cast<const __m128i*>(m->bound);
  __m128i qv = _mm_set1_epi16(static_cast<int16_t>(q));
  __m128i above = _mm_packs_epi16(_mm_cmpgt_epi16(_mm_load_si128(p), qv), _mm_cmpgt_epi16(_mm_load_si128(p + 1), qv));
  // The lanes above q are the ones past the symbol: bit s + 1 is the first set.
  return platform_trailing_zeros(static_cast<uint32_t>(_mm_movemask_epi8(above)) | 0x10000u) - 1;
}
#else
inline void symbol_model_update(SymbolModel* m, int32_t s) { symbol_model_update_plain(m, s); }
inline int32_t symbol_model_find(const SymbolModel* m, uint32_t q) { return symbol_model_find_plain(m, q); }
#endif

inline void range_encode_symbol(RangeEncoder* e, SymbolModel* m, int32_t s) {
  KESTREL_ASSERT(s >= 0 && s < SYMBOL_COUNT);
  uint32_t unit = e->range >> SYMBOL_BITS, start = unit * m->bound[s];
  e->low += start;
  e->range = s == SYMBOL_COUNT - 1 ? e->range - start : unit * (m->bound[s + 1] - m->bound[s]);
  symbol_model_update(m, s);
  while (e->range < RANGE_TOP) {
    e->range <<= 8;
    range_shift_low(e);
  }
}

// A symbol as range_encode_symbol coded it; a corrupt stream gives some symbol.
inline int32_t range_decode_symbol(RangeDecoder* d, SymbolModel* m) {
  uint32_t unit = d->range >> SYMBOL_BITS, q = d->code / unit;
  int32_t s = symbol_model_find(m, q < SYMBOL_TOTAL ? q : SYMBOL_TOTAL - 1);
  uint32_t start = unit * m->bound[s];
  d->code -= start;
  d->range = s == SYMBOL_COUNT - 1 ? d->range - start : unit * (m->bound[s + 1] - m->bound[s]);
  symbol_model_update(m, s);
  while (d->range < RANGE_TOP) {
    d->range <<= 8;
    d->code = (d->code << 8) | range_next_byte(d);
  }
  return s;
}
