// SPDX-License-Identifier: BSD-3-Clause
// The version-2 codec through the stand-in host: round trips of every class
// at its extremes, of every shape and thread count; the same bytes for every
// thread count; refusals; and every truncation and single-byte change of a
// small container refused or decoded to the original; long recordings and
// large colour images in blocks of every channel (layout 1).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

#include "codec/bit_stream.h"
#include "codec/block.h"
#include "codec/container.h"
#include "codec/crc32.h"
#include "codec/lpc.h"
#include "codec/range_coder.h"
#include "codec/residual.h"
#include "codec/symbol_model.h"
#include "support/host_fake.h"

namespace {

FakeArray shaped(FakeArray array, std::vector<uint64_t> dims) {
  array->dims = std::move(dims);
  return array;
}

FakeArray kind_of(FakeKind kind, std::vector<uint8_t> values) {
  FakeArray array = fake_numbers<uint8_t>(HOST_UINT8, values);
  array->kind = kind;
  return array;
}

// kestrel(command, x): the container's bytes; fails the test on an error.
std::vector<uint8_t> compress(const HostArray* x, const std::string& command = "compress") {
  FakeArray name = fake_text(command);
  FakeResult result;
  FakeArray out = fake_call_output({name.get(), x}, &result);
  EXPECT_EQ(result.error, "") << result.identifier;
  if (!out) return {};
  EXPECT_EQ(out->element_class, HOST_UINT8);
  return out->bytes;
}

FakeArray decompress(const std::vector<uint8_t>& bytes, FakeResult* result, const std::string& command = "decompress") {
  FakeArray name = fake_text(command);
  FakeArray in = fake_numbers<uint8_t>(HOST_UINT8, bytes);
  return fake_call_output({name.get(), in.get()}, result);
}

// Compresses x with 1, 2 and 3 threads (the same bytes each time) and checks
// that the bytes give x back: kind, class, size and elements.
void expect_round_trip(const HostArray* x, const std::string& options = "") {
  std::vector<uint8_t> bytes = compress(x, "compress:threads=1" + options);
  for (int threads : {2, 3}) {
    EXPECT_EQ(compress(x, "compress:threads=" + std::to_string(threads) + options), bytes);
  }
  FakeResult result;
  FakeArray y = decompress(bytes, &result, "decompress:threads=2");
  ASSERT_TRUE(y) << result.identifier;
  std::vector<uint64_t> dims = x->dims.empty() ? std::vector<uint64_t>{1, x->count} : x->dims;
  EXPECT_EQ(y->kind, x->kind);
  EXPECT_EQ(y->element_class, x->element_class);
  EXPECT_EQ(y->dims, dims);
  EXPECT_EQ(y->bytes, x->bytes);
}

template <typename T>
std::vector<T> extremes_and_noise(std::size_t count, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::vector<T> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    uint64_t bits = random();
    switch (i % 5) {
      case 0: values[i] = std::numeric_limits<T>::min(); break;
      case 1: values[i] = std::numeric_limits<T>::max(); break;
      case 2: values[i] = static_cast<T>(i / 5); break;
      default: std::memcpy(&values[i], &bits, sizeof(T));
    }
  }
  return values;
}

TEST(Codec, EveryIntegerClassAtItsExtremesComesBackForEveryThreadCount) {
  expect_round_trip(shaped(fake_numbers(HOST_INT8, extremes_and_noise<int8_t>(3000, 1)), {30, 100}).get());
  expect_round_trip(shaped(fake_numbers(HOST_UINT8, extremes_and_noise<uint8_t>(3000, 2)), {30, 10, 10}).get());
  expect_round_trip(fake_numbers(HOST_INT16, extremes_and_noise<int16_t>(3001, 3)).get());
  expect_round_trip(shaped(fake_numbers(HOST_UINT16, extremes_and_noise<uint16_t>(3000, 4)), {3000, 1}).get());
  expect_round_trip(shaped(fake_numbers(HOST_INT32, extremes_and_noise<int32_t>(3000, 5)), {10, 10, 6, 5}).get());
  expect_round_trip(fake_numbers(HOST_UINT32, extremes_and_noise<uint32_t>(999, 6)).get());
  expect_round_trip(shaped(fake_numbers(HOST_INT64, extremes_and_noise<int64_t>(3000, 7)), {50, 60}).get());
  expect_round_trip(shaped(fake_numbers(HOST_UINT64, extremes_and_noise<uint64_t>(3000, 8)), {3, 1000}).get());
}

