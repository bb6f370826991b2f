// SPDX-License-Identifier: BSD-3-Clause
// Byte streams: the one channel through which the coder moves bytes. The
// coder moves blocks: the encoder writes its staging area (up to 256 bytes,
// ENCODER_STAGED_BYTES) with stream_put_bytes, the decoder reads ahead 128
// bytes at a time (DECODER_INPUT_BYTES) with stream_get_bytes.
// stream_put_byte, stream_get_byte and stream_contents serve only the
// straightforward coder of the tests and the tests themselves. A stream is a
// file (standard I/O, binary mode) or a memory buffer; every operation picks
// its branch by is_memory alone.
#pragma once

#include <cstdint>
#include <cstdio>

#include "stream/buffer.h"

struct ByteStream {
  FILE* file;          // open file of a file stream; nullptr for a memory stream
  ByteBuffer* memory;  // buffer of a memory stream; nullptr for a file stream
  int32_t is_memory;   // 1: memory stream, 0: file stream
};

// Memory stream over an empty buffer, for writing. Raises "stream allocation
// failure" or "buffer allocation failure".
ByteStream* stream_open_memory_writer();

// Memory stream over a private copy of length (>= 0) bytes, for reading; the
// caller may free bytes at once. Raises as stream_open_memory_writer.
ByteStream* stream_open_memory_reader(const uint8_t* bytes, int32_t length);

// File stream on path opened with mode "wb", "ab" or "rb" (binary: bytes pass
// unchanged). path is the host's text: bytes handed to the system as they are,
// but on Windows UTF-8, opened through UTF-16 at any length. Raises "stream
// allocation failure", or "Could not open file" when the file cannot be opened
// in that mode (a directory cannot be opened for reading either; on Windows,
// neither can a path that is not UTF-8 or longer than 2047 UTF-16 units).
ByteStream* stream_open_file(const char* path, const char* mode);

// Writes the low 8 bits of byte. Returns the written byte, or -1 when a file
// write failed (the file's error state keeps it until stream_close).
// Raises "buffer allocation failure" when a memory writer cannot grow.
int stream_put_byte(ByteStream* stream, int byte);

// Writes count (>= 0) bytes, as stream_put_byte does for each. Returns 0, or
// -1 when a file write failed.
int stream_put_bytes(ByteStream* stream, const uint8_t* bytes, int32_t count);

// Reads up to count (>= 0) bytes into bytes. Returns how many were read
// before the end of a file (or a read error); a memory reader always fills
// all count, with 0 past its end.
int32_t stream_get_bytes(ByteStream* stream, uint8_t* bytes, int32_t count);

// Next byte 0..255; at the end of a file (or on a read error) -1, at the end
// of a memory reader 0.
int stream_get_byte(ByteStream* stream);

// Repositions a stream before its first read: offset bytes from the start
// (whence 0) or from the current position (1). Returns 0, or a negative value
// when a file cannot be positioned there, including a target past its end.
int stream_seek(ByteStream* stream, int64_t offset, int whence);

// Makes room in a memory writer for count (>= 0) more bytes without
// doubling (buffer_reserve); nothing for a file stream. Raises "buffer
// allocation failure" with the stream unchanged.
void stream_reserve(ByteStream* stream, int32_t count);

// Copy of a memory writer's bytes (heap_take; the caller frees it with
// heap_free) and *count; nullptr and *count 0 for a file stream or an empty
// writer. Raises "buffer allocation failure".
uint8_t* stream_contents(const ByteStream* stream, int32_t* count);

// As stream_contents, but hands over a memory writer's own block instead of
// a copy, leaving the writer empty: what a writer's last reader uses. Never
// fails.
uint8_t* stream_take_contents(ByteStream* stream, int32_t* count);

// Closes the file or frees the buffer, then the record; nullptr is ignored.
// Returns 0, or -1 when bytes written to a file may not all have reached it.
int stream_close(ByteStream* stream);
