// SPDX-License-Identifier: BSD-3-Clause
#include "codec/block.h"

#include <cstring>
#include <utility>

#include "base/checks.h"
#include "base/platform.h"
#include "codec/lpc.h"
#include "codec/range_coder.h"
#include "codec/residual.h"

namespace {

constexpr uint64_t ESTIMATE_SAMPLES = 1u << 16;  // elements the choice of predictor looks at, at most

// The row step rows on from row, in a column of R rows (row and step
// below R).
inline uint64_t row_next(uint64_t row, uint64_t step, uint64_t R) {
  KESTREL_ASSERT(row < R && step < R);
  return row + step >= R ? row + step - R : row + step;
}

// The row after row (below R), in a column of R rows.
inline uint64_t row_after(uint64_t row, uint64_t R) { return row + 1 == R ? 0 : row + 1; }

// The prediction of x[p], the element at row (p % s.rows) of its column.
template <int32_t PRED>
inline int64_t predict(const int64_t* x, uint64_t p, const BlockShape& s, uint64_t row) {
  if (PRED == PRED_NONE) return 0;
  if (PRED == PRED_PREVIOUS) return p == 0 ? 0 : x[p - 1];
  if (PRED == PRED_LINEAR) {
    if (p < 2) return p == 0 ? 0 : x[p - 1];
    return static_cast<int64_t>(2 * static_cast<uint64_t>(x[p - 1]) - static_cast<uint64_t>(x[p - 2]));
  }
  if (PRED == PRED_MED || p < s.plane) return predict_med(x, p, s.rows, row);
  uint64_t q = p - s.plane;
  return static_cast<int64_t>(static_cast<uint64_t>(predict_med(x, p, s.rows, row)) + static_cast<uint64_t>(x[q]) -
                              static_cast<uint64_t>(predict_med(x, q, s.rows, row)));
}

// r in context c: its class, then for r != 0 the sign and the bit below
// the leading one of |r| - 1 (modelled) and the bits below that (raw).
KESTREL_ALWAYS_INLINE void residual_encode(RangeEncoder* e, ContextModels& c, int32_t start, int64_t r) {
  if (r == 0) {
    class_encode(e, c, start, 0);
    return;
  }
  uint64_t u = (r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r)) - 1;
  int32_t L = value_bit_length(u);
  class_encode(e, c, start, L + 1);
  range_encode_bit(e, &c.sign, r < 0);
  if (L >= 2) {
    range_encode_bit(e, &c.top[L], static_cast<uint32_t>(u >> (L - 2)) & 1);
    range_encode_raw(e, u, L - 2);
  }
}

inline int64_t residual_decode(RangeDecoder* d, ContextModels& c, int32_t start) {
  int32_t s = class_decode(d, c, start);
  if (s == 0) return 0;
  uint32_t negative = range_decode_bit(d, &c.sign);
  int32_t L = s - 1;
  uint64_t u = L == 0 ? 0 : uint64_t{1} << (L - 1);
  if (L >= 2) {
    u |= static_cast<uint64_t>(range_decode_bit(d, &c.top[L])) << (L - 2);
    u |= range_decode_raw(d, L - 2);
  }
  uint64_t magnitude_value = u + 1;
  return static_cast<int64_t>(negative ? 0 - magnitude_value : magnitude_value);
}

// The residual coding of method 1: a class in binary decisions (residual.h),
// then the sign and the bit below the leading one modelled, the rest raw.
struct ClassCoding {
  struct Models {
    ContextModels context[RESIDUAL_CONTEXTS];
    BitModel run[RESIDUAL_CLASSES + 1];  // run lengths: their bit length in unary
  };
  static void reset(Models* m) {
    BitModel* p = &m->context[0].above;
    std::size_t n = sizeof(Models) / sizeof(BitModel);
    for (std::size_t i = 0; i < n; ++i) p[i] = BitModel{PROB_HALF, 0};
  }
  template <int32_t PRED>
  static int32_t context(uint64_t neighbours) { return residual_context_of(neighbours); }
  template <int32_t PRED>
  static KESTREL_ALWAYS_INLINE void encode(RangeEncoder* e, Models* m, int32_t c, int64_t r) {
    residual_encode(e, m->context[c], class_start(c), r);
  }
  template <int32_t PRED>
  static int64_t decode(RangeDecoder* d, Models* m, int32_t c) { return residual_decode(d, m->context[c], class_start(c)); }
  static constexpr std::size_t HEADER = 3;  // payload bytes before the range coder's
  static bool full(const RangeEncoder* e, const Models*) { return range_encoder_full(e); }
  static void encode_start(Models*, BlockScratch*, std::size_t) {}
  static std::size_t encode_finish(Models*) { return 0; }  // the bytes to append from the scratch's raw
  static bool decode_start(Models*, const uint8_t*, std::size_t, std::size_t* raw) {
    *raw = 0;
    return true;
  }
  static bool decode_ended(const Models*) { return true; }
};