TEST(Codec, FloatsCharsAndLogicalsComeBack) {
  const double big = std::ldexp(1.0, 53), beyond = std::ldexp(1.0, 62) * 1.5;
  expect_round_trip(shaped(fake_doubles({-big, big, 0, 7, -1, -beyond, beyond, 1e15}), {2, 4}).get());
  expect_round_trip(fake_numbers<float>(HOST_SINGLE, {16777216.0f, -16777216.0f, 3.0f, 1e18f}).get());
  expect_round_trip(fake_doubles({1e300, -std::ldexp(1.0, 63), std::ldexp(1.0, 64), 1, -0.0}).get());
  expect_round_trip(fake_numbers<float>(HOST_SINGLE, {3e38f, -1.0f, 0.0f}).get());
  expect_round_trip(kind_of(FAKE_CHAR, {'c', 'a', 'f', 0xC3, 0xA9, 0, 255}).get());
  expect_round_trip(shaped(kind_of(FAKE_LOGICAL, {1, 0, 0, 1, 1, 1}), {3, 2}).get());
}

TEST(Codec, EveryShapeComesBack) {
  expect_round_trip(shaped(fake_doubles({}), {0, 0}).get());
  expect_round_trip(shaped(fake_numbers<int16_t>(HOST_INT16, {}), {3, 0, 2}).get());
  expect_round_trip(shaped(fake_numbers<uint8_t>(HOST_UINT8, {}), {uint64_t{1} << 60, 0}).get());
  expect_round_trip(fake_double(42).get());
  std::vector<uint16_t> ramp(1000 * 1100 * 2);  // several blocks of an image-like array
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint16_t>((i % 1000) * 7 + (i / 1000) % 13);
  expect_round_trip(shaped(fake_numbers(HOST_UINT16, ramp), {1000, ramp.size() / 1000 / 2, 2}).get());
  expect_round_trip(shaped(fake_numbers(HOST_UINT16, ramp), {ramp.size(), 1}).get());
}

TEST(Codec, EveryPredictorComesBackAndAutoIsNeverMuchWorseThanNone) {
  std::mt19937 random(9);
  std::vector<int16_t> values(64 * 48 * 3);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int16_t>(random() % 200 + (i % 64) * 30);
  FakeArray x = shaped(fake_numbers(HOST_INT16, values), {64, 48, 3});
  for (const char* name : {"none", "previous", "linear", "med", "plane", "lpc", "stereo", "auto"}) {
    expect_round_trip(x.get(), std::string(":predictor=") + name);
  }
  std::vector<uint8_t> noise(100000);
  for (auto& v : noise) v = static_cast<uint8_t>(random());
  FakeArray n = shaped(fake_numbers(HOST_UINT8, noise), {1000, 100});
  std::size_t automatic = compress(n.get()).size(), none = compress(n.get(), "compress:predictor=none").size();
  EXPECT_LE(automatic, none + none / 50);
  EXPECT_LE(automatic, noise.size() + 64);  // stored, not expanded
}

