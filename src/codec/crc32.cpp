// SPDX-License-Identifier: BSD-3-Clause
#include "codec/crc32.h"

namespace {
// Eight tables of 256 entries: table[k][b] is the CRC of byte b followed by k
// zero bytes, so that eight bytes are folded in per step.
struct Crc32Tables {
  uint32_t table[8][256] = {};
  constexpr Crc32Tables() {
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = b;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[0][b] = c;
    }
    for (int k = 1; k < 8; ++k) {
      for (uint32_t b = 0; b < 256; ++b) table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
  }
};
constexpr Crc32Tables CRC32_TABLES{};  // built by the compiler: no constructor runs at load
}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, std::size_t count) {
  const auto& t = CRC32_TABLES.table;
  uint32_t c = ~crc;
  for (; count >= 8; count -= 8, data += 8) {
    uint32_t lo = c ^ (data[0] | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 | uint32_t{data[3]} << 24);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^ t[3][data[4]] ^
        t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
  }
  for (; count > 0; --count) c = t[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  return ~c;
}