// The residual coding of method 2: a bucket of the magnitude as one
// symbol, the rest raw (residual.h).
struct BucketCoding {
  using Models = BucketModels;
  static void reset(Models* m) { bucket_models_reset(m); }
  template <int32_t PRED>
  static int32_t context(uint64_t neighbours) { return bucket_context_of<PRED>(neighbours); }
  template <int32_t PRED>
  static KESTREL_ALWAYS_INLINE void encode(RangeEncoder* e, Models* m, int32_t c, int64_t r) { bucket_encode<PRED>(e, m, c, r); }
  template <int32_t PRED>
  static int64_t decode(RangeDecoder* d, Models* m, int32_t c) { return bucket_decode<PRED>(d, m, c); }
  // Bytes 3..6 of the payload: the raw stream's length R; the range coder's
  // bytes follow, then the R bytes of the raw stream.
  static constexpr std::size_t HEADER = 7;
  static bool full(const RangeEncoder* e, const Models* m) {
    return range_encoder_full(e, static_cast<std::size_t>(m->raw_out.next - m->raw_out.out) + 1);  // + its part byte, if any
  }
  static void encode_start(Models* m, BlockScratch* scratch, std::size_t room) {
    scratch->raw.resize(room + RANGE_ELEMENT_WRITES + BIT_STREAM_SLACK);
    bit_writer_start(&m->raw_out, scratch->raw.data());
  }
  static std::size_t encode_finish(Models* m) {
    bit_writer_finish(&m->raw_out);
    return bit_writer_bytes(&m->raw_out);
  }
  // The payload from the range coder's first byte on, of length bytes:
  // *raw, the raw stream's length; false when it does not fit.
  static bool decode_start(Models* m, const uint8_t* data, std::size_t length, std::size_t* raw) {
    uint64_t bytes = 0;
    for (int k = 0; k < 4; ++k) bytes |= static_cast<uint64_t>(data[k - 4]) << (8 * k);
    if (bytes > length) return false;
    *raw = static_cast<std::size_t>(bytes);
    bit_reader_start(&m->raw_in, data + (length - bytes), *raw);
    return true;
  }
  static bool decode_ended(const Models* m) { return bit_reader_ended(&m->raw_in); }
};

// Run mode: where every neighbouring residual is 0 (context 0), the number
// n of zero residuals from there on (0..rest) is coded at once: its bit
// length in unary (none past the bit length of rest), then the bits below
// its leading one raw. The element after a run that ends early is coded
// as usual, without a run.
KESTREL_ALWAYS_INLINE void run_encode(RangeEncoder* e, BitModel* run, uint64_t n, uint64_t rest) {
  int32_t L = value_bit_length(n), cap = value_bit_length(rest);
  for (int32_t k = 0; k < L; ++k) range_encode_bit(e, &run[k], 1);
  if (L < cap) range_encode_bit(e, &run[L], 0);
  if (L >= 2) range_encode_raw(e, n, L - 1);
}

// A run length as run_encode coded it; a corrupt stream may give one above
// rest, which the caller refuses.
uint64_t run_decode(RangeDecoder* d, BitModel* run, uint64_t rest) {
  int32_t L = 0, cap = value_bit_length(rest);
  while (L < cap && range_decode_bit(d, &run[L]) != 0) ++L;
  if (L == 0) return 0;
  return (uint64_t{1} << (L - 1)) | (L >= 2 ? range_decode_raw(d, L - 1) : 0);
}

