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
// Bytes are read ahead into a reservoir of bits. While the reservoir holds
// enough bits for any symbol, renormalisation takes its bits several at a
// time; near a failing end of file it takes them one at a time, so that the
// failure comes at exactly the bit where it is due.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model.h"
#include "stream/stream.h"

// Bytes a decoder reads from its stream at a time.
constexpr int32_t DECODER_INPUT_BYTES = 64;

// The tree search branches while successive symbols part from each other at
// fewer than 11/16 of the tree's levels on average; past that, branches that
// follow the data mispredict often enough that masks cost less (measured on
// uniform, near-0, near-top and constant data with alphabets of 16 to 8191).
constexpr int32_t DECODER_MASKED_CHURN = 11;

struct DecoderState {
  ByteStream* stream;    // input; owned from decoder_start to decoder_close
  int32_t value;         // the CODE_BITS code bits in view, low <= value <= high
  int32_t low;           // lower end of the code interval, inclusive, 0..CODE_TOP
  int32_t high;          // upper end of the code interval, inclusive, 0..CODE_TOP
  uint64_t reservoir;    // bits read ahead, the next one at bit 63
  int32_t reserved;      // number of bits in reservoir, 0..64
  uint8_t input[DECODER_INPUT_BYTES];  // bytes read from the stream, not yet in the reservoir
  int32_t input_pos;     // next byte of input to take
  int32_t input_length;  // bytes held in input
  int32_t input_ended;   // 1 once a read came back short: every byte after input is an end-of-file read
  int32_t garbage_bits;  // end-of-file reads so far (reads, not bits)
  int32_t exhausted;     // DECODER_READING, DECODER_EXHAUSTED or DECODER_FAILED
  int32_t last_symbol;   // the symbol decoded last, tried first next time; -1: none to try
  int32_t last_bottom;   // csym(last_symbol+1), the bottom of its slice
  int32_t last_leaf;     // tree leaf of the last symbol found in the tree
  int32_t leaf_churn;    // 16 times a running mean of the tree levels at which found leaves part
};

// States of a decoder's input: DECODER_EXHAUSTED once the read that must fail
// has been met (no bit follows the reservoir); DECODER_FAILED once the
// failure has been raised, after which every decode raises it again.
enum { DECODER_READING = 0, DECODER_EXHAUSTED = 1, DECODER_FAILED = 2 };

// Starts a decoder. from_memory nonzero: source is count_or_offset (0..
// INT32_MAX) bytes, copied into a private memory reader. from_memory 0:
// source is a path opened "rb" and positioned at byte count_or_offset when
// that is above 0. Then reads the first 16 bits. Returns 0. Raises the
// stream's open failures and "Unseekable stream" (the opened stream stays in
// state->stream for decoder_close).
int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory);

// Next symbol, 0..nsym-1; counts it when the model is adaptive. When no
// symbol fits, prints a dump of the cumulative table to standard output and
// raises "symbol out of range" with nothing changed. Raises "arithmetic
// decoder bad input file" when it needs a bit of the 15th end-of-file read
// of a file; the symbol is then abandoned midway, the model is not updated,
// and every later decode raises the same failure at once.
int32_t decoder_decode(DecoderState* state, FrequencyModel* model);

// Decodes count symbols into symbols, as decoder_decode does each; a failure
// leaves the decoder advanced by the symbols before it.
void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count);

// Closes the stream (nullptr is ignored); unread bytes are ignored.
void decoder_close(DecoderState* state);
