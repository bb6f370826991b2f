// SPDX-License-Identifier: BSD-3-Clause
// The one header that knows the compiler and the processor: nothing else in
// the module tests a compiler's or a processor's macro. It detects
// - the compiler: GCC and Clang (KESTREL_GNU), Microsoft's (KESTREL_MSVC,
//   which clang-cl also is), or another;
// - the vector instructions: SSE2 on x86-64 under all three (KESTREL_SSE2),
//   unless the build asks for the plain path with KESTREL_PORTABLE;
// - the second build of the coder's loops for BMI1, BMI2 and LZCNT, chosen
//   at run time (KESTREL_WIDE_LOOPS, KESTREL_WIDE_TARGET);
// and gives the steps every compiler spells differently: leading and
// trailing zero counts, the high half of a 64-by-64-bit product, byte
// swaps, cpuid, and the attributes that place code.
//
// Which path runs is one run-time switch, platform_limit_path: the tests and
// benchmarks take the plain path, or the vector path without the wide
// loops, on a machine that has more.
#pragma once

#include <cstdint>

// ---- The compiler.
#if defined(_MSC_VER)
#define KESTREL_MSVC 1  // Microsoft's compiler, or clang-cl, which takes its branches
#elif defined(__GNUC__)
#define KESTREL_GNU 1   // GCC, Clang, MinGW-w64's GCC
#if !defined(__clang__)
#define KESTREL_GCC 1   // GCC itself, whose optimize attribute Clang lacks
#endif
#endif

// ---- The processor.
// Microsoft's compiler defines none of GCC's macros for the processor, and
// SSE2 is part of every x86-64 processor.
#if defined(KESTREL_MSVC)
#if defined(_M_X64) && !defined(_M_ARM64EC)
#define KESTREL_X86_64 1
#define KESTREL_HAS_SSE2 1
#endif
#else
#if defined(__x86_64__)
#define KESTREL_X86_64 1
#endif
#if defined(__SSE2__)
#define KESTREL_HAS_SSE2 1
#endif
#endif
#if defined(KESTREL_HAS_SSE2) && !defined(KESTREL_PORTABLE)
#define KESTREL_SSE2 1  // the vector path is built
#include <emmintrin.h>
#endif
#if !defined(KESTREL_PORTABLE) && defined(KESTREL_X86_64) && defined(KESTREL_GNU)
#define KESTREL_WIDE_LOOPS 1  // a function may be compiled for instructions the build does not assume
#define KESTREL_WIDE_TARGET __attribute__((target("bmi,bmi2,lzcnt")))
#endif

#if defined(KESTREL_MSVC)
#include <intrin.h>
#include <stdlib.h>  // _byteswap_uint64
#elif defined(KESTREL_GNU) && defined(KESTREL_X86_64)
#include <cpuid.h>
#endif

// ---- Attributes that place code.
#if defined(KESTREL_GNU)
#define KESTREL_NOINLINE __attribute__((noinline))
#define KESTREL_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(KESTREL_MSVC)
#define KESTREL_NOINLINE __declspec(noinline)
#define KESTREL_ALWAYS_INLINE __forceinline
#else
#define KESTREL_NOINLINE
#define KESTREL_ALWAYS_INLINE inline
#endif
// Keeps GCC from packing pairs of general registers into vector registers.
#if defined(KESTREL_GCC)
#define KESTREL_NO_SLP_VECTORIZE __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define KESTREL_NO_SLP_VECTORIZE
#endif
// The one symbol a shared library exports, whatever the linker's default.
#if defined(_WIN32)
#define KESTREL_EXPORT __declspec(dllexport)
#elif defined(KESTREL_GNU)
#define KESTREL_EXPORT __attribute__((visibility("default")))
#else
#define KESTREL_EXPORT
#endif

// ---- Zero counts; x must not be 0. One instruction each where the
// compiler has them (KESTREL_ZERO_COUNTS), a loop elsewhere.
#if defined(KESTREL_GNU) || (defined(KESTREL_MSVC) && defined(KESTREL_X86_64))
#define KESTREL_ZERO_COUNTS 1
#endif

// Leading zero bits of x: 0..31.
inline int platform_leading_zeros(uint32_t x) {
#if defined(KESTREL_GNU)
  return __builtin_clz(x);
#elif defined(KESTREL_ZERO_COUNTS)
  unsigned long index;
  _BitScanReverse(&index, x);
  return 31 - static_cast<int>(index);
#else
  int bits = 0;
  for (; (x & 0x80000000u) == 0; x <<= 1) ++bits;
  return bits;
#endif
}

// Trailing zero bits of x: 0..31.
inline int platform_trailing_zeros(uint32_t x) {
#if defined(KESTREL_GNU)
  return __builtin_ctz(x);
#elif defined(KESTREL_ZERO_COUNTS)
  unsigned long index;
  _BitScanForward(&index, x);
  return static_cast<int>(index);
#else
  int bits = 0;
  for (; (x & 1u) == 0; x >>= 1) ++bits;
  return bits;
#endif
}

