// SPDX-License-Identifier: BSD-3-Clause
// Helpers shared by the core tests: failure capture, scratch files, and
// one-call encode and decode runs over uniform adaptive models.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "coder/decoder.h"
#include "coder/encoder.h"
#include "coder/model.h"
#include "base/failure.h"
#include "base/heap.h"
#include "stream/stream.h"

using Bytes = std::vector<uint8_t>;
using Symbols = std::vector<int32_t>;
using Counts = std::vector<int32_t>;

// The text of a raised failure.
inline std::string failure_string(const Failure& failure) {
  char text[512];
  failure_text(failure, text, sizeof text);
  return text;
}

// The message raised by f, or "" when f returns normally.
template <typename F>
std::string failure_of(F&& f) {
  try {
    f();
  } catch (const Failure& failure) {
    return failure_string(failure);
  }
  return "";
}

// A new scratch directory of a random name, removed with its contents at
// scope end.
struct TempDir {
  std::filesystem::path root;
  TempDir() {
    std::random_device random;
    const std::filesystem::path parent = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && root.empty(); ++attempt) {
      std::filesystem::path candidate = parent / ("kestrel-test-" + std::to_string(random()));
      std::error_code error;
      if (std::filesystem::create_directory(candidate, error)) root = candidate;
    }
    EXPECT_FALSE(root.empty()) << "no scratch directory";
  }
  ~TempDir() { std::error_code ignored; std::filesystem::remove_all(root, ignored); }
  std::string file(const std::string& name) const { return (root / name).string(); }
};

inline void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Seed of a test's random sequences: KESTREL_SEED when set (decimal, or
// hexadecimal behind 0x), else a fixed default. Tests print it when they fail.
inline uint64_t test_seed() {
  const char* text = std::getenv("KESTREL_SEED");
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : 20261208u;
}

// Takes a heap copy handed back by the core and frees it.
inline Bytes take_bytes(uint8_t* bytes, int32_t count) {
  Bytes result(bytes, bytes + count);
  heap_free(bytes);
  return result;
}

// Finishes an encoder and returns the bytes it hands back.
inline Bytes finish(EncoderState* encoder) {
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  encoder_finish(encoder, &bytes, &count);
  return take_bytes(bytes, count);
}

struct Coding {
  Bytes bytes;                      // what a memory encoder hands back (empty for a file)
  std::vector<int64_t> bits_after;  // bits_written after the start, after each symbol, after finishing
};

// Encodes symbols with a uniform adaptive model into memory (empty path) or path.
inline Coding encode_symbols(int32_t nsym, const Symbols& symbols, const std::string& path = "",
                             const char* mode = "w") {
  FrequencyModel model{};
  model_init(&model, nsym, nullptr, 1);
  EncoderState encoder{};
  EXPECT_EQ(0, encoder_start(&encoder, path.c_str(), mode));
  Coding coding{{}, {encoder_bits_written(&encoder)}};
  for (int32_t symbol : symbols) {
    encoder_encode(&encoder, &model, symbol);
    coding.bits_after.push_back(encoder_bits_written(&encoder));
  }
  coding.bytes = finish(&encoder);
  coding.bits_after.push_back(encoder_bits_written(&encoder));
  model_release(&model);
  return coding;
}

inline Symbols decode_some(DecoderState* decoder, FrequencyModel* model, size_t count) {
  Symbols symbols;
  while (symbols.size() < count) symbols.push_back(decoder_decode(decoder, model));
  return symbols;
}

struct Decoding {
  Symbols symbols;      // decoded before the first failure (or all of them)
  std::string failure;  // the failure that stopped decoding, or ""
};

// Decodes up to count symbols with a uniform adaptive model, from the
// count_or_offset bytes at source (from_memory) or from the file source at
// offset count_or_offset; stops at the first failure.
inline Decoding decode_from(const void* source, int64_t count_or_offset, int from_memory, int32_t nsym,
                            size_t count) {
  FrequencyModel model{};
  model_init(&model, nsym, nullptr, 1);
  DecoderState decoder{};
  Decoding decoding;
  decoding.failure = failure_of([&] {
    decoder_start(&decoder, source, count_or_offset, from_memory);
    while (decoding.symbols.size() < count) decoding.symbols.push_back(decoder_decode(&decoder, &model));
  });
  decoder_close(&decoder);
  model_release(&model);
  return decoding;
}
inline Decoding decode_memory(int32_t nsym, const Bytes& bytes, size_t count) {
  return decode_from(bytes.data(), static_cast<int64_t>(bytes.size()), 1, nsym, count);
}
inline Decoding decode_file(int32_t nsym, const std::string& path, int64_t offset, size_t count) {
  return decode_from(path.c_str(), offset, 0, nsym, count);
}

inline Counts freq_of(const FrequencyModel& m) {
  Counts freq;
  for (int32_t s = 0; s < m.nsym; ++s) freq.push_back(model_count(&m, s));
  return freq;
}
inline Counts csym_of(const FrequencyModel& m) {
  Counts csym(static_cast<size_t>(m.nsym) + 1);
  for (int32_t i = 0; i <= m.nsym; ++i) csym[static_cast<size_t>(i)] = model_cumulative(&m, i);
  return csym;
}
