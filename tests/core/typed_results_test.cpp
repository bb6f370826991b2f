// SPDX-License-Identifier: BSD-3-Clause
// Typed results and the conversions at the host boundary: reading every
// class (vector and plain loops alike) exactly as double_to_int truncates,
// writing symbols into rows of every class, decode with a class option, done
// keeping a memory encoder open when the host cannot make its result row,
// and the encoder's size of its output.
#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>

#include "base/platform.h"
#include "coder_support.h"
#include "gateway/gateway.h"
#include "gateway/numbers.h"
#include "registry/slots.h"
#include "support/host_fake.h"

namespace {

using Row = std::vector<double>;

FakeResult kestrel(std::initializer_list<FakeArg> args) { return fake_kestrel(args); }

int handle_of(const FakeResult& r) { return r.error.empty() && r.values.size() == 1 ? int(r.values[0]) : -2; }

Row random_symbols(int32_t nsym, size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Row row(count);
  for (double& symbol : row) symbol = static_cast<double>(random() % static_cast<uint32_t>(nsym));
  return row;
}

// Runs body once with the plain loops forced and once as built.
template <typename Body>
void on_both_paths(Body&& body) {
  for (bool portable : {true, false}) {
    SCOPED_TRACE(portable ? "plain loops" : "as built");
    platform_limit_path(portable ? PATH_PLAIN : PATH_WIDE);
    body();
  }
  platform_limit_path(PATH_WIDE);
}

// Values of type T from the doubles given, with random ones around them so
// that each lands at every place of a vector step in turn.
template <typename T>
std::vector<T> scattered(const std::vector<double>& specials, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<T> values;
  for (int round = 0; round < 19; ++round) {
    for (double special : specials) {
      values.push_back(static_cast<T>(special));
      for (uint32_t k = static_cast<uint32_t>(random() % 3); k > 0; --k) values.push_back(static_cast<T>(random() % 100));
    }
  }
  return values;
}

// Converts values of class element_class from several starting elements and
// checks every integer and byte against expected(value).
template <typename T, typename Expected>
void check_reading(HostClass element_class, const std::vector<T>& values, Expected expected) {
  const HostNumbers numbers{element_class, values.data(), values.size()};
  on_both_paths([&] {
    for (size_t start : {size_t{0}, size_t{1}, size_t{7}, values.size() - 3}) {
      int32_t out[NUMBERS_CHUNK];
      const size_t length = numbers_to_ints(numbers, start, out);
      ASSERT_EQ(std::min(NUMBERS_CHUNK, values.size() - start), length);
      for (size_t i = 0; i < length; ++i) {
        ASSERT_EQ(expected(values[start + i]), out[i]) << "element " << start + i << ": " << +values[start + i];
      }
    }
    std::vector<uint8_t> bytes(values.size());
    numbers_to_bytes(numbers, bytes.data());
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(static_cast<uint8_t>(expected(values[i])), bytes[i]) << "byte " << i;
    }
  });
}

// The integer each special value of T must give; the random fillers of
// scattered (whole numbers 0..99) give themselves.
template <typename T>
auto expected_from(const std::vector<std::pair<double, int32_t>>& cases) {
  return [cases](T value) {
    for (const auto& c : cases) {
      if (static_cast<T>(c.first) == value || (std::isnan(c.first) && std::isnan(value))) return c.second;
    }
    return static_cast<int32_t>(value);
  };
}

TEST(BoundaryConversion, FloatingElementsTruncateTowardZeroAndNonNumbersOrOutOfRangeGiveInt32Min) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  std::vector<std::pair<double, int32_t>> cases = {
      {2.9, 2},           {-2.9, -2},          {-0.5, 0},          {0.5, 0},           {-0.0, 0},
      {nan, INT32_MIN},   {inf, INT32_MIN},    {-inf, INT32_MIN},  {2147483647.0, INT32_MAX},
      {2147483647.9, INT32_MAX},               {2147483648.0, INT32_MIN},              {-2147483648.9, INT32_MIN},
      {-2147483649.0, INT32_MIN},              {1e10, INT32_MIN},  {-1e10, INT32_MIN}, {4294967296.0, INT32_MIN},
      {255.5, 255},       {-128.5, -128},      {5e-324, 0},        {-2147483520.0, -2147483520}};
  std::vector<double> specials;
  for (const auto& c : cases) specials.push_back(c.first);
  check_reading(HOST_DOUBLE, scattered<double>(specials, 1), expected_from<double>(cases));
  cases[8].second = cases[9].second = INT32_MIN;  // as singles both are 2^31
  check_reading(HOST_SINGLE, scattered<float>(specials, 2), expected_from<float>(cases));
}

