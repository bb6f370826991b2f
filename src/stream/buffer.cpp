#include "stream/buffer.h"

#include <cstring>

#include "gateway/failure.h"
#include "gateway/heap.h"
#include "gateway/messages.h"

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

// Grows a full block by BUFFER_GROWTH bytes; the size stays a signed 32-bit count.
static void buffer_grow(ByteBuffer* buffer) {
  if (buffer->size > INT32_MAX - BUFFER_GROWTH) raise_failure(MSG_BUFFER_ALLOCATION);
  int32_t size = buffer->size + BUFFER_GROWTH;
  void* data = heap_resize(buffer->data, static_cast<size_t>(size));
  if (data == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  buffer->data = static_cast<uint8_t*>(data);
  buffer->size = size;
}

int buffer_put(ByteBuffer* buffer, int byte) {
  if (buffer->pos == buffer->size) buffer_grow(buffer);
  buffer->data[buffer->pos++] = static_cast<uint8_t>(byte);
  return byte & 0xFF;
}

int buffer_get(ByteBuffer* buffer) {
  if (buffer->pos == buffer->size) return 0;
  return buffer->data[buffer->pos++];
}

int buffer_seek(ByteBuffer* buffer, int64_t offset, int whence) {
  int64_t base = whence == 1 ? buffer->pos : whence == 2 ? buffer->size : 0;
  int64_t target = offset < -base ? 0 : offset > buffer->size - base ? buffer->size : base + offset;
  buffer->pos = static_cast<int32_t>(target);
  return 0;
}

uint8_t* buffer_copy_out(const ByteBuffer* buffer, int32_t* count) {
  *count = 0;
  if (buffer->pos == 0) return nullptr;
  auto* copy = static_cast<uint8_t*>(heap_take(static_cast<size_t>(buffer->pos)));
  if (copy == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  std::memcpy(copy, buffer->data, static_cast<size_t>(buffer->pos));
  *count = buffer->pos;
  return copy;
}