// Codes the block's residuals into *out; false when the encoder filled
// its room (the block is then stored). The encoder works on a copy, kept
// in registers.
template <int32_t PRED, typename Coding>
bool encode_with(const int64_t* x, const BlockShape& s, int32_t width, bool runs, uint32_t* m, RangeEncoder* out,
                 typename Coding::Models* models) {
  RangeEncoder e = *out;
  bool after_run = !runs, full = false;
  for (uint64_t p = 0, row = 0; p < s.count; ++p, row = row_after(row, s.rows)) {
    if ((full = Coding::full(&e, models))) break;
    int64_t r = residual_reduce(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(predict<PRED>(x, p, s, row)), width);
    int32_t c = Coding::template context<PRED>(residual_neighbours<PRED>(m, p, s.rows));
    if (c == 0 && !after_run) {
      uint64_t q = p;
      while (q < s.count && r == 0) {
        m[q++] = 0;
        row = row_after(row, s.rows);
        if (q < s.count) r = residual_reduce(static_cast<uint64_t>(x[q]) - static_cast<uint64_t>(predict<PRED>(x, q, s, row)), width);
      }
      run_encode(&e, models->run, q - p, s.count - p);
      if (q == s.count) break;
      p = q;
      c = Coding::template context<PRED>(residual_neighbours<PRED>(m, p, s.rows));
    }
    after_run = c == 0 || !runs;
    Coding::template encode<PRED>(&e, models, c, r);
    m[p] = residual_magnitude(r);
  }
  *out = e;
  return !full;
}

// False when a run goes past the block's end.
template <int32_t PRED, typename Coding>
bool decode_with(int64_t* x, const BlockShape& s, int32_t width, bool runs, uint32_t* m, RangeDecoder* d,
                 typename Coding::Models* models) {
  bool after_run = !runs;
  for (uint64_t p = 0, row = 0; p < s.count; ++p, row = row_after(row, s.rows)) {
    int32_t c = Coding::template context<PRED>(residual_neighbours<PRED>(m, p, s.rows));
    if (c == 0 && !after_run) {
      uint64_t n = run_decode(d, models->run, s.count - p);
      if (n > s.count - p) return false;
      for (uint64_t q = p; q < p + n; ++q, row = row_after(row, s.rows)) {
        m[q] = 0;
        x[q] = value_restore(static_cast<uint64_t>(predict<PRED>(x, q, s, row)), width, s.is_signed);
      }
      p += n;
      if (p == s.count) return true;
      c = Coding::template context<PRED>(residual_neighbours<PRED>(m, p, s.rows));
    }
    after_run = c == 0 || !runs;
    int64_t r = residual_reduce(static_cast<uint64_t>(Coding::template decode<PRED>(d, models, c)), width);
    m[p] = residual_magnitude(r);
    x[p] = value_restore(static_cast<uint64_t>(predict<PRED>(x, p, s, row)) + static_cast<uint64_t>(r), width, s.is_signed);
  }
  return true;
}

// What a predictor's residuals look like at up to ESTIMATE_SAMPLES
// positions spread over the block.
struct Estimate {
  uint64_t bits;   // the sum of their bit lengths
  uint64_t zeros;  // how many are 0
  uint64_t seen;   // positions looked at; 0: not estimated
};

template <int32_t PRED>
Estimate estimate(const int64_t* x, const BlockShape& s, int32_t width) {
  uint64_t step = s.count / ESTIMATE_SAMPLES + 1, row_step = step % s.rows;
  Estimate e{0, 0, 0};
  for (uint64_t p = 0, row = 0; p < s.count; p += step, ++e.seen, row = row_next(row, row_step, s.rows)) {
    int64_t r = residual_reduce(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(predict<PRED>(x, p, s, row)), width);
    e.bits += static_cast<uint64_t>(value_bit_length(r < 0 ? ~static_cast<uint64_t>(r) : static_cast<uint64_t>(r)));
    e.zeros += r == 0;
  }
  return e;
}

// The estimate of a predictor other than PRED_LPC and PRED_STEREO.
Estimate estimate_of(int32_t predictor, const int64_t* x, const BlockShape& s, int32_t width) {
  switch (predictor) {
    case PRED_NONE: return estimate<PRED_NONE>(x, s, width);
    case PRED_PREVIOUS: return estimate<PRED_PREVIOUS>(x, s, width);
    case PRED_LINEAR: return estimate<PRED_LINEAR>(x, s, width);
    case PRED_MED: return estimate<PRED_MED>(x, s, width);
    default: return estimate<PRED_PLANE>(x, s, width);
  }
}

