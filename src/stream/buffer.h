// SPDX-License-Identifier: BSD-3-Clause
// A growable heap block of bytes: the storage of memory streams. A writer
// appends at pos; a reader serves data[pos] onward and yields 0 past its end.
#pragma once

#include <cstdint>

// The size of a memory writer's first block, not a fixed step: a full block
// then doubles. Small enough that a short stream wastes little; doubling
// means a writer of n bytes copies O(n) bytes in all however its blocks move.
constexpr int32_t BUFFER_GROWTH = 1024;

struct ByteBuffer {
  uint8_t* data;  // heap block of size bytes, owned by the buffer; nullptr once taken out (size 0)
  int32_t size;   // writer: bytes allocated in data; reader: bytes held
  int32_t pos;    // writer: bytes written (next goes to data[pos]); reader: next byte to read
};

// New buffer holding a private copy of length (>= 0) bytes from bytes, or
// length bytes of room when bytes is nullptr; pos 0. Raises "buffer
// allocation failure".
ByteBuffer* buffer_create(const uint8_t* bytes, int32_t length);

// Frees the block and the record; nullptr is ignored.
void buffer_release(ByteBuffer* buffer);

// Appends the low 8 bits of byte, growing a full block (to BUFFER_GROWTH
// bytes, then to twice its size). Returns the stored byte, 0..255. On a
// failed growth raises "buffer allocation failure" and the buffer keeps its
// block, size and pos.
int buffer_put(ByteBuffer* buffer, int byte);

// Appends count (>= 0) bytes, growing as buffer_put does; on a failed growth
// nothing is appended.
void buffer_put_bytes(ByteBuffer* buffer, const uint8_t* bytes, int32_t count);

// Makes room for count (>= 0) more bytes, growing the block to exactly
// pos + count bytes when it has less room: the room for a writer's last
// bytes, which no doubling need pay for. On failure raises "buffer
// allocation failure" and the buffer keeps its block, size and pos.
void buffer_reserve(ByteBuffer* buffer, int32_t count);

// Copies the next count (>= 0) bytes into bytes, advancing pos; places past
// the end read as 0, as buffer_get yields them.
void buffer_get_bytes(ByteBuffer* buffer, uint8_t* bytes, int32_t count);

// Next byte, 0..255, advancing pos; 0 without advancing once pos == size.
int buffer_get(ByteBuffer* buffer);

// Moves pos to offset from the start (whence 0), from pos (1) or from the end
// (2), clamped to 0..size. Returns 0.
int buffer_seek(ByteBuffer* buffer, int64_t offset, int whence);

// Fresh heap block (heap_take) holding data[0..pos-1]; *count = pos. Returns
// nullptr with *count 0 when pos is 0. The buffer is unchanged. Raises
// "buffer allocation failure".
uint8_t* buffer_copy_out(const ByteBuffer* buffer, int32_t* count);

// Hands over the block holding data[0..pos-1], trimmed to pos bytes when the
// heap allows, and leaves the buffer empty (no block, size and pos 0).
// *count = pos; nullptr and *count 0 when pos is 0. The caller frees the
// block with heap_free. Takes no memory and never fails.
uint8_t* buffer_take_out(ByteBuffer* buffer, int32_t* count);
