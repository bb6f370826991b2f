// SPDX-License-Identifier: BSD-3-Clause
// Decodes arbitrary bytes from memory or from a file at any offset, through
// the core or through the commands, and compares the symbols and the point
// and text of any failure with those of the straightforward decoder, which
// takes its bits one at a time and keeps its model as a simple table.
//
// Choices (fuzz_producer.h, from the end of the input): file or memory,
// through the core or the commands, the form of the commands' bytes
// argument, a long run (one input in 16), nsym, count and offset; the front
// is the bytes to decode.
#include "fuzz_support.h"

namespace {

constexpr uint32_t MAX_COUNT = 100000;
// Work per input, in symbols times (nsym + 32): the straightforward decoder
// searches and updates its model linearly. A long run takes some milliseconds under
// the sanitizers, a short one far less.
constexpr int64_t SHORT_BUDGET = int64_t(1) << 15, LONG_BUDGET = int64_t(1) << 21;

// The bytes as an array of one of eight forms (classes and values), each of
// which truncates to integers holding the bytes in their low 8 bits.
FakeArray bytes_argument(const std::vector<uint8_t>& bytes, int form) {
  std::vector<double> values;
  for (size_t i = 0; i < bytes.size(); ++i) {
    double value = (form & 1) ? static_cast<int8_t>(bytes[i]) : bytes[i];
    if (form >= 4) value += 256.0 * static_cast<double>(i % 5) - 512.0;
    if (form >= 6) value += value < 0 ? -0.75 : 0.75;
    values.push_back(value);
  }
  switch (form) {
    case 2:
      return fake_numbers<uint8_t>(HOST_UINT8, bytes);
    case 3:
      return fake_numbers<int8_t>(HOST_INT8, std::vector<int8_t>(values.begin(), values.end()));
    case 4:
      return fake_text(std::string(bytes.begin(), bytes.end()));
    case 5:
      return fake_numbers<int16_t>(HOST_INT16, std::vector<int16_t>(values.begin(), values.end()));
    case 7:
      return fake_numbers<float>(HOST_SINGLE, std::vector<float>(values.begin(), values.end()));
    default:
      return fake_doubles(values);
  }
}

// Through the commands: the creation, the symbols the reference decoded in
// one call, then (when the reference failed) the one it failed on.
void decode_through_commands(const std::string& path, int64_t offset, const FakeArray& nsym, const FakeArray& bytes,
                             int64_t count, const CoreDecoding& expected) {
  const FakeResult created = path.empty()
                                 ? kcall(fake_text("new_decoder"), fake_text(""), nsym, bytes)
                                 : kcall(fake_text("new_decoder:s=" + std::to_string(offset)), fake_text(path), nsym);
  if (expected.failure == message_text(MSG_UNSEEKABLE)) {
    FUZZ_CHECK(created.error == message_text(MSG_UNSEEKABLE), created.error);
    return;
  }
  FUZZ_CHECK(created.error.empty() && created.values == std::vector<double>{0}, created.error);
  const std::vector<double> symbols(expected.symbols.begin(), expected.symbols.end());
  const FakeResult decoded = kcall(fake_text("decode"), fake_double(0), fake_double(double(symbols.size())));
  FUZZ_CHECK(decoded.error.empty() && decoded.values == symbols, decoded.error);
  if (static_cast<int64_t>(symbols.size()) < count) {
    const FakeResult failed = kcall(fake_text("decode"), fake_double(0));
    FUZZ_CHECK(failed.error == expected.failure, failed.error + " / " + expected.failure);
  }
  const FakeResult done = kcall(fake_text("done"), fake_double(0));
  FUZZ_CHECK(done.error.empty() && done.values == std::vector<double>{0}, done.error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzProducer in = producer_make(data, size);
  const bool from_file = producer_flag(&in);
  const bool through_commands = producer_flag(&in);
  const int form = static_cast<int>(producer_number(&in, 0, 7));
  const bool long_run = producer_number(&in, 0, 15) == 15;
  const int32_t nsym = static_cast<int32_t>(producer_number(&in, 0, MAX_UNIFORM_ALPHABET));
  int64_t count = producer_number(&in, 0, MAX_COUNT);
  count = std::min(count, (long_run ? LONG_BUDGET : SHORT_BUDGET) / (nsym + 32));
  const uint32_t raw_offset = producer_number(&in, 0, 0xFFFF);
  const std::vector<uint8_t> bytes = producer_take_rest(&in);
  const int64_t offset = static_cast<int64_t>(raw_offset % (bytes.size() + 24)) - 8;  // -8 .. size+15
  const std::string path = from_file ? scratch_dir() + "/decode.bin" : "";
  if (from_file) write_bytes(path, bytes);
  FUZZ_CHECK(table_is_empty(), "a coder is open before the input");
  const long heap_before = heap_live_blocks();

  CoreDecoding expected;
  auto decode_straightforwardly = [&] {
    expected = from_file ? decode_symbols<true>(nsym, path.c_str(), offset, 0, count)
                         : decode_symbols<true>(nsym, bytes.data(), static_cast<int64_t>(bytes.size()), 1, count);
  };
  if (nsym == 0) {
    empty_alphabet_dumps(decode_straightforwardly);  // its dump is not the module's
  } else {
    decode_straightforwardly();
  }
  auto run = [&] {
    if (through_commands)
      return decode_through_commands(path, offset, fake_double(nsym), bytes_argument(bytes, form), count, expected);
    const CoreDecoding actual =
        from_file ? decode_symbols<false>(nsym, path.c_str(), offset, 0, count)
                  : decode_symbols<false>(nsym, bytes.data(), static_cast<int64_t>(bytes.size()), 1, count);
    FUZZ_CHECK(actual.symbols == expected.symbols && actual.failure == expected.failure,
               actual.failure + " / " + expected.failure + ", " + std::to_string(actual.symbols.size()) + " / " +
                   std::to_string(expected.symbols.size()) + " symbols");
  };
  if (nsym == 0) {  // the one decode that fails prints its dump
    const int dumps = empty_alphabet_dumps(run);
    FUZZ_CHECK(dumps == (expected.failure == message_text(MSG_SYMBOL_OUT_OF_RANGE)), "dumps: " + std::to_string(dumps));
  } else {
    run();
  }
  FUZZ_CHECK(table_is_empty(), "a coder is left open");
  FUZZ_CHECK(heap_live_blocks() == heap_before, "leaked " + std::to_string(heap_live_blocks() - heap_before));
  return 0;
}