bool predictor_applies(int32_t predictor, const BlockShape& s) {
  if (predictor == PRED_MED) return s.two_d != 0;
  if (predictor == PRED_PLANE) return s.two_d != 0 && s.count > s.plane;
  if (predictor == PRED_STEREO) return s.two_d != 0 && s.count > s.rows;
  return predictor >= 0 && predictor < PREDICTOR_COUNT;
}

// The signal linear prediction works on, at positions from..to-1 of the
// block (into y[0..to-from-1]): the values, or past the first column their
// difference from the column before.
void lpc_signal(const int64_t* x, uint64_t from, uint64_t to, uint64_t rows, bool stereo, int64_t* y) {
  for (uint64_t p = from; p < to; ++p) {
    y[p - from] = stereo && p >= rows ? static_cast<int64_t>(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(x[p - rows]))
                                      : x[p];
  }
}

// The prediction of x[p]: y and yd hold the signal from position p - q on
// (q <= p; yd, the signal as doubles when linear_exact(width), else nullptr).
inline int64_t lpc_prediction(const LpcCoefficients& c, const LpcWeights& w, const int64_t* x, uint64_t p, uint64_t rows,
                              bool stereo, const int64_t* y, const double* yd, uint64_t q) {
  int64_t base = stereo && p >= rows ? x[p - rows] : 0;
  int64_t part = p < static_cast<uint64_t>(c.order) ? (p == 0 ? 0 : y[q - 1])
                 : yd != nullptr                    ? lpc_predict_exact(w, yd, q)
                                                    : lpc_predict(c, y, q);
  return static_cast<int64_t>(static_cast<uint64_t>(base) + static_cast<uint64_t>(part));
}

// Whether the linear prediction of values of width bits, or of their
// differences, may be computed in doubles (lpc_predict_exact).
inline bool linear_exact(int32_t width) { return width < LPC_EXACT_BITS; }

// Linear prediction of one block: the coefficients of each segment, fitted
// once, whether for the estimate or for the coding.
struct LpcPlan {
  bool stereo;                         // the signal past the first column is its difference from the column before
  bool exact;                          // linear_exact: predicted in doubles
  std::vector<int64_t> y;              // the signal of one segment and the LPC_MAX_ORDER positions before it
  std::vector<double> yd;              // y as doubles when exact, else empty
  std::vector<LpcCoefficients> fits;   // per segment of LPC_SEGMENT elements
  std::vector<uint8_t> fitted;         // per segment: 1 once fits holds its coefficients
};

void lpc_plan_start(LpcPlan* plan, const BlockShape& s, int32_t width, bool stereo) {
  plan->stereo = stereo;
  plan->exact = linear_exact(width);
  uint64_t segments = (s.count + LPC_SEGMENT - 1) / LPC_SEGMENT;
  plan->fits.assign(segments, LpcCoefficients{});
  plan->fitted.assign(segments, 0);
}

// Fills the plan's signal with positions from..to-1.
void lpc_plan_window(LpcPlan* plan, const int64_t* x, const BlockShape& s, uint64_t from, uint64_t to) {
  plan->y.resize(to - from);
  lpc_signal(x, from, to, s.rows, plan->stereo, plan->y.data());
  if (plan->exact) plan->yd.assign(plan->y.begin(), plan->y.end());
}

// The coefficients of segment g, fitted on the signal y (which holds
// positions from on) if they were not yet.
const LpcCoefficients& lpc_plan_fit(LpcPlan* plan, const int64_t* y, uint64_t count, uint64_t g, uint64_t from) {
  if (!plan->fitted[g]) {
    uint64_t start = g * LPC_SEGMENT, n = count - start < LPC_SEGMENT ? count - start : LPC_SEGMENT;
    plan->fits[g] = lpc_fit(y + (start - from), n);
    plan->fitted[g] = 1;
  }
  return plan->fits[g];
}

constexpr uint64_t LPC_ESTIMATE_SEGMENTS = 16;  // segments the estimate fits, at most, spread over the block
constexpr uint64_t LPC_ESTIMATE_STEP = 4;       // and within them, the positions it predicts: one in this many

