// SPDX-License-Identifier: BSD-3-Clause
// The module's one way to take heap memory for its own records and blocks.
// It never raises: callers test for nullptr and raise their own message.
// A test switch makes a chosen allocation fail; counts of live blocks and of
// live and peak bytes show leaks and memory use.
#pragma once

#include <cstddef>

// A block of size bytes (size 0 gives a valid, distinct block), or nullptr
// when the memory cannot be had or the test switch fails this allocation.
void* heap_take(std::size_t size);

// Resizes block (from heap_take) to size bytes, keeping its contents. On
// failure returns nullptr and leaves block valid and unchanged.
void* heap_resize(void* block, std::size_t size);

// Frees a block from heap_take or heap_resize; nullptr is ignored.
void heap_free(void* block);

// Test switch: the nth allocation from now (1 = the next; heap_take and
// heap_resize both count) fails; with every, all allocations after it fail
// as well. n <= 0 switches failures off.
void heap_fail_at(long n, bool every);

// Test switch: allocations that would raise the live bytes above limit
// fail, as when an address-space limit is reached; SIZE_MAX switches it off.
void heap_limit_bytes(std::size_t limit);

// Bytes that can still be taken before the limit is reached (SIZE_MAX less
// a block header when there is none).
std::size_t heap_room();

// Number of blocks taken and not yet freed.
long heap_live_blocks();

// Number of allocations (takes and resizes) so far.
long heap_allocation_count();

// Bytes held in live blocks now, and at most since heap_reset_peak.
std::size_t heap_live_bytes();
std::size_t heap_peak_bytes();
void heap_reset_peak();

// Frees a temporary block of one call when its scope ends, also when a
// failure passes through.
struct HeapBlock {
  unsigned char* data;  // block from heap_take, or nullptr
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;
  ~HeapBlock() { heap_free(data); }
};
