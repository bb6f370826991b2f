// SPDX-License-Identifier: BSD-3-Clause
// Adaptive arithmetic decoder: reverses the encoder (see encoder.h for the
// byte format). Bits are taken from each byte least significant first; the
// first 16 bits form the initial value, the first bit as its top bit.
//
// Past the end of its input a file-fed decoder reads eight 1 bits per
// end-of-file read and fails when it needs the first bit of the 15th such
// read; a memory-fed decoder reads 0 bits for ever and never fails. Either
// way a complete stream decodes correctly, since its final bits settle the
// last interval.
//
// Bytes are read ahead, their bits put top first once, and each symbol takes
// all the bits its renormalisation needs from one 64-bit read at its bit
// position. Near a failing end of file, where fewer bits are left than a
// symbol may need, renormalisation takes them one at a time, so that the
// failure comes at exactly the bit where it is due.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/model.h"
#include "stream/stream.h"

// Bytes read ahead from the stream: a reader call per this many bytes, little
// enough that 512 decoders fit in static storage.
constexpr int32_t DECODER_INPUT_BYTES = 128;

// Bits one renormalisation can take: at most CODE_BITS settled bits and
// CODE_BITS-1 follow conditions.
constexpr int32_t DECODER_SYMBOL_BITS = 2 * CODE_BITS;

// What is left of a decoder's input.
enum DecoderInputState {
  DECODER_READING,          // more bytes may be read
  DECODER_AT_FAILING_READ,  // the end-of-file read that must fail is next: no bit follows input
  DECODER_FAILED            // that failure was raised; every later decode raises it again at once
};

struct DecoderState {
  ByteStream* stream;    // input; owned from decoder_start to decoder_close
  int32_t value;         // the CODE_BITS code bits in view, low <= value <= high
  int32_t low;           // lower end of the code interval, inclusive, 0..CODE_TOP
  int32_t high;          // upper end of the code interval, inclusive, 0..CODE_TOP
  int32_t input_bits;    // bits held in input, a multiple of 8, 0..8*DECODER_INPUT_BYTES
  int32_t input_pos;     // next bit of input to take, 0..input_bits
  int32_t input_ended;   // 1 once a read came back short: every byte after input is an end-of-file read
  int32_t garbage_bits;  // end-of-file reads so far (reads, not bits), 0..MAX_GARBAGE_READS
  int32_t input_state;   // a DecoderInputState
  int32_t last_symbol;   // the symbol decoded last, tried first next time; -1: none
  uint8_t input[DECODER_INPUT_BYTES + 8];  // bytes read ahead, bits top first; 8 bytes of slack for 64-bit reads
};

// Starts a decoder. from_memory nonzero: source is count_or_offset (0..
// INT32_MAX) bytes, copied into a private memory reader. from_memory 0:
// source is a path opened "rb" and positioned at byte count_or_offset when
// that is above 0. Then reads the first 16 bits. Returns 0. Raises the
// stream's open failures and "Unseekable stream" (the opened stream stays in
// state->stream for decoder_close).
int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory);

// Next symbol, 0..nsym-1; counts it when the model is adaptive. When no
// symbol fits, raises "symbol out of range" with nothing changed, having
// printed a dump of the cumulative table to standard output when the
// alphabet is empty (nsym 0). Raises "arithmetic
// decoder bad input file" when it needs a bit of the 15th end-of-file read
// of a file; the symbol is then abandoned midway, the model is not updated,
// and every later decode raises the same failure at once.
int32_t decoder_decode(DecoderState* state, FrequencyModel* model);

// Decodes count symbols into symbols, as decoder_decode does each; a failure
// leaves the decoder advanced by the symbols before it.
void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count);

// Closes the stream (nullptr is ignored); unread bytes are ignored.
void decoder_close(DecoderState* state);