// Estimated bits per element under linear prediction: up to
// LPC_ESTIMATE_SEGMENTS segments spread over the block, each fitted as the
// coder will (the fits are kept for it), predicted at one position in
// LPC_ESTIMATE_STEP. The plan's signal holds one segment at a time.
double estimate_lpc(const int64_t* x, const BlockShape& s, int32_t width, LpcPlan* plan) {
  uint64_t segments = plan->fits.size(), step = segments / LPC_ESTIMATE_SEGMENTS + 1;
  double bits = 0;
  uint64_t elements = 0;
  for (uint64_t g = 0; g < segments; g += step) {
    uint64_t start = g * LPC_SEGMENT, n = s.count - start < LPC_SEGMENT ? s.count - start : LPC_SEGMENT;
    uint64_t from = start > static_cast<uint64_t>(LPC_MAX_ORDER) ? start - LPC_MAX_ORDER : 0;
    lpc_plan_window(plan, x, s, from, start + n);
    const LpcCoefficients& c = lpc_plan_fit(plan, plan->y.data(), s.count, g, from);
    LpcWeights w = lpc_weights(c);
    const double* yd = plan->exact ? plan->yd.data() : nullptr;
    uint64_t residual_bits = 0, predicted = 0;
    for (uint64_t p = start; p < start + n; p += LPC_ESTIMATE_STEP, ++predicted) {
      int64_t prediction = lpc_prediction(c, w, x, p, s.rows, plan->stereo, plan->y.data(), yd, p - from);
      int64_t r = residual_reduce(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(prediction), width);
      residual_bits += static_cast<uint64_t>(value_bit_length(r < 0 ? ~static_cast<uint64_t>(r) : static_cast<uint64_t>(r)));
    }
    bits += static_cast<double>(residual_bits) * static_cast<double>(n) / static_cast<double>(predicted) +
            static_cast<double>(LPC_COEFFICIENT_BITS * c.order);
    elements += n;
  }
  return bits / static_cast<double>(elements);
}

// Below this many estimated bits per element, a block is left to the
// predictors that have run mode, which codes long stretches of zero
// residuals near free; linear prediction has none.
constexpr double LPC_LEAST_BITS = 1.0;