// Noise that coding would expand is stored, whichever element reaches the
// encoder's limit and however far past it that element writes.
TEST(Codec, NoiseIsStoredWhereverTheEncoderFillsUp) {
  uint8_t room[64];
  RangeEncoder e;
  range_encoder_start(&e, room, room + 8);
  e.next = room + 9;  // the last element wrote past the limit
  EXPECT_TRUE(range_encoder_full(&e));
  e.next = room + 6;
  EXPECT_FALSE(range_encoder_full(&e));
  std::mt19937 random(3);
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<int16_t> noise(100 + random() % 3000);
    for (auto& v : noise) v = static_cast<int16_t>(random());
    FakeArray x = fake_numbers(HOST_INT16, noise);
    const char* command = trial % 3 == 0 ? "compress:predictor=previous" : trial % 3 == 1 ? "compress:predictor=none" : "compress";
    std::vector<uint8_t> bytes = compress(x.get(), command);
    EXPECT_LE(bytes.size(), 2 * noise.size() + 64) << trial;  // stored, not expanded
    expect_round_trip(x.get(), command + std::strlen("compress"));
  }
}

TEST(Codec, SkewedWideValuesCostAFewBytes) {
  for (std::size_t count : {std::size_t{1} << 20, std::size_t{1000000}}) {  // a whole block, and one the estimates sample
    std::vector<uint16_t> values(count);
    values[500000] = 16000;
    EXPECT_LT(compress(fake_numbers(HOST_UINT16, values).get()).size(), 300u) << count;
  }
}

// The prediction in doubles is exact for the signals it is used on, so it
// gives what the integer one gives: the decoder of another build may use
// either.
TEST(Codec, LinearPredictionInDoublesEqualsTheIntegerOne) {
  std::mt19937_64 random(5);
  const int64_t top = (int64_t{1} << LPC_EXACT_BITS) - 1;
  std::vector<int64_t> y(4096);
  std::vector<double> yd(y.size());
  for (int32_t order = 1; order <= LPC_MAX_ORDER; ++order) {
    LpcCoefficients c{order, static_cast<int32_t>(random() % 16), {}};
    for (int32_t k = 0; k < order; ++k) c.coefficient[k] = static_cast<int16_t>(k % 3 == 0 ? -32768 : random());
    for (std::size_t i = 0; i < y.size(); ++i) {
      y[i] = i % 7 == 0 ? (i % 2 ? top : -top) : static_cast<int64_t>(random() % (2 * top + 1)) - top;
      yd[i] = static_cast<double>(y[i]);
    }
    LpcWeights w = lpc_weights(c);
    for (uint64_t p = static_cast<uint64_t>(order); p < y.size(); ++p) {
      ASSERT_EQ(lpc_predict_exact(w, yd.data(), p), lpc_predict(c, y.data(), p)) << order << " " << p;
    }
  }
}

// The 16-symbol models of the second coding: the vector path moves and
// searches the bounds exactly as the plain loops do, every symbol keeps a
// share however skewed the symbols, and coded symbols come back.
TEST(Codec, SymbolModelsAgreeOnBothPathsAndKeepEverySymbolCodable) {
  std::mt19937 random(12);
  SymbolModel vector_path, plain;
  symbol_model_reset(&vector_path);
  symbol_model_reset(&plain);
  std::vector<int32_t> symbols(40000);
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    bool skewed = (i / 5000) % 2 == 0;  // long stretches of one symbol, then of every one
    symbols[i] = skewed ? (random() % 100 == 0 ? static_cast<int32_t>(random() % 16) : 15 * ((i / 10000) % 2))
                        : static_cast<int32_t>(random() % 16);
  }
  for (int32_t s : symbols) {
    for (uint32_t q : {0u, SYMBOL_TOTAL - 1, static_cast<uint32_t>(random() % SYMBOL_TOTAL), uint32_t{plain.bound[s]}}) {
      ASSERT_EQ(symbol_model_find(&vector_path, q), symbol_model_find_plain(&plain, q)) << q;
    }
    symbol_model_update(&vector_path, s);
    symbol_model_update_plain(&plain, s);
    ASSERT_EQ(std::memcmp(vector_path.bound, plain.bound, sizeof plain.bound), 0);
    ASSERT_EQ(plain.bound[0], 0);
    for (int32_t i = 1; i < SYMBOL_COUNT; ++i) {
      ASSERT_GT(plain.bound[i], plain.bound[i - 1]);
      ASSERT_LE(plain.bound[i], SYMBOL_TOTAL - SYMBOL_COUNT + static_cast<uint32_t>(i));
    }
  }
  std::vector<uint8_t> bytes(symbols.size() + 64);
  RangeEncoder e;
  range_encoder_start(&e, bytes.data(), bytes.data() + symbols.size());
  symbol_model_reset(&plain);
  for (int32_t s : symbols) range_encode_symbol(&e, &plain, s);
  range_encoder_finish(&e);
  RangeDecoder d;
  ASSERT_TRUE(range_decoder_start(&d, bytes.data(), static_cast<std::size_t>(e.next - bytes.data())));
  symbol_model_reset(&plain);
  for (int32_t s : symbols) ASSERT_EQ(range_decode_symbol(&d, &plain), s);
  EXPECT_TRUE(range_decoder_ended(&d));
}

