// SPDX-License-Identifier: BSD-3-Clause
#include "base/heap.h"

#include <cstdint>
#include <cstdlib>

namespace {
// Every block carries its size in front of it, so that live and peak bytes
// can be counted; the header keeps the block aligned for any type.
struct alignas(16) BlockHeader {
  std::size_t size;  // bytes the caller asked for
};

long live_blocks = 0;
long allocations = 0;
std::size_t live_bytes = 0;
std::size_t peak_bytes = 0;
long fail_at = 0;  // allocation number that fails first; 0: none
bool fail_every = false;
std::size_t byte_limit = SIZE_MAX;  // live bytes the test switch allows; SIZE_MAX: no limit

// Counts one allocation and tells whether the test switch fails it.
bool heap_should_fail() {
  ++allocations;
  if (fail_at <= 0 || allocations < fail_at) return false;
  return allocations == fail_at || fail_every;
}

void heap_count_bytes(std::size_t freed, std::size_t taken) {
  live_bytes = live_bytes - freed + taken;
  if (live_bytes > peak_bytes) peak_bytes = live_bytes;
}
}  // namespace

void* heap_take(std::size_t size) {
  if (heap_should_fail() || size > heap_room()) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->size = size;
  ++live_blocks;
  heap_count_bytes(0, size);
  return header + 1;
}

void* heap_resize(void* block, std::size_t size) {
  if (block == nullptr) return heap_take(size);
  if (heap_should_fail()) return nullptr;
  BlockHeader* old_header = static_cast<BlockHeader*>(block) - 1;
  std::size_t old_size = old_header->size;
  if (size > old_size && size - old_size > heap_room()) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::realloc(old_header, sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->size = size;
  heap_count_bytes(old_size, size);
  return header + 1;
}

void heap_free(void* block) {
  if (block == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  --live_blocks;
  heap_count_bytes(header->size, 0);
  std::free(header);
}

void heap_fail_at(long n, bool every) {
  fail_at = n <= 0 ? 0 : allocations + n;
  fail_every = every;
}

void heap_limit_bytes(std::size_t limit) { byte_limit = limit; }

std::size_t heap_room() {
  std::size_t limit = byte_limit < SIZE_MAX - sizeof(BlockHeader) ? byte_limit : SIZE_MAX - sizeof(BlockHeader);
  return live_bytes < limit ? limit - live_bytes : 0;
}

long heap_live_blocks() { return live_blocks; }

long heap_allocation_count() { return allocations; }

std::size_t heap_live_bytes() { return live_bytes; }

std::size_t heap_peak_bytes() { return peak_bytes; }

void heap_reset_peak() { peak_bytes = live_bytes; }
