// SPDX-License-Identifier: BSD-3-Clause
// The fast coder against the straightforward one: the same symbols must give
// the same bytes and bit counts, and the same bytes must give the same
// symbols and the same failures, whatever the alphabet and the data.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/platform.h"
#include "coder/bits.h"
#include "coder/decoder.h"
#include "coder/encoder.h"
#include "coder_support.h"
#include "base/failure.h"
#include "base/heap.h"
#include "reference/reference_coder.h"

namespace {

enum Shape { UNIFORM, NEAR_ZERO, NEAR_TOP, CONSTANT };

std::vector<int32_t> make_symbols(int32_t nsym, Shape shape, size_t count, std::mt19937& random) {
  std::vector<int32_t> symbols(count);
  std::geometric_distribution<int32_t> tail(0.15);
  std::uniform_int_distribution<int32_t> any(0, nsym - 1);
  int32_t constant = any(random);
  for (auto& symbol : symbols) {
    int32_t offset = std::min(tail(random), nsym - 1);
    switch (shape) {
      case UNIFORM: symbol = any(random); break;
      case NEAR_ZERO: symbol = offset; break;
      case NEAR_TOP: symbol = nsym - 1 - offset; break;
      case CONSTANT: symbol = constant; break;
    }
  }
  return symbols;
}

// A fresh uniform adaptive model of nsym symbols for each coder, released
// when the scope ends.
struct BothModels {
  FrequencyModel model{};            // the module's
  ReferenceModel reference_model{};  // the straightforward coder's
  explicit BothModels(int32_t nsym) {
    model_init(&model, nsym, nullptr, 1);
    reference_model_init(&reference_model, nsym, nullptr, 1);
  }
  ~BothModels() {
    model_release(&model);
    reference_model_release(&reference_model);
  }
};

// Encodes with both coders, checking the bit count after every symbol.
std::vector<uint8_t> encode_both(int32_t nsym, const std::vector<int32_t>& symbols) {
  BothModels both(nsym);
  FrequencyModel& model = both.model;
  ReferenceModel& reference_model = both.reference_model;
  EncoderState encoder{};
  ReferenceEncoder reference{};
  encoder_start(&encoder, "", "w");
  reference_encoder_start(&reference, "", "w");
  for (size_t i = 0; i < symbols.size(); ++i) {
    encoder_encode(&encoder, &model, symbols[i]);
    reference_encoder_encode(&reference, &reference_model, symbols[i]);
    if (encoder_bits_written(&encoder) != reference.bits_written) {
      ADD_FAILURE() << "bit count differs after symbol " << i;
      break;
    }
  }
  uint8_t* bytes = nullptr;
  uint8_t* reference_bytes = nullptr;
  int32_t count = 0;
  int32_t reference_count = 0;
  encoder_finish(&encoder, &bytes, &count);
  reference_encoder_finish(&reference, &reference_bytes, &reference_count);
  std::vector<uint8_t> fast = take_bytes(bytes, count);
  EXPECT_EQ(fast, take_bytes(reference_bytes, reference_count));
  return fast;
}

// Decodes count symbols with both decoders from the same source, comparing
// every symbol and every failure, and going on after a failure as a caller
// may. Returns the symbols of the fast decoder.
std::vector<int32_t> decode_both(int32_t nsym, const void* source, int64_t size_or_offset, int from_memory,
                                 size_t count) {
  BothModels both(nsym);
  FrequencyModel& model = both.model;
  ReferenceModel& reference_model = both.reference_model;
  DecoderState decoder{};
  ReferenceDecoder reference{};
  decoder_start(&decoder, source, size_or_offset, from_memory);
  reference_decoder_start(&reference, source, size_or_offset, from_memory);
  std::vector<int32_t> symbols;
  for (size_t i = 0; i < count; ++i) {
    std::string fast_failure;
    std::string reference_failure;
    int32_t fast = -1;
    int32_t slow = -1;
    try { fast = decoder_decode(&decoder, &model); } catch (const Failure& f) { fast_failure = failure_string(f); }
    try { slow = reference_decoder_decode(&reference, &reference_model); } catch (const Failure& f) { reference_failure = failure_string(f); }
    if (fast != slow || fast_failure != reference_failure) {
      ADD_FAILURE() << "decode " << i << ": " << fast << " '" << fast_failure << "' against " << slow << " '"
                    << reference_failure << "'";
      break;
    }
    symbols.push_back(fast);
  }
  decoder_close(&decoder);
  reference_decoder_close(&reference);
  return symbols;
}

struct DifferentialCase {
  int32_t nsym;
  size_t count;
};

class Differential : public ::testing::TestWithParam<DifferentialCase> {};

TEST_P(Differential, FastCoderMatchesTheStraightforwardCoderOnEveryShape) {
  const DifferentialCase& test = GetParam();
  uint32_t seed = static_cast<uint32_t>(test_seed()) + static_cast<uint32_t>(test.nsym);
  SCOPED_TRACE("KESTREL_SEED base " + std::to_string(test_seed()) + ", nsym " + std::to_string(test.nsym));
  // Every path this build and processor have: plain, vector, and vector
  // with the wide build of the loops.
  for (PlatformPath path : {PATH_PLAIN, PATH_VECTOR, PATH_WIDE}) {
    if (platform_limit_path(path) != path) continue;
    SCOPED_TRACE(path == PATH_PLAIN ? "plain path" : path == PATH_VECTOR ? "baseline loops" : "wide loops");
    std::mt19937 random(seed);
    for (Shape shape : {UNIFORM, NEAR_ZERO, NEAR_TOP, CONSTANT}) {
      SCOPED_TRACE("shape " + std::to_string(shape));
      std::vector<int32_t> symbols = make_symbols(test.nsym, shape, test.count, random);
      std::vector<uint8_t> bytes = encode_both(test.nsym, symbols);
      std::vector<int32_t> decoded = decode_both(test.nsym, bytes.data(), static_cast<int64_t>(bytes.size()), 1,
                                                 symbols.size() + 40);
      ASSERT_GE(decoded.size(), symbols.size());
      decoded.resize(symbols.size());
      EXPECT_EQ(decoded, symbols);
    }
  }
  platform_limit_path(PATH_WIDE);
}

INSTANTIATE_TEST_SUITE_P(Alphabets, Differential,
                         ::testing::Values(DifferentialCase{1, 2000}, DifferentialCase{2, 120000},
                                           DifferentialCase{3, 120000}, DifferentialCase{16, 100000},
                                           DifferentialCase{256, 100000}, DifferentialCase{4096, 60000},
                                           DifferentialCase{8191, 60000}, DifferentialCase{16382, 6000}),
                         [](const ::testing::TestParamInfo<DifferentialCase>& param) {
                           return "nsym" + std::to_string(param.param.nsym);
                         });

// Arbitrary bytes from a file, read far past its end: both decoders must
// fail at the same decode and agree on every symbol before and after.
TEST(Differential, ArbitraryFilesFailAtTheSameDecode) {
  std::mt19937 random(static_cast<uint32_t>(test_seed()));
  SCOPED_TRACE("KESTREL_SEED " + std::to_string(test_seed()));
  TempDir dir;  // of its own: test programs run at once must not share the file
  std::string path = dir.file("arbitrary.bin");
  for (int round = 0; round < 60; ++round) {
    std::vector<uint8_t> bytes(random() % 40);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(random() % 4 == 0 ? 0xFF : random());
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    int32_t nsym = std::vector<int32_t>{1, 2, 3, 16, 256, 8191}[round % 6];
    int64_t offset = bytes.empty() ? 0 : static_cast<int64_t>(random() % bytes.size());
    decode_both(nsym, path.c_str(), offset, 0, 400);
    decode_both(nsym, bytes.data(), static_cast<int64_t>(bytes.size()), 1, 400);
  }
}

}  // namespace