TEST(BoundaryConversion, IntegerElementsKeepTheirValueAndThoseBeyond32BitsGiveInt32Min) {
  const std::vector<double> small = {0, 1, -1, 127, -128, 255, 200, -56};
  const std::vector<double> wide = {0, -1, 32767, -32768, 65535, 40000, -40000};
  check_reading(HOST_INT8, scattered<int8_t>(small, 3), [](int8_t v) { return int32_t{v}; });
  check_reading(HOST_UINT8, scattered<uint8_t>(small, 4), [](uint8_t v) { return int32_t{v}; });
  check_reading(HOST_INT16, scattered<int16_t>(wide, 5), [](int16_t v) { return int32_t{v}; });
  check_reading(HOST_UINT16, scattered<uint16_t>(wide, 6), [](uint16_t v) { return int32_t{v}; });
  const std::vector<double> large = {0, 2147483647.0, -2147483648.0, 2147483648.0, 4294967295.0, -1};
  check_reading(HOST_INT32, scattered<int32_t>(large, 7), [](int32_t v) { return v; });
  check_reading(HOST_UINT32, scattered<uint32_t>(large, 8),
                [](uint32_t v) { return v <= INT32_MAX ? static_cast<int32_t>(v) : INT32_MIN; });
  check_reading(HOST_INT64, std::vector<int64_t>{1, -1, INT32_MIN, INT32_MAX, int64_t{1} << 31, INT64_MIN, 3},
                [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX ? static_cast<int32_t>(v) : INT32_MIN; });
}

// Writes 0..largest (and largest itself at every place of a vector step)
// into a row of T from a misaligned start and reads them back.
template <typename T>
void check_writing(HostClass element_class, int32_t largest) {
  std::vector<int32_t> values;
  const int64_t step = largest > 70000 ? largest / 1000 : largest > 4096 ? 97 : 1;
  for (int64_t v = 0; v <= largest; v += step) values.push_back(static_cast<int32_t>(v));
  for (int i = 0; i < 40; ++i) values.push_back(i % 3 == 0 ? largest : i);
  on_both_paths([&] {
    std::vector<T> row(values.size() + 3, T(7));
    numbers_from_ints(values.data(), values.size(), element_class, row.data(), 3);
    EXPECT_EQ(std::vector<T>(3, T(7)), std::vector<T>(row.begin(), row.begin() + 3));
    for (size_t i = 0; i < values.size(); ++i) ASSERT_EQ(static_cast<T>(values[i]), row[i + 3]) << i;
  });
}

TEST(BoundaryConversion, SymbolsAreWrittenExactlyIntoRowsOfEveryClassTheyFit) {
  check_writing<double>(HOST_DOUBLE, 16381);
  check_writing<float>(HOST_SINGLE, 16381);
  check_writing<int8_t>(HOST_INT8, INT8_MAX);
  check_writing<uint8_t>(HOST_UINT8, UINT8_MAX);
  check_writing<int16_t>(HOST_INT16, INT16_MAX);
  check_writing<uint16_t>(HOST_UINT16, UINT16_MAX);
  check_writing<int32_t>(HOST_INT32, INT32_MAX);
  check_writing<uint32_t>(HOST_UINT32, INT32_MAX);
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
  on_both_paths([&] {
    Row signed_values(bytes.size());
    numbers_bytes_to_signed(bytes.data(), bytes.size(), signed_values.data());
    for (size_t i = 0; i < bytes.size(); ++i) ASSERT_EQ(static_cast<int8_t>(bytes[i]), signed_values[i]) << i;
  });
}

class TypedResults : public testing::Test {
 protected:
  void SetUp() override {
    kestrel({"cleanup"});
    blocks_ = heap_live_blocks();
  }
  void TearDown() override {
    fake_fail_next_rows(0);
    kestrel({"cleanup"});
    EXPECT_EQ(blocks_, heap_live_blocks());
  }
  long blocks_ = 0;
};

Row encode_memory(int32_t nsym, const Row& symbols, const char* done = "done") {
  const int h = handle_of(kestrel({"new_encoder", "", nsym}));
  EXPECT_EQ("", kestrel({"encode", h, symbols}).error);
  return kestrel({done, h}).values;
}

