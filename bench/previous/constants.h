// SPDX-License-Identifier: BSD-3-Clause
// Constants shared by the encoder, the decoder and the model.
#pragma once

#include <array>
#include <cstdint>

// Code registers are 16 bits wide: with counts below CODE_QUARTER every
// product of a range (at most 0x10000) and a count fits in 32 signed bits.
constexpr int32_t CODE_BITS = 16;
constexpr int32_t CODE_TOP = (1 << CODE_BITS) - 1;     // largest code value, the initial high
constexpr int32_t CODE_HALF = CODE_TOP / 2 + 1;        // 0x8000: bits on which low and high agree are settled
constexpr int32_t CODE_QUARTER = CODE_HALF / 2;        // 0x4000: an interval wider than this never vanishes
constexpr int32_t CODE_THREE_QUARTERS = CODE_HALF + CODE_QUARTER;  // 0xC000

// Largest model total: kept below CODE_QUARTER so that every symbol with a
// nonzero count keeps a nonempty share of the narrowest interval.
constexpr int32_t MAX_FREQUENCY = CODE_QUARTER - 1;  // 16383

// Largest uniform alphabet: after a halving its total is at most
// (MAX_FREQUENCY + nsym) / 2, and the count that follows must stay within
// MAX_FREQUENCY.
constexpr int32_t MAX_UNIFORM_ALPHABET = MAX_FREQUENCY - 1;  // 16382

// End-of-file reads a file-fed decoder tolerates: 14 reads give 112 one bits,
// more than the final bits of any stream need to settle its last symbols.
constexpr int32_t MAX_GARBAGE_READS = 14;

// Keeps a function out of its callers, so that their common path stays short.
#if defined(__GNUC__)
#define PREVIOUS_OUT_OF_LINE __attribute__((noinline))
#else
#define PREVIOUS_OUT_OF_LINE
#endif

// True when renormalisation has work to do: the interval no longer straddles
// the middle, or it lies within the middle half (a follow condition).
inline bool code_needs_renormalising(int32_t low, int32_t high) {
  return low >= CODE_HALF || high < CODE_HALF || (low >= CODE_QUARTER && high < CODE_THREE_QUARTERS);
}

// Number of leading bits on which two code values (0..CODE_TOP) agree,
// 0..CODE_BITS: the bits the coder has settled.
inline int code_equal_leading_bits(int32_t a, int32_t b) {
  uint32_t differ = static_cast<uint32_t>(a ^ b) & CODE_TOP;
  if (differ == 0) return CODE_BITS;
  int bits = 0;
#if defined(__GNUC__)
  bits = __builtin_clz(differ) - (32 - CODE_BITS);
#else
  while ((differ & CODE_HALF) == 0) {
    differ <<= 1;
    ++bits;
  }
#endif
  return bits;
}

// Number of significant bits of x, 0..32 (0 for x = 0).
inline int32_t code_bit_length(uint32_t x) {
#if defined(__GNUC__)
  return x == 0 ? 0 : 32 - __builtin_clz(x);
#else
  int32_t bits = 0;
  for (; x != 0; x >>= 1) ++bits;
  return bits;
#endif
}

// Number of pending follow conditions in a row, 0..CODE_BITS-1, once the
// settled bits are gone (low < CODE_HALF <= high): the bits below the top
// where low holds 1 and high holds 0, counted from the top down.
inline int code_follow_run(int32_t low, int32_t high) {
  uint32_t straddle = (static_cast<uint32_t>(low & ~high) << 1) & CODE_TOP;
  return code_equal_leading_bits(static_cast<int32_t>(straddle), CODE_TOP);
}

// The low count bits of value (count 0..CODE_BITS) in reverse order: the
// coder settles bits top first, and the byte format stores the first bit of
// each byte in its least significant place.
constexpr uint32_t code_reverse_bits(uint32_t value, int count) {
  uint32_t v = value & CODE_TOP;
  v = ((v >> 1) & 0x5555u) | ((v & 0x5555u) << 1);
  v = ((v >> 2) & 0x3333u) | ((v & 0x3333u) << 2);
  v = ((v >> 4) & 0x0F0Fu) | ((v & 0x0F0Fu) << 4);
  v = ((v >> 8) & 0x00FFu) | ((v & 0x00FFu) << 8);
  return v >> (CODE_BITS - count);
}

// Every byte with its bits in reverse order, for moving whole bytes between
// the byte format and registers that take bits top first.
constexpr std::array<uint8_t, 256> code_make_reversed_bytes() {
  std::array<uint8_t, 256> reversed{};
  for (uint32_t byte = 0; byte < 256; ++byte) reversed[byte] = static_cast<uint8_t>(code_reverse_bits(byte, 8));
  return reversed;
}
inline constexpr std::array<uint8_t, 256> CODE_REVERSED_BYTES = code_make_reversed_bytes();

// Exact floor(n / d) for 0 <= n < 2^30 and 1 <= d <= MAX_FREQUENCY: every
// product of a range and a cumulative count divided by the model total. A
// multiplication by the rounded-up reciprocal ceil(2^44 / d) errs by less
// than n / 2^44 < 2^-14 < 1/d, too little to reach the next integer.
#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 CodeWide;  // a 64-by-64-bit product
extern const std::array<uint64_t, MAX_FREQUENCY + 1> CODE_RECIPROCALS;
inline int32_t code_divide_by_total(int32_t n, int32_t d) {
  CodeWide product = static_cast<CodeWide>(static_cast<uint64_t>(n)) * CODE_RECIPROCALS[d];
  return static_cast<int32_t>(static_cast<uint64_t>(product >> 44));
}
#else
inline int32_t code_divide_by_total(int32_t n, int32_t d) { return n / d; }
#endif
