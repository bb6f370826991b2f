// Adaptive arithmetic decoder: reverses the encoder (see encoder.h for the
// byte format). Bits are taken from each byte least significant first; the
// first 16 bits form the initial value, the first bit as its top bit.
//
// Past the end of its input a file-fed decoder reads eight 1 bits per
// end-of-file read and fails on the 15th such read; a memory-fed decoder
// reads 0 bits for ever and never fails. Either way a complete stream
// decodes correctly, since its final bits settle the last interval.
#pragma once

#include <cstdint>

#include "coder/model.h"
#include "stream/stream.h"

struct DecoderState {
  ByteStream* stream;    // input; owned from decoder_start to decoder_close
  int32_t value;         // the CODE_BITS code bits in view, low <= value <= high
  int32_t low;           // lower end of the code interval, inclusive, 0..CODE_TOP
  int32_t high;          // upper end of the code interval, inclusive, 0..CODE_TOP
  int32_t buffer;        // byte being unpacked; -1 (all bits set) after an end-of-file read
  int32_t bits_to_go;    // bits of buffer not yet taken, 0..8; 0: the next bit reads a byte
  int32_t garbage_bits;  // end-of-file reads so far (reads, not bits)
};

// Starts a decoder. from_memory nonzero: source is count_or_offset (0..
// INT32_MAX) bytes, copied into a private memory reader. from_memory 0:
// source is a path opened "rb" and positioned at byte count_or_offset when
// that is above 0. Then reads the first 16 bits. Returns 0. Raises the
// stream's open failures, "Unseekable stream" (the opened stream stays in
// state->stream for decoder_close) and "arithmetic decoder bad input file".
int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory);

// Next symbol, 0..nsym-1; counts it when the model is adaptive. When no
// symbol fits, prints a dump of the cumulative table to standard output and
// raises "symbol out of range" with nothing changed. Raises "arithmetic
// decoder bad input file" on the 15th end-of-file read of a file.
int32_t decoder_decode(DecoderState* state, FrequencyModel* model);

// Closes the stream (nullptr is ignored); unread bytes are ignored.
void decoder_close(DecoderState* state);
