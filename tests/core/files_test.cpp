// SPDX-License-Identifier: BSD-3-Clause
// Files as each platform keeps them: every byte value passing unchanged (no
// line-end translation, no end-of-file byte), offsets and appends past 4 GiB,
// and names outside ASCII, whose length is counted in characters; and the
// end of the module's life with files open. Commands run through the gateway
// with the stand-in host, which hands over UTF-8 as Octave does.
#include "coder_support.h"
#include "gateway/host.h"
#include "registry/slots.h"
#include "support/host_fake.h"

namespace {

using Row = std::vector<double>;

// kestrel(command, text, number): a creation; its handle, or -1 with error set.
int create(const std::string& command, const std::string& name, int nsym, std::string* error = nullptr) {
  FakeArray args[] = {fake_text(command), fake_text(name), fake_double(nsym)};
  FakeResult result = fake_call({args[0].get(), args[1].get(), args[2].get()});
  if (error != nullptr) *error = result.error;
  return result.error.empty() ? static_cast<int>(result.values.at(0)) : -1;
}

// kestrel(command, handle, row) then kestrel('done', handle): what done returns.
Row use_and_close(const char* command, int handle, const Row& row) {
  FakeArray args[] = {fake_text(command), fake_double(handle), fake_doubles(row)};
  EXPECT_EQ("", fake_call({args[0].get(), args[1].get(), args[2].get()}).error) << command;
  FakeArray done[] = {fake_text("done"), fake_double(handle)};
  return fake_call({done[0].get(), done[1].get()}).values;
}

Row decode_all(const std::string& command, const std::string& name, size_t count) {
  const int handle = create(command, name, 256);
  EXPECT_GE(handle, 0) << command << " " << name;
  FakeArray args[] = {fake_text("decode"), fake_double(handle), fake_double(static_cast<double>(count))};
  const Row symbols = fake_call({args[0].get(), args[1].get(), args[2].get()}).values;
  FakeArray done[] = {fake_text("done"), fake_double(handle)};
  EXPECT_EQ("", fake_call({done[0].get(), done[1].get()}).error);
  return symbols;
}

const Row FIRST = {0, 13, 10, 26, 255, 13, 13, 10, 128, 1};
const Row SECOND = {26, 26, 10, 13, 7, 200, 0};

TEST(FileBytes, EveryByteValueComesBackUnchangedThroughWriteAppendAndRead) {
  TempDir dir;
  const std::string path = dir.file("bytes.bin");
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  const Bytes tail = {'\r', '\n', '\n', '\r', 0x1A, '\r', 0x1A, 0};  // what text mode would change or stop at

  ByteStream* writer = stream_open_file(path.c_str(), "wb");
  EXPECT_EQ(0, stream_put_bytes(writer, all.data(), 256));
  EXPECT_EQ(0, stream_close(writer));
  EXPECT_EQ(all, read_file(path));
  ByteStream* appender = stream_open_file(path.c_str(), "ab");
  for (uint8_t byte : tail) EXPECT_EQ(byte, stream_put_byte(appender, byte));
  EXPECT_EQ(0, stream_close(appender));
  Bytes expected = all;
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(expected, read_file(path));

  ByteStream* reader = stream_open_file(path.c_str(), "rb");
  Bytes bulk(300, 0xEE);
  EXPECT_EQ(264, stream_get_bytes(reader, bulk.data(), 300));
  bulk.resize(264);
  EXPECT_EQ(expected, bulk);
  EXPECT_EQ(-1, stream_get_byte(reader));
  EXPECT_EQ(0, stream_seek(reader, 255, 0));
  for (int expected_byte : {255, 13, 10, 10, 13, 0x1A, 13, 0x1A, 0, -1}) {
    EXPECT_EQ(expected_byte, stream_get_byte(reader));
  }
  stream_close(reader);
}

TEST(LargeFiles, DecoderStartsPast4GiBWhereAnEncoderAppended) {
  constexpr int64_t OFFSET = (int64_t(1) << 32) + 3;  // as 32 bits: 3, where a decoy stream starts
  TempDir dir;
  const std::string path = dir.file("large.bin");
  std::error_code error;
  if (std::filesystem::space(dir.root, error).available < uint64_t(OFFSET) + (uint64_t(1) << 30)) {
    GTEST_SKIP() << "no room for a 4 GiB file here, should the file system not keep it sparse";
  }
  Bytes decoy = {9, 9, 9};
  const Bytes second = encode_symbols(256, Symbols(SECOND.begin(), SECOND.end())).bytes;
  decoy.insert(decoy.end(), second.begin(), second.end());
  write_file(path, decoy);
  ASSERT_EQ(SECOND, decode_all("new_decoder:s=3", path, SECOND.size()));
  std::filesystem::resize_file(path, static_cast<uintmax_t>(OFFSET), error);
  if (error) GTEST_SKIP() << "the file system refuses a file of 4 GiB: " << error.message();

  ASSERT_EQ(0, create("new_encoder:a", path, 256));
  EXPECT_EQ(Row{0}, use_and_close("encode", 0, FIRST));
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  EXPECT_GT(size, OFFSET);
  EXPECT_EQ(FIRST, decode_all("new_decoder:s=" + std::to_string(OFFSET), path, FIRST.size()));
  std::string refused;
  EXPECT_EQ(-1, create("new_decoder:s=" + std::to_string(size + 1), path, 256, &refused));
  EXPECT_EQ("Unseekable stream", refused);
}

// The characters of UTF-8 text.
size_t characters_of(const std::string& text) { return host_utf8_characters(text.data(), text.size()); }

// A file name of exactly count characters (count >= characters of root + 3)
// under root: folders of 60 CJK characters, made here, then a name that
// starts with a character outside the BMP.
std::string name_of_length(const std::string& root, size_t count) {
  std::string name = root;
  std::string folder;
  for (int i = 0; i < 60; ++i) folder += "数";
  while (count - characters_of(name) > 62) {
    name += "/" + folder;
    std::filesystem::create_directory(std::filesystem::u8path(name));
  }
  name += "/\U0001F600";
  while (characters_of(name) < count) name += "据";
  return name;
}

TEST(FileNames, NamesOutsideAsciiAreCreatedAppendedToAndDecoded) {
  TempDir dir;
  const std::string folder = dir.root.u8string() + "/données/数据";
  const std::string leaf = "naïve файл \U0001F600.bin";
  const std::string path = folder + "/" + leaf;
  ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::u8path(folder)));

  const int encoder = create("new_encoder", path, 256);
  ASSERT_EQ(0, encoder);
  EXPECT_EQ(Row{0}, use_and_close("encode", encoder, FIRST));
  const uintmax_t first_size = std::filesystem::file_size(std::filesystem::u8path(path));
  ASSERT_EQ(0, create("new_encoder:append", path, 256));
  EXPECT_EQ(Row{0}, use_and_close("encode", 0, SECOND));
  EXPECT_EQ(FIRST, decode_all("new_decoder", path, FIRST.size()));
  EXPECT_EQ(SECOND, decode_all("new_decoder:s=" + std::to_string(first_size), path, SECOND.size()));

  std::vector<std::string> names;  // the system holds the name as given, not its bytes in another code page
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(folder))) {
    names.push_back(entry.path().filename().u8string());
  }
  EXPECT_EQ(std::vector<std::string>{leaf}, names);
}