// Raw bits come back in the order written, whatever their counts, and a
// stream with a byte more or less, or a padding bit set, does not end.
TEST(Codec, RawBitStreamsComeBackAndEndExactly) {
  std::mt19937_64 random(13);
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<std::pair<uint64_t, int32_t>> values(static_cast<std::size_t>(random() % 300));
    for (auto& v : values) {
      v.second = static_cast<int32_t>(random() % 65);
      v.first = random() & (v.second == 64 ? ~uint64_t{0} : (uint64_t{1} << v.second) - 1);
    }
    std::vector<uint8_t> bytes(values.size() * 8 + BIT_STREAM_SLACK + 1);
    BitWriter w;
    bit_writer_start(&w, bytes.data());
    for (const auto& v : values) bit_write_long(&w, v.first | (random() << v.second % 64) * (v.second < 64), v.second);
    bit_writer_finish(&w);
    std::size_t length = bit_writer_bytes(&w);
    auto reads_back = [&](std::size_t size) {
      BitReader r;
      bit_reader_start(&r, bytes.data(), size);
      for (const auto& v : values) {
        if (bit_read_long(&r, v.second) != v.first) return false;
      }
      return bit_reader_ended(&r);
    };
    EXPECT_TRUE(reads_back(length)) << trial;
    bytes[length] = 0;
    EXPECT_FALSE(reads_back(length + 1)) << trial;
    if (length == 0) continue;
    EXPECT_FALSE(reads_back(length - 1)) << trial;
    int32_t used = 0;
    for (const auto& v : values) used = (used + v.second) % 8;
    if (used == 0) continue;
    bytes[length - 1] = static_cast<uint8_t>(bytes[length - 1] | 0x80);  // a padding bit
    EXPECT_FALSE(reads_back(length)) << trial;
  }
}

// Every residual at the edges of its bucket, of the escape and of the
// 64-bit range comes back from every context, along one dimension (the
// sign modelled) and over two (the sign raw).
template <int32_t PRED>
void expect_buckets_round_trip(const std::vector<int64_t>& residuals) {
  std::vector<uint8_t> bytes(residuals.size() * BUCKET_CONTEXTS * 24 + 64), raw(residuals.size() * BUCKET_CONTEXTS * 16);
  BucketModels models;
  bucket_models_reset(&models);
  bit_writer_start(&models.raw_out, raw.data());
  RangeEncoder e;
  range_encoder_start(&e, bytes.data(), bytes.data() + bytes.size() - 600);
  const int32_t contexts = PRED == PRED_MED ? BUCKET_CONTEXTS : 33;  // along one dimension, bit lengths 0..32
  for (int32_t c = 0; c < contexts; ++c) {
    for (int64_t r : residuals) bucket_encode<PRED>(&e, &models, c, r);
  }
  ASSERT_FALSE(range_encoder_full(&e));
  range_encoder_finish(&e);
  bit_writer_finish(&models.raw_out);
  ASSERT_LE(bit_writer_bytes(&models.raw_out), raw.size() - BIT_STREAM_SLACK);
  RangeDecoder d;
  ASSERT_TRUE(range_decoder_start(&d, bytes.data(), static_cast<std::size_t>(e.next - bytes.data())));
  bucket_models_reset(&models);
  bit_reader_start(&models.raw_in, raw.data(), bit_writer_bytes(&models.raw_out));
  for (int32_t c = 0; c < contexts; ++c) {
    for (int64_t r : residuals) ASSERT_EQ(bucket_decode<PRED>(&d, &models, c), r) << PRED << " " << c;
  }
  EXPECT_TRUE(range_decoder_ended(&d));
  EXPECT_TRUE(bit_reader_ended(&models.raw_in));
}

