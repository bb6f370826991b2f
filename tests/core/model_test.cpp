// SPDX-License-Identifier: BSD-3-Clause
// Adaptive frequency model: layout, counting, halving at 16383 and the limits
// on alphabet size and initial counts.
#include <random>

#include "coder_support.h"

namespace {

TEST(Model, UniformModelGivesEverySymbolOneCount) {
  for (int32_t nsym : {1, 2, 5, 8191, 16382}) {
    FrequencyModel model{};
    model_init(&model, nsym, nullptr, 1);
    Counts expected;
    for (int32_t i = 0; i <= nsym; ++i) expected.push_back(nsym - i);
    EXPECT_EQ(Counts(nsym, 1), freq_of(model)) << nsym;
    EXPECT_EQ(expected, csym_of(model)) << nsym;
    model_release(&model);
    EXPECT_EQ((std::tuple{0, nullptr, nullptr}), std::tuple(model.nsym, model.rows.symbols, model.storage));
  }
}

TEST(Model, CountsEachSymbolAfterHalvingAFullTotalRoundingUp) {
  const struct Case {
    int32_t nsym;
    Counts counts;  // empty: uniform
    Symbols updates;
    Counts freq, csym;
  } cases[] = {
      {3, {}, {1}, {1, 2, 1}, {4, 3, 1, 0}},
      {3, {}, {1, 0}, {2, 2, 1}, {5, 3, 1, 0}},
      {1, {}, {0, 0, 0}, {4}, {4, 0}},
      {2, {16000, 383}, {1}, {8000, 193}, {8193, 193, 0}},
      {5, {3, 0, 16377, 1, 2}, {4}, {2, 0, 8189, 1, 2}, {8194, 8192, 8192, 3, 2, 0}},
      {2, {16000, 382}, {1, 0}, {8001, 192}, {8193, 192, 0}},  // 16382: counted, then halved
  };
  for (const Case& c : cases) {
    FrequencyModel model{};
    model_init(&model, c.nsym, c.counts.empty() ? nullptr : c.counts.data(), 1);
    for (int32_t s : c.updates) model_update(&model, s);
    EXPECT_EQ(c.freq, freq_of(model));
    EXPECT_EQ(c.csym, csym_of(model));
    model_release(&model);
  }
}

TEST(Model, UniformModelFirstHalvesAtUpdate16384MinusNsymThenEvery8191ForTwoSymbols) {
  for (int32_t nsym : {2, 256, 8191}) {
    FrequencyModel model{};
    model_init(&model, nsym, nullptr, 1);
    std::vector<int> halvings;
    for (int update = 1; update <= 16384 - nsym + 3 * 8191; ++update) {
      int32_t before = model_total(&model);
      model_update(&model, 0);
      if (model_total(&model) != before + 1) halvings.push_back(update);
      if (nsym == 2 && model_total(&model) != before + 1) {
        EXPECT_EQ((Counts{8192, 1}), freq_of(model)) << update;
        EXPECT_EQ((Counts{8193, 1, 0}), csym_of(model)) << update;
      }
    }
    ASSERT_FALSE(halvings.empty()) << nsym;
    EXPECT_EQ(16384 - nsym, halvings[0]) << nsym;
    if (nsym == 2) { EXPECT_EQ((std::vector<int>{16382, 24573, 32764, 40955}), halvings); }
    model_release(&model);
  }
}

TEST(Model, RefusesTooLargeTotalsAndAlphabetsWithoutLeaking) {
  const char* const too_large = "arithmetic coder model max frequency exceeded";
  const char* const allocation = "arithmetic coder model allocation failure";
  struct Case { int32_t nsym; Counts counts; const char* message; bool allocates; };
  const Case cases[] = {{3, {16380, 2, 1}, "", true},      {2, {16382, 2}, too_large, true},
                        {2, {1, 16383}, too_large, true},  {2, {INT32_MAX, INT32_MAX}, too_large, true},
                        {16382, {}, "", true},             {16383, {}, too_large, false},
                        {INT32_MAX, {}, too_large, false}, {-1, {}, allocation, false},
                        {3, {5, -1, 2}, too_large, true},
                        {INT32_MIN, {}, allocation, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nsym);
    FrequencyModel model{};
    long live = heap_live_blocks(), taken = heap_allocation_count();
    const int32_t* counts = c.counts.empty() ? nullptr : c.counts.data();
    EXPECT_EQ(c.message, failure_of([&] { model_init(&model, c.nsym, counts, 1); }));
    EXPECT_EQ(c.allocates, heap_allocation_count() != taken);
    model_release(&model);
    model_release(&model);  // a second release does no harm
    EXPECT_EQ(live, heap_live_blocks());
  }
}

TEST(Model, NonAdaptiveModelKeepsItsCountsThroughEncodingAndDecoding) {
  const Counts counts{5, 1, 10};
  FrequencyModel encoding{}, decoding{};
  model_init(&encoding, 3, counts.data(), 0);
  model_init(&decoding, 3, counts.data(), 0);
  EncoderState encoder{};
  encoder_start(&encoder, "", "w");
  Symbols symbols;
  for (int i = 0; i < 3000; ++i) symbols.push_back(i % 7 == 0 ? 1 : i % 3 == 0 ? 0 : 2);
  for (int32_t s : symbols) encoder_encode(&encoder, &encoding, s);
  const Bytes bytes = finish(&encoder);
  DecoderState decoder{};
  decoder_start(&decoder, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  EXPECT_EQ(symbols, decode_some(&decoder, &decoding, symbols.size()));
  decoder_close(&decoder);
  for (FrequencyModel* model : {&encoding, &decoding}) {
    EXPECT_EQ((Counts{16, 11, 10, 0}), csym_of(*model));
    model_release(model);
  }
}

TEST(Model, SymbolsWithoutCountAreOutOfRange) {
  const Counts gap{3, 0, 2}, none{0, 0};
  FrequencyModel model{};
  model_init(&model, 3, gap.data(), 1);
  EncoderState encoder{};
  encoder_start(&encoder, "", "w");
  EXPECT_EQ("symbol out of range", failure_of([&] { encoder_encode(&encoder, &model, 1); }));
  encoder_encode(&encoder, &model, 2);
  model_release(&model);
  model_init(&model, 2, none.data(), 1);
  for (int32_t s : {0, 1}) {
    EXPECT_EQ("symbol out of range", failure_of([&] { encoder_encode(&encoder, &model, s); }));
  }
  const Bytes bytes = finish(&encoder);
  DecoderState decoder{};
  decoder_start(&decoder, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  EXPECT_EQ("symbol out of range", failure_of([&] { decoder_decode(&decoder, &model); }));
  model_release(&model);
  model_init(&model, 3, gap.data(), 1);
  const Symbols decoded = decode_some(&decoder, &model, 200);
  EXPECT_EQ(2, decoded[0]);
  EXPECT_EQ(0, std::count(decoded.begin(), decoded.end(), 1));
  decoder_close(&decoder);
  model_release(&model);
}

// The search finds, for every cumulative count, the symbol a linear search
// from symbol 0 finds, with the same slice: on adaptive models of every shape
// past halvings, and on caller counts with zero counts within and across rows.
TEST(Model, SearchFindsWhatTheLinearSearchFinds) {
  const uint64_t seed = 20261208;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  Counts zeros(600, 0);
  for (int32_t s : {1, 3, 4, 16, 17, 40, 255, 256, 300, 511, 599}) zeros[s] = s % 7 + 1;
  for (int32_t nsym : {1, 2, 9, 16, 17, 256, 257, 4096, 8191, 16382, 600}) {
    FrequencyModel model{};
    bool caller_counts = nsym == 600;
    model_init(&model, nsym, caller_counts ? zeros.data() : nullptr, caller_counts ? 0 : 1);
    std::geometric_distribution<int32_t> skewed(0.01);
    for (int i = 0; i < 20000 && !caller_counts; ++i) model_update(&model, std::min(skewed(rng), nsym - 1));
    const Counts csym = csym_of(model);
    ASSERT_EQ(csym[0], model_total(&model));
    for (int32_t cum = 0; cum < csym[0]; ++cum) {
      int32_t linear = 0;
      while (linear < nsym && csym[linear + 1] > cum) ++linear;
      int32_t top = -1, bottom = -1;
      ASSERT_EQ(linear, model_find(&model, cum, &top, &bottom)) << "nsym " << nsym << " cum " << cum;
      ASSERT_EQ(std::pair(csym[linear], csym[linear + 1]), std::pair(top, bottom)) << nsym << " " << cum;
    }
    model_release(&model);
  }
}

}  // namespace
