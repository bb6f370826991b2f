// SPDX-License-Identifier: BSD-3-Clause
// Reading the elements of a host array, of any numeric class, as the
// integers the commands need: symbols (truncated to 32 bits) and bytes (the
// low 8 bits of that integer).
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway/host.h"

// Elements converted per pass: 16 KiB of integers, which stays in cache.
constexpr std::size_t NUMBERS_CHUNK = 4096;

// Converts elements start .. start+NUMBERS_CHUNK-1 (fewer at the end) of a
// readable array to integers in out, each as double_to_int does. Returns how
// many were converted.
std::size_t numbers_to_ints(const HostNumbers& numbers, std::size_t start, int32_t* out);

// Converts every element to the low 8 bits of its integer into out
// (numbers.count bytes).
void numbers_to_bytes(const HostNumbers& numbers, uint8_t* out);
