// SPDX-License-Identifier: BSD-3-Clause
// The arithmetic of a block's residuals that the coder and its benchmark
// share: residuals modulo the value width, their magnitudes and the
// contexts made of them, and the two codings of a residual: its
// magnitude's class as binary decisions up or down from its context's
// start (method 1), or its magnitude's bucket as one symbol of its
// context's model (method 2).
#pragma once

#include <cstdint>

#include "base/platform.h"
#include "codec/block.h"
#include "codec/range_coder.h"
#include "codec/bit_stream.h"
#include "codec/symbol_model.h"

constexpr int32_t RESIDUAL_CONTEXTS = 20;              // contexts: the bit length of the neighbours' residual magnitudes, capped
constexpr int32_t RESIDUAL_CLASSES = 64;               // bit lengths of |r| - 1: 0..63
constexpr uint32_t RESIDUAL_MAGNITUDE_CAP = 1u << 30;  // residual magnitudes kept for contexts saturate here

// The adaptive models of one context.
struct ContextModels {
  BitModel above;            // class s >= its context's start
  BitModel sign;             // r < 0
  BitModel up[RESIDUAL_CLASSES];      // from the start up: "s > k"
  BitModel down[RESIDUAL_CLASSES];    // below the start: "s < k"
  BitModel top[RESIDUAL_CLASSES];     // per L >= 2: the bit below the leading one
};

// Bits of v without its leading zeros: 0..64.
inline int32_t value_bit_length(uint64_t v) { return v == 0 ? 0 : 64 - platform_leading_zeros64(v); }

// Residual x - pred of width bits as a signed number of that width.
inline int64_t residual_reduce(uint64_t difference, int32_t width) {
  if (width >= 64) return static_cast<int64_t>(difference);
  uint64_t sign = uint64_t{1} << (width - 1);
  uint64_t low = difference & ((sign << 1) - 1);
  return static_cast<int64_t>((low ^ sign) - sign);
}

// pred + r brought back to a value of width bits and the signedness.
inline int64_t value_restore(uint64_t sum, int32_t width, int32_t is_signed) {
  if (width >= 64) return static_cast<int64_t>(sum);
  uint64_t low = sum & ((uint64_t{1} << width) - 1);
  return is_signed ? residual_reduce(low, width) : static_cast<int64_t>(low);
}

inline uint32_t residual_magnitude(int64_t r) {
  uint64_t m = r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r);
  return m > RESIDUAL_MAGNITUDE_CAP ? RESIDUAL_MAGNITUDE_CAP : static_cast<uint32_t>(m);
}

// The median edge predictor, written for conditional moves.
inline int64_t median_edge(int64_t a, int64_t b, int64_t c) {
  int64_t lo = a < b ? a : b, hi = a < b ? b : a;
  int64_t plane = static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b) - static_cast<uint64_t>(c));
  int64_t inner = c <= lo ? hi : plane;
  return c >= hi ? lo : inner;
}

// MED at position p (row = p % R) of a block that starts a column of R
// rows; the first column of the block and the first row take the one
// neighbour they have.
inline int64_t predict_med(const int64_t* x, uint64_t p, uint64_t R, uint64_t row) {
  if (p < R) return row == 0 ? 0 : x[p - 1];
  if (row == 0) return x[p - R];
  return median_edge(x[p - 1], x[p - R], x[p - R - 1]);
}

// The first position whose neighbours all lie in the block: past the first
// column and its next row under the 2-D predictors (columns of R > 1 rows),
// past the first four elements under the others.
template <int32_t PRED>
constexpr uint64_t residual_inside_from(uint64_t R) {
  return PRED == PRED_MED || PRED == PRED_PLANE ? R + 1 : 4;
}

