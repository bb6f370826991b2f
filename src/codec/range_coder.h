// SPDX-License-Identifier: BSD-3-Clause
// A binary adaptive range coder (the carry-propagating kind that LZMA
// describes): a 32-bit range, a 64-bit low whose carry reaches the bytes
// held back, and 16-bit probabilities that adapt by a shift.
//
// Byte format: the encoder writes exactly S + 5 bytes, where S is the number
// of renormalising shifts of its range; the first is always 0. The decoder
// reads 5 bytes to start and one per shift, the same S, so a complete stream
// ends exactly at its last byte: range_decoder_ended checks that.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/checks.h"

constexpr uint32_t RANGE_TOP = 1u << 24;    // the range is renormalised back to at least this
constexpr int32_t PROB_BITS = 16;           // probabilities of a 0 are 1..2^16-1 in units of 2^-16
constexpr uint16_t PROB_HALF = 1u << 15;    // the initial probability
constexpr int32_t PROB_SHIFT_FIRST = 2;     // adaptation: a quarter of the distance at a model's first bit,
constexpr int32_t PROB_SHIFT_LAST = 7;      // slowing to 1/128 once it has seen 16 bits

// One adaptive bit: the probability of a 0 and how many bits it has seen, so
// that it learns fast while it is young and averages long once it is not.
struct BitModel {
  uint16_t prob;  // 1..2^16-1, in units of 2^-16
  uint16_t seen;  // bits coded with it, up to BIT_MODEL_MATURE
};
constexpr uint16_t BIT_MODEL_MATURE = 16;

// The adaptation shift of a model that has seen 0..BIT_MODEL_MATURE bits.
constexpr uint8_t BIT_MODEL_SHIFT[BIT_MODEL_MATURE + 1] = {
    PROB_SHIFT_FIRST,     PROB_SHIFT_FIRST,     PROB_SHIFT_FIRST + 1, PROB_SHIFT_FIRST + 1, PROB_SHIFT_FIRST + 2,
    PROB_SHIFT_FIRST + 2, PROB_SHIFT_FIRST + 2, PROB_SHIFT_FIRST + 2, PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST - 1,
    PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST - 1,
    PROB_SHIFT_LAST - 1,  PROB_SHIFT_LAST};

// Moves the model towards bit (0 or 1), without a branch on it.
inline void bit_model_update(BitModel* m, uint32_t bit) {
  uint32_t shift = BIT_MODEL_SHIFT[m->seen], prob = m->prob, ones = 0 - bit;
  m->seen = static_cast<uint16_t>(m->seen + (m->seen < BIT_MODEL_MATURE));
  uint32_t up = ((1u << PROB_BITS) - prob) >> shift, down = prob >> shift;
  m->prob = static_cast<uint16_t>(prob + (up & ~ones) - (down & ones));
}
constexpr int32_t RANGE_RAW_CHUNK = 16;     // raw bits coded per step, at most

// Bytes an encoder may write between two checks of range_encoder_full, at
// most: for one element with the run before it or the coefficients of a
// segment, each decision or raw chunk writing at most two.
constexpr std::size_t RANGE_ELEMENT_WRITES = 512;

struct RangeEncoder {
  uint64_t low;                // the interval's low end; bit 32 is a carry not yet applied
  uint32_t range;              // the interval's width, RANGE_TOP..2^32-1 between symbols
  uint8_t cache;               // the byte held back until no carry can reach it
  uint64_t cache_size;         // bytes held back: cache and the 0xFF bytes behind it, 1 or more
  uint8_t* next;               // where the next byte goes
  const uint8_t* limit;        // the encoder is full once next + cache_size reaches this
};

// Starts writing at out; limit - out bytes are the room the caller has,
// and RANGE_ELEMENT_WRITES + 8 more are writable past limit, for the
// element after the last check and the finish.
inline void range_encoder_start(RangeEncoder* e, uint8_t* out, const uint8_t* limit) {
  *e = RangeEncoder{0, 0xFFFFFFFFu, 0, 1, out, limit};
}

// True when the bytes written and held back have reached the limit: the
// caller stops coding and does not finish. The last element may have
// written past the limit itself.
// others: bytes of the block written elsewhere that count against the same
// room.
inline bool range_encoder_full(const RangeEncoder* e, std::size_t others = 0) {
  return e->next >= e->limit || e->cache_size + others >= static_cast<uint64_t>(e->limit - e->next);
}

inline void range_shift_low(RangeEncoder* e) {
  KESTREL_ASSERT(e->next + e->cache_size <= e->limit + RANGE_ELEMENT_WRITES + 8);
  if (static_cast<uint32_t>(e->low) < 0xFF000000u || (e->low >> 32) != 0) {
    uint8_t carry = static_cast<uint8_t>(e->low >> 32);
    uint8_t held = e->cache;
    do {
      *e->next++ = static_cast<uint8_t>(held + carry);
      held = 0xFF;
    } while (--e->cache_size != 0);
    e->cache = static_cast<uint8_t>(e->low >> 24);
  }
  ++e->cache_size;
  e->low = (e->low & 0x00FFFFFFu) << 8;
}

