// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/numbers.h"

#include "gateway/gateway.h"

namespace {
int32_t number_to_int(double value) { return double_to_int(value); }
int32_t number_to_int(float value) { return double_to_int(value); }
int32_t number_to_int(int8_t value) { return value; }
int32_t number_to_int(uint8_t value) { return value; }
int32_t number_to_int(int16_t value) { return value; }
int32_t number_to_int(uint16_t value) { return value; }
int32_t number_to_int(int32_t value) { return value; }
int32_t number_to_int(uint32_t value) { return value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN; }
int32_t number_to_int(int64_t value) {
  return value >= INT32_MIN && value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN;
}
int32_t number_to_int(uint64_t value) { return value <= INT32_MAX ? static_cast<int32_t>(value) : INT32_MIN; }

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
    const Element* elements = static_cast<const Element*>(data) + start;
    for (std::size_t i = 0; i < length; ++i) out[i] = number_to_int(elements[i]);
  }
};

template <typename Element>
struct BytesConverter {
  static void run(const void* data, std::size_t count, uint8_t* out) {
    const Element* elements = static_cast<const Element*>(data);
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(number_to_int(elements[i]));
  }
};
}  // namespace

std::size_t numbers_to_ints(const HostNumbers& numbers, std::size_t start, int32_t* out) {
  if (start >= numbers.count) return 0;
  std::size_t length = numbers.count - start < NUMBERS_CHUNK ? numbers.count - start : NUMBERS_CHUNK;
  numbers_dispatch<IntsConverter>(numbers.element_class, numbers.data, start, length, out);
  return numbers.element_class == HOST_OTHER ? 0 : length;
}

void numbers_to_bytes(const HostNumbers& numbers, uint8_t* out) {
  numbers_dispatch<BytesConverter>(numbers.element_class, numbers.data, numbers.count, out);
}
