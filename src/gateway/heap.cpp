#include "gateway/heap.h"

#include <cstdlib>

namespace {
long live_blocks = 0;
long allocations = 0;
long fail_at = 0;       // allocation number that fails first; 0: none
bool fail_every = false;

// Counts one allocation and tells whether the test switch fails it.
bool heap_should_fail() {
  ++allocations;
  if (fail_at <= 0 || allocations < fail_at) return false;
  return allocations == fail_at || fail_every;
}
}  // namespace

void* heap_take(std::size_t size) {
  if (heap_should_fail()) return nullptr;
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) ++live_blocks;
  return block;
}

void* heap_resize(void* block, std::size_t size) {
  if (block == nullptr) return heap_take(size);
  if (heap_should_fail()) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

void heap_free(void* block) {
  if (block == nullptr) return;
  --live_blocks;
  std::free(block);
}

void heap_fail_at(long n, bool every) {
  fail_at = n <= 0 ? 0 : allocations + n;
  fail_every = every;
}

long heap_live_blocks() { return live_blocks; }

long heap_allocation_count() { return allocations; }
