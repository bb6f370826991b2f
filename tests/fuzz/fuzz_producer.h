// SPDX-License-Identifier: BSD-3-Clause
// The one source of a fuzz target's choices. A target draws every option,
// size and selector from the END of its input, a few bytes per number, so
// that the front stays the payload (the bytes to decode, the symbols to
// code) and a mutation of the payload changes no choice. Once the input is
// used up every number is the lowest of its range and every flag false: a
// short input is a valid input.
//
// Use: FuzzProducer in = producer_make(data, size); draw the choices with
// producer_number and producer_flag; then take the payload from the front
// with producer_take_front or producer_take_rest. Both ends consume the
// same bytes: a byte taken as payload is never drawn, nor the other way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzProducer {
  const uint8_t* data;  // the input; bytes data[front .. back-1] are not used yet
  size_t front;         // the next payload byte
  size_t back;          // one past the next byte to draw from
};

inline FuzzProducer producer_make(const uint8_t* data, size_t size) { return FuzzProducer{data, 0, size}; }

// Bytes not used yet, by either end.
inline size_t producer_left(const FuzzProducer* in) { return in->back - in->front; }

// A number in lowest..highest (lowest <= highest): as many bytes from the
// end as the span needs (one for a span of up to 256 values, two up to 65536,
// ...), taken modulo the span; lowest when the input is used up.
inline uint32_t producer_number(FuzzProducer* in, uint32_t lowest, uint32_t highest) {
  const uint32_t span = highest - lowest;  // values beyond the first
  uint32_t value = 0;
  for (uint32_t rest = span; rest > 0 && in->back > in->front; rest >>= 8) {
    value = value << 8 | in->data[--in->back];
  }
  return span == UINT32_MAX ? lowest + value : lowest + value % (span + 1);
}

// A flag drawn as a number 0..1.
inline bool producer_flag(FuzzProducer* in) { return producer_number(in, 0, 1) == 1; }

// The next count payload bytes from the front (fewer when fewer are left).
inline std::vector<uint8_t> producer_take_front(FuzzProducer* in, size_t count) {
  if (count > producer_left(in)) count = producer_left(in);
  in->front += count;
  return std::vector<uint8_t>(in->data + in->front - count, in->data + in->front);
}

// Every byte not used yet, as payload; the producer is used up afterwards.
inline std::vector<uint8_t> producer_take_rest(FuzzProducer* in) { return producer_take_front(in, producer_left(in)); }

// The next payload byte from the front; 0 when the input is used up.
inline uint8_t producer_front_byte(FuzzProducer* in) {
  return producer_left(in) > 0 ? in->data[in->front++] : 0;
}