// The predictor of least estimated cost. When it is PRED_LPC or
// PRED_STEREO, *plan holds the fits made on the way; estimates[k] holds
// the estimate of each other predictor k that applies.
int32_t choose_predictor(const int64_t* x, const BlockShape& s, int32_t width, LpcPlan* plan,
                         Estimate estimates[PREDICTOR_COUNT]) {
  uint64_t samples = (s.count + s.count / ESTIMATE_SAMPLES) / (s.count / ESTIMATE_SAMPLES + 1);
  double scale = 1.0 / static_cast<double>(samples == 0 ? 1 : samples);
  double costs[PREDICTOR_COUNT] = {1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
  for (int32_t k = PRED_NONE; k < PRED_LPC; ++k) {
    if (!predictor_applies(k, s)) continue;
    estimates[k] = estimate_of(k, x, s, width);
    costs[k] = scale * static_cast<double>(estimates[k].bits);
  }
  int32_t best = PRED_NONE;
  for (int32_t k = 1; k < PREDICTOR_COUNT; ++k) {
    if (costs[k] < costs[best]) best = k;
  }
  if (s.count < 256 || (s.two_d != 0 && s.rows < 4096) || costs[best] < LPC_LEAST_BITS) return best;
  LpcPlan other;
  lpc_plan_start(plan, s, width, false);
  double lpc = estimate_lpc(x, s, width, plan);
  if (predictor_applies(PRED_STEREO, s)) {
    lpc_plan_start(&other, s, width, true);
    double stereo = estimate_lpc(x, s, width, &other);
    if (stereo < lpc && stereo < costs[best]) {
      std::swap(*plan, other);
      return PRED_STEREO;
    }
  }
  return lpc < costs[best] ? PRED_LPC : best;
}

// As encode_with, with the plan's prediction and coefficients. The
// block's signal is x itself, or under PRED_STEREO goes to the scratch.
template <typename Coding>
bool encode_lpc(const int64_t* x, const BlockShape& s, int32_t width, LpcPlan* plan, uint32_t* m, RangeEncoder* out,
                typename Coding::Models* models, BlockScratch* scratch) {
  RangeEncoder e = *out;
  const int64_t* y = x;
  if (plan->stereo) {
    scratch->signal.resize(s.count);
    lpc_signal(x, 0, s.count, s.rows, true, scratch->signal.data());
    y = scratch->signal.data();
  }
  if (plan->exact) scratch->exact.assign(y, y + s.count);
  const double* yd = plan->exact ? scratch->exact.data() : nullptr;
  const LpcCoefficients* c = nullptr;
  LpcWeights w{};
  bool full = false;
  for (uint64_t p = 0; p < s.count; ++p) {
    if ((full = Coding::full(&e, models))) break;
    if (p % LPC_SEGMENT == 0) {
      c = &lpc_plan_fit(plan, y, s.count, p / LPC_SEGMENT, 0);
      w = lpc_weights(*c);
      range_encode_raw(&e, static_cast<uint64_t>(c->order), LPC_ORDER_BITS);
      range_encode_raw(&e, static_cast<uint64_t>(c->shift), LPC_SHIFT_BITS);
      for (int32_t k = 0; k < c->order; ++k) range_encode_raw(&e, static_cast<uint16_t>(c->coefficient[k]), LPC_COEFFICIENT_BITS);
    }
    int64_t r = residual_reduce(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(lpc_prediction(*c, w, x, p, s.rows, plan->stereo, y, yd, p)), width);
    Coding::template encode<PRED_LPC>(&e, models, Coding::template context<PRED_LPC>(residual_neighbours<PRED_LPC>(m, p, s.rows)), r);
    m[p] = residual_magnitude(r);
  }
  *out = e;
  return !full;
}

// False when the coefficients read are out of their ranges. The signal is
// x itself, or under PRED_STEREO made in the scratch as x is decoded.
template <typename Coding>
bool decode_lpc(int64_t* x, const BlockShape& s, int32_t width, bool stereo, uint32_t* m, RangeDecoder* d,
                typename Coding::Models* models, BlockScratch* scratch) {
  int64_t* y = x;
  if (stereo) {
    scratch->signal.resize(s.count);
    y = scratch->signal.data();
  }
  double* yd = nullptr;
  if (linear_exact(width)) {
    scratch->exact.resize(s.count);
    yd = scratch->exact.data();
  }
  LpcCoefficients c{};
  LpcWeights w{};
  for (uint64_t p = 0; p < s.count; ++p) {
    if (p % LPC_SEGMENT == 0) {
      c.order = static_cast<int32_t>(range_decode_raw(d, LPC_ORDER_BITS));
      c.shift = static_cast<int32_t>(range_decode_raw(d, LPC_SHIFT_BITS));
      if (c.order > LPC_MAX_ORDER) return false;
      for (int32_t k = 0; k < c.order; ++k) {
        c.coefficient[k] = static_cast<int16_t>(static_cast<uint16_t>(range_decode_raw(d, LPC_COEFFICIENT_BITS)));
      }
      w = lpc_weights(c);
    }
    int32_t context = Coding::template context<PRED_LPC>(residual_neighbours<PRED_LPC>(m, p, s.rows));
    int64_t r = residual_reduce(static_cast<uint64_t>(Coding::template decode<PRED_LPC>(d, models, context)), width);
    m[p] = residual_magnitude(r);
    int64_t prediction = lpc_prediction(c, w, x, p, s.rows, stereo, y, yd, p);
    x[p] = value_restore(static_cast<uint64_t>(prediction) + static_cast<uint64_t>(r), width, s.is_signed);
    if (stereo) y[p] = p >= s.rows ? static_cast<int64_t>(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(x[p - s.rows])) : x[p];
    if (yd != nullptr) yd[p] = static_cast<double>(y[p]);
  }
  return true;
}

void store(const int64_t* x, const BlockShape& s, std::vector<uint8_t>* out, std::size_t at) {
  uint32_t bytes = block_width_bytes(s.width);
  out->resize(at + 1 + s.count * bytes);
  uint8_t* o = out->data() + at;
  *o++ = 0;
  for (uint64_t p = 0; p < s.count; ++p) {
    for (uint32_t k = 0; k < bytes; ++k) *o++ = static_cast<uint8_t>(static_cast<uint64_t>(x[p]) >> (8 * k));
  }
}

// Codes the reduced values x of width bits with predictor into e; false
// when the encoder filled its room.
template <typename Coding>
bool encode_each(const int64_t* x, const BlockShape& shape, int32_t width, int32_t predictor, bool runs, LpcPlan* plan,
                 RangeEncoder* e, typename Coding::Models* models, BlockScratch* scratch) {
  uint32_t* m = scratch->magnitudes.data();
  switch (predictor) {
    case PRED_NONE: return encode_with<PRED_NONE, Coding>(x, shape, width, runs, m, e, models);
    case PRED_PREVIOUS: return encode_with<PRED_PREVIOUS, Coding>(x, shape, width, runs, m, e, models);
    case PRED_LINEAR: return encode_with<PRED_LINEAR, Coding>(x, shape, width, runs, m, e, models);
    case PRED_MED: return encode_with<PRED_MED, Coding>(x, shape, width, runs, m, e, models);
    case PRED_LPC:
    case PRED_STEREO: return encode_lpc<Coding>(x, shape, width, plan, m, e, models, scratch);
    default: return encode_with<PRED_PLANE, Coding>(x, shape, width, runs, m, e, models);
  }
}

// Codes the payload after its first 3 bytes (the method's, the
// predictor's and the shift's): the coding's own header, the range coder's
// bytes and the coding's raw bytes. Returns the payload's length, or 0
// when it would exceed most bytes (the encoder may then have written up to
// RANGE_ELEMENT_WRITES + 8 bytes past payload + most + 1).
template <typename Coding>
std::size_t encode_coded(const int64_t* x, const BlockShape& shape, int32_t width, int32_t predictor, bool runs,
                         LpcPlan* plan, uint8_t* payload, std::size_t most, BlockScratch* scratch) {
  scratch->magnitudes.resize(shape.count);
  typename Coding::Models models;
  Coding::reset(&models);
  Coding::encode_start(&models, scratch, most);
  RangeEncoder e;
  range_encoder_start(&e, payload + Coding::HEADER, payload + most + 1);
  if (!encode_each<Coding>(x, shape, width, predictor, runs, plan, &e, &models, scratch)) return 0;
  range_encoder_finish(&e);
  std::size_t raw = Coding::encode_finish(&models), coded = static_cast<std::size_t>(e.next - payload);
  if (coded + raw > most) return 0;
  for (std::size_t k = 3; k < Coding::HEADER; ++k) payload[k] = static_cast<uint8_t>(raw >> (8 * (k - 3)));
  if (raw > 0) std::memcpy(payload + coded, scratch->raw.data(), raw);
  return coded + raw;
}

// Decodes into x as encode_coded coded; false when a run or the
// coefficients read are out of their ranges.
template <typename Coding>
bool decode_each(int64_t* x, const BlockShape& shape, int32_t width, int32_t predictor, bool runs, RangeDecoder* d,
                 typename Coding::Models* models, BlockScratch* scratch) {
  uint32_t* m = scratch->magnitudes.data();
  switch (predictor) {
    case PRED_NONE: return decode_with<PRED_NONE, Coding>(x, shape, width, runs, m, d, models);
    case PRED_PREVIOUS: return decode_with<PRED_PREVIOUS, Coding>(x, shape, width, runs, m, d, models);
    case PRED_LINEAR: return decode_with<PRED_LINEAR, Coding>(x, shape, width, runs, m, d, models);
    case PRED_MED: return decode_with<PRED_MED, Coding>(x, shape, width, runs, m, d, models);
    case PRED_LPC:
    case PRED_STEREO: return decode_lpc<Coding>(x, shape, width, predictor == PRED_STEREO, m, d, models, scratch);
    default: return decode_with<PRED_PLANE, Coding>(x, shape, width, runs, m, d, models);
  }
}

// Decodes the payload of length bytes (3 or more) into x; false when it is
// malformed, or its range coder's bytes or raw bytes are not read to
// their last.
template <typename Coding>
bool decode_coded(const uint8_t* data, std::size_t length, int64_t* x, const BlockShape& shape, int32_t width,
                  int32_t predictor, bool runs, BlockScratch* scratch) {
  if (length < Coding::HEADER) return false;
  scratch->magnitudes.resize(shape.count);
  typename Coding::Models models;
  Coding::reset(&models);
  std::size_t rest = length - Coding::HEADER, raw = 0;
  if (!Coding::decode_start(&models, data + Coding::HEADER, rest, &raw)) return false;
  RangeDecoder d;
  if (!range_decoder_start(&d, data + Coding::HEADER, rest - raw)) return false;
  bool ok = decode_each<Coding>(x, shape, width, predictor, runs, &d, &models, scratch);
  return ok && range_decoder_ended(&d) && Coding::decode_ended(&models);
}

}  // namespace