// The sum a context is made of at position p: the magnitudes of the
// residuals before it, the nearest counting most; below 2^32.
template <int32_t PRED>
KESTREL_ALWAYS_INLINE uint64_t residual_neighbours(const uint32_t* m, uint64_t p, uint64_t R) {
  if (p >= residual_inside_from<PRED>(R)) {  // every neighbour is in the block: no checks
    if (PRED == PRED_MED || PRED == PRED_PLANE) return uint64_t{m[p - 1]} + m[p - R] + (uint64_t{m[p - R - 1]} + m[p - R + 1]) / 2;
    return m[p - 1] + uint64_t{m[p - 2]} + (uint64_t{m[p - 3]} + m[p - 4]) / 2;
  }
  if (PRED == PRED_MED || PRED == PRED_PLANE) {
    uint64_t w = p >= 1 ? m[p - 1] : 0;
    uint64_t n = p >= R ? m[p - R] : 0;
    uint64_t nw = p >= R + 1 ? m[p - R - 1] : 0;
    uint64_t ne = p >= R && R > 1 ? m[p - R + 1] : 0;
    return w + n + (nw + ne) / 2;
  }
  uint64_t e = (p >= 1 ? m[p - 1] : 0) + (p >= 2 ? m[p - 2] : 0);
  return e + ((p >= 3 ? m[p - 3] : 0) + (p >= 4 ? m[p - 4] : 0)) / 2;
}

// The context of binary class coding at position p: the bit length of
// residual_neighbours, capped, 0..RESIDUAL_CONTEXTS - 1.
inline int32_t residual_context_of(uint64_t e) {
  int32_t c = value_bit_length(e);
  return c < RESIDUAL_CONTEXTS - 1 ? c : RESIDUAL_CONTEXTS - 1;
}

template <int32_t PRED>
inline int32_t residual_context(const uint32_t* m, uint64_t p, uint64_t R) {
  return residual_context_of(residual_neighbours<PRED>(m, p, R));
}

// The class of a residual's residual_magnitude |r| that the models code first:
// 0 for r == 0, else 1 + the bit length of |r| - 1, 1..RESIDUAL_CLASSES. A context
// c starts its search at class_start(c), near the classes its residuals
// usually have, so that a class costs few binary decisions.
inline int32_t class_start(int32_t c) { return c > 2 ? c - 2 : 0; }

// The class s from start: "s >= start", then up from start in unary ("s > k")
// or down from start - 1 ("s < k").
KESTREL_ALWAYS_INLINE void class_encode(RangeEncoder* e, ContextModels& c, int32_t start, int32_t s) {
  if (start > 0) range_encode_bit(e, &c.above, s >= start);
  if (s >= start) {
    for (int32_t k = start; k < s; ++k) range_encode_bit(e, &c.up[k], 1);
    if (s < RESIDUAL_CLASSES) range_encode_bit(e, &c.up[s], 0);
  } else {
    for (int32_t k = start - 1; k > s; --k) range_encode_bit(e, &c.down[k], 1);
    if (s > 0) range_encode_bit(e, &c.down[s], 0);
  }
}

inline int32_t class_decode(RangeDecoder* d, ContextModels& c, int32_t start) {
  int32_t s = start;
  if (start > 0 && range_decode_bit(d, &c.above) == 0) {
    s = start - 1;
    while (s > 0 && range_decode_bit(d, &c.down[s]) != 0) --s;
  } else {
    while (s < RESIDUAL_CLASSES && range_decode_bit(d, &c.up[s]) != 0) ++s;
  }
  return s;
}

