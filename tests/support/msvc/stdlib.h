// SPDX-License-Identifier: BSD-3-Clause
// Stand-in for the C runtime's header (see cstddef here): what the core and
// base/platform.h use of it.
#pragma once
#include <stddef.h>
extern "C" {
void* malloc(size_t size);
void* realloc(void* block, size_t size);
void free(void* block);
[[noreturn]] void abort();
unsigned long long _byteswap_uint64(unsigned long long value);
}
