// SPDX-License-Identifier: BSD-3-Clause
// Byte buffer and byte streams: memory writers growing, memory readers past
// their end, and file streams in their three modes.
#include "coder_support.h"

namespace {

Bytes contents_of(const ByteStream* stream) {
  int32_t count = -1;
  uint8_t* bytes = stream_contents(stream, &count);
  return take_bytes(bytes, count);
}

TEST(MemoryWriter, KeepsEveryByteInOrderAcrossItsGrowthAndOnlyTheirLow8Bits) {
  long live = heap_live_blocks();
  ByteStream* stream = stream_open_memory_writer();
  EXPECT_TRUE(contents_of(stream).empty());
  Bytes written;
  for (int i = 0; i < 3 * BUFFER_GROWTH + 1; ++i) {
    written.push_back(static_cast<uint8_t>(i * 37 + 11));
    EXPECT_EQ(written.back(), stream_put_byte(stream, written.back()));
  }
  EXPECT_EQ(written, contents_of(stream));
  EXPECT_EQ(written, contents_of(stream));  // taking the contents does not consume them
  EXPECT_EQ(7, stream_put_byte(stream, 263));
  written.push_back(7);
  EXPECT_EQ(written, contents_of(stream));
  stream_close(stream);
  EXPECT_EQ(live, heap_live_blocks());
}

TEST(MemoryReader, YieldsZerosAfterItsEndWithoutMoving) {
  auto* source = new uint8_t[3]{7, 0, 255};
  ByteStream* stream = stream_open_memory_reader(source, 3);
  source[0] = 1;  // the reader holds its own copy
  delete[] source;
  for (int expected : {7, 0, 255, 0, 0, 0}) EXPECT_EQ(expected, stream_get_byte(stream));
  EXPECT_EQ(3, stream->memory->pos);
  ByteBuffer* buffer = stream->memory;
  const struct { int offset, whence, pos; } seeks[] = {{10, 0, 3}, {1, 0, 1}, {-1, 1, 0},
                                                       {5, 1, 3},  {-9, 1, 0}, {-1, 2, 2}};
  for (const auto& seek : seeks) {
    EXPECT_EQ(0, buffer_seek(buffer, seek.offset, seek.whence));
    EXPECT_EQ(seek.pos, buffer->pos) << seek.offset << " from " << seek.whence;
  }
  EXPECT_EQ(255, buffer_get(buffer));
  EXPECT_EQ(0, buffer_get(buffer));
  stream_close(stream);
  ByteStream* empty = stream_open_memory_reader(nullptr, 0);
  EXPECT_EQ(0, stream_get_byte(empty));
  stream_close(empty);
}

TEST(FileStream, ReadsToEndOfFileAndSeeksNoFurtherThanItsEnd) {
  TempDir dir;
  write_file(dir.file("f"), {1, 2, 3});
  ByteStream* stream = stream_open_file(dir.file("f").c_str(), "rb");
  EXPECT_LT(stream_seek(stream, 4, 0), 0);
  EXPECT_EQ(0, stream_seek(stream, 2, 0));
  EXPECT_EQ(3, stream_get_byte(stream));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(-1, stream_get_byte(stream));
  stream_close(stream);
}

TEST(FileStream, WriteTruncatesAndAppendKeepsEarlierBytes) {
  TempDir dir;
  std::string path = dir.file("out");
  write_file(path, {1, 2, 3, 4});
  for (const char* mode : {"wb", "ab"}) {
    ByteStream* stream = stream_open_file(path.c_str(), mode);
    stream_put_byte(stream, 0x105);
    stream_put_byte(stream, 6);
    EXPECT_EQ(0, stream_close(stream));
  }
  EXPECT_EQ((Bytes{5, 6, 5, 6}), read_file(path));
}

TEST(FileStream, UnopenablePathsRaiseWithoutLeaking) {
  TempDir dir;
  long live = heap_live_blocks();
  const std::pair<std::string, const char*> opens[] = {
      {dir.file("missing"), "rb"}, {dir.root.string(), "rb"}, {dir.file("a/b"), "wb"}};
  for (const auto& open : opens) {
    EXPECT_EQ("Could not open file", failure_of([&] { stream_open_file(open.first.c_str(), open.second); }))
        << open.first;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
  EXPECT_EQ(live, heap_live_blocks());
}

}  // namespace
