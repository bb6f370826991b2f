// SPDX-License-Identifier: BSD-3-Clause
// The version-2 container of kestrel_compress: a header with a checksum, a
// block table, and blocks coded in parallel threads (block.h). The bytes do
// not depend on the number of threads. Little-endian, unsigned unless said;
// D dimensions, M blocks:
//   0        4    magic 'KEST'
//   4        1    version, 2
//   5        1    class: 1 double, 2 single, 3 int8, 4 uint8, 5 int16, 6 uint16,
//                 7 int32, 8 uint32, 9 int64, 10 uint64, 11 logical, 12 char
//   6        1    D, 2..255
//   7        1    the layout of the blocks, 0 or 1 (below)
//   8        8D   the size
//   8+8D     8    N, the number of elements (the product of the size)
//   16+8D    4    B, elements per block, 1..2^20
//   20+8D    4    M = ceil(N / B)
//   24+8D    8M   block table: per block its payload's length (4) and CRC-32 (4)
//   24+8D+8M 4    CRC-32 of bytes 0 .. 23+8D+8M
//   28+8D+8M      the payloads, back to back
// Layout 0: block b holds elements b*B .. min((b+1)*B, N)-1 in storage
// order. Layout 1 (channels): only for D = 2 or 3, N >= 1 and C = size(D),
// the channels, in 2..16. A line is a row (D = 2) or a column (D = 3) of
// one channel, of L = 1 or size(1) elements; B is a multiple of L*C, and
// block b holds lines b*Lb .. min((b+1)*Lb, size(D-1))-1 of every channel,
// Lb = B / (L*C), channel after channel: an array of its own, n-by-C or
// size(1)-by-n-by-C for its n lines (min(B, N - b*B) elements, as in
// layout 0). Block values are 64-bit integers; a block of a float class
// holding an integer of magnitude 2^63 or more codes the IEEE bit patterns
// of its elements instead (a single's in the low 32 bits), marked by bit
// 0x80 of the payload's method byte.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t CODEC_VERSION = 2;
constexpr uint64_t CODEC_BLOCK_TARGET = uint64_t{1} << 20;  // elements per block: the largest a header may claim
constexpr int32_t CODEC_MAX_DIMS = 255;
constexpr int32_t CODEC_CLASS_COUNT = 12;
constexpr int32_t CODEC_CLASS_CHAR = 12;
constexpr int32_t CODEC_CLASS_LOGICAL = 11;
constexpr uint64_t CODEC_CHANNELS_MAX = 16;  // layout 1: the most channels (the last dimension) it takes

// The layouts of blocks in an array (header byte 7).
enum CodecLayout {
  CODEC_LAYOUT_AUTO = -1,     // the encoder's choice: CHANNELS where it applies and the array exceeds a block
  CODEC_LAYOUT_STORAGE = 0,   // ranges of storage order: whole columns, or whole planes where a plane fits
  CODEC_LAYOUT_CHANNELS = 1   // a range of rows (2-D) or columns (3-D) of every channel (the last dimension, 2..16)
};

// An array as the host holds it.
struct CodecArray {
  int32_t cls;                     // class code 1..12
  int32_t element_bytes;           // bytes per element in data (a char: 1 or 2, by host)
  void* data;                      // count elements in storage order; may be nullptr when count is 0
  uint64_t count;                  // number of elements
  int32_t ndims;                   // 2..CODEC_MAX_DIMS
  uint64_t dims[CODEC_MAX_DIMS];   // the size
};

// Called on the calling thread, about once a second, during long calls,
// while the other threads code: report must not throw.
struct CodecProgress {
  void (*report)(void* context, uint64_t done, uint64_t total) noexcept;  // nullptr: no progress
  void* context;
};

struct CodecOptions {
  int32_t predictor;       // a Predictor, or PRED_AUTO
  int32_t threads;         // 1 or more
  CodecProgress progress;  // what to call back
  int32_t layout = CODEC_LAYOUT_AUTO;  // a CodecLayout; CHANNELS where it does not apply writes STORAGE
  int32_t method = 2;                  // the coding blocks try: 1 classes, 2 buckets (a BlockMethod); 1 is for tests
};

// Gives back the working memory that the calling thread keeps from one
// call to the next (one block's, at most about 40 MB). The module's exit
// hook calls it.
void codec_release() noexcept;

// The largest container codec_compress can write for array, in any layout.
uint64_t codec_bound(const CodecArray& array);

// Writes the container of array into out (codec_bound bytes); returns its
// length. Raises kestrel:notIntegerValued (a fraction, NaN or Inf) and out
// of memory. No thread calls anything but the standard library, except the
// calling thread's progress reports.
uint64_t codec_compress(const CodecArray& array, const CodecOptions& options, uint8_t* out);

// What a container's header says.
struct CodecHeader {
  int32_t cls;                    // class code 1..12
  int32_t ndims;                  // 2..255
  int32_t layout;                 // CODEC_LAYOUT_STORAGE or CODEC_LAYOUT_CHANNELS
  uint64_t dims[CODEC_MAX_DIMS];  // the size
  uint64_t count;                 // N
  uint64_t block;                 // B
  uint64_t blocks;                // M
  uint64_t table_at;              // offset of the block table
  uint64_t payload_at;            // offset of the first payload
};

// Checks bytes 0..length-1 as a version-2 container: magic, version, class,
// every field (the layout, and B against it) and the checksum of the header
// and table, and that the block lengths add up to the bytes left, before
// anything is allocated. Raises
// notCompressed, truncated, trailingBytes, unknownVersion, unknownClass or
// corruptHeader.
void codec_read_header(const uint8_t* bytes, uint64_t length, CodecHeader* header);

// Decodes every block into array (whose class, size and data the caller
// made from header). Raises kestrel:corruptData when a block fails its
// checksum or does not decode to exactly its bytes, and
// kestrel:charTooWide when a char code does not fit the host's characters.
void codec_decompress(const uint8_t* bytes, const CodecHeader& header, CodecArray* array, const CodecOptions& options);
