// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/numbers.h"

#include <cstring>

#include "base/platform.h"

#if defined(KESTREL_SSE2)
#define KESTREL_NUMBERS_SSE2 1
#endif

namespace {

// True when the plain loops must run (platform_limit_path).
inline bool portable_forced() { return platform_path() == PATH_PLAIN; }

// The conversion of one element: what every loop, plain or vector, gives.
inline int32_t number_to_int(double value) { return double_to_int(value); }
inline int32_t number_to_int(float value) { return double_to_int(static_cast<double>(value)); }
inline int32_t number_to_int(int8_t value) { return value; }
inline int32_t number_to_int(uint8_t value) { return value; }
inline int32_t number_to_int(int16_t value) { return value; }
inline int32_t number_to_int(uint16_t value) { return value; }
inline int32_t number_to_int(int32_t value) { return value; }
inline int32_t number_to_int(uint32_t value) {
  return value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN;
}
inline int32_t number_to_int(int64_t value) {
  return value >= INT32_MIN && value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN;
}
inline int32_t number_to_int(uint64_t value) {
  return value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN;
}

// Vector loops. Each converts the leading elements of a run, a multiple of
// its width, and returns how many; the plain loop converts the rest. The
// template is the vector loop of the classes that have none.
template <typename Element>
std::size_t ints_vector(const Element*, std::size_t, int32_t*) { return 0; }
template <typename Element>
std::size_t from_ints_vector(const int32_t*, std::size_t, Element*) { return 0; }
std::size_t low_bytes_vector(const int32_t*, std::size_t, uint8_t*);

#if defined(KESTREL_NUMBERS_SSE2)
inline __m128i load4(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }
inline void store4(void* to, __m128i value) { _mm_storeu_si128(static_cast<__m128i*>(to), value); }

// cvttpd2dq and cvttps2dq truncate toward zero and give 0x80000000
// (INT32_MIN) for NaN and for every value whose truncation lies outside the
// signed 32-bit range: exactly number_to_int.
std::size_t ints_vector(const double* in, std::size_t count, int32_t* out) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i low = _mm_cvttpd_epi32(_mm_loadu_pd(in + i));
    __m128i high = _mm_cvttpd_epi32(_mm_loadu_pd(in + i + 2));
    store4(out + i, _mm_unpacklo_epi64(low, high));
  }
  return i;
}

std::size_t ints_vector(const float* in, std::size_t count, int32_t* out) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) store4(out + i, _mm_cvttps_epi32(_mm_loadu_ps(in + i)));
  return i;
}

// Widens 8 16-bit lanes to 32 bits: by zeros, or by copies of the lane
// shifted back arithmetically so that the sign spreads.
inline void store_widened16(int32_t* out, __m128i lanes, bool is_signed) {
  if (is_signed) {
    store4(out, _mm_srai_epi32(_mm_unpacklo_epi16(lanes, lanes), 16));
    store4(out + 4, _mm_srai_epi32(_mm_unpackhi_epi16(lanes, lanes), 16));
  } else {
    store4(out, _mm_unpacklo_epi16(lanes, _mm_setzero_si128()));
    store4(out + 4, _mm_unpackhi_epi16(lanes, _mm_setzero_si128()));
  }
}

std::size_t bytes_to_ints_vector(const void* in, std::size_t count, int32_t* out, bool is_signed) {
  const uint8_t* bytes = static_cast<const uint8_t*>(in);
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i v = load4(bytes + i);
    __m128i low = is_signed ? _mm_srai_epi16(_mm_unpacklo_epi8(v, v), 8) : _mm_unpacklo_epi8(v, _mm_setzero_si128());
    __m128i high = is_signed ? _mm_srai_epi16(_mm_unpackhi_epi8(v, v), 8) : _mm_unpackhi_epi8(v, _mm_setzero_si128());
    store_widened16(out + i, low, is_signed);
    store_widened16(out + i + 8, high, is_signed);
  }
  return i;
}
std::size_t ints_vector(const uint8_t* in, std::size_t count, int32_t* out) {
  return bytes_to_ints_vector(in, count, out, false);
}
std::size_t ints_vector(const int8_t* in, std::size_t count, int32_t* out) {
  return bytes_to_ints_vector(in, count, out, true);
}

