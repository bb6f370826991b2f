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
#include "coder/bank.h"
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

// Finishes both memory encoders; their bytes must be the same. Returns the
// fast encoder's bytes.
std::vector<uint8_t> finish_both(EncoderState* encoder, ReferenceEncoder* reference) {
  uint8_t* bytes = nullptr;
  uint8_t* reference_bytes = nullptr;
  int32_t count = 0;
  int32_t reference_count = 0;
  encoder_finish(encoder, &bytes, &count);
  reference_encoder_finish(reference, &reference_bytes, &reference_count);
  std::vector<uint8_t> fast = take_bytes(bytes, count);
  EXPECT_EQ(fast, take_bytes(reference_bytes, reference_count));
  return fast;
}

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
  return finish_both(&encoder, &reference);
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

// Banks: models picked by given contexts or by the symbol before, uniform or
// from counts with zeros, adaptive by an increment or static. Both coders
// take the same symbols in the same calls; their bytes, bit counts, symbols
// and refusals must agree.
enum CountsKind { UNIFORM_COUNTS, ONE_COLUMN, A_COLUMN_EACH };

struct BankCase {
  const char* name;
  int32_t nsym;
  int32_t models;  // K; nsym with order 1
  int32_t order;
  CountsKind counts;
  int32_t adaptive;
  int32_t increment;
  size_t count;
};

// Columns of counts, a quarter of them 0, each total within MAX_FREQUENCY.
std::vector<int32_t> make_counts(const BankCase& c, std::mt19937& random) {
  int32_t columns = c.counts == UNIFORM_COUNTS ? 0 : c.counts == ONE_COLUMN ? 1 : c.models;
  std::vector<int32_t> counts(static_cast<size_t>(columns) * c.nsym);
  for (int32_t k = 0; k < columns; ++k) {
    int32_t* column = counts.data() + static_cast<size_t>(k) * c.nsym;
    int64_t total = 0;
    int32_t top = static_cast<int32_t>(random() % 200) + 1;
    for (int32_t s = 0; s < c.nsym; ++s) total += column[s] = random() % 4 == 0 ? 0 : 1 + static_cast<int32_t>(random() % top);
    if (column[0] == 0 && total == 0) column[0] = 1, total = 1;
    while (total > MAX_FREQUENCY) {
      total = 0;
      for (int32_t s = 0; s < c.nsym; ++s) total += column[s] = (column[s] + 1) / 2;
    }
  }
  return counts;
}

struct BankRun {
  std::vector<int32_t> symbols;
  std::vector<int32_t> contexts;  // empty for order 1
};

// Symbols that the model of each (given or previous) context can code, most
// of them its first codable symbols, so that counts grow and halve.
BankRun make_bank_run(const BankCase& c, const std::vector<int32_t>& counts, std::mt19937& random) {
  BankRun run;
  std::geometric_distribution<int32_t> near(0.3);
  int32_t previous = 0;
  int32_t columns = static_cast<int32_t>(counts.size() / static_cast<size_t>(c.nsym));
  for (size_t i = 0; i < c.count; ++i) {
    int32_t context = c.order == 1 ? previous : random() % 3 == 0 ? 0 : static_cast<int32_t>(random() % c.models);
    std::vector<int32_t> codable;
    for (int32_t s = 0; s < c.nsym; ++s) {
      if (columns == 0 || counts[static_cast<size_t>(columns == 1 ? 0 : context) * c.nsym + s] > 0) codable.push_back(s);
    }
    size_t pick = random() % 2 ? std::min(static_cast<size_t>(near(random)), codable.size() - 1) : random() % codable.size();
    int32_t symbol = codable[pick];
    run.symbols.push_back(symbol);
    if (c.order != 1) run.contexts.push_back(context);
    previous = symbol;
  }
  return run;
}

// A symbol that the model of context cannot code, or -1 when it can code all.
int32_t uncodable(const BankCase& c, const std::vector<int32_t>& counts, int32_t context) {
  if (counts.empty()) return -1;
  size_t columns = counts.size() / static_cast<size_t>(c.nsym);
  for (int32_t s = 0; s < c.nsym; ++s) {
    if (counts[(columns == 1 ? 0 : static_cast<size_t>(context)) * c.nsym + s] == 0) return s;
  }
  return -1;
}

class DifferentialBanks : public ::testing::TestWithParam<BankCase> {};

