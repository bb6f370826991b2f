// SPDX-License-Identifier: BSD-3-Clause
// Encoder and decoder on known streams: exact bytes and bit counts, the bit
// order, the end of the input, start offsets and the encoder's mode letter.
#include <cstdlib>
#include <cstring>

#include "coder_support.h"

namespace {

struct KnownStream {
  int32_t nsym;
  Symbols symbols;
  Bytes bytes;
  int64_t bits_before_finish, bits_after_finish;  // -1: not checked
  std::vector<int64_t> bits_after_each;          // from the start; empty: not checked
};

// Numbers separated by blanks; "s*n" stands for n copies of s.
template <typename Number>
std::vector<Number> parse_numbers(const char* text, int base) {
  std::vector<Number> numbers;
  for (char* at = const_cast<char*>(text); *at != '\0';) {
    long value = std::strtol(at, &at, base);
    long copies = *at == '*' ? std::strtol(at + 1, &at, 10) : 1;
    numbers.insert(numbers.end(), static_cast<size_t>(copies), static_cast<Number>(value));
    while (*at == ' ') ++at;
  }
  return numbers;
}

#define KNOWN_STREAM(nsym, symbols, bytes, before, after, each)                                         \
  KnownStream{nsym, parse_numbers<int32_t>(symbols, 10), parse_numbers<uint8_t>(bytes, 16), before, after, \
              parse_numbers<int64_t>(each, 10)},
const KnownStream known_streams[] = {
#include "data/known_streams.def"
};
#undef KNOWN_STREAM

TEST(KnownStreams, EncodeToTheirExactBytesInMemoryAndInFiles) {
  TempDir dir;
  for (const KnownStream& known : known_streams) {
    SCOPED_TRACE(testing::Message() << "nsym " << known.nsym << ", " << known.symbols.size() << " symbols");
    const Coding coding = encode_symbols(known.nsym, known.symbols);
    const int64_t after_finish = coding.bits_after.back();
    EXPECT_EQ(known.bytes, coding.bytes);
    EXPECT_EQ(static_cast<size_t>(after_finish / 8 + 1), coding.bytes.size());
    EXPECT_EQ(0, coding.bits_after[0]);
    if (known.bits_before_finish >= 0) { EXPECT_EQ(known.bits_before_finish, coding.bits_after.rbegin()[1]); }
    if (known.bits_after_finish >= 0) { EXPECT_EQ(known.bits_after_finish, after_finish); }
    if (!known.bits_after_each.empty()) {
      EXPECT_EQ(known.bits_after_each, std::vector<int64_t>(coding.bits_after.begin(), coding.bits_after.end() - 1));
    }
    EXPECT_EQ(Bytes(), encode_symbols(known.nsym, known.symbols, dir.file("known")).bytes);
    EXPECT_EQ(known.bytes, read_file(dir.file("known")));
  }
}

TEST(KnownStreams, DecodeBackFromMemoryAndFromFiles) {
  TempDir dir;
  for (const KnownStream& known : known_streams) {
    SCOPED_TRACE(testing::Message() << "nsym " << known.nsym << ", " << known.symbols.size() << " symbols");
    write_file(dir.file("known"), known.bytes);
    const size_t count = known.symbols.size();
    const Decoding from_memory = decode_memory(known.nsym, known.bytes, count);
    const Decoding from_file = decode_file(known.nsym, dir.file("known"), 0, count);
    for (const Decoding& decoding : {from_memory, from_file}) {
      EXPECT_EQ("", decoding.failure);
      EXPECT_EQ(known.symbols, decoding.symbols);
    }
  }
}

TEST(Decoder, ReadsZerosPastTheEndOfMemoryAndFailsOnTheFifteenthEndOfFile) {
  EXPECT_EQ((Symbols{0, 1, 2, 3, 3, 3, 1, 2, 3, 3, 3, 3}), decode_memory(4, {0xDB, 0x03}, 12).symbols);
  EXPECT_EQ("", decode_memory(4, {0xDB, 0x03}, 50000).failure);
  TempDir dir;
  write_file(dir.file("db03"), {0xDB, 0x03});
  FrequencyModel model{};
  model_init(&model, 4, nullptr, 1);
  DecoderState decoder{};
  decoder_start(&decoder, dir.file("db03").c_str(), 0, 0);
  const Symbols decoded = decode_some(&decoder, &model, 56);
  EXPECT_EQ((Symbols{0, 1, 2, 3}), Symbols(decoded.begin(), decoded.begin() + 4));
  // The abandoned symbol leaves the registers midway: the decoder stays
  // failed rather than decode from them.
  for (int again = 0; again < 6; ++again) {
    EXPECT_EQ("arithmetic decoder bad input file", failure_of([&] { decoder_decode(&decoder, &model); }));
  }
  decoder_close(&decoder);
  model_release(&model);
}

TEST(Decoder, TakesBitsLeastSignificantFirstAndReadsOnesPastTheEndOfAFile) {
  const Bytes bytes{0x79, 0x39};
  DecoderState decoder{};
  decoder_start(&decoder, bytes.data(), 2, 1);
  EXPECT_EQ((std::tuple{0x9E9C, 0, 0xFFFF}), std::tuple(decoder.value, decoder.low, decoder.high));
  decoder_close(&decoder);
  TempDir dir;
  write_file(dir.file("empty"), {});
  decoder_start(&decoder, dir.file("empty").c_str(), 0, 0);
  EXPECT_EQ(0xFFFF, decoder.value);
  decoder_close(&decoder);
  for (int32_t nsym : {2, 3, 256, 8191}) {  // every decode yields the top symbol until the failure
    Decoding decoding = decode_file(nsym, dir.file("empty"), 0, 2000000);
    EXPECT_EQ("arithmetic decoder bad input file", decoding.failure) << nsym;
    EXPECT_EQ(Symbols(decoding.symbols.size(), 0), decoding.symbols) << nsym;
  }
  decoder_start(&decoder, nullptr, 0, 1);
  EXPECT_EQ(0, decoder.value);
  decoder_close(&decoder);
  Decoding decoding = decode_from(nullptr, 0, 1, 3, 20000);  // zeros: always the bottom symbol
  EXPECT_EQ("", decoding.failure);
  EXPECT_EQ(Symbols(20000, 2), decoding.symbols);
}

TEST(Decoder, EmptyAlphabetDumpsTheTableAndChangesNothing) {
  FrequencyModel model{};
  model_init(&model, 0, nullptr, 1);
  const Bytes bytes{0x12, 0x34};
  DecoderState decoder{}, before{};
  decoder_start(&decoder, bytes.data(), 2, 1);
  std::memcpy(&before, &decoder, sizeof decoder);
  testing::internal::CaptureStdout();
  EXPECT_EQ("symbol out of range", failure_of([&] { decoder_decode(&decoder, &model); }));
  EXPECT_EQ("cum=0\ncsym[0]=0\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, std::memcmp(&before, &decoder, sizeof decoder));
  decoder_close(&decoder);
  model_release(&model);
}

TEST(Decoder, StartsAtAnOffsetIntoTheFile) {
  TempDir dir;
  std::string path = dir.file("offset");
  write_file(path, {0xDB, 0x03});
  for (int64_t offset : {0, -1, -1000}) {
    EXPECT_EQ((Symbols{0, 1, 2, 3}), decode_file(4, path, offset, 4).symbols) << offset;
  }
  write_file(path, {0xEE, 0x00, 0xFF});
  encode_symbols(256, {97, 98, 99}, path, "a");
  EXPECT_EQ((Bytes{0xEE, 0x00, 0xFF, 0x79, 0x39, 0xBF, 0x01}), read_file(path));
  EXPECT_EQ((Symbols{97, 98, 99}), decode_file(256, path, 3, 3).symbols);
  const long live = heap_live_blocks();
  EXPECT_EQ("Unseekable stream", decode_file(256, path, 8, 1).failure);
  EXPECT_EQ(live, heap_live_blocks());
  DecoderState decoder{};
  decoder_start(&decoder, path.c_str(), 7, 0);  // at the very end: reads as an empty file
  EXPECT_EQ(0xFFFF, decoder.value);
  decoder_close(&decoder);
}

TEST(Encoder, LooksOnlyAtTheFirstModeLetterAndRefusesAllButAppendAndWrite) {
  TempDir dir;
  const std::string path = dir.file("kept");
  write_file(path, {1, 2, 3});
  for (const char* mode : {"r", "", "Wb", "+a"}) {
    for (const std::string& target : {path, dir.file("absent"), std::string()}) {
      EncoderState encoder, before;
      std::memset(&encoder, 0xAB, sizeof encoder);
      std::memcpy(&before, &encoder, sizeof encoder);
      EXPECT_EQ(-1, encoder_start(&encoder, target.c_str(), mode)) << mode;
      EXPECT_EQ(0, std::memcmp(&before, &encoder, sizeof encoder)) << mode;
    }
  }
  EXPECT_EQ((Bytes{1, 2, 3}), read_file(path));
  EXPECT_FALSE(std::filesystem::exists(dir.file("absent")));
  encode_symbols(2, {1}, path, "append");
  EXPECT_EQ((Bytes{1, 2, 3, 0x04}), read_file(path));
  encode_symbols(2, {0}, path, "wrong");
  EXPECT_EQ((Bytes{0x05}), read_file(path));
  EXPECT_EQ((Bytes{0x04}), encode_symbols(2, {1}, "", "a").bytes);
}

TEST(Encoder, LeavesNoTraceOfOutOfRangeSymbols) {
  const Symbols valid{4, 0, 2, 2, 1, 3, 0, 0, 4};
  FrequencyModel model{};
  model_init(&model, 5, nullptr, 1);
  EncoderState encoder{}, before{};
  encoder_start(&encoder, "", "w");
  for (int32_t symbol : valid) {
    for (int32_t bad : {-1, 5, INT32_MIN, INT32_MAX}) {
      std::memcpy(&before, &encoder, sizeof encoder);
      const Counts csym = csym_of(model);
      EXPECT_EQ("symbol out of range", failure_of([&] { encoder_encode(&encoder, &model, bad); }));
      EXPECT_EQ(0, std::memcmp(&before, &encoder, sizeof encoder));
      EXPECT_EQ(csym, csym_of(model));
    }
    encoder_encode(&encoder, &model, symbol);
  }
  EXPECT_EQ(encode_symbols(5, valid).bytes, finish(&encoder));
  model_release(&model);
}

}  // namespace
