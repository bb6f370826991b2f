// SPDX-License-Identifier: BSD-3-Clause
// Bit tricks of the coder: counting settled and follow bits, moving bits
// between the byte format (first bit in 0x01) and registers that take bits
// top first, and the exact scaling of a count to the code interval by a
// multiplication instead of a division.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "base/checks.h"
#include "base/platform.h"
#include "coder/constants.h"

// Keeps a function out of its callers, so that their common path stays short;
// and puts a step of the per-symbol path into its caller whatever its size.
#define CODE_OUT_OF_LINE KESTREL_NOINLINE
#define CODE_INLINE KESTREL_ALWAYS_INLINE

// A second build of the coder's loops for x86-64 processors with BMI1, BMI2
// and LZCNT: count-leading-zeros in one step and shifts that need no fixed
// register. Chosen at run time; every other build has the baseline loops
// alone. A loop marked CODE_WIDE is compiled for those instructions.
#if defined(KESTREL_WIDE_LOOPS)
#define CODE_WIDE_LOOPS 1
#define CODE_WIDE KESTREL_WIDE_TARGET
#endif

// True when the loops for wider instructions run: the processor has them
// and platform_limit_path has not switched them off.
inline bool code_wide_in_use() { return platform_path() == PATH_WIDE; }

// Marks a coder's loop over a vector of symbols. GCC would otherwise pack
// pairs of its registers into vector registers and unpack them at every
// symbol; the loop keeps them in general registers.
#define CODE_RUN KESTREL_NOINLINE KESTREL_NO_SLP_VECTORIZE

// Leading zero bits of x, which must not be 0: 0..31.
inline int code_leading_zeros(uint32_t x) {
  KESTREL_ASSERT(x != 0);
  return platform_leading_zeros(x);
}

// Trailing zero bits of x, which must not be 0: 0..31.
inline int code_trailing_zeros(uint32_t x) {
  KESTREL_ASSERT(x != 0);
  return platform_trailing_zeros(x);
}

// Leading zero bits of x, which must not be 0: 0..63.
inline int code_leading_zeros64(uint64_t x) {
  KESTREL_ASSERT(x != 0);
  return platform_leading_zeros64(x);
}

// Number of leading bits on which two code values (0..CODE_TOP) agree,
// 0..CODE_BITS: the bits the coder has settled. The marker bit below the
// code bits stops the count at CODE_BITS when the values are equal.
inline int code_settled_bits(uint32_t low, uint32_t high) {
  KESTREL_ASSERT(low <= uint32_t{CODE_TOP} && high <= uint32_t{CODE_TOP});
  return code_leading_zeros(((low ^ high) << (32 - CODE_BITS)) | (1u << (31 - CODE_BITS)));
}

// Number of follow conditions in a row behind the settled (0..CODE_BITS)
// leading bits of low <= high: below the first bit where they differ (low 0,
// high 1), the bits where low holds 1 and high holds 0, counted from the top
// down. 0..CODE_BITS-1-settled.
inline int code_follow_run(uint32_t low, uint32_t high, int settled) {
  KESTREL_ASSERT(low <= high && high <= uint32_t{CODE_TOP} && settled >= 0 && settled <= CODE_BITS);
  uint64_t straddle = (static_cast<uint64_t>(low & ~high) << (64 - CODE_BITS)) << (settled + 1);
  return code_leading_zeros64(~straddle);  // the lowest 31 bits of ~straddle are set
}

// Every byte with its bits in reverse order: the coder moves bits top first,
// the byte format stores the first bit of each byte in its least significant
// place.
constexpr std::array<uint8_t, 256> code_make_reversed_bytes() {
  std::array<uint8_t, 256> reversed{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t r = 0;
    for (int bit = 0; bit < 8; ++bit) r |= ((byte >> bit) & 1u) << (7 - bit);
    reversed[byte] = static_cast<uint8_t>(r);
  }
  return reversed;
}
inline constexpr std::array<uint8_t, 256> CODE_REVERSED_BYTES = code_make_reversed_bytes();

// Reverses the bits of each of count (>= 0) bytes in place.
void code_reverse_bytes(uint8_t* bytes, int32_t count);

// The 8 bytes at bytes as one number, the first byte in the top 8 bits.
inline uint64_t code_load_top_first(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
#if defined(KESTREL_LITTLE_ENDIAN)
  return platform_swap_bytes64(word);
#elif defined(KESTREL_BIG_ENDIAN)
  return word;
#else
  word = 0;
  for (int i = 0; i < 8; ++i) word = (word << 8) | bytes[i];
  return word;
#endif
}

// Stores word into 8 bytes, its top 8 bits first.
inline void code_store_top_first(uint8_t* bytes, uint64_t word) {
#if defined(KESTREL_LITTLE_ENDIAN)
  word = platform_swap_bytes64(word);
  std::memcpy(bytes, &word, sizeof word);
#elif defined(KESTREL_BIG_ENDIAN)
  std::memcpy(bytes, &word, sizeof word);
#else
  for (int i = 7; i >= 0; --i, word >>= 8) bytes[i] = static_cast<uint8_t>(word);
#endif
}

// Exact floor(range * count / total) for 1 <= range <= CODE_TOP+1 and
// 0 <= count <= total <= MAX_FREQUENCY: the scaled bound of a slice.
//
// With R = ceil(2^48 / total) = (2^48 + d) / total, 0 <= d < total, the
// product range * count * R / 2^48 equals x + x * d / 2^48, where x = range *
// count / total. The error x * d / 2^48 < 2^16 * 2^14 / 2^48 = 2^-18. The
// fraction of x is a multiple of 1/total, so at most 1 - 1/total, and 1/total
// >= 2^-14 exceeds the error: rounding down gives floor(x) exactly. count * R
// < 2^48 + total fits 64 bits; the range is shifted up 16 bits so that the
// high half of one 64-by-64-bit product is the result. count * R depends on
// the model alone, so only one multiplication waits for the range.
static_assert(uint64_t{CODE_TOP + 1} * MAX_FREQUENCY * MAX_FREQUENCY < (uint64_t{1} << 48),
              "the scaling error stays below 1 / total");
#if defined(KESTREL_MULTIPLY_HIGH)
constexpr int CODE_RECIPROCAL_SHIFT = 48;
extern const std::array<uint64_t, MAX_FREQUENCY + 1> CODE_RECIPROCALS;  // ceil(2^48 / total); entry 0 unused
inline uint32_t code_scale(uint32_t range, uint32_t count, uint32_t total) {
  KESTREL_ASSERT(range >= 1 && range <= uint32_t{CODE_TOP} + 1 && count <= total && total >= 1 && total <= uint32_t{MAX_FREQUENCY});
  uint64_t scaled_count = uint64_t{count} * CODE_RECIPROCALS[total];
  return static_cast<uint32_t>(platform_multiply_high(uint64_t{range} << (64 - CODE_RECIPROCAL_SHIFT), scaled_count));
}
#else
inline uint32_t code_scale(uint32_t range, uint32_t count, uint32_t total) {
  KESTREL_ASSERT(range >= 1 && range <= uint32_t{CODE_TOP} + 1 && count <= total && total >= 1 && total <= uint32_t{MAX_FREQUENCY});
  return range * count / total;
}
#endif