void block_encode(int64_t* x, const BlockShape& shape, int32_t predictor, int32_t method, std::vector<uint8_t>* out,
                  BlockScratch* scratch) {
  KESTREL_ASSERT(method == BLOCK_CLASSES || method == BLOCK_BUCKETS);
  std::size_t at = out->size();
  int32_t shift = values_common_shift(x, shape.count, shape.width);
  int32_t width = shape.width - shift;
  for (uint64_t p = 0; p < shape.count && shift > 0; ++p) {
    x[p] = value_restore(static_cast<uint64_t>(x[p] >> shift), width, shape.is_signed);
  }
  LpcPlan plan{};
  Estimate estimates[PREDICTOR_COUNT] = {};
  if (predictor == PRED_AUTO) {
    predictor = choose_predictor(x, shape, width, &plan, estimates);
  } else {
    if (!predictor_applies(predictor, shape)) predictor = PRED_PREVIOUS;
    if (predictor == PRED_LPC || predictor == PRED_STEREO) lpc_plan_start(&plan, shape, width, predictor == PRED_STEREO);
  }
  // Run mode where most of the residuals sampled are 0.
  bool runs = false;
  if (predictor < PRED_LPC) {
    if (estimates[predictor].seen == 0) estimates[predictor] = estimate_of(predictor, x, shape, width);
    runs = 2 * estimates[predictor].zeros > estimates[predictor].seen;
  }
  // Coded, the payload must come out shorter than stored; the encoder
  // gives up once it cannot.
  std::size_t stored = 1 + shape.count * block_width_bytes(shape.width);
  out->resize(at + stored + 1 + RANGE_ELEMENT_WRITES + 8);
  uint8_t* payload = out->data() + at;
  payload[0] = static_cast<uint8_t>(method);
  payload[1] = static_cast<uint8_t>(predictor | (runs ? BLOCK_RUNS : 0));
  payload[2] = static_cast<uint8_t>(shift);
  std::size_t coded = method == BLOCK_BUCKETS
                          ? encode_coded<BucketCoding>(x, shape, width, predictor, runs, &plan, payload, stored, scratch)
                          : encode_coded<ClassCoding>(x, shape, width, predictor, runs, &plan, payload, stored, scratch);
  if (coded == 0) {
    for (uint64_t p = 0; p < shape.count && shift > 0; ++p) x[p] = static_cast<int64_t>(static_cast<uint64_t>(x[p]) << shift);
    store(x, shape, out, at);
  } else {
    out->resize(at + coded);
  }
}

