// SPDX-License-Identifier: BSD-3-Clause
#include "coder/bits.h"

#if defined(KESTREL_MULTIPLY_HIGH)
static constexpr std::array<uint64_t, MAX_FREQUENCY + 1> code_make_reciprocals() {
  std::array<uint64_t, MAX_FREQUENCY + 1> reciprocals{};
  for (uint64_t d = 1; d <= MAX_FREQUENCY; ++d) {
    reciprocals[d] = ((uint64_t{1} << CODE_RECIPROCAL_SHIFT) + d - 1) / d;
  }
  return reciprocals;
}

const std::array<uint64_t, MAX_FREQUENCY + 1> CODE_RECIPROCALS = code_make_reciprocals();
#endif

#if defined(KESTREL_SSE2)
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
  KESTREL_ASSERT(count >= 0);
  int32_t i = 0;
#if defined(KESTREL_SSE2)
  for (; i + 16 <= count && platform_path() != PATH_PLAIN; i += 16) {
    __m128i* block = reinterpret_cast<__m128i*>(bytes + i);
    _mm_storeu_si128(block, code_reverse_16(_mm_loadu_si128(block)));
  }
#endif
  for (; i < count; ++i) bytes[i] = CODE_REVERSED_BYTES[bytes[i]];
}
