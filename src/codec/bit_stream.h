// SPDX-License-Identifier: BSD-3-Clause
// Raw bits in a stream of their own, beside a block's range coder: bits
// that are as likely 0 as 1 cost the same there as in the range coder, but
// read with a shift and a mask, not a division, and off the range coder's
// chain of dependent steps.
//
// Byte format: the bits in the order written, each value's least
// significant bit first, packed from the least significant bit of each
// byte; the last byte's unused high bits are 0. A stream of B bits is
// ceil(B / 8) bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/checks.h"
#include "base/platform.h"

constexpr int32_t BIT_STREAM_CHUNK = 32;   // bits a write or a read takes at most
constexpr std::size_t BIT_STREAM_SLACK = 8;  // bytes a writer may touch past its last byte

struct BitWriter {
  uint64_t pending;    // bits not yet stored, the first in the lowest bit
  int32_t count;       // how many: 0..7 between writes
  uint8_t* next;       // where the next whole byte goes; BIT_STREAM_SLACK bytes past it are writable
  const uint8_t* out;  // the stream's first byte
};

inline void bit_writer_start(BitWriter* w, uint8_t* out) { *w = BitWriter{0, 0, out, out}; }

// Appends the low count bits of value (count 0..BIT_STREAM_CHUNK).
inline void bit_write(BitWriter* w, uint64_t value, int32_t count) {
  KESTREL_ASSERT(count >= 0 && count <= BIT_STREAM_CHUNK);
  w->pending |= (value & ((uint64_t{1} << count) - 1)) << w->count;
  w->count += count;
#if defined(KESTREL_LITTLE_ENDIAN)
  std::memcpy(w->next, &w->pending, 8);  // the 5 bytes that may hold bits, in one store
#else
  for (int32_t k = 0; k < 5; ++k) w->next[k] = static_cast<uint8_t>(w->pending >> (8 * k));
#endif
  int32_t whole = w->count >> 3;
  w->next += whole;
  w->pending >>= 8 * whole;
  w->count &= 7;
}

// Appends the low count bits of value, count 0..64.
inline void bit_write_long(BitWriter* w, uint64_t value, int32_t count) {
  if (count > BIT_STREAM_CHUNK) {
    bit_write(w, value, BIT_STREAM_CHUNK);
    value >>= BIT_STREAM_CHUNK;
    count -= BIT_STREAM_CHUNK;
  }
  bit_write(w, value, count);
}

// Bytes the stream takes once finished, for the bits written so far.
inline std::size_t bit_writer_bytes(const BitWriter* w) {
  return static_cast<std::size_t>(w->next - w->out) + (w->count > 0);
}

// Stores the last part byte; next is then one past the stream's last byte.
inline void bit_writer_finish(BitWriter* w) {
  if (w->count > 0) *w->next++ = static_cast<uint8_t>(w->pending);
  w->pending = 0;
  w->count = 0;
}

struct BitReader {
  const uint8_t* next;  // the next byte to load
  const uint8_t* end;   // one past the stream's last byte
  uint64_t held;        // loaded bits not yet read, the first in the lowest bit
  int32_t count;        // how many
  int32_t overrun;      // 1 once a bit past the end was asked for (read as 0)
};

inline void bit_reader_start(BitReader* r, const uint8_t* data, std::size_t bytes) {
  *r = BitReader{data, data + bytes, 0, 0, 0};
}

// Loads the stream's last bytes, fewer than 8, so that count bits are
// held: bits past the end read as 0 and set overrun.
KESTREL_NOINLINE inline void bit_reader_load_last(BitReader* r, int32_t count) {
  while (r->count <= 56 && r->next < r->end) {
    r->held |= static_cast<uint64_t>(*r->next++) << r->count;
    r->count += 8;
  }
  if (r->count < count) {
    r->overrun = 1;
    r->count = count;
  }
}

// The next count bits (0..BIT_STREAM_CHUNK) as bit_write wrote them.
KESTREL_ALWAYS_INLINE uint64_t bit_read(BitReader* r, int32_t count) {
  KESTREL_ASSERT(count >= 0 && count <= BIT_STREAM_CHUNK);
  if (r->count < count) {
    if (r->end - r->next >= 8) {
      uint64_t word = 0;
#if defined(KESTREL_LITTLE_ENDIAN)
      std::memcpy(&word, r->next, 8);
#else
      for (int32_t k = 0; k < 8; ++k) word |= static_cast<uint64_t>(r->next[k]) << (8 * k);
#endif
      r->held |= word << r->count;
      r->next += (63 - r->count) >> 3;
      r->count |= 56;
    } else {
      bit_reader_load_last(r, count);
    }
  }
  uint64_t value = r->held & ((uint64_t{1} << count) - 1);
  r->held >>= count;
  r->count -= count;
  return value;
}

inline uint64_t bit_read_long(BitReader* r, int32_t count) {
  if (count <= BIT_STREAM_CHUNK) return bit_read(r, count);
  uint64_t low = bit_read(r, BIT_STREAM_CHUNK);
  return low | bit_read(r, count - BIT_STREAM_CHUNK) << BIT_STREAM_CHUNK;
}

// True when every byte was read, no bit past them was asked for, and the
// bits left over (fewer than 8, of the last byte) are 0.
inline bool bit_reader_ended(const BitReader* r) {
  return r->overrun == 0 && r->next == r->end && r->count < 8 && r->held == 0;
}