TEST(Codec, EveryResidualComesBackFromEveryBucketAndContext) {
  std::vector<int64_t> residuals = {0, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()};
  for (int32_t bits = 0; bits < 63; ++bits) {
    for (int64_t near : {-1, 0, 1}) {
      int64_t r = (int64_t{1} << bits) + near;
      residuals.push_back(r);
      residuals.push_back(-r);
      residuals.push_back(191 * (int64_t{1} << (bits < 50 ? bits : 50)) + near);  // the last bucket and the escape
    }
  }
  expect_buckets_round_trip<PRED_LPC>(residuals);
  expect_buckets_round_trip<PRED_MED>(residuals);
}

// A recording of rows samples and the given channels: one random walk with
// a little noise of its own in each channel; every 7919th sample an extreme.
template <typename T>
std::vector<T> channels_of(std::size_t rows, std::size_t channels, uint32_t seed) {
  std::mt19937_64 random(seed);
  std::vector<T> values(rows * channels);
  int64_t walk = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    walk += static_cast<int64_t>(random() % 201) - 100;
    walk = walk > 20000 ? 20000 : walk < -20000 ? -20000 : walk;
    for (std::size_t c = 0; c < channels; ++c) {
      T extreme = c % 2 ? std::numeric_limits<T>::max() : std::numeric_limits<T>::min();
      values[c * rows + i] = i % 7919 == 3 ? extreme : static_cast<T>(walk + static_cast<int64_t>(random() % 9));
    }
  }
  return values;
}

// The container of x (of class cls) in the layout asked for, its blocks
// coded by the method given, from the core.
std::vector<uint8_t> compress_in_layout(const HostArray* x, int32_t cls, int32_t layout, int32_t method = BLOCK_BUCKETS) {
  CodecArray a{};
  a.cls = cls;
  a.data = const_cast<unsigned char*>(x->bytes.data());
  a.count = x->count;
  a.ndims = static_cast<int32_t>(x->dims.size());
  for (int32_t k = 0; k < a.ndims; ++k) a.dims[k] = x->dims[static_cast<std::size_t>(k)];
  std::vector<uint8_t> out(codec_bound(a));
  out.resize(codec_compress(a, CodecOptions{PRED_AUTO, 2, {nullptr, nullptr}, layout, method}, out.data()));
  return out;
}

// Blocks coded by either method decode; the first method's bytes are the
// ones its first release wrote (their checksums were taken from it), so
// that containers written then still decode as they did.
TEST(Codec, BlocksOfBothCodingMethodsDecode) {
  std::vector<uint8_t> photo(300 * 200);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i % 300 < 100 ? 50 : (i % 300) * (i / 300) / 97 + i % 5);
  FakeArray image = shaped(fake_numbers(HOST_UINT8, photo), {300, 200});
  FakeArray stereo = shaped(fake_numbers(HOST_INT16, channels_of<int16_t>(20000, 2, 4)), {20000, 2});
  FakeArray wide = shaped(fake_numbers(HOST_INT64, extremes_and_noise<int64_t>(5000, 11)), {5000, 1});
  const uint32_t first_release[] = {0x81B6C96Eu, 0x7D94F8AEu, 0xD8B0EB02u};
  int k = 0;
  for (auto x : {std::make_pair(image.get(), 4), std::make_pair(stereo.get(), 5), std::make_pair(wide.get(), 9)}) {
    std::vector<uint8_t> classes = compress_in_layout(x.first, x.second, CODEC_LAYOUT_AUTO, BLOCK_CLASSES);
    std::vector<uint8_t> buckets = compress_in_layout(x.first, x.second, CODEC_LAYOUT_AUTO, BLOCK_BUCKETS);
    EXPECT_EQ(buckets, compress(x.first));
    EXPECT_NE(buckets, classes);
    EXPECT_EQ(crc32_update(0, classes.data(), classes.size()), first_release[k]) << k;
    for (const std::vector<uint8_t>* bytes : {&classes, &buckets}) {
      FakeResult result;
      FakeArray back = decompress(*bytes, &result);
      ASSERT_TRUE(back) << result.identifier;
      EXPECT_EQ(back->bytes, x.first->bytes);
    }
    ++k;
  }
}

