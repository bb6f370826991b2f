// SPDX-License-Identifier: BSD-3-Clause
// CRC-32 (the polynomial of zlib, PNG and gzip, reflected, 0xEDB88320):
// the check of the container's header, block table and block payloads.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of count bytes at data, continuing from crc (0 to start).
uint32_t crc32_update(uint32_t crc, const uint8_t* data, std::size_t count);
