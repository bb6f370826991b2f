// SPDX-License-Identifier: BSD-3-Clause
#include "stream/buffer.h"

#include <cstring>

#include "base/checks.h"
#include "base/failure.h"
#include "base/heap.h"
#include "base/messages.h"

ByteBuffer* buffer_create(const uint8_t* bytes, int32_t length) {
  if (length < 0) raise_failure(MSG_BUFFER_ALLOCATION);
  auto* buffer = static_cast<ByteBuffer*>(heap_take(sizeof(ByteBuffer)));
  if (buffer == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  buffer->data = static_cast<uint8_t*>(heap_take(static_cast<size_t>(length)));
  if (buffer->data == nullptr) {
    heap_free(buffer);
    raise_failure(MSG_BUFFER_ALLOCATION);
  }
  if (bytes != nullptr && length > 0) std::memcpy(buffer->data, bytes, static_cast<size_t>(length));
  buffer->size = length;
  buffer->pos = 0;
  return buffer;
}

void buffer_release(ByteBuffer* buffer) {
  if (buffer == nullptr) return;
  heap_free(buffer->data);
  heap_free(buffer);
}

// Grows the block to hold at least needed bytes: BUFFER_GROWTH at first, then
// twice its size; the size stays a signed 32-bit count.
static void buffer_grow(ByteBuffer* buffer, int64_t needed) {
  if (needed > INT32_MAX) raise_failure(MSG_BUFFER_ALLOCATION);
  int64_t size = buffer->size < BUFFER_GROWTH ? BUFFER_GROWTH : buffer->size;
  while (size < needed) size *= 2;
  if (size > INT32_MAX) size = INT32_MAX;
  void* data = heap_resize(buffer->data, static_cast<size_t>(size));
  if (data == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  buffer->data = static_cast<uint8_t*>(data);
  buffer->size = static_cast<int32_t>(size);
}

// True when a buffer's pos lies within its block: 0 <= pos <= size.
[[maybe_unused]] static bool buffer_is_sound(const ByteBuffer* buffer) {
  return buffer->size >= 0 && buffer->pos >= 0 && buffer->pos <= buffer->size;
}

int buffer_put(ByteBuffer* buffer, int byte) {
  KESTREL_ASSERT(buffer_is_sound(buffer));
  if (buffer->pos == buffer->size) buffer_grow(buffer, int64_t{buffer->pos} + 1);
  buffer->data[buffer->pos++] = static_cast<uint8_t>(byte);
  return byte & 0xFF;
}

void buffer_put_bytes(ByteBuffer* buffer, const uint8_t* bytes, int32_t count) {
  KESTREL_ASSERT(buffer_is_sound(buffer) && count >= 0);
  if (count == 0) return;
  if (count > buffer->size - buffer->pos) buffer_grow(buffer, int64_t{buffer->pos} + count);
  std::memcpy(buffer->data + buffer->pos, bytes, static_cast<size_t>(count));
  buffer->pos += count;
}

void buffer_get_bytes(ByteBuffer* buffer, uint8_t* bytes, int32_t count) {
  KESTREL_ASSERT(buffer_is_sound(buffer) && count >= 0);
  int32_t held = buffer->size - buffer->pos < count ? buffer->size - buffer->pos : count;
  std::memcpy(bytes, buffer->data + buffer->pos, static_cast<size_t>(held));
  if (held < count) std::memset(bytes + held, 0, static_cast<size_t>(count - held));
  buffer->pos += held;
}

void buffer_reserve(ByteBuffer* buffer, int32_t count) {
  KESTREL_ASSERT(buffer_is_sound(buffer) && count >= 0);
  if (count <= buffer->size - buffer->pos) return;
  int64_t size = int64_t{buffer->pos} + count;
  if (size > INT32_MAX) raise_failure(MSG_BUFFER_ALLOCATION);
  void* data = heap_resize(buffer->data, static_cast<size_t>(size));
  if (data == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  buffer->data = static_cast<uint8_t*>(data);
  buffer->size = static_cast<int32_t>(size);
}

int buffer_get(ByteBuffer* buffer) {
  KESTREL_ASSERT(buffer_is_sound(buffer));
  if (buffer->pos == buffer->size) return 0;
  return buffer->data[buffer->pos++];
}

int buffer_seek(ByteBuffer* buffer, int64_t offset, int whence) {
  KESTREL_ASSERT(buffer_is_sound(buffer) && whence >= 0 && whence <= 2);
  int64_t base = whence == 1 ? buffer->pos : whence == 2 ? buffer->size : 0;
  int64_t target = offset < -base ? 0 : offset > buffer->size - base ? buffer->size : base + offset;
  buffer->pos = static_cast<int32_t>(target);
  return 0;
}

uint8_t* buffer_copy_out(const ByteBuffer* buffer, int32_t* count) {
  KESTREL_ASSERT(buffer_is_sound(buffer));
  *count = 0;
  if (buffer->pos == 0) return nullptr;
  auto* copy = static_cast<uint8_t*>(heap_take(static_cast<size_t>(buffer->pos)));
  if (copy == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  std::memcpy(copy, buffer->data, static_cast<size_t>(buffer->pos));
  *count = buffer->pos;
  return copy;
}

uint8_t* buffer_take_out(ByteBuffer* buffer, int32_t* count) {
  KESTREL_ASSERT(buffer_is_sound(buffer));
  *count = 0;
  if (buffer->pos == 0) return nullptr;
  uint8_t* bytes = buffer->data;
  void* trimmed = heap_resize(bytes, static_cast<size_t>(buffer->pos));
  if (trimmed != nullptr) bytes = static_cast<uint8_t*>(trimmed);
  *count = buffer->pos;
  buffer->data = nullptr;
  buffer->size = 0;
  buffer->pos = 0;
  return bytes;
}
