// SPDX-License-Identifier: BSD-3-Clause
// Encodes arbitrary symbols through the commands, in the same chunks, into
// memory, into a new file and appended behind the bytes of an existing file,
// all three open at once; then decodes each back in those chunks. The three
// streams must be the bytes of the straightforward encoder (and report its
// bit count), the bytes before the appended stream must stay, and every
// decoder must give back exactly the symbols.
//
// Choices (fuzz_producer.h, from the end of the input): nsym, whether to
// append to a missing file when there is no prefix, whether the new file
// holds bytes to truncate, the spelling of the append option, whether the
// bytes are fed back as 0..255, a long run (one input in 8), the repeat
// count, the prefix length and 1 to 8 chunk bytes. The front is the prefix,
// then the symbols (1 byte each, 2 above 256).
#include <algorithm>
#include <cstdio>

#include "fuzz_support.h"

namespace {

constexpr size_t MAX_SYMBOLS = 100000;
// Work per input: a symbol s costs about 32 steps plus s for the linear
// model of the reference encoder, plus its share of the halvings (nsym steps
// each; from nsym 8192 up they come ever more often). Long runs take some
// milliseconds under the sanitizers.
constexpr int64_t SHORT_BUDGET = int64_t(1) << 13, LONG_BUDGET = int64_t(1) << 17;

// A chunk byte: its low five bits give the length (0 .. 4805, past the 4096
// elements the command converts at once), its top three the array's class.
size_t chunk_length(uint8_t chunk) { return static_cast<size_t>(chunk & 31) * (chunk & 31) * 5; }

struct Piece {
  size_t length;  // symbols in one encode or decode call
  int form;       // class of the encode call's array
};

// The symbols as a host array of one of eight forms, each of which the
// command truncates back to the same integers.
FakeArray symbols_argument(const std::vector<int32_t>& s, int form) {
  const int32_t top = s.empty() ? 0 : *std::max_element(s.begin(), s.end());
  std::vector<double> d(s.begin(), s.end());
  switch (form) {
    case 1:
      for (size_t i = 0; i < d.size(); ++i) d[i] += 0.2 * static_cast<double>(i % 4 + 1);
      return fake_doubles(d);
    case 2:
      return fake_numbers<float>(HOST_SINGLE, std::vector<float>(s.begin(), s.end()));
    case 3:
      return fake_numbers<uint16_t>(HOST_UINT16, std::vector<uint16_t>(s.begin(), s.end()));
    case 4:
      return fake_numbers<int32_t>(HOST_INT32, s);
    case 5:
      return fake_numbers<int64_t>(HOST_INT64, std::vector<int64_t>(s.begin(), s.end()));
    case 6:
      if (top <= 255) return fake_numbers<uint8_t>(HOST_UINT8, std::vector<uint8_t>(s.begin(), s.end()));
      return fake_numbers<uint64_t>(HOST_UINT64, std::vector<uint64_t>(s.begin(), s.end()));
    case 7:
      if (top <= 1) return fake_logicals(std::vector<bool>(s.begin(), s.end()));
      if (top <= 255) return fake_text(std::string(s.begin(), s.end()));
      return fake_numbers<int16_t>(HOST_INT16, std::vector<int16_t>(s.begin(), s.end()));
    default:
      return fake_doubles(d);
  }
}

// Arguments used by every call, made once.
const FakeArray ENCODE = fake_text("encode"), DECODE = fake_text("decode"), DONE = fake_text("done"),
                BITS = fake_text("bits");
const FakeArray HANDLES[] = {fake_double(0), fake_double(1), fake_double(2)};

void expect_zero(const FakeResult& result, const char* what) {
  FUZZ_CHECK(result.error.empty() && result.values == std::vector<double>{0}, what + (": " + result.error));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzProducer in = producer_make(data, size);
  const int32_t nsym = static_cast<int32_t>(producer_number(&in, 1, MAX_UNIFORM_ALPHABET));
  const bool append_missing = producer_flag(&in);
  const bool truncate_new = producer_flag(&in);
  const int spelling = static_cast<int>(producer_number(&in, 0, 3));
  const bool fed_unsigned = producer_flag(&in);
  const bool long_run = producer_number(&in, 0, 7) == 7;
  const size_t repeat = producer_number(&in, 1, 64);
  const size_t prefix_length = producer_number(&in, 0, 255);
  std::vector<uint8_t> chunks(producer_number(&in, 1, 8));
  for (uint8_t& chunk : chunks) chunk = static_cast<uint8_t>(producer_number(&in, 0, 255));
  const std::vector<uint8_t> prefix = producer_take_front(&in, prefix_length);
  std::vector<int32_t> symbols;
  while (producer_left(&in) > 0) {
    uint32_t value = producer_front_byte(&in);
    if (nsym > 256) value |= uint32_t{producer_front_byte(&in)} << 8;
    symbols.push_back(static_cast<int32_t>(value % static_cast<uint32_t>(nsym)));
  }
  for (size_t i = 0, n = symbols.size(); i < n * (repeat - 1) && symbols.size() < MAX_SYMBOLS; ++i) {
    symbols.push_back(symbols[i]);
  }
  const int64_t budget = long_run ? LONG_BUDGET : SHORT_BUDGET;
  const int64_t halving_work = 2 * nsym / (MAX_FREQUENCY + 1 - nsym);  // a halving's share of each update
  int64_t work = 0;
  for (size_t i = 0; i < symbols.size(); ++i) {
    work += symbols[i] + 32 + halving_work;
    if (work > budget) {
      symbols.resize(i);
      break;
    }
  }
  // The encode and decode calls: every chunk byte at least once, in turn,
  // until the symbols are used up (all at once when every chunk is empty).
  std::vector<Piece> pieces;
  const bool progress = std::any_of(chunks.begin(), chunks.end(), [](uint8_t c) { return chunk_length(c) > 0; });
  for (size_t start = 0, c = 0; start < symbols.size() || c < chunks.size(); ++c) {
    const uint8_t chunk = chunks[c % chunks.size()];
    const size_t length = progress ? std::min(chunk_length(chunk), symbols.size() - start) : symbols.size() - start;
    pieces.push_back(Piece{length, chunk >> 5});
    start += length;
  }

  const std::string new_path = scratch_dir() + "/new.bin", append_path = scratch_dir() + "/append.bin";
  if (append_missing && prefix.empty()) {
    std::remove(append_path.c_str());
  } else {
    write_bytes(append_path, prefix);
  }
  write_bytes(new_path, truncate_new ? std::vector<uint8_t>{1, 2, 3} : std::vector<uint8_t>{});
  static const char* const append_options[] = {":a", ":append", ":s=3:a", "::a"};
  const long heap_before = heap_live_blocks();
  FUZZ_CHECK(table_is_empty(), "a coder is open before the input");

  // Encoders 0 (memory), 1 (new file) and 2 (appending), fed the same chunks.
  const FakeArray nsym_arg = fake_double(nsym);
  FakeResult created[] = {
      kcall(fake_text("new_encoder"), fake_text(""), nsym_arg),
      kcall(fake_text("new_encoder"), fake_text(new_path), nsym_arg),
      kcall(fake_text(std::string("new_encoder") + append_options[spelling]), fake_text(append_path), nsym_arg)};
  for (int h = 0; h < 3; ++h) {
    FUZZ_CHECK(created[h].error.empty() && created[h].values == std::vector<double>{double(h)}, created[h].error);
  }
  size_t start = 0;
  for (const Piece& piece : pieces) {
    const FakeArray symbols_arg = symbols_argument(
        std::vector<int32_t>(symbols.begin() + start, symbols.begin() + start + piece.length), piece.form);
    for (int h = 0; h < 3; ++h) expect_zero(kcall(ENCODE, HANDLES[h], symbols_arg), "encode");
    start += piece.length;
  }
  int64_t bits = 0;
  const std::vector<uint8_t> expected = reference_encode(nsym, symbols, &bits);
  for (int h = 0; h < 3; ++h) FUZZ_CHECK(kcall(BITS, HANDLES[h]).values == std::vector<double>{double(bits)}, "bits");

  const FakeResult done = kcall(DONE, HANDLES[0]);
  FUZZ_CHECK(done.error.empty(), done.error);
  const std::vector<uint8_t> bytes = row_to_bytes(done.values);
  FUZZ_CHECK(bytes == expected, "the memory stream differs from the straightforward encoder's");
  expect_zero(kcall(DONE, HANDLES[1]), "done on the new file");
  expect_zero(kcall(DONE, HANDLES[2]), "done on the appended file");
  FUZZ_CHECK(read_bytes(new_path) == bytes, "the new file differs from the memory stream");
  std::vector<uint8_t> appended = prefix;
  appended.insert(appended.end(), bytes.begin(), bytes.end());
  FUZZ_CHECK(read_bytes(append_path) == appended, "the appended file differs from prefix and stream");

  // Decoders 0 (memory), 1 (new file) and 2 (behind the prefix).
  std::vector<double> row = done.values;
  if (fed_unsigned) {
    for (double& value : row) value = static_cast<uint8_t>(static_cast<int8_t>(value));
  }
  created[0] = kcall(fake_text("new_decoder"), fake_text(""), nsym_arg, fake_doubles(row));
  created[1] = kcall(fake_text("new_decoder"), fake_text(new_path), nsym_arg);
  created[2] = kcall(fake_text("new_decoder:x:s=" + std::to_string(prefix.size())), fake_text(append_path), nsym_arg);
  for (int h = 0; h < 3; ++h) {
    FUZZ_CHECK(created[h].error.empty() && created[h].values == std::vector<double>{double(h)}, created[h].error);
  }
  start = 0;
  for (const Piece& piece : pieces) {
    const std::vector<double> want(symbols.begin() + start, symbols.begin() + start + piece.length);
    const FakeArray count_arg = fake_double(static_cast<double>(piece.length));
    for (int h = 0; h < 3; ++h) {
      const FakeResult got = piece.length == 1 ? kcall(DECODE, HANDLES[h]) : kcall(DECODE, HANDLES[h], count_arg);
      FUZZ_CHECK(got.error.empty() && got.values == want, "decoder " + std::to_string(h) + ": " + got.error);
    }
    start += piece.length;
  }
  for (int h = 0; h < 3; ++h) expect_zero(kcall(DONE, HANDLES[h]), "done on a decoder");
  FUZZ_CHECK(table_is_empty(), "a coder is left open");
  FUZZ_CHECK(heap_live_blocks() == heap_before, "leaked " + std::to_string(heap_live_blocks() - heap_before));
  return 0;
}
