// SPDX-License-Identifier: BSD-3-Clause
// Adaptive arithmetic encoder over 16-bit code registers.
//
// What a reader must know first:
// - Bits are packed into bytes least significant bit first: the first bit of
//   a stream is bit 0x01 of its first byte.
// - When the interval straddles the middle, the undecided bit is held as a
//   pending follow bit (a count, not a buffer) and emitted, inverted, right
//   after the next decided bit.
// - Renormalisation settles every bit on which low and high agree in one
//   step, then counts a whole run of follow conditions in one step; the bits
//   are exactly those of settling them one at a time.
// - The finish emits one bit and its pending opposites (at least two bits),
//   then one more byte: the partly filled byte, or 0x00 when none is. A stream
//   of T bits is T/8 + 1 bytes long.
// - There is no header, length or end marker: the decoder must be told how
//   many symbols to take and must start from an identical model.
// - The model (see model.h) halves its counts when their total reaches 16383.
//
// Inside, bits are gathered top first: a settled bit b behind F pending
// follow bits is the (F+1)-bit number 2^F - 1 + b, so the bits of a symbol
// join the output as one number. Whole bytes go to a staging area with one
// 8-byte store per symbol; their bits are put into the byte format's order
// when the area is written to the stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/model.h"
#include "stream/stream.h"

// Bytes staged before they are written to the stream: a writer call per
// this many bytes, little enough that 512 encoders fit in static storage.
constexpr int32_t ENCODER_STAGED_BYTES = 256;

// Pending follow bits up to which a symbol's bits are joined in one number:
// with up to 16 settled bits they fill at most 56 bits of the gatherer.
constexpr int32_t ENCODER_FAST_FOLLOW = 40;

struct EncoderState {
  ByteStream* stream;      // receives the bytes; owned from encoder_start to encoder_finish
  int32_t low;             // lower end of the code interval, inclusive, 0..CODE_TOP
  int32_t high;            // upper end of the code interval, inclusive, low..CODE_TOP
  int64_t bits_to_follow;  // pending follow bits, emitted inverted after the next bit; 0 or more
  uint64_t gathered;       // emitted bits not yet in a whole byte, the earliest at bit 63, zero below them
  int32_t gathered_bits;   // number of bits in gathered, 0..7 between symbols
  int32_t staged;          // whole bytes in staging, 0..ENCODER_STAGED_BYTES
  int64_t bits_flushed;    // bits emitted and written to the stream; all of them, exactly, once finished
  int32_t broken;          // 1 once bytes were lost midway (a memory writer could not grow)
  uint8_t staging[ENCODER_STAGED_BYTES + 8];  // whole bytes, bits top first, not yet written; 8 bytes of slack
};

// Starts an encoder writing to path: a memory writer when path is empty,
// else a file opened "ab" when mode starts with 'a' or "wb" when it starts
// with 'w'. Returns 0, or -1 (nothing opened, state unchanged) for any other
// mode. Raises the stream's open failures before any register is set.
int encoder_start(EncoderState* state, const char* path, const char* mode);

// Codes symbol (must lie in 0..nsym-1 and own a nonempty slice of the model)
// and then counts it when the model is adaptive. Returns 0. Raises "symbol
// out of range" before anything changes, and "buffer allocation failure" when
// a memory writer cannot grow: the stream has then lost bytes, and every
// later encode and the finish raise it again.
int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol);

// Codes count symbols in order, as encoder_encode does each; a failure
// leaves the symbols before the failing one coded.
void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count);

// Bits emitted so far; pending follow bits and the padding of the last byte
// are not counted.
int64_t encoder_bits_written(const EncoderState* state);

// The number of bytes encoder_finish would hand back if called now (the
// bytes written so far, the bits held back, the pending follow bits, the
// final bits and the last byte): at least 1 for a memory encoder; 0 for a
// file encoder. Changes nothing.
int64_t encoder_output_size(const EncoderState* state);

// True once a memory writer could not grow and bytes were lost: such an
// encoder has nothing to hand back, and its finish raises.
bool encoder_lost_bytes(const EncoderState* state);

// Makes room in a memory writer for every byte the finish adds, growing it
// to exactly the size it needs (no doubling), so that encoder_finish then
// takes no memory. Raises "buffer allocation failure" with the encoder
// unchanged and still finishable. Nothing for a file encoder or one that
// lost bytes.
void encoder_reserve_finish(EncoderState* state);

// Emits the final bits and the last byte, hands back a memory encoder's bytes
// (*bytes_out: heap copy owned by the caller; *length_out their number) or
// *length_out 0 for a file, and closes the stream. The stream is closed even
// when a failure is raised: "buffer allocation failure" (no bytes are handed
// back: the encoder had lost bytes, or its last bytes found no room, which
// encoder_reserve_finish rules out beforehand), or "Could not write file"
// when a file lost bytes (what reached the file stays there).
void encoder_finish(EncoderState* state, uint8_t** bytes_out, int32_t* length_out);

// Ends an encoder whose output nobody takes: a memory encoder's stream is
// closed unfinished, its bytes dropped, which takes no memory and never
// fails; a file encoder is finished as encoder_finish does (and raises as it
// does).
void encoder_close_discarding(EncoderState* state);