// (The real module's typed results, refusals and done:uint8 are tested in
// tests/octave/test_typed.m; here every class is written under the
// sanitizers, across chunk boundaries.)
TEST_F(TypedResults, DecodeReturnsTheClassItsOptionNamesTheRightmostWinning) {
  const Row symbols = random_symbols(100, 5000, 11);
  const Row bytes = encode_memory(100, symbols);
  const std::pair<const char*, HostClass> cases[] = {
      {"decode", HOST_DOUBLE},         {"decode:double", HOST_DOUBLE},  {"decode:single", HOST_SINGLE},
      {"decode:int8", HOST_INT8},      {"decode:uint8", HOST_UINT8},    {"decode:int16", HOST_INT16},
      {"decode:uint16", HOST_UINT16},  {"decode:int32", HOST_INT32},    {"decode:uint32", HOST_UINT32},
      {"decode:int16:x:uint8", HOST_UINT8}, {"decode:int64", HOST_DOUBLE}};
  for (const auto& [command, element_class] : cases) {
    SCOPED_TRACE(command);
    const int d = handle_of(kestrel({"new_decoder", "", 100, bytes}));
    const FakeResult first = kestrel({command, d, 4999});  // a whole number of vector steps plus a tail
    const FakeResult last = kestrel({command, d});
    EXPECT_EQ("", first.error + last.error);
    EXPECT_EQ(element_class, first.element_class);
    EXPECT_EQ(element_class, last.element_class);
    Row all = first.values;
    all.insert(all.end(), last.values.begin(), last.values.end());
    EXPECT_EQ(symbols, all);
    EXPECT_EQ(element_class, kestrel({command, d, 0}).element_class);
    kestrel({"done", d});
  }
}

TEST_F(TypedResults, DoneWhoseRowTheHostCannotMakeReportsTheHostsErrorAndKeepsTheEncoderOpen) {
  const Row before = random_symbols(256, 4000, 14), after = random_symbols(256, 100, 15);
  Row all = before;
  all.insert(all.end(), after.begin(), after.end());
  const Row expected = encode_memory(256, all);
  for (const char* done : {"done", "done:uint8"}) {
    SCOPED_TRACE(done);
    const int h = handle_of(kestrel({"new_encoder", "", 256}));
    kestrel({"encode", h, before});
    const int64_t bits = encoder_bits_written(&coder_table.slots[h].encoder);
    fake_fail_next_rows(1, FAKE_NOMEM_IDENTIFIER);
    const FakeResult refused = kestrel({done, h});
    EXPECT_EQ(FAKE_NOMEM_MESSAGE, refused.error);
    EXPECT_EQ(FAKE_NOMEM_IDENTIFIER, refused.identifier);
    fake_fail_next_rows(1, "");  // an error the host gives no identifier is the module's out of memory
    EXPECT_EQ("kestrel:outOfMemory", kestrel({done, h}).identifier);
    EXPECT_EQ(Row{static_cast<double>(bits)}, kestrel({"bits", h}).values);  // open and unchanged
    EXPECT_EQ("", kestrel({"encode", h, after}).error);
    const FakeResult bytes = kestrel({done, h});
    ASSERT_EQ(expected.size(), bytes.values.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      ASSERT_EQ(static_cast<uint8_t>(static_cast<int>(expected[i])), static_cast<uint8_t>(static_cast<int>(bytes.values[i]))) << i;
    }
  }
}

TEST(EncoderOutputSize, IsWhatTheFinishHandsBackAndZeroForFiles) {
  std::mt19937 random(16);
  for (int32_t nsym : {1, 2, 3, 256, 5000}) {
    for (size_t count = 0; count < 400; count += 1 + count / 8) {
      SCOPED_TRACE(testing::Message() << "nsym " << nsym << ", " << count << " symbols");
      FrequencyModel model{};
      model_init(&model, nsym, nullptr, 1);
      EncoderState encoder{};
      encoder_start(&encoder, "", "w");
      for (size_t i = 0; i < count; ++i) {  // mostly one symbol: long runs of pending follow bits
        const int32_t symbol = random() % 8 == 0 ? static_cast<int32_t>(random() % nsym) : nsym / 2;
        encoder_encode(&encoder, &model, symbol);
      }
      const int64_t size = encoder_output_size(&encoder);
      const Bytes bytes = finish(&encoder);
      EXPECT_EQ(size, static_cast<int64_t>(bytes.size()));
      model_release(&model);
    }
  }
  TempDir dir;
  EncoderState file{};
  encoder_start(&file, dir.file("bound").c_str(), "w");
  EXPECT_EQ(0, encoder_output_size(&file));
  finish(&file);
}

}  // namespace