// ---- Bucket coding: a residual's magnitude as one symbol of a context's
// SymbolModel, then raw bits.
//
// With L the bit length of residual_neighbours (0..32), the context c is L
// along the first dimension, and over two dimensions (PRED_MED, PRED_PLANE,
// whose four neighbours measure finer) L below 2, else 2 L - 2 + the bit
// below the sum's leading one: 0..63. Where L exceeds BUCKET_SCALE_FROM,
// magnitudes are scaled: q = |r| >> k, with k = L - BUCKET_SCALE_FROM, so
// that q falls in the same few buckets whatever the residuals' size. The
// symbol is q's bucket: 0..3 for q = 0..3, then two per bit length (the bit
// below the leading one tells which) up to 14 for 128..191, and
// BUCKET_ESCAPE for q >= BUCKET_ESCAPE_FROM, whose q - BUCKET_ESCAPE_FROM
// follows as its bit length in unary (escape models) and the bits below its
// leading one, raw. After the symbol, raw: q's bits within its bucket and
// the k low bits of |r|; then for r != 0 the sign (1: negative), modelled
// per context along the first dimension, raw over two (in one value with
// the bits before it when q != 0, the sign its lowest bit). The raw bits
// go to a stream of their own (bit_stream.h), each value in one write.
constexpr int32_t BUCKET_CONTEXTS = 64;          // contexts: 0..32 along the first dimension, 0..63 over two
constexpr int32_t BUCKET_SCALE_FROM = 7;         // contexts above this scale the magnitude down
constexpr int32_t BUCKET_ESCAPE = SYMBOL_COUNT - 1;
constexpr uint64_t BUCKET_ESCAPE_FROM = 192;     // the least q of the escape

struct BucketModels {
  SymbolModel context[BUCKET_CONTEXTS];  // the buckets, per context
  BitModel escape[65];                   // the escape's bit length in unary
  BitModel sign[BUCKET_CONTEXTS];        // along the first dimension: r < 0, per context
  BitModel run[RESIDUAL_CLASSES + 1];    // run lengths (run_encode)
  BitWriter raw_out;                     // the raw bits, as the encoder writes them
  BitReader raw_in;                      // or as the decoder reads them
};

// Resets the models; the caller starts the raw bits' stream.
inline void bucket_models_reset(BucketModels* m) {
  for (SymbolModel& c : m->context) symbol_model_reset(&c);
  for (BitModel& b : m->escape) b = BitModel{PROB_HALF, 0};
  for (BitModel& b : m->sign) b = BitModel{PROB_HALF, 0};
  for (BitModel& b : m->run) b = BitModel{PROB_HALF, 0};
}

template <int32_t PRED>
inline int32_t bucket_context_of(uint64_t e) {
  int32_t L = value_bit_length(e);
  if (PRED != PRED_MED && PRED != PRED_PLANE) return L;
  return L < 2 ? L : 2 * L - 2 + static_cast<int32_t>((e >> (L - 2)) & 1);
}
struct BucketScales {
  uint8_t k[2][BUCKET_CONTEXTS];  // per context: [0] along the first dimension, [1] over two
  constexpr BucketScales() : k() {
    for (int32_t c = 0; c < BUCKET_CONTEXTS; ++c) {
      int32_t octave[2] = {c, c / 2 + 1};  // the bit length of the neighbours' sum
      for (int32_t two = 0; two < 2; ++two) {
        k[two][c] = static_cast<uint8_t>(octave[two] > BUCKET_SCALE_FROM ? octave[two] - BUCKET_SCALE_FROM : 0);
      }
    }
  }
};
constexpr BucketScales BUCKET_SCALES;
template <int32_t PRED>
inline int32_t bucket_scale(int32_t c) {
  return BUCKET_SCALES.k[PRED == PRED_MED || PRED == PRED_PLANE][c];
}