TEST(FileNames, LengthIsCountedInCharactersUpTo510) {
  TempDir dir;
  const std::string root = dir.root.u8string();
  ASSERT_LT(characters_of(root), 200u) << "scratch folder too deep for this test";
  for (size_t count : {300, 510}) {
    const std::string path = name_of_length(root, count);
    ASSERT_EQ(count, characters_of(path));
    ASSERT_GT(path.size(), 2 * count);  // well over the 510 bytes that characters once meant
    ASSERT_EQ(0, create("new_encoder", path, 256)) << count;
    EXPECT_EQ(Row{0}, use_and_close("encode", 0, FIRST));
    EXPECT_EQ(FIRST, decode_all("new_decoder", path, FIRST.size())) << count;
  }
  const std::string too_long = name_of_length(root, 511);
  for (const char* command : {"new_encoder", "new_decoder"}) {
    std::string refused;
    EXPECT_EQ(-1, create(command, too_long, 256, &refused));
    EXPECT_EQ("File name too long", refused) << command;
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(too_long)));
}

// The table, the hook's flag and the failure buffers are static storage of
// the module's image, set at load without constructors: a DLL or shared
// object loaded again starts with every slot free. Within one load the hook
// is registered once, and unloading must leave no file open (on Windows an
// open file could not be removed).
TEST(ModuleUnload, ClosesEveryCoderCompletesFilesAndFreesTheTable) {
  TempDir dir;
  const std::string written = dir.file("données-écrites.bin"), read = dir.file("lues.bin");
  const long live = heap_live_blocks();
  ASSERT_EQ(0, create("new_encoder", read, 256));
  use_and_close("encode", 0, SECOND);
  const int file_encoder = create("new_encoder", written, 256), memory_encoder = create("new_encoder", "", 256);
  const int file_decoder = create("new_decoder", read, 256);
  ASSERT_EQ((std::vector<int>{0, 1, 2}), (std::vector<int>{file_encoder, memory_encoder, file_decoder}));
  for (int handle : {file_encoder, memory_encoder}) {
    FakeArray args[] = {fake_text("encode"), fake_double(handle), fake_doubles(FIRST)};
    EXPECT_EQ("", fake_call({args[0].get(), args[1].get(), args[2].get()}).error);
  }
  EXPECT_EQ(1, fake_hook_registrations());

  EXPECT_TRUE(fake_unload());
  for (const CoderSlot& slot : coder_table.slots) EXPECT_EQ(0, slot.in_use);
  EXPECT_EQ(live, heap_live_blocks());
  EXPECT_EQ(FIRST, decode_all("new_decoder", written, FIRST.size()));
  EXPECT_TRUE(std::filesystem::remove(std::filesystem::u8path(written)));
  EXPECT_TRUE(std::filesystem::remove(std::filesystem::u8path(read)));
  EXPECT_EQ(0, create("new_encoder", "", 4));  // the module goes on with its table all free
  EXPECT_EQ((Row{-37, 3}), use_and_close("encode", 0, {0, 1, 2, 3}));
  EXPECT_EQ(1, fake_hook_registrations());
}

}  // namespace
