// SPDX-License-Identifier: BSD-3-Clause
// One block of a version-2 container: its elements predicted, the residuals
// coded with context models, or the elements stored as they are when coding
// does not pay. Blocks are coded independently of each other, so that any
// number of threads gives the same bytes.
//
// A block's payload:
//   byte 0   method (a BlockMethod): 0 stored, 1 or 2 coded; its top bit is
//            the container's (the values of a float block are IEEE bit
//            patterns) and ignored here
//   stored:  the elements, little-endian, width_bytes each (the value's low bits)
//   coded:   the residuals in classes (1) or buckets (2) of their
//            magnitude (residual.h); byte 1 predictor (a Predictor, or BLOCK_RUNS with one), byte 2 shift s (every element
//            was a multiple of 2^s; they are coded divided by 2^s), then the
//            range coder's bytes (range_coder.h); PRED_LPC and PRED_STEREO
//            code, before every 4096 elements, the order (6 raw bits), the
//            shift (4) and the coefficients (16 each) of their prediction
//            (lpc.h). Method 2 puts bytes 3..6 before the range coder's:
//            R, the length of the raw bits' stream (bit_stream.h), whose R
//            bytes end the payload
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The predictors; a block names the one it was coded with.
enum Predictor {
  PRED_NONE = 0,       // 0: the values themselves
  PRED_PREVIOUS = 1,   // the previous element along the first dimension
  PRED_LINEAR = 2,     // 2 x[i-1] - x[i-2]: signals
  PRED_MED = 3,        // the median edge predictor over the first two dimensions
  PRED_PLANE = 4,      // MED, corrected by the previous plane's MED residual at the same place
  PRED_LPC = 5,        // linear prediction along the first dimension, coefficients per 4096 elements
  PRED_STEREO = 6,     // PRED_LPC of the difference from the previous column (channel) past the first
  PREDICTOR_COUNT,
  PRED_AUTO = -1       // chosen per block from an estimate of each one's cost
};

// In a coded block's predictor byte: run mode, for blocks mostly of zero
// residuals (not with PRED_LPC or PRED_STEREO). Where every neighbouring
// residual is 0, the number of zero residuals from there on is coded at once.
constexpr uint8_t BLOCK_RUNS = 0x80;

// Where a block lies in its array and how its values are reduced.
struct BlockShape {
  uint64_t count;     // elements in the block, 1..2^20
  uint64_t rows;      // the array's first dimension, R: the step to the previous column
  uint64_t plane;     // R times the second dimension: the step to the previous plane
  int32_t two_d;      // 1: the block starts a column and both first dimensions exceed 1 (MED allowed)
  int32_t width;      // value bits: 1, 8, 16, 32 or 64; residuals are reduced modulo 2^width
  int32_t is_signed;  // 1: values are width-bit two's complement, 0: unsigned
};

// Stored payload bytes per element of width bits.
inline uint32_t block_width_bytes(int32_t width) { return width <= 8 ? 1u : static_cast<uint32_t>(width / 8); }

// Working memory of one thread's blocks, kept from one block to the next
// so that a block does not touch fresh pages. Its contents between calls
// mean nothing.
struct BlockScratch {
  std::vector<int64_t> values;       // the block's values, as the container loads or saves them
  std::vector<uint32_t> magnitudes;  // per element, its residual's magnitude, for the contexts
  std::vector<int64_t> signal;       // stereo linear prediction: the signal it predicts
  std::vector<double> exact;         // and that signal as doubles, where that is exact
  std::vector<uint8_t> payload;      // the encoder's output, before it is copied out
  std::vector<uint8_t> raw;          // method 2: the raw bits' stream, before it is copied into the payload
};

// A block's method, its payload's first byte.
enum BlockMethod {
  BLOCK_STORED = 0,   // the elements as they are
  BLOCK_CLASSES = 1,  // residuals coded as binary decisions on their magnitude's class
  BLOCK_BUCKETS = 2   // residuals coded as one symbol of their magnitude's bucket, then raw bits
};

// Codes the block's count values (x: each a value of the shape's width and
// signedness, as a 64-bit integer; changed in place) with predictor
// (PRED_AUTO or any; one that does not apply to the shape falls back to
// PRED_PREVIOUS) and method (BLOCK_CLASSES or BLOCK_BUCKETS; stored where
// coding does not pay), appending the payload to *out. Throws std::bad_alloc.
void block_encode(int64_t* x, const BlockShape& shape, int32_t predictor, int32_t method, std::vector<uint8_t>* out,
                  BlockScratch* scratch);

// Decodes a payload of length bytes into x (count values). Returns false when
// the payload is malformed: an unknown method, predictor or shift, a stored
// payload of the wrong length, or a coded one whose decoder does not end
// exactly at its last byte. Throws std::bad_alloc.
bool block_decode(const uint8_t* data, std::size_t length, const BlockShape& shape, int64_t* x,
                  BlockScratch* scratch);