std::size_t halves_to_ints_vector(const void* in, std::size_t count, int32_t* out, bool is_signed) {
  const uint16_t* halves = static_cast<const uint16_t*>(in);
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) store_widened16(out + i, load4(halves + i), is_signed);
  return i;
}
std::size_t ints_vector(const uint16_t* in, std::size_t count, int32_t* out) {
  return halves_to_ints_vector(in, count, out, false);
}
std::size_t ints_vector(const int16_t* in, std::size_t count, int32_t* out) {
  return halves_to_ints_vector(in, count, out, true);
}

// From symbols: every value fits the target class, so the saturating packs
// are exact. Unsigned 16-bit values are packed with a bias of 32768.
std::size_t from_ints_vector(const int32_t* in, std::size_t count, double* out) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i v = load4(in + i);
    _mm_storeu_pd(out + i, _mm_cvtepi32_pd(v));
    _mm_storeu_pd(out + i + 2, _mm_cvtepi32_pd(_mm_srli_si128(v, 8)));
  }
  return i;
}

std::size_t from_ints_vector(const int32_t* in, std::size_t count, float* out) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) _mm_storeu_ps(out + i, _mm_cvtepi32_ps(load4(in + i)));
  return i;
}

std::size_t to_bytes_vector(const int32_t* in, std::size_t count, void* out, bool is_signed) {
  uint8_t* bytes = static_cast<uint8_t*>(out);
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i low = _mm_packs_epi32(load4(in + i), load4(in + i + 4));
    __m128i high = _mm_packs_epi32(load4(in + i + 8), load4(in + i + 12));
    store4(bytes + i, is_signed ? _mm_packs_epi16(low, high) : _mm_packus_epi16(low, high));
  }
  return i;
}
std::size_t from_ints_vector(const int32_t* in, std::size_t count, uint8_t* out) {
  return to_bytes_vector(in, count, out, false);
}
std::size_t from_ints_vector(const int32_t* in, std::size_t count, int8_t* out) {
  return to_bytes_vector(in, count, out, true);
}

std::size_t to_halves_vector(const int32_t* in, std::size_t count, void* out, bool is_signed) {
  uint16_t* halves = static_cast<uint16_t*>(out);
  const __m128i bias = _mm_set1_epi32(is_signed ? 0 : 32768);
  const __m128i unbias = _mm_set1_epi16(static_cast<int16_t>(is_signed ? 0 : INT16_MIN));
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m128i packed = _mm_packs_epi32(_mm_sub_epi32(load4(in + i), bias), _mm_sub_epi32(load4(in + i + 4), bias));
    store4(halves + i, _mm_xor_si128(packed, unbias));
  }
  return i;
}
std::size_t from_ints_vector(const int32_t* in, std::size_t count, uint16_t* out) {
  return to_halves_vector(in, count, out, false);
}
std::size_t from_ints_vector(const int32_t* in, std::size_t count, int16_t* out) {
  return to_halves_vector(in, count, out, true);
}

std::size_t low_bytes_vector(const int32_t* in, std::size_t count, uint8_t* out) {
  const __m128i mask = _mm_set1_epi32(0xFF);
  std::size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i low = _mm_packs_epi32(_mm_and_si128(load4(in + i), mask), _mm_and_si128(load4(in + i + 4), mask));
    __m128i high = _mm_packs_epi32(_mm_and_si128(load4(in + i + 8), mask), _mm_and_si128(load4(in + i + 12), mask));
    store4(out + i, _mm_packus_epi16(low, high));
  }
  return i;
}
#else
std::size_t low_bytes_vector(const int32_t*, std::size_t, uint8_t*) { return 0; }
#endif

template <typename Element>
void ints_convert(const Element* in, std::size_t count, int32_t* out) {
  std::size_t i = portable_forced() ? 0 : ints_vector(in, count, out);
  for (; i < count; ++i) out[i] = number_to_int(in[i]);
}