TEST(Codec, LongRecordingsAndLargeImagesAreCodedInBlocksOfEveryChannel) {
  const std::size_t stereo_rows = (std::size_t{1} << 19) + 4321, rows5 = 230000;
  FakeArray stereo = shaped(fake_numbers(HOST_INT16, channels_of<int16_t>(stereo_rows, 2, 1)), {stereo_rows, 2});
  FakeArray five = shaped(fake_numbers(HOST_UINT64, channels_of<uint64_t>(rows5, 5, 2)), {rows5, 5});
  std::vector<uint8_t> photo(700 * 600 * 3);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i % 700 / 3 + i / 420000 * 9 + i % 7);
  FakeArray image = shaped(fake_numbers(HOST_UINT8, photo), {700, 600, 3});
  for (const HostArray* x : {stereo.get(), five.get(), image.get()}) {
    expect_round_trip(x);
    EXPECT_EQ(compress(x)[7], 1);  // the layout byte
  }
  std::vector<uint8_t> apart = compress_in_layout(stereo.get(), 5, CODEC_LAYOUT_STORAGE);
  std::vector<uint8_t> together = compress_in_layout(stereo.get(), 5, CODEC_LAYOUT_AUTO);
  EXPECT_EQ(apart[7], 0);
  EXPECT_EQ(together, compress(stereo.get()));
  EXPECT_LT(together.size(), apart.size() * 9 / 10);
  FakeResult result;
  FakeArray back = decompress(apart, &result);
  ASSERT_TRUE(back) << result.identifier;
  EXPECT_EQ(back->bytes, stereo->bytes);
  // Short arrays in layout 1, when asked for, are one block of it; a block
  // of doubles beyond 2^63 is gathered and scattered as bit patterns.
  std::vector<int16_t> samples = channels_of<int16_t>(300, 3, 3);
  std::vector<double> wide(samples.begin(), samples.end());
  wide[450] = 1e300;
  wide[20] = -0.0;
  FakeArray doubles = shaped(fake_doubles(wide), {300, 3});
  FakeArray short_one = shaped(fake_numbers(HOST_UINT64, channels_of<uint64_t>(300, 5, 3)), {300, 5});
  for (auto x : {std::make_pair(doubles.get(), 1), std::make_pair(short_one.get(), 10)}) {
    std::vector<uint8_t> bytes = compress_in_layout(x.first, x.second, CODEC_LAYOUT_CHANNELS);
    EXPECT_EQ(bytes[7], 1);
    back = decompress(bytes, &result);
    ASSERT_TRUE(back) << result.identifier;
    EXPECT_EQ(back->bytes, x.first->bytes);
  }
}