inline void range_encode_bit(RangeEncoder* e, BitModel* model, uint32_t bit) {
  uint32_t bound = (e->range >> PROB_BITS) * model->prob, ones = 0 - bit;
  e->low += bound & ones;
  e->range = ((e->range - bound) & ones) | (bound & ~ones);
  bit_model_update(model, bit);
  while (e->range < RANGE_TOP) {
    e->range <<= 8;
    range_shift_low(e);
  }
}

// Codes the low count bits of value (count 0..64) with probability 1/2 each.
inline void range_encode_raw(RangeEncoder* e, uint64_t value, int32_t count) {
  if (count <= RANGE_RAW_CHUNK && count > 0) {  // one chunk: the common case, without the loop
    e->range >>= count;
    e->low += static_cast<uint64_t>(value & ((1u << count) - 1)) * e->range;
    while (e->range < RANGE_TOP) {
      e->range <<= 8;
      range_shift_low(e);
    }
    return;
  }
  while (count > 0) {
    int32_t n = count < RANGE_RAW_CHUNK ? count : RANGE_RAW_CHUNK;
    count -= n;
    e->range >>= n;
    e->low += static_cast<uint64_t>((value >> count) & ((1u << n) - 1)) * e->range;
    while (e->range < RANGE_TOP) {
      e->range <<= 8;
      range_shift_low(e);
    }
  }
}

// Writes the bytes held back and the last four; next is then one past the
// stream's last byte. It needs 5 + cache_size bytes of room.
inline void range_encoder_finish(RangeEncoder* e) {
  for (int i = 0; i < 5; ++i) range_shift_low(e);
}

struct RangeDecoder {
  uint32_t code;        // the coded value's offset from the interval's low end
  uint32_t range;       // as the encoder's
  const uint8_t* next;  // the next byte to read
  const uint8_t* end;   // one past the stream's last byte
  int32_t overrun;      // 1 once a byte past the end was asked for (read as 0)
};

inline uint32_t range_next_byte(RangeDecoder* d) {
  if (d->next < d->end) return *d->next++;
  d->overrun = 1;
  return 0;
}

// Starts on count bytes at data; false when the first byte is not 0.
inline bool range_decoder_start(RangeDecoder* d, const uint8_t* data, std::size_t count) {
  *d = RangeDecoder{0, 0xFFFFFFFFu, data, data + count, 0};
  uint32_t first = range_next_byte(d);
  for (int i = 0; i < 4; ++i) d->code = (d->code << 8) | range_next_byte(d);
  return first == 0;
}

// True when the decoder stopped exactly at the stream's last byte.
inline bool range_decoder_ended(const RangeDecoder* d) { return d->overrun == 0 && d->next == d->end; }

inline uint32_t range_decode_bit(RangeDecoder* d, BitModel* model) {
  uint32_t bound = (d->range >> PROB_BITS) * model->prob;
  uint32_t bit = d->code >= bound, ones = 0 - bit;
  d->code -= bound & ones;
  d->range = ((d->range - bound) & ones) | (bound & ~ones);
  bit_model_update(model, bit);
  while (d->range < RANGE_TOP) {
    d->range <<= 8;
    d->code = (d->code << 8) | range_next_byte(d);
  }
  return bit;
}

// count (0..64) raw bits, as range_encode_raw coded them. A corrupt stream
// gives some value of count bits.
inline uint64_t range_decode_raw(RangeDecoder* d, int32_t count) {
  if (count <= RANGE_RAW_CHUNK && count > 0) {  // one chunk: the common case, without the loop
    d->range >>= count;
    uint32_t part = d->code / d->range, mask = (1u << count) - 1;
    if (part > mask) part = mask;
    d->code -= part * d->range;
    while (d->range < RANGE_TOP) {
      d->range <<= 8;
      d->code = (d->code << 8) | range_next_byte(d);
    }
    return part;
  }
  uint64_t value = 0;
  while (count > 0) {
    int32_t n = count < RANGE_RAW_CHUNK ? count : RANGE_RAW_CHUNK;
    count -= n;
    d->range >>= n;
    uint32_t part = d->code / d->range;
    uint32_t mask = (1u << n) - 1;
    if (part > mask) part = mask;
    d->code -= part * d->range;
    value = (value << n) | part;
    while (d->range < RANGE_TOP) {
      d->range <<= 8;
      d->code = (d->code << 8) | range_next_byte(d);
    }
  }
  return value;
}