template <typename Element>
void from_ints_convert(const int32_t* in, std::size_t count, Element* out) {
  std::size_t i = portable_forced() ? 0 : from_ints_vector(in, count, out);
  for (; i < count; ++i) out[i] = static_cast<Element>(in[i]);
}

// Runs Convert with the element type of a class; HOST_OTHER converts nothing.
template <template <typename> class Convert, typename... Args>
void numbers_dispatch(HostClass element_class, Args... args) {
  switch (element_class) {
    case HOST_DOUBLE: Convert<double>::run(args...); break;
    case HOST_SINGLE: Convert<float>::run(args...); break;
    case HOST_INT8: Convert<int8_t>::run(args...); break;
    case HOST_UINT8: Convert<uint8_t>::run(args...); break;
    case HOST_INT16: Convert<int16_t>::run(args...); break;
    case HOST_UINT16: Convert<uint16_t>::run(args...); break;
    case HOST_INT32: Convert<int32_t>::run(args...); break;
    case HOST_UINT32: Convert<uint32_t>::run(args...); break;
    case HOST_INT64: Convert<int64_t>::run(args...); break;
    case HOST_UINT64: Convert<uint64_t>::run(args...); break;
    case HOST_OTHER: break;
  }
}

template <typename Element>
struct IntsConverter {
  static void run(const void* data, std::size_t start, std::size_t length, int32_t* out) {
    ints_convert(static_cast<const Element*>(data) + start, length, out);
  }
};

template <typename Element>
struct FromIntsConverter {
  static void run(const int32_t* values, std::size_t count, void* row, std::size_t start) {
    from_ints_convert(values, count, static_cast<Element*>(row) + start);
  }
};

template <typename Element>
struct SizeOf {
  static void run(std::size_t* size) { *size = sizeof(Element); }
};
}  // namespace

std::size_t numbers_to_ints(const HostNumbers& numbers, std::size_t start, int32_t* out) {
  if (start >= numbers.count || numbers.element_class == HOST_OTHER) return 0;
  std::size_t length = numbers.count - start < NUMBERS_CHUNK ? numbers.count - start : NUMBERS_CHUNK;
  numbers_dispatch<IntsConverter>(numbers.element_class, numbers.data, start, length, out);
  return length;
}

void numbers_to_bytes(const HostNumbers& numbers, uint8_t* out) {
  if (numbers.element_class == HOST_UINT8 || numbers.element_class == HOST_INT8) {
    if (numbers.count > 0) std::memcpy(out, numbers.data, numbers.count);
    return;
  }
  int32_t chunk[NUMBERS_CHUNK];
  for (std::size_t start = 0; start < numbers.count; start += NUMBERS_CHUNK) {
    std::size_t length = numbers_to_ints(numbers, start, chunk);
    std::size_t i = portable_forced() ? 0 : low_bytes_vector(chunk, length, out + start);
    for (; i < length; ++i) out[start + i] = static_cast<uint8_t>(chunk[i]);
  }
}

void numbers_from_ints(const int32_t* values, std::size_t count, HostClass element_class, void* row,
                       std::size_t start) {
  numbers_dispatch<FromIntsConverter>(element_class, values, count, row, start);
}

void numbers_bytes_to_signed(const uint8_t* bytes, std::size_t count, double* out) {
  const HostNumbers signed_bytes{HOST_INT8, bytes, count};
  int32_t chunk[NUMBERS_CHUNK];
  for (std::size_t start = 0; start < count; start += NUMBERS_CHUNK) {
    std::size_t length = numbers_to_ints(signed_bytes, start, chunk);
    numbers_from_ints(chunk, length, HOST_DOUBLE, out, start);
  }
}

std::size_t numbers_element_size(HostClass element_class) {
  std::size_t size = 0;
  numbers_dispatch<SizeOf>(element_class, &size);
  return size;
}

bool numbers_vectorised() {
#if defined(KESTREL_NUMBERS_SSE2)
  return true;
#else
  return false;
#endif
}
