// SPDX-License-Identifier: BSD-3-Clause
#include "coder/bits.h"

#if defined(__SIZEOF_INT128__)
static constexpr std::array<uint64_t, MAX_FREQUENCY + 1> code_make_reciprocals() {
  std::array<uint64_t, MAX_FREQUENCY + 1> reciprocals{};
  for (uint64_t d = 1; d <= MAX_FREQUENCY; ++d) {
    reciprocals[d] = ((uint64_t{1} << CODE_RECIPROCAL_SHIFT) + d - 1) / d;
  }
  return reciprocals;
}

const std::array<uint64_t, MAX_FREQUENCY + 1> CODE_RECIPROCALS = code_make_reciprocals();
#endif

#if defined(__SSE2__) && !defined(KESTREL_PORTABLE)
#include <emmintrin.h>

// Swaps the bit groups of every byte of 16: halves, then pairs, then single bits.
static __m128i code_reverse_16(__m128i bytes) {
  const __m128i nibbles = _mm_set1_epi8(0x0F);
  const __m128i pairs = _mm_set1_epi8(0x33);
  const __m128i bits = _mm_set1_epi8(0x55);
  bytes = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(bytes, 4), nibbles), _mm_slli_epi16(_mm_and_si128(bytes, nibbles), 4));
  bytes = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(bytes, 2), pairs), _mm_slli_epi16(_mm_and_si128(bytes, pairs), 2));
  return _mm_or_si128(_mm_and_si128(_mm_srli_epi16(bytes, 1), bits), _mm_slli_epi16(_mm_and_si128(bytes, bits), 1));
}
#endif

void code_reverse_bytes(uint8_t* bytes, int32_t count) {
  int32_t i = 0;
#if defined(__SSE2__) && !defined(KESTREL_PORTABLE)
  for (; i + 16 <= count; i += 16) {
    __m128i* block = reinterpret_cast<__m128i*>(bytes + i);
    _mm_storeu_si128(block, code_reverse_16(_mm_loadu_si128(block)));
  }
#endif
  for (; i < count; ++i) bytes[i] = CODE_REVERSED_BYTES[bytes[i]];
}

#if defined(CODE_WIDE_LOOPS)
#include <cpuid.h>

// BMI1 and BMI2 (leaf 7, EBX bits 3 and 8) and LZCNT (leaf 0x80000001, ECX bit 5).
static bool code_processor_has_wide() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  bool bmi = (b & (1u << 3)) != 0 && (b & (1u << 8)) != 0;
  if (__get_cpuid(0x80000001, &a, &b, &c, &d) == 0) return false;
  return bmi && (c & (1u << 5)) != 0;
}

static const bool CODE_PROCESSOR_HAS_WIDE = code_processor_has_wide();
static bool code_wide = CODE_PROCESSOR_HAS_WIDE;

bool code_wide_in_use() { return code_wide; }

bool code_use_wide(bool on) {
  code_wide = on && CODE_PROCESSOR_HAS_WIDE;
  return code_wide;
}
#else
bool code_wide_in_use() { return false; }

bool code_use_wide(bool) { return false; }
#endif