TEST_P(DifferentialBanks, FastBankMatchesTheStraightforwardBankInBytesSymbolsAndRefusals) {
  const BankCase& c = GetParam();
  std::mt19937 random(static_cast<uint32_t>(test_seed()) + static_cast<uint32_t>(c.nsym * 31 + c.models));
  SCOPED_TRACE("KESTREL_SEED base " + std::to_string(test_seed()));
  const std::vector<int32_t> counts = make_counts(c, random);
  const int32_t columns = static_cast<int32_t>(counts.size() / static_cast<size_t>(c.nsym));
  const BankRun run = make_bank_run(c, counts, random);
  for (PlatformPath path : {PATH_PLAIN, PATH_VECTOR, PATH_WIDE}) {
    if (platform_limit_path(path) != path) continue;
    SCOPED_TRACE(path == PATH_PLAIN ? "plain path" : path == PATH_VECTOR ? "baseline loops" : "wide loops");
    ModelBank bank{};
    ReferenceBank reference_bank{};
    bank_init(&bank, c.nsym, c.models, c.order, counts.empty() ? nullptr : counts.data(), columns, c.adaptive, c.increment);
    reference_bank_init(&reference_bank, c.nsym, c.models, c.order, counts.data(), columns, c.adaptive, c.increment);
    EncoderState encoder{};
    ReferenceEncoder reference{};
    encoder_start(&encoder, "", "w");
    reference_encoder_start(&reference, "", "w");
    std::vector<size_t> calls;  // the length of each call, as the decoders take them too
    for (size_t start = 0; start < run.symbols.size();) {
      size_t length = std::min(run.symbols.size() - start, static_cast<size_t>(random() % 3000));
      const int32_t* contexts = run.contexts.empty() ? nullptr : run.contexts.data() + start;
      encoder_encode_bank(&encoder, &bank, run.symbols.data() + start, contexts, length);
      for (size_t i = start; i < start + length; ++i) {
        ReferenceModel* model = reference_bank_model(&reference_bank, contexts ? run.contexts[i] : 0);
        reference_encoder_encode(&reference, model, run.symbols[i]);
        reference_bank_coded(&reference_bank, run.symbols[i]);
      }
      ASSERT_EQ(encoder_bits_written(&encoder), reference.bits_written) << "after symbol " << start + length;
      calls.push_back(length);
      start += length;
      // A symbol the next model cannot code is refused by both, and changes nothing.
      int32_t context = c.order == 1 ? reference_bank.previous : 0;
      int32_t refused = uncodable(c, counts, context);
      if (refused < 0) continue;
      int32_t zero = 0;
      EXPECT_EQ("symbol out of range", failure_of([&] {
                  encoder_encode_bank(&encoder, &bank, &refused, c.order == 1 ? nullptr : &zero, 1);
                }));
      EXPECT_EQ("symbol out of range", failure_of([&] {
                  reference_encoder_encode(&reference, reference_bank_model(&reference_bank, 0), refused);
                }));
    }
    std::vector<uint8_t> fast = finish_both(&encoder, &reference);
    if (::testing::Test::HasFailure()) return;  // the bytes differ: decoding them proves nothing
    bank_release(&bank);
    reference_bank_release(&reference_bank);

    // Decoding, in the same calls.
    bank_init(&bank, c.nsym, c.models, c.order, counts.empty() ? nullptr : counts.data(), columns, c.adaptive, c.increment);
    reference_bank_init(&reference_bank, c.nsym, c.models, c.order, counts.data(), columns, c.adaptive, c.increment);
    DecoderState decoder{};
    ReferenceDecoder reference_decoder{};
    decoder_start(&decoder, fast.data(), static_cast<int64_t>(fast.size()), 1);
    reference_decoder_start(&reference_decoder, fast.data(), static_cast<int64_t>(fast.size()), 1);
    std::vector<int32_t> decoded(run.symbols.size());
    size_t start = 0;
    for (size_t length : calls) {
      const int32_t* contexts = run.contexts.empty() ? nullptr : run.contexts.data() + start;
      decoder_decode_bank(&decoder, &bank, decoded.data() + start, contexts, length);
      for (size_t i = start; i < start + length; ++i) {
        ReferenceModel* model = reference_bank_model(&reference_bank, contexts ? run.contexts[i] : 0);
        int32_t s = reference_decoder_decode(&reference_decoder, model);
        reference_bank_coded(&reference_bank, s);
        ASSERT_EQ(s, decoded[i]) << "symbol " << i;
      }
      start += length;
    }
    EXPECT_EQ(decoded, run.symbols);
    decoder_close(&decoder);
    reference_decoder_close(&reference_decoder);
    bank_release(&bank);
    reference_bank_release(&reference_bank);
  }
  platform_limit_path(PATH_WIDE);
}

INSTANTIATE_TEST_SUITE_P(
    Banks, DifferentialBanks,
    ::testing::Values(BankCase{"one_model", 256, 1, 0, UNIFORM_COUNTS, 1, 1, 60000},
                      BankCase{"two_models_columns_inc2", 16, 2, 0, A_COLUMN_EACH, 1, 2, 60000},
                      BankCase{"seventeen_one_column_inc24", 256, 17, 0, ONE_COLUMN, 1, 24, 60000},
                      BankCase{"three_hundred_largest_inc", 64, 300, 0, UNIFORM_COUNTS, 1, MAX_FREQUENCY - 64, 20000},
                      BankCase{"three_hundred_columns_inc1", 256, 300, 0, A_COLUMN_EACH, 1, 1, 40000},
                      BankCase{"static_columns", 256, 17, 0, A_COLUMN_EACH, 0, 1, 30000},
                      BankCase{"order1_nsym2", 2, 2, 1, UNIFORM_COUNTS, 1, 1, 60000},
                      BankCase{"order1_nsym2_largest_inc", 2, 2, 1, ONE_COLUMN, 1, MAX_FREQUENCY - 2, 20000},
                      BankCase{"order1_nsym16_columns_inc24", 16, 16, 1, A_COLUMN_EACH, 1, 24, 60000},
                      BankCase{"order1_nsym16_static", 16, 16, 1, ONE_COLUMN, 0, 1, 20000},
                      BankCase{"order1_nsym256_inc2", 256, 256, 1, UNIFORM_COUNTS, 1, 2, 60000},
                      BankCase{"order1_nsym4096_inc24", 4096, 4096, 1, ONE_COLUMN, 1, 24, 30000}),
    [](const ::testing::TestParamInfo<BankCase>& param) { return std::string(param.param.name); });

}  // namespace