// bytes with the header field at offset at (width bytes) set to value and
// the header's checksum made right again.
std::vector<uint8_t> forged(std::vector<uint8_t> bytes, std::size_t at, uint64_t value, int width) {
  for (int k = 0; k < width; ++k) bytes[at + static_cast<std::size_t>(k)] = static_cast<uint8_t>(value >> (8 * k));
  std::size_t table = 24 + 8 * std::size_t{bytes[6]}, blocks = 0;
  for (int k = 0; k < 4; ++k) blocks |= std::size_t{bytes[table - 4 + static_cast<std::size_t>(k)]} << (8 * k);
  uint32_t crc = crc32_update(0, bytes.data(), table + 8 * blocks);
  for (int k = 0; k < 4; ++k) bytes[table + 8 * blocks + static_cast<std::size_t>(k)] = static_cast<uint8_t>(crc >> (8 * k));
  return bytes;
}

TEST(Codec, ForgedLayoutsAreRefused) {
  const std::size_t rows = (std::size_t{1} << 19) + 100;
  std::vector<uint8_t> stereo = compress(shaped(fake_numbers(HOST_INT16, std::vector<int16_t>(2 * rows, 5)), {rows, 2}).get());
  auto column = [](std::vector<uint64_t> dims) {
    return compress(shaped(fake_numbers(HOST_UINT8, std::vector<uint8_t>(34, 1)), std::move(dims)).get());
  };
  const std::size_t b_at = 16 + 8 * 2;  // B of a 2-D container
  std::vector<std::vector<uint8_t>> refused = {
      forged(stereo, 7, 2, 1),                  // no layout 2
      forged(stereo, 7, 255, 1),                // nor 255
      forged(stereo, b_at, (1u << 20) - 1, 4),  // B not a multiple of the channels (M stays 2)
      forged(column({34, 1}), 7, 1, 1),         // one channel
      forged(column({2, 17}), 7, 1, 1),         // 17 channels
      forged(column({1, 17, 2, 1}), 7, 1, 1),   // 4 dimensions
  };
  for (const std::vector<uint8_t>& bytes : refused) {
    FakeResult result;
    EXPECT_FALSE(decompress(bytes, &result));
    EXPECT_EQ(result.identifier, "kestrel:corruptHeader");
  }
  FakeResult result;
  FakeArray y = decompress(forged(column({17, 2}), 7, 1, 1), &result);  // one block of whole columns is both layouts
  ASSERT_TRUE(y) << result.identifier;
  EXPECT_EQ(y->bytes, std::vector<unsigned char>(34, 1));
}

