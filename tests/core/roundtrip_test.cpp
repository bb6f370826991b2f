// SPDX-License-Identifier: BSD-3-Clause
// Seeded random round trips through memory and files, long enough to cross
// many halvings, with the encoder's and decoders' models compared after every
// symbol. KESTREL_SEED chooses the sequences; the seed is printed on failure.
#include <cstdlib>
#include <random>

#include "coder_support.h"

namespace {

// STEERED codes, nearly always, the symbol whose share holds the middle of
// the encoder's interval, so that pending follow bits pile up.
enum Shape { UNIFORM, SKEWED, RUNS, STEERED };

struct RoundTrip {
  int32_t nsym;
  int length;
  Shape shape;
  int64_t min_pending;  // the largest pending follow count must reach this
};

std::ostream& operator<<(std::ostream& out, const RoundTrip& c) {
  return out << "nsym " << c.nsym << " length " << c.length << " shape " << c.shape;
}

// Same alphabet, total and counts. The cumulative tables follow from the
// counts in a consistent model, which model_is_consistent checks.
bool models_equal(const FrequencyModel& a, const FrequencyModel& b) {
  if (a.nsym != b.nsym || model_total(&a) != model_total(&b)) return false;
  for (int32_t s = 0; s < a.nsym; ++s) {
    if (model_count(&a, s) != model_count(&b, s)) return false;
  }
  return true;
}

// The symbol whose share of the encoder's interval holds CODE_HALF.
int32_t symbol_at_middle(const EncoderState& encoder, const FrequencyModel& model) {
  const int64_t range = encoder.high - encoder.low + 1;
  int32_t s = 0;
  while (s + 1 < model.nsym && encoder.low + range * model_cumulative(&model, s + 1) / model_total(&model) > CODE_HALF) ++s;
  return s;
}

// Counts of at least 1 within the limit, and a cumulative table that matches them.
bool model_is_consistent(const FrequencyModel& m) {
  const Counts csym = csym_of(m);
  bool ok = csym[m.nsym] == 0 && csym[0] <= MAX_FREQUENCY && csym[0] == model_total(&m);
  for (int32_t i = 0; i < m.nsym; ++i) ok = ok && model_count(&m, i) >= 1 && csym[i] == csym[i + 1] + model_count(&m, i);
  return ok;
}

class RandomRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(RandomRoundTrip, DecodesEverySymbolWithModelsInStep) {
  const RoundTrip& c = GetParam();
  const uint64_t seed = test_seed();
  SCOPED_TRACE(testing::Message() << "KESTREL_SEED=" << seed);
  std::mt19937_64 rng(seed ^ (static_cast<uint64_t>(c.nsym) << 20) ^ (static_cast<uint64_t>(c.shape) << 8));
  auto below = [&](int64_t n) { return static_cast<int32_t>(rng() % static_cast<uint64_t>(n)); };
  const int32_t hot = below(c.nsym);
  TempDir dir;
  const std::string path = dir.file("stream");
  const long live = heap_live_blocks();

  // Encode into memory and into a file at once.
  FrequencyModel models[5] = {};
  for (FrequencyModel& m : models) model_init(&m, c.nsym, nullptr, 1);
  EncoderState to_memory{}, to_file{}, again{};
  encoder_start(&to_memory, "", "w");
  encoder_start(&to_file, path.c_str(), "w");
  Symbols symbols;
  int64_t max_pending = 0;
  while (static_cast<int>(symbols.size()) < c.length) {
    int32_t s = 0, repeat = 1;
    switch (c.shape) {
      case UNIFORM: s = below(c.nsym); break;
      case SKEWED: while (below(100) < 70) ++s; s = (hot + s) % c.nsym; break;
      case RUNS: s = below(c.nsym), repeat = 1 + below(4000); break;
      case STEERED: s = below(4096) == 0 ? below(c.nsym) : symbol_at_middle(to_memory, models[0]); break;
    }
    for (int i = 0; i < repeat && static_cast<int>(symbols.size()) < c.length; ++i) {
      symbols.push_back(s);
      encoder_encode(&to_memory, &models[0], s);
      encoder_encode(&to_file, &models[1], s);
      max_pending = std::max(max_pending, to_memory.bits_to_follow);
    }
  }
  EXPECT_GE(max_pending, c.min_pending);
  const Bytes bytes = finish(&to_memory);
  EXPECT_EQ(Bytes(), finish(&to_file));
  ASSERT_EQ(bytes, read_file(path));

  // Decode from both while a fresh encoder codes the same symbols again.
  encoder_start(&again, "", "w");
  DecoderState from_memory{}, from_file{};
  decoder_start(&from_memory, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  decoder_start(&from_file, path.c_str(), 0, 0);
  for (size_t i = 0; i < symbols.size(); ++i) {
    encoder_encode(&again, &models[2], symbols[i]);
    ASSERT_EQ(symbols[i], decoder_decode(&from_memory, &models[3])) << "memory, symbol " << i;
    ASSERT_EQ(symbols[i], decoder_decode(&from_file, &models[4])) << "file, symbol " << i;
    ASSERT_TRUE(models_equal(models[2], models[3]) && models_equal(models[2], models[4])) << "symbol " << i;
    if (i % 4096 == 0 || i + 1 == symbols.size()) {
      ASSERT_TRUE(model_is_consistent(models[2]) && model_is_consistent(models[3])) << i;
    }
  }
  EXPECT_EQ(bytes, finish(&again));
  decoder_close(&from_memory);
  decoder_close(&from_file);
  for (FrequencyModel& m : models) model_release(&m);
  EXPECT_EQ(live, heap_live_blocks());
}

std::string round_trip_name(const testing::TestParamInfo<RoundTrip>& info) {
  static const char* const shapes[] = {"Uniform", "Skewed", "Runs", "Steered"};
  return std::string(shapes[info.param.shape]) + "Nsym" + std::to_string(info.param.nsym);
}

INSTANTIATE_TEST_SUITE_P(
    Alphabets, RandomRoundTrip,
    testing::Values(RoundTrip{1, 50000, UNIFORM, 0}, RoundTrip{2, 200000, UNIFORM, 0},
                    RoundTrip{2, 200000, SKEWED, 0}, RoundTrip{2, 150000, RUNS, 0},
                    RoundTrip{3, 100000, UNIFORM, 0}, RoundTrip{3, 100000, STEERED, 500},
                    RoundTrip{16, 150000, SKEWED, 0}, RoundTrip{16, 150000, RUNS, 0},
                    RoundTrip{256, 100000, UNIFORM, 0}, RoundTrip{256, 100000, SKEWED, 0},
                    RoundTrip{256, 60000, RUNS, 0}, RoundTrip{255, 60000, STEERED, 500},
                    RoundTrip{8191, 20000, UNIFORM, 0}, RoundTrip{8191, 30000, SKEWED, 0},
                    RoundTrip{8191, 20000, RUNS, 0}, RoundTrip{16382, 8000, UNIFORM, 0},
                    RoundTrip{16382, 20000, SKEWED, 0}, RoundTrip{16382, 8000, RUNS, 0}),
    round_trip_name);

}  // namespace