// Leading zero bits of x: 0..63.
inline int platform_leading_zeros64(uint64_t x) {
#if defined(KESTREL_GNU)
  return __builtin_clzll(x);
#elif defined(KESTREL_ZERO_COUNTS)
  unsigned long index;
  _BitScanReverse64(&index, x);
  return 63 - static_cast<int>(index);
#else
  int bits = 0;
  for (; (x >> 63) == 0; x <<= 1) ++bits;
  return bits;
#endif
}

// Trailing zero bits of x: 0..63.
inline int platform_trailing_zeros64(uint64_t x) {
#if defined(KESTREL_GNU)
  return __builtin_ctzll(x);
#elif defined(KESTREL_ZERO_COUNTS)
  unsigned long index;
  _BitScanForward64(&index, x);
  return static_cast<int>(index);
#else
  int bits = 0;
  for (; (x & 1u) == 0; x >>= 1) ++bits;
  return bits;
#endif
}

// ---- The high 64 bits of the 128-bit product a * b, where the compiler has
// it in one step (KESTREL_MULTIPLY_HIGH).
#if defined(KESTREL_GNU) && defined(__SIZEOF_INT128__)
#define KESTREL_MULTIPLY_HIGH 1
inline uint64_t platform_multiply_high(uint64_t a, uint64_t b) {
  __extension__ typedef unsigned __int128 Wide;
  return static_cast<uint64_t>((static_cast<Wide>(a) * b) >> 64);
}
#elif defined(KESTREL_MSVC) && defined(KESTREL_X86_64)
#define KESTREL_MULTIPLY_HIGH 1
inline uint64_t platform_multiply_high(uint64_t a, uint64_t b) { return __umulh(a, b); }
#endif

// ---- Byte order: the 8 bytes of x in the reverse order, where the compiler
// has it in one step; KESTREL_LITTLE_ENDIAN or KESTREL_BIG_ENDIAN when known.
#if defined(KESTREL_GNU) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define KESTREL_LITTLE_ENDIAN 1
inline uint64_t platform_swap_bytes64(uint64_t x) { return __builtin_bswap64(x); }
#elif defined(KESTREL_GNU) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define KESTREL_BIG_ENDIAN 1
#elif defined(KESTREL_MSVC) && defined(KESTREL_X86_64)
#define KESTREL_LITTLE_ENDIAN 1
inline uint64_t platform_swap_bytes64(uint64_t x) { return _byteswap_uint64(x); }
#endif

// ---- cpuid: the four registers (EAX, EBX, ECX, EDX) of leaf and subleaf
// into regs; false where the processor has no such leaf or no cpuid.
inline bool platform_cpuid(uint32_t leaf, uint32_t subleaf, uint32_t regs[4]) {
#if defined(KESTREL_GNU) && defined(KESTREL_X86_64)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(leaf, subleaf, &a, &b, &c, &d) == 0) return false;
  regs[0] = a, regs[1] = b, regs[2] = c, regs[3] = d;
  return true;
#elif defined(KESTREL_MSVC) && defined(KESTREL_X86_64)
  int r[4];
  __cpuid(r, static_cast<int>(leaf & 0x80000000u));  // the highest leaf of this range
  if (static_cast<uint32_t>(r[0]) < leaf) return false;
  __cpuidex(r, static_cast<int>(leaf), static_cast<int>(subleaf));
  for (int i = 0; i < 4; ++i) regs[i] = static_cast<uint32_t>(r[i]);
  return true;
#else
  (void)leaf, (void)subleaf, (void)regs;
  return false;
#endif
}

// ---- A build that must have the fast steps (KESTREL_REQUIRE_FAST, set by
// scripts/check_msvc.sh) stops here when this header would give it plain
// ones: the vector rows, the one-step zero counts, multiply-high and byte
// swap.
#if defined(KESTREL_REQUIRE_FAST)
#if !defined(KESTREL_SSE2) || !defined(KESTREL_ZERO_COUNTS) || !defined(KESTREL_MULTIPLY_HIGH) || \
    !defined(KESTREL_LITTLE_ENDIAN)
#error "this compiler would get the plain path"
#endif
#endif

// ---- The run-time switch of paths.
enum PlatformPath {
  PATH_PLAIN,   // plain C++ loops everywhere
  PATH_VECTOR,  // SSE2 rows and conversions, the baseline build of the coder's loops
  PATH_WIDE     // as PATH_VECTOR, with the coder's loops built for BMI1, BMI2 and LZCNT
};

// The path in use: the fastest this build and processor have, unless
// platform_limit_path has set a lower one.
extern PlatformPath platform_path_in_use;
inline PlatformPath platform_path() { return platform_path_in_use; }

// The fastest path of this build on this processor.
PlatformPath platform_best_path();

// Takes at most path from now on (the best path where it has less); returns
// the path in use afterwards. For tests and benchmarks, which run each.
PlatformPath platform_limit_path(PlatformPath path);