// A block of float bit patterns decodes only to whole numbers, as every
// float coded is: a forged NaN, infinity or fraction is refused.
TEST(Codec, ForgedFloatBitPatternsAreRefused) {
  std::mt19937_64 random(14);
  std::vector<double> wide(64);
  for (double& v : wide) {  // whole numbers beyond 2^64, their bits noise
    uint64_t bits = (random() & 0x800FFFFFFFFFFFFFu) | (static_cast<uint64_t>(1100 + random() % 900) << 52);
    std::memcpy(&v, &bits, sizeof v);
  }
  std::vector<uint8_t> bytes = compress(shaped(fake_doubles(wide), {64, 1}).get());
  const std::size_t table = 24 + 8 * 2, payload = table + 8 + 4;  // one block
  ASSERT_EQ(bytes[payload], 0x80);  // stored, as bit patterns
  for (uint64_t bits : {uint64_t{0x7FF8000000000000}, uint64_t{0xFFF0000000000000}, uint64_t{0x3FE0000000000000}}) {
    std::vector<uint8_t> changed = bytes;
    for (int k = 0; k < 8; ++k) changed[payload + 1 + 8 * 5 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(bits >> (8 * k));
    uint32_t crc = crc32_update(0, &changed[payload], changed.size() - payload);
    for (int k = 0; k < 4; ++k) changed[table + 4 + static_cast<std::size_t>(k)] = static_cast<uint8_t>(crc >> (8 * k));
    changed = forged(changed, 8, 64, 8);  // the header's checksum made right again
    FakeResult result;
    EXPECT_FALSE(decompress(changed, &result)) << std::hex << bits;
    EXPECT_EQ(result.identifier, "kestrel:corruptData");
  }
}

TEST(Codec, RefusalsCarryTheirIdentifiers) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    FakeArray x;
    const char* command;
    const char* identifier;
  } cases[] = {
      {fake_doubles({1, 2.5}), "compress", "kestrel:notIntegerValued"},
      {fake_doubles({std::nan("")}), "compress", "kestrel:notIntegerValued"},
      {fake_doubles({-inf}), "compress", "kestrel:notIntegerValued"},
      {fake_other(FAKE_COMPLEX), "compress", "kestrel:unsupportedInput"},
      {fake_other(FAKE_CELL), "compress", "kestrel:unsupportedInput"},
      {fake_double(1), "compress:threads=0", "kestrel:invalidOption"},
      {fake_double(1), "compress:predictor=best", "kestrel:invalidOption"},
      {fake_double(1), "compress:fast", "kestrel:invalidOption"},
      {fake_double(1), "decompress", "kestrel:notCompressed"},
      {kind_of(FAKE_NUMERIC, {'K', 'E', 'S'}), "decompress", "kestrel:truncated"},
      {kind_of(FAKE_NUMERIC, {'K', 'E', 'S', 'T', 3, 1, 2, 0}), "decompress", "kestrel:unknownVersion"},
      {kind_of(FAKE_NUMERIC, {'K', 'E', 'S', 'T', 2, 13, 2, 0}), "decompress", "kestrel:unknownClass"},
  };
  for (Case& c : cases) {
    FakeArray name = fake_text(c.command);
    EXPECT_EQ(fake_call({name.get(), c.x.get()}).identifier, c.identifier) << c.command;
  }
  std::vector<uint8_t> bytes = compress(fake_doubles({1, 2, 3}).get());
  bytes.push_back(0);
  FakeResult result;
  EXPECT_FALSE(decompress(bytes, &result));
  EXPECT_EQ(result.identifier, "kestrel:trailingBytes");
}

// Every truncation and every change of one byte (three ways) of a small
// container of two blocks is refused, or (never seen, but allowed) gives the
// original back.
TEST(Codec, EveryTruncationAndSingleByteChangeIsRefused) {
  std::vector<int16_t> values(3 * 350000);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int16_t>((i * i) % 97 - (i % 350000 == 7) * 999);
  FakeArray big = shaped(fake_numbers(HOST_INT16, values), {350000, 3});
  EXPECT_GT(compress(big.get()).size(), 28u);
  FakeArray x = shaped(fake_numbers<int16_t>(HOST_INT16, {5, -3, 7, 7, 7, 100, -32768, 32767, 0, 1}), {5, 2});
  std::vector<uint8_t> bytes = compress(x.get());
  std::set<std::string> seen;
  auto check = [&](const std::vector<uint8_t>& changed) {
    FakeResult result;
    FakeArray y = decompress(changed, &result);
    if (y) {
      EXPECT_EQ(y->bytes, x->bytes);
    } else {
      seen.insert(result.identifier);
    }
  };
  for (std::size_t n = 0; n < bytes.size(); ++n) check(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (int flip : {0x01, 0x80, 0xFF}) {
      std::vector<uint8_t> changed = bytes;
      changed[i] = static_cast<uint8_t>(changed[i] ^ flip);
      check(changed);
    }
  }
  std::set<std::string> allowed{"kestrel:notCompressed", "kestrel:truncated",     "kestrel:trailingBytes",
                                "kestrel:unknownVersion", "kestrel:unknownClass", "kestrel:corruptHeader",
                                "kestrel:corruptData"};
  for (const std::string& identifier : seen) EXPECT_TRUE(allowed.count(identifier)) << identifier;
  EXPECT_TRUE(seen.count("kestrel:corruptData"));
}

TEST(Codec, ProgressIsPrintedOnlyWhenAsked) {
  fake_take_printed();
  FakeArray x = fake_double(1);
  compress(x.get(), "compress:progress");
  compress(x.get());
  EXPECT_TRUE(fake_take_printed().size() <= 1);
}

}  // namespace