template <int32_t PRED>
KESTREL_ALWAYS_INLINE void bucket_encode(RangeEncoder* e, BucketModels* models, int32_t c, int64_t r) {
  uint64_t m = r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r);
  int32_t k = bucket_scale<PRED>(c), j = 0, symbol;
  uint64_t q = m >> k;
  if (q < 4) {
    symbol = static_cast<int32_t>(q);
  } else {
    int32_t L = value_bit_length(q);
    j = L - 2;
    symbol = 2 * L - 2 + static_cast<int32_t>((q >> j) & 1);
  }
  if (symbol >= BUCKET_ESCAPE) {
    range_encode_symbol(e, &models->context[c], BUCKET_ESCAPE);
    uint64_t n = q - BUCKET_ESCAPE_FROM;
    int32_t L = value_bit_length(n);
    for (int32_t i = 0; i < L; ++i) range_encode_bit(e, &models->escape[i], 1);
    if (L < 64) range_encode_bit(e, &models->escape[L], 0);
    if (L >= 2) bit_write_long(&models->raw_out, n, L - 1);
    j = 0;
  } else {
    range_encode_symbol(e, &models->context[c], symbol);
  }
  constexpr bool MODELLED = PRED != PRED_MED && PRED != PRED_PLANE;
  if (q != 0) {
    uint64_t below = m & ((uint64_t{1} << (j + k)) - 1);  // q's bits within its bucket, then the k below q
    if (MODELLED) {
      bit_write(&models->raw_out, below, j + k);
      range_encode_bit(e, &models->sign[c], r < 0);
    } else {
      bit_write(&models->raw_out, (below << 1) | (r < 0), j + k + 1);
    }
  } else if (k > 0) {
    bit_write(&models->raw_out, m, k);
    if (m != 0 && MODELLED) range_encode_bit(e, &models->sign[c], r < 0);
    if (m != 0 && !MODELLED) bit_write(&models->raw_out, r < 0, 1);
  }
}

// The q of an escape, after its symbol.
KESTREL_NOINLINE inline uint64_t bucket_decode_escape(RangeDecoder* d, BucketModels* models) {
  int32_t L = 0;
  while (L < 64 && range_decode_bit(d, &models->escape[L]) != 0) ++L;
  uint64_t n = L == 0 ? 0 : (uint64_t{1} << (L - 1)) | (L >= 2 ? bit_read_long(&models->raw_in, L - 1) : 0);
  return BUCKET_ESCAPE_FROM + n;
}

template <int32_t PRED>
KESTREL_ALWAYS_INLINE int64_t bucket_decode(RangeDecoder* d, BucketModels* models, int32_t c) {
  int32_t symbol = range_decode_symbol(d, &models->context[c]);
  int32_t k = bucket_scale<PRED>(c), j = 0;
  uint64_t q;
  if (symbol < 4) {
    q = static_cast<uint64_t>(symbol);
  } else if (symbol < BUCKET_ESCAPE) {
    j = (symbol >> 1) - 1;
    q = static_cast<uint64_t>(2 | (symbol & 1)) << j;
  } else {
    q = bucket_decode_escape(d, models);
  }
  uint64_t m;
  uint32_t negative = 0;
  constexpr bool MODELLED = PRED != PRED_MED && PRED != PRED_PLANE;
  if (q != 0 && MODELLED) {
    m = (q << k) + bit_read(&models->raw_in, j + k);
    negative = range_decode_bit(d, &models->sign[c]);
  } else if (q != 0) {
    uint64_t below = bit_read(&models->raw_in, j + k + 1);
    m = (q << k) + (below >> 1);
    negative = static_cast<uint32_t>(below & 1);
  } else {
    m = k > 0 ? bit_read(&models->raw_in, k) : 0;
    if (m != 0) negative = MODELLED ? range_decode_bit(d, &models->sign[c]) : static_cast<uint32_t>(bit_read(&models->raw_in, 1));
  }
  return static_cast<int64_t>(negative ? 0 - m : m);
}

// The number of low zero bits every value shares (0 when all are 0), below width.
inline int32_t values_common_shift(const int64_t* x, uint64_t count, int32_t width) {
  uint64_t any = 0;
  for (uint64_t p = 0; p < count; ++p) any |= static_cast<uint64_t>(x[p]);
  if (any == 0) return 0;
  int32_t s = platform_trailing_zeros64(any);
  return s < width ? s : width - 1;
}

