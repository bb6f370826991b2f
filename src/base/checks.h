// SPDX-License-Identifier: BSD-3-Clause
// KESTREL_ASSERT(condition): checks a claim that a comment makes (a range, a
// count, an invariant) in builds made with KESTREL_CHECKS (the CMake build's
// core and tests, the sanitizer and fuzz builds), and compiles to nothing
// elsewhere: the module (src/module.mk's flags) and the benchmarks. A broken
// claim is a bug of the module, never a caller's error: it aborts.
#pragma once

#if defined(KESTREL_CHECKS)
#include <cstdio>
#include <cstdlib>
#define KESTREL_ASSERT(condition)                                                              \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "%s:%d: broken claim: %s\n", __FILE__, __LINE__, #condition);       \
      std::abort();                                                                             \
    }                                                                                           \
  } while (0)
#else
#define KESTREL_ASSERT(condition) ((void)0)
#endif
