// SPDX-License-Identifier: BSD-3-Clause
// The straightforward coder, kept beside the fast one for tests and
// benchmarks only: the model keeps its whole cumulative table and updates it
// one entry at a time, the decoder searches it linearly from symbol 0, and
// renormalisation settles one bit per turn. The fast coder must give the same
// bytes, symbols and failures.
#pragma once

#include <cstdint>

#include "coder/constants.h"
#include "stream/stream.h"

// Adaptive frequency model: a count per symbol and a cumulative table taken
// from the top. Symbol s owns the counts csym[s+1] .. csym[s]-1 of the total
// csym[0]; symbol 0 owns the top slice. When the total has reached
// MAX_FREQUENCY, every count is halved (rounding up) before the next is added.



struct ReferenceModel {
  int32_t nsym;      // alphabet size; 0 after release
  int32_t* freq;     // nsym counts (heap); freq[s] is the count of symbol s
  int32_t* csym;     // nsym+1 cumulative counts (heap); csym[i] = freq[i] + ... + freq[nsym-1]
  int32_t adaptive;  // nonzero: the coder calls reference_model_update after each symbol
  int32_t increment; // what each update adds to a count, 1 or more
};

// Fills model for nsym symbols (0..MAX_UNIFORM_ALPHABET) from counts (nsym
// values) or, with counts nullptr, uniform with every count 1. Returns 0.
// Raises "arithmetic coder model max frequency exceeded" for nsym above
// MAX_UNIFORM_ALPHABET (nothing allocated) or counts totalling more than
// MAX_FREQUENCY (tables kept for reference_model_release), and "arithmetic coder model
// allocation failure" for a negative nsym or a failed allocation.
int reference_model_init(ReferenceModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive,
                         int32_t increment = 1);

// Counts symbol s (0 <= s < nsym, not checked) by the increment, halving all
// counts first for as long as the total + the increment exceeds MAX_FREQUENCY.
void reference_model_update(ReferenceModel* model, int32_t s);

// Frees both tables and sets nsym 0; a released model may be released again.
void reference_model_release(ReferenceModel* model);

// Adaptive arithmetic encoder over 16-bit code registers.
//
// What a reader must know first:
// - Bits are emitted one at a time and packed into bytes least significant
//   bit first: the first bit of a stream is bit 0x01 of its first byte.
// - When the interval straddles the middle, the undecided bit is held as a
//   pending follow bit (a count, not a buffer) and emitted, inverted, right
//   after the next decided bit.
// - The finish emits one bit and its pending opposites (at least two bits),
//   then one more byte: the partly filled byte, or 0x00 when none is. A stream
//   of T bits is T/8 + 1 bytes long.
// - There is no header, length or end marker: the decoder must be told how
//   many symbols to take and must start from an identical model.
// - The model (see model.h) halves its counts when their total reaches 16383.



struct ReferenceEncoder {
  ByteStream* stream;      // receives the bytes; owned from reference_encoder_start to reference_encoder_finish
  int32_t low;             // lower end of the code interval, inclusive, 0..CODE_TOP
  int32_t high;            // upper end of the code interval, inclusive, 0..CODE_TOP
  int64_t bits_to_follow;  // pending follow bits, emitted inverted after the next bit
  int32_t buffer;          // byte being packed, 0..255; its earliest bit moves down to 0x01
  int32_t bits_to_go;      // free positions left in buffer, 1..8; 8: none placed yet
  int64_t bits_written;    // every bit emitted so far, final bits included
};

// Starts an encoder writing to path: a memory writer when path is empty,
// else a file opened "ab" when mode starts with 'a' or "wb" when it starts
// with 'w'. Returns 0, or -1 (nothing opened, state unchanged) for any other
// mode. Raises the stream's open failures before any register is set.
int reference_encoder_start(ReferenceEncoder* state, const char* path, const char* mode);

// Codes symbol (must lie in 0..nsym-1 and own a nonempty range of the model)
// and then counts it when the model is adaptive. Returns 0. Raises "symbol
// out of range" before anything changes, and "buffer allocation failure" when
// a memory writer cannot grow (the stream is then no longer decodable).
int reference_encoder_encode(ReferenceEncoder* state, ReferenceModel* model, int32_t symbol);

// Bits emitted so far; pending follow bits and the padding of the last byte
// are not counted.
int64_t reference_encoder_bits_written(const ReferenceEncoder* state);

// Emits the final bits and the last byte, hands back a memory encoder's bytes
// (*bytes_out: heap copy owned by the caller; *length_out their number) or
// *length_out 0 for a file, and closes the stream. The stream is closed even
// when a failure is raised: "buffer allocation failure", or "Could not write
// file" when a file lost bytes (what reached the file stays there).
void reference_encoder_finish(ReferenceEncoder* state, uint8_t** bytes_out, int32_t* length_out);

// Adaptive arithmetic decoder: reverses the encoder (see encoder.h for the
// byte format). Bits are taken from each byte least significant first; the
// first 16 bits form the initial value, the first bit as its top bit.
//
// Past the end of its input a file-fed decoder reads eight 1 bits per
// end-of-file read and fails on the 15th such read; a memory-fed decoder
// reads 0 bits for ever and never fails. Either way a complete stream
// decodes correctly, since its final bits settle the last interval.



struct ReferenceDecoder {
  ByteStream* stream;    // input; owned from reference_decoder_start to reference_decoder_close
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
// state->stream for reference_decoder_close) and "arithmetic decoder bad input file".
int reference_decoder_start(ReferenceDecoder* state, const void* source, int64_t count_or_offset, int from_memory);

// Next symbol, 0..nsym-1; counts it when the model is adaptive. When no
// symbol fits, prints a dump of the cumulative table to standard output and
// raises "symbol out of range" with nothing changed. Raises "arithmetic
// decoder bad input file" on the 15th end-of-file read of a file.
int32_t reference_decoder_decode(ReferenceDecoder* state, ReferenceModel* model);

// Closes the stream (nullptr is ignored); unread bytes are ignored.
void reference_decoder_close(ReferenceDecoder* state);

// A bank of models: each symbol is coded with the model of its context, or,
// in a bank of order 1, of the symbol before; a model is made when it is
// first asked for.
struct ReferenceBank {
  int32_t count;            // number of models
  int32_t order;            // 1: the context of each symbol is the symbol before it
  int32_t previous;         // order 1: the context of the next symbol
  ReferenceModel* models;   // count models (heap); csym nullptr until made
  int32_t nsym;             // alphabet of every model
  int32_t columns;          // columns of counts: 0 (uniform), 1 (every model's) or count
  const int32_t* counts;    // the caller's counts, nsym per column; kept by the caller
  int32_t adaptive;         // as ReferenceModel
  int32_t increment;        // as ReferenceModel
};

// Prepares count models of nsym symbols, model k from column k of counts
// (nsym values per column; columns 1: every model from column 0; 0:
// uniform), which must outlive the bank.
void reference_bank_init(ReferenceBank* bank, int32_t nsym, int32_t count, int32_t order, const int32_t* counts,
                         int32_t columns, int32_t adaptive, int32_t increment);
void reference_bank_release(ReferenceBank* bank);

// The model of the next symbol: context (0..count-1), or with order 1 the
// symbol before. reference_bank_coded tells the bank a symbol was coded.
ReferenceModel* reference_bank_model(ReferenceBank* bank, int32_t context);
void reference_bank_coded(ReferenceBank* bank, int32_t symbol);
