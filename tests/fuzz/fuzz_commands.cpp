// SPDX-License-Identifier: BSD-3-Clause
// Runs arbitrary sequences of commands with arbitrary arguments and checks
// every call against a model of the coder table: the error text (exact
// wherever the arguments and the model decide it), the handles open, the
// handle a creation returns, the bits an encoder reports and the bytes a
// memory encoder hands back. Each input ends by using every open coder once,
// closing them all, and checking that nothing leaked.
//
// Choices (fuzz_producer.h; this target has no payload, every byte is a
// choice): calls until the input is used up (at most 200), each a name
// (0xA5 fills the table), an options number, a shape (argument count; bit 3:
// argument 1 is not the command text) and the arguments, each a kind and a
// data number, some with more data.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "fuzz_support.h"

namespace {

struct Arg {
  FakeArray array;
  bool is_char, numeric, readable;  // as the host sees it; readable: its elements can be read as numbers
  std::vector<int32_t> ints;        // its elements as the module truncates them (readable arrays)
  int32_t first;                    // its first element so, as a scalar (numeric arrays)
  std::string text;                 // character arrays
};

struct Coder {
  bool open = false, decoder = false, memory = false;
  int32_t nsym = 0;
  std::vector<int32_t> coded;  // encoders: the symbols coded so far
  double bits = 0;             // encoders: the last bit count reported
  bool filler = false;         // a memory encoder made to fill the table and never used since
};

Coder coders[SLOT_COUNT];
bool file_exists[4];  // scratch files f0..f3 created in this input

const char* const NAMES[] = {"new_encoder", "new_decoder",       "bits",    "done",    "encode", "decode", "version",
                             "cleanup",     "max_alphabet_size", "Version", "encoder", "",       "done "};
const double SPECIALS[] = {NAN,   -1,    -42,  -42.7,        511, 512, 2.9, -0.5, 1e10, -1e10,       INFINITY,
                           16382, 16383, 8191, 2147483647.0, 0,   1,   3,   255,  -2.9, 4294967296.0};
const char* const OFFSETS[] = {"-5", "0", "1", "2", "10", "abc", " 7", "99999999999"};

std::string file_name(int k) { return scratch_dir() + "/f" + std::to_string(k); }

Arg numeric_arg(FakeArray array, const std::vector<double>& values) {
  Arg arg{std::move(array), false, true, true, {}, INT32_MIN, ""};
  for (double v : values) arg.ints.push_back(v > -2147483649.0 && v < 2147483648.0 ? int32_t(v) : INT32_MIN);
  if (!arg.ints.empty()) arg.first = arg.ints[0];
  return arg;
}

Arg text_arg(const std::string& text) {
  return Arg{fake_text(text), true, false, true, {text.begin(), text.end()}, 0, text};
}

// An array of class T holding the integers values.
template <typename T, HostClass CLASS>
Arg typed_arg(const std::vector<double>& values) {
  std::vector<T> elements;
  for (double value : values) elements.push_back(static_cast<T>(static_cast<int64_t>(value)));
  return numeric_arg(fake_numbers<T>(CLASS, elements), std::vector<double>(elements.begin(), elements.end()));
}

Arg make_arg(FuzzProducer* in) {
  static Arg (*const typed[])(const std::vector<double>&) = {
      typed_arg<float, HOST_SINGLE>,    typed_arg<int8_t, HOST_INT8>,     typed_arg<uint8_t, HOST_UINT8>,
      typed_arg<int16_t, HOST_INT16>,   typed_arg<uint16_t, HOST_UINT16>, typed_arg<int32_t, HOST_INT32>,
      typed_arg<uint32_t, HOST_UINT32>, typed_arg<int64_t, HOST_INT64>,   typed_arg<uint64_t, HOST_UINT64>,
      typed_arg<double, HOST_DOUBLE>};
  const int kind = static_cast<int>(producer_number(in, 0, 11)), x = static_cast<int>(producer_number(in, 0, 255));
  std::vector<double> values;
  switch (kind) {
    case 0: {  // an open handle, or a small number when none is open
      std::vector<double> open;
      for (int h = 0; h < SLOT_COUNT; ++h) {
        if (coders[h].open) open.push_back(h);
      }
      values = {open.empty() ? x % 4 : open[x % open.size()]};
      break;
    }
    case 1:
      values = {SPECIALS[x % 21]};
      break;
    case 2:
      values = {double(x % 8)};
      break;
    case 3:  // small integers, some negative, in an array of any numeric class
      for (int i = 0; i < x % 5; ++i) values.push_back(static_cast<int8_t>(producer_number(in, 0, 255)) % 16);
      return typed[x / 5 % 10](values);
    case 4:
      break;  // an empty array
    case 5:
      return text_arg("");
    case 6: {  // file names, all inside the scratch directory; the last two 510 and 511 long
      if (x % 8 < 4) return text_arg(file_name(x % 4));
      const std::string missing = scratch_dir() + "/missing/f";
      if (x % 8 < 6) return text_arg(x % 8 == 4 ? scratch_dir() : missing);
      return text_arg(missing + std::string(510 + x % 8 - 6 - missing.size(), 'x'));
    }
    case 7: {  // logical arrays read as 0 and 1 but are not numeric
      Arg arg{fake_logicals({bool(x & 1), bool(x & 2)}), false, false, true, {x & 1, x >> 1 & 1}, 0, ""};
      if (x & 4) {
        arg.array = fake_logicals({});
        arg.ints.clear();
      }
      return arg;
    }
    case 8: {  // cell, struct, function handle; sparse and complex are numeric (0) but not readable
      const FakeKind other = static_cast<FakeKind>(FAKE_CELL + x % 5);
      const bool numeric = other == FAKE_SPARSE || other == FAKE_COMPLEX;
      return Arg{fake_other(other), false, numeric, false, {}, numeric ? 0 : INT32_MIN, ""};
    }
    case 9:  // symbols, with fractions when x is odd
      for (int i = 0; i < x % 24; ++i) values.push_back(producer_number(in, 0, 15) + (x & 1 ? 0.5 : 0));
      break;
    case 10:  // bytes, signed when x is odd
      for (int i = 0; i < x % 24; ++i) {
        const uint8_t byte = static_cast<uint8_t>(producer_number(in, 0, 255));
        values.push_back(x & 1 ? static_cast<int8_t>(byte) : byte);
      }
      break;
    default:
      values.assign(5000, x % 4);  // more symbols than the command converts at once
  }
  return numeric_arg(fake_doubles(values), values);
}

struct Command {
  std::string name;
  bool refuse = false;  // an option beginning with '>'
  long offset = 0;      // the rightmost option beginning with "s="
};

// The command text as the gateway sees it: cut to 510 characters, then up to
// 15 options split off from the right.
Command parse_command(std::string text) {
  Command command;
  bool offset_seen = false;
  text.resize(std::min<size_t>(text.size(), 510));
  for (int i = 0; i < 15 && text.find(':') != std::string::npos; ++i) {
    const std::string option = text.substr(text.rfind(':') + 1);
    text.resize(text.rfind(':'));
    command.refuse |= option[0] == '>';
    if (!offset_seen && option.compare(0, 2, "s=") == 0) command.offset = std::atol(option.c_str() + 2);
    offset_seen |= option.compare(0, 2, "s=") == 0;
  }
  command.name = text;
  return command;
}

void expect_error(const FakeResult& result, const std::string& expected) {
  FUZZ_CHECK(result.error.empty() || known_error(result), "unknown error: " + result.identifier + " " + result.error);
  FUZZ_CHECK(result.error == expected, "got '" + result.error + "', expected '" + expected + "'");
}

FakeResult run(const std::vector<Arg>& args) {
  std::vector<const HostArray*> arrays;
  for (const Arg& arg : args) arrays.push_back(arg.array.get());
  return fake_call(arrays);
}

int lowest_free() {
  int h = 0;
  while (h < SLOT_COUNT && coders[h].open) ++h;
  return h < SLOT_COUNT ? h : -1;
}

// What closing an encoder hands back: 0 for a file, and for memory bytes
// that decode to all it coded.
void check_closed_encoder(const Coder& coder, const FakeResult& result) {
  if (!coder.memory) {
    FUZZ_CHECK(result.values == std::vector<double>{0}, "done on a file encoder");
    return;
  }
  const std::vector<uint8_t> bytes = row_to_bytes(result.values);
  const CoreDecoding decoded =
      decode_symbols<false>(coder.nsym, bytes.data(), int64_t(bytes.size()), 1, int64_t(coder.coded.size()));
  FUZZ_CHECK(decoded.failure.empty() && decoded.symbols == coder.coded, "memory encoder bytes: " + decoded.failure);
}

void run_creation(const Command& command, const std::vector<Arg>& args) {
  const bool decoder = command.name == "new_decoder";
  const std::string name = args.size() >= 2 ? args[1].text : "";
  int file = -1;
  for (int k = 0; k < 4; ++k) file = name == file_name(k) ? k : file;
  const int32_t nsym = args.size() >= 3 ? args[2].first : 0;
  const bool memory_decoder = decoder && name.empty();
  const std::string expected = args.size() < 2                       ? message_text(MSG_FEW_ARGUMENTS)
                               : !args[1].is_char                    ? message_text(MSG_NOT_A_STRING)
                               : name.size() > 510                   ? message_text(MSG_FILE_NAME_TOO_LONG)
                               : args.size() < 3                     ? message_text(MSG_FEW_ARGUMENTS)
                               : !args[2].numeric                    ? message_text(MSG_EXPECTED_INT)
                               : lowest_free() < 0                   ? "no handle"
                               : nsym < 0                            ? message_text(MSG_MODEL_ALLOCATION)
                               : nsym > MAX_UNIFORM_ALPHABET         ? message_text(MSG_MAX_FREQUENCY)
                               : !decoder && command.refuse          ? "no handle"
                               : memory_decoder && args.size() < 4   ? message_text(MSG_FEW_ARGUMENTS_COMMAND)
                               : memory_decoder && !args[3].readable ? message_text(MSG_NOT_NUMERIC_ARRAY)
                               : !name.empty() && (file < 0 || (decoder && !file_exists[file])) ? message_text(MSG_OPEN_FILE)
                                                                                                : "";

  const FakeResult result = run(args);
  if (expected == "no handle") {
    expect_error(result, "");
    FUZZ_CHECK(result.values == std::vector<double>{-1}, "a creation that must return -1");
    return;
  }
  if (expected.empty() && decoder && command.offset > 0 && result.error == message_text(MSG_UNSEEKABLE)) return;  // past the end
  expect_error(result, expected);
  if (!expected.empty()) return;
  const int h = lowest_free();
  FUZZ_CHECK(result.values == std::vector<double>{double(h)}, "creation must return the lowest free handle");
  coders[h] = Coder{true, decoder, name.empty(), nsym, {}, 0, false};
  if (file >= 0) file_exists[file] = true;
}

void run_coder_command(const Command& command, const std::vector<Arg>& args) {
  const int32_t h = args.size() >= 2 ? args[1].first : 0;
  const bool valid = args.size() >= 2 && args[1].numeric && h >= 0 && h < SLOT_COUNT && coders[h].open;
  Coder* coder = valid ? &coders[h] : nullptr;
  const bool encoder = valid && !coder->decoder, decoder = valid && coder->decoder;
  if (valid) coder->filler = false;
  const std::vector<int32_t> none, &symbols = args.size() >= 3 ? args[2].ints : none;
  size_t good = 0;  // encode: symbols in range before the first that is not
  while (encoder && good < symbols.size() && symbols[good] >= 0 && symbols[good] < coder->nsym) ++good;
  const int64_t count = args.size() >= 3 ? args[2].first : 1;  // decode
  const std::string& name = command.name;
  const std::string expected = args.size() < 2                                            ? message_text(MSG_FEW_ARGUMENTS)
                               : !args[1].numeric                                         ? message_text(MSG_EXPECTED_INT)
                               : !valid && !(name == "done" && h == ALL_HANDLES)          ? message_text(MSG_INVALID_HANDLE)
                               : name == "bits" && decoder                                ? message_text(MSG_BITS_ON_DECODER)
                               : name == "encode" && decoder                              ? message_text(MSG_ENCODE_ON_DECODER)
                               : name == "encode" && args.size() < 3                      ? message_text(MSG_FEW_ARGUMENTS_COMMAND)
                               : name == "encode" && !args[2].readable                    ? message_text(MSG_NOT_NUMERIC_ARRAY)
                               : name == "encode" && good < symbols.size()                ? message_text(MSG_SYMBOL_OUT_OF_RANGE)
                               : name == "decode" && encoder                              ? message_text(MSG_DECODE_ON_ENCODER)
                               : name == "decode" && args.size() >= 3 && !args[2].numeric ? message_text(MSG_EXPECTED_INT)
                               : name == "decode" && count < 0                            ? message_text(MSG_INVALID_COUNT)
                               : name == "decode" && count > int64_t(FAKE_MAX_ROW)        ? FAKE_NOMEM_MESSAGE
                               : name == "decode" && coder->nsym == 0 && count > 0        ? message_text(MSG_SYMBOL_OUT_OF_RANGE)
                                                                                          : "";
  if (name == "encode" && encoder && coder->coded.size() + good > 20000) return;  // enough to check at the end
  if (name == "decode" && expected.empty() && count > 4096) return;               // too slow to be worth it

  FakeResult result;
  if (name == "decode" && expected == message_text(MSG_SYMBOL_OUT_OF_RANGE)) {
    const int dumps = empty_alphabet_dumps([&] { result = run(args); });
    FUZZ_CHECK(dumps == 1, "decoder dumps: " + std::to_string(dumps));
  } else {
    result = run(args);
  }
  if (expected.empty() && decoder && !coder->memory && result.error == message_text(MSG_BAD_INPUT_FILE)) return;  // past its end
  expect_error(result, expected);
  if (name == "encode" && encoder && (expected.empty() || expected == message_text(MSG_SYMBOL_OUT_OF_RANGE))) {
    coder->coded.insert(coder->coded.end(), symbols.begin(), symbols.begin() + good);
  }
  if (!expected.empty()) return;
  if (name == "bits") {
    FUZZ_CHECK(result.values.size() == 1 && result.values[0] >= coder->bits, "bits went down");
    FUZZ_CHECK(!coder->coded.empty() || result.values[0] == 0, "bits before any symbol");
    coder->bits = result.values[0];
  } else if (name == "decode") {
    FUZZ_CHECK(int64_t(result.values.size()) == count, "decode count");
    for (double s : result.values) FUZZ_CHECK(s >= 0 && s < coder->nsym, std::to_string(s));
  } else if (name == "done" && h == ALL_HANDLES) {
    FUZZ_CHECK(result.values == std::vector<double>{0}, "done on every handle");
    std::fill(std::begin(coders), std::end(coders), Coder{});
  } else if (name == "done") {
    if (decoder)
      FUZZ_CHECK(result.values == std::vector<double>{0}, "done on a decoder");
    else
      check_closed_encoder(*coder, result);
    *coder = Coder{};
  } else {
    FUZZ_CHECK(result.values == std::vector<double>{0}, "encode returns 0");
  }
}

// Fills every free slot with a memory encoder, then asks for one more.
void fill_table() {
  const FakeArray command = fake_text("new_encoder"), name = fake_text(""), nsym = fake_double(1);
  for (int h = lowest_free(); h >= 0; h = lowest_free()) {
    FUZZ_CHECK(kcall(command, name, nsym).values == std::vector<double>{double(h)}, "filling the table");
    coders[h] = Coder{true, false, true, 1, {}, 0, true};
  }
  FUZZ_CHECK(kcall(command, name, nsym).values == std::vector<double>{-1}, "creation in a full table");
}

void run_call(FuzzProducer* in) {
  const int name = static_cast<int>(producer_number(in, 0, 255));
  const int options = static_cast<int>(producer_number(in, 0, 255));
  const int shape = static_cast<int>(producer_number(in, 0, 255));
  if (name == 0xA5) return fill_table();
  std::string text = NAMES[name % 13];
  static const char* const pieces[] = {":a", ":>", ":s=", ":", ":x", ":append"};
  for (int bit = 0; bit < 6; ++bit) {
    if (options >> bit & 1) text += pieces[bit] + std::string(bit == 2 ? OFFSETS[producer_number(in, 0, 7)] : "");
  }
  const size_t colons = std::count(text.begin(), text.end(), ':');
  if (options >> 6 == 1) text += std::string(15 - std::min<size_t>(15, colons), ':');  // exactly 15 options
  if (options >> 6 == 2) text += std::string(16, ':');                                 // one too many
  if (options >> 6 == 3) text += ":" + std::string(600, 'y');                          // cut at 510
  std::vector<Arg> args;
  for (int i = 0; (shape & 7) != 7 && i <= (shape & 7); ++i)
    args.push_back(i > 0 || shape & 8 ? make_arg(in) : text_arg(text));

  if (args.empty()) return expect_error(run(args), message_text(MSG_FEW_ARGUMENTS));
  if (!args[0].is_char) return expect_error(run(args), message_text(MSG_NOT_A_STRING));
  const Command command = parse_command(args[0].text);
  if (command.name == "new_encoder" || command.name == "new_decoder") return run_creation(command, args);
  if (command.name == "bits" || command.name == "done" || command.name == "encode" || command.name == "decode") {
    return run_coder_command(command, args);
  }
  const FakeResult result = run(args);
  const bool known = command.name == "version" || command.name == "max_alphabet_size" || command.name == "cleanup";
  expect_error(result, known ? "" : message_text(MSG_UNRECOGNIZED_COMMAND));
  if (command.name == "version") FUZZ_CHECK(result.is_text && result.text == KESTREL_VERSION, result.text);
  if (command.name == "max_alphabet_size") FUZZ_CHECK(result.values == std::vector<double>{8191}, "max_alphabet_size");
  if (command.name == "cleanup") {
    FUZZ_CHECK(!result.has_output, "cleanup sets an output");
    std::fill(std::begin(coders), std::end(coders), Coder{});
  }
}

// The table holds exactly the coders of the model.
void check_table() {
  for (int h = 0; h < SLOT_COUNT; ++h) {
    const CoderSlot& slot = coder_table.slots[h];
    FUZZ_CHECK(bool(slot.in_use) == coders[h].open, "slot " + std::to_string(h) + " open or free unexpectedly");
    FUZZ_CHECK(!slot.in_use || (bool(slot.is_decoder) == coders[h].decoder && slot.model.nsym == coders[h].nsym),
               "slot " + std::to_string(h) + " holds another coder");
  }
}

// Every open coder still works: encoders take one more symbol (memory ones
// then hand back bytes that decode to all they coded), decoders give one more
// symbol (a file decoder may have run past its end). Encoders that only fill
// the table are all alike and are left to cleanup.
void use_and_close_all() {
  const FakeArray encode = fake_text("encode"), decode = fake_text("decode"), done = fake_text("done");
  const FakeArray zero = fake_doubles({0});
  for (int h = 0; h < SLOT_COUNT; ++h) {
    Coder& coder = coders[h];
    if (!coder.open || coder.filler) continue;
    const FakeArray handle = fake_double(h);
    if (coder.decoder) {
      FakeResult result;
      const int dumps = empty_alphabet_dumps([&] { result = kcall(decode, handle); });
      FUZZ_CHECK(dumps == (coder.nsym == 0), "decoder dumps: " + std::to_string(dumps));
      if (coder.memory || result.error != message_text(MSG_BAD_INPUT_FILE))
        expect_error(result, coder.nsym ? "" : message_text(MSG_SYMBOL_OUT_OF_RANGE));
      continue;
    }
    expect_error(kcall(encode, handle, zero), coder.nsym ? "" : message_text(MSG_SYMBOL_OUT_OF_RANGE));
    if (coder.nsym > 0) coder.coded.push_back(0);
    if (!coder.memory) continue;
    const FakeResult result = kcall(done, handle);
    expect_error(result, "");
    check_closed_encoder(coder, result);
    coder = Coder{};
  }
  const FakeResult result = kcall(fake_text("cleanup"));
  expect_error(result, "");
  std::fill(std::begin(coders), std::end(coders), Coder{});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzProducer in = producer_make(data, size);
  FUZZ_CHECK(table_is_empty(), "a coder is open before the input");
  const long heap_before = heap_live_blocks();
  for (int calls = 0; producer_left(&in) > 0 && calls < 200; ++calls) {
    run_call(&in);
    check_table();
  }
  use_and_close_all();
  check_table();
  FUZZ_CHECK(heap_live_blocks() == heap_before, "leaked " + std::to_string(heap_live_blocks() - heap_before));
  for (int k = 0; k < 4; ++k) {
    if (file_exists[k]) std::remove(file_name(k).c_str());
    file_exists[k] = false;
  }
  return 0;
}