bool block_decode(const uint8_t* data, std::size_t length, const BlockShape& shape, int64_t* x,
                  BlockScratch* scratch) {
  if (length == 0) return false;
  uint8_t method = data[0] & 0x7F;  // the container keeps a flag of its own in the top bit
  if (method == 0) {
    uint32_t bytes = block_width_bytes(shape.width);
    if (length != 1 + shape.count * bytes) return false;
    const uint8_t* in = data + 1;
    for (uint64_t p = 0; p < shape.count; ++p, in += bytes) {
      uint64_t v = 0;
      for (uint32_t k = 0; k < bytes; ++k) v |= static_cast<uint64_t>(in[k]) << (8 * k);
      x[p] = value_restore(v, shape.width, shape.is_signed);
    }
    return true;
  }
  if ((method != BLOCK_CLASSES && method != BLOCK_BUCKETS) || length < 3) return false;
  int32_t predictor = data[1] & ~BLOCK_RUNS, shift = data[2];
  bool runs = (data[1] & BLOCK_RUNS) != 0;
  if (runs && predictor >= PRED_LPC) return false;
  if (predictor >= PREDICTOR_COUNT || !predictor_applies(predictor, shape) || shift >= shape.width) return false;
  int32_t width = shape.width - shift;
  bool ok = method == BLOCK_BUCKETS ? decode_coded<BucketCoding>(data, length, x, shape, width, predictor, runs, scratch)
                                    : decode_coded<ClassCoding>(data, length, x, shape, width, predictor, runs, scratch);
  for (uint64_t p = 0; p < shape.count && shift > 0; ++p) {
    x[p] = value_restore(static_cast<uint64_t>(x[p]) << shift, shape.width, shape.is_signed);
  }
  return ok;
}
