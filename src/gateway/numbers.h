// SPDX-License-Identifier: BSD-3-Clause
// Conversions at the host boundary, in both directions: the elements of a
// host array of any numeric class read as the integers the commands need
// (symbols truncated to 32 bits, bytes as the low 8 bits of that integer),
// and symbols or bytes written into a result row of a chosen class.
//
// Every loop converts a whole run of elements with no call per element.
// Where SSE2 is available (every x86-64 CPU) the common classes convert
// several elements per instruction; elsewhere, when built with
// KESTREL_PORTABLE, or on the plain path (platform_limit_path), plain loops
// give identical results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway/host.h"

// Elements converted per pass: 16 KiB of integers, which stays in cache.
constexpr std::size_t NUMBERS_CHUNK = 4096;

// Truncates toward zero to 32 bits; NaN and values outside the signed 32-bit
// range give INT32_MIN. Inline, so that the loops over arrays vectorise.
inline int32_t double_to_int(double value) {
  return value > -2147483649.0 && value < 2147483648.0 ? static_cast<int32_t>(value) : INT32_MIN;
}

// Converts elements start .. start+NUMBERS_CHUNK-1 (fewer at the end) of a
// readable array to integers in out, each truncated toward zero; NaN and
// values outside the signed 32-bit range give INT32_MIN (as double_to_int).
// Returns how many were converted (0 for HOST_OTHER).
std::size_t numbers_to_ints(const HostNumbers& numbers, std::size_t start, int32_t* out);

// Converts every element to the low 8 bits of its integer into out
// (numbers.count bytes).
void numbers_to_bytes(const HostNumbers& numbers, uint8_t* out);

// Writes count values (each representable in element_class: the caller has
// checked the range) into elements start .. start+count-1 of row, an array
// of element_class. element_class is any class but HOST_OTHER.
void numbers_from_ints(const int32_t* values, std::size_t count, HostClass element_class, void* row,
                       std::size_t start);

// Writes count bytes into out as doubles holding their signed values -128..127.
void numbers_bytes_to_signed(const uint8_t* bytes, std::size_t count, double* out);

// Bytes one element of element_class takes (0 for HOST_OTHER).
std::size_t numbers_element_size(HostClass element_class);

// True when the vector loops are built in; they run unless
// platform_limit_path(PATH_PLAIN) asked for the plain ones.
bool numbers_vectorised();
