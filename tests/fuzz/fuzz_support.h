// SPDX-License-Identifier: BSD-3-Clause
// Helpers shared by the fuzz targets: the producer of their choices
// (fuzz_producer.h), calling the module
// through the stand-in host, the texts the module may report, a per-process
// scratch directory, coding through the module's coder and through the
// straightforward one of tests/reference, and capturing the decoder's dump.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "coder/decoder.h"
#include "fuzz_producer.h"
#include "base/failure.h"
#include "base/heap.h"
#include "gateway/gateway.h"
#include "base/messages.h"
#include "reference/reference_coder.h"
#include "registry/slots.h"
#include "support/host_fake.h"

// Reports a broken invariant and stops the run; detail is built only then.
#define FUZZ_CHECK(condition, detail)                                                                                \
  do {                                                                                                               \
    if (!(condition)) {                                                                                              \
      std::fprintf(stderr, "%s:%d: broken: %s (%s)\n", __FILE__, __LINE__, #condition, std::string(detail).c_str()); \
      std::abort();                                                                                                  \
    }                                                                                                                \
  } while (0)

// One call of kestrel(args...).
template <typename... Args>
FakeResult kcall(const Args&... args) {
  return fake_call({args.get()...});
}

// True when a failed call reports a row of the module's table, text and
// identifier together (but for the internal-fault and bounds rows, which no
// call may meet), or the stand-in host's own error.
inline bool known_error(const FakeResult& result) {
  if (result.error == FAKE_NOMEM_MESSAGE) return result.identifier == FAKE_NOMEM_IDENTIFIER;
  for (int id = 0; id < MESSAGE_COUNT; ++id) {
    if (id == MSG_INTERNAL_FAULT || id == MSG_RELEASE_OUT_OF_BOUNDS || id == MSG_CLOSE_OUT_OF_BOUNDS) continue;
    if (result.error == MESSAGES[id].text) return result.identifier == MESSAGES[id].identifier;
  }
  return false;
}

inline bool table_is_empty() {
  for (const CoderSlot& slot : coder_table.slots) {
    if (slot.in_use) return false;
  }
  return true;
}

// A scratch directory of this process, removed with its files at exit.
inline std::string scratch_dir() {
  static char path[64];  // trivially destroyed: still there when the exit handler runs
  if (path[0] == '\0') {
    std::snprintf(path, sizeof path, "/tmp/kestrel-fuzz-%ld", static_cast<long>(getpid()));
    std::filesystem::create_directories(path);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    });
  }
  return path;
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size()),
             path);
  std::fclose(file);
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(file != nullptr, path);
  for (int c; (c = std::getc(file)) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(file);
  return bytes;
}

// The bytes 'done' hands back, which must be integers in -128..127.
inline std::vector<uint8_t> row_to_bytes(const std::vector<double>& row) {
  std::vector<uint8_t> bytes;
  for (double value : row) {
    FUZZ_CHECK(value >= -128 && value <= 127 && value == static_cast<int>(value), std::to_string(value));
    bytes.push_back(static_cast<uint8_t>(static_cast<int>(value)));
  }
  return bytes;
}

struct CoreDecoding {
  std::vector<int32_t> symbols;
  std::string failure;  // the failure that stopped decoding, or ""
};

// Decodes up to count symbols with a fresh uniform adaptive model of nsym
// (0..16382) symbols, from count_or_offset bytes at source (from_memory 1) or
// from the file at path source, starting at offset count_or_offset; through
// the module's coder, or through the straightforward one (REFERENCE).
template <bool REFERENCE>
CoreDecoding decode_symbols(int32_t nsym, const void* source, int64_t count_or_offset, int from_memory,
                            int64_t count) {
  using Model = std::conditional_t<REFERENCE, ReferenceModel, FrequencyModel>;
  using Decoder = std::conditional_t<REFERENCE, ReferenceDecoder, DecoderState>;
  CoreDecoding result;
  Model model{};
  Decoder decoder{};
  try {
    if constexpr (REFERENCE) {
      reference_model_init(&model, nsym, nullptr, 1);
      reference_decoder_start(&decoder, source, count_or_offset, from_memory);
      while (static_cast<int64_t>(result.symbols.size()) < count) {
        result.symbols.push_back(reference_decoder_decode(&decoder, &model));
      }
    } else {
      model_init(&model, nsym, nullptr, 1);
      decoder_start(&decoder, source, count_or_offset, from_memory);
      while (static_cast<int64_t>(result.symbols.size()) < count) {
        result.symbols.push_back(decoder_decode(&decoder, &model));
      }
    }
  } catch (const Failure& failure) {
    char text[FAILURE_MESSAGE_SIZE];
    failure_text(failure, text, FAILURE_MESSAGE_SIZE);
    result.failure = text;
  }
  if constexpr (REFERENCE) {
    reference_decoder_close(&decoder);
    reference_model_release(&model);
  } else {
    decoder_close(&decoder);
    model_release(&model);
  }
  return result;
}

// The bytes the straightforward encoder makes of symbols with a uniform
// adaptive model of nsym (1..16382) symbols, and in *bits the number of bits
// it emitted before its finish.
inline std::vector<uint8_t> reference_encode(int32_t nsym, const std::vector<int32_t>& symbols, int64_t* bits) {
  ReferenceModel model{};
  ReferenceEncoder encoder{};
  reference_model_init(&model, nsym, nullptr, 1);
  reference_encoder_start(&encoder, "", "w");
  for (int32_t symbol : symbols) reference_encoder_encode(&encoder, &model, symbol);
  *bits = reference_encoder_bits_written(&encoder);
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  reference_encoder_finish(&encoder, &bytes, &count);
  reference_model_release(&model);
  std::vector<uint8_t> result(bytes, bytes + count);
  heap_free(bytes);
  return result;
}

// Runs f (which must not throw) with standard output sent to a scratch file,
// and returns how many times it printed the decoder's dump for an empty
// alphabet (cum 0, one table entry 0); -1 when it printed anything else.
// The file is in this process's own folder: Windows' C runtime makes
// tmpfile's files under short names in the drive's root folder, and two
// targets replayed at once there made tmpfile fail.
template <typename F>
int empty_alphabet_dumps(F&& f) {
  std::fflush(stdout);
  FILE* file = std::fopen((scratch_dir() + "/stdout.txt").c_str(), "w+b");
  FUZZ_CHECK(file != nullptr, "the scratch file for standard output");
  const int saved = dup(1);
  dup2(fileno(file), 1);
  f();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::getc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  const std::string dump = "cum=0\ncsym[0]=0\n";
  for (size_t i = 0; i < text.size(); i += dump.size()) {
    if (text.compare(i, dump.size(), dump) != 0) return -1;
  }
  return static_cast<int>(text.size() / dump.size());
}
