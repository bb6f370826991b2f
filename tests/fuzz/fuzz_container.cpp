// SPDX-License-Identifier: BSD-3-Clause
// The version-2 container decoder on arbitrary bytes. Input: a mode byte,
// then the container. Mode bit 0 set: the checksums of the header, table and
// blocks are recomputed first, so that the block decoders themselves meet
// forged payloads. Bit 1: decoded with 2 threads. Either way decoding must
// end in a failure from the message table or in an array; an array that
// decodes is compressed again (1 and 3 threads, the same bytes; bit 2 set:
// in layout 1, every channel in a block, where the shape takes it; bit 3
// set: its blocks coded by method 1, the classes, instead of 2) and must
// decode to itself: the same bytes, or for floats the same values (-0
// comes back as 0 outside blocks coded as bit patterns).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/failure.h"
#include "codec/block.h"
#include "codec/container.h"
#include "codec/crc32.h"

namespace {

constexpr uint64_t MAX_ELEMENTS = uint64_t{1} << 20;  // larger claims are left alone: they cost time, not coverage

uint64_t read_le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int k = 0; k < bytes; ++k) v |= static_cast<uint64_t>(p[k]) << (8 * k);
  return v;
}

void write_le(uint8_t* p, uint64_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

// Recomputes every checksum that the bytes have room for.
void repair(std::vector<uint8_t>& c) {
  if (c.size() < 8) return;
  uint64_t table = 24 + 8 * static_cast<uint64_t>(c[6]);
  if (c.size() < table) return;
  uint64_t blocks = read_le(&c[table - 4], 4);
  if (blocks > c.size() / 8 || c.size() < table + 8 * blocks + 4) return;
  uint64_t at = table + 8 * blocks + 4;
  for (uint64_t b = 0; b < blocks; ++b) {
    uint64_t length = read_le(&c[table + 8 * b], 4);
    if (length > c.size() - at) break;
    write_le(&c[table + 8 * b + 4], crc32_update(0, &c[at], length));
    at += length;
  }
  write_le(&c[table + 8 * blocks], crc32_update(0, c.data(), table + 8 * blocks));
}

std::size_t element_bytes(int32_t cls) {
  static const std::size_t SIZES[CODEC_CLASS_COUNT] = {8, 4, 1, 1, 2, 2, 4, 4, 8, 8, 1, 1};
  return SIZES[cls - 1];
}

// Decodes c; returns the array's storage in *data and true, or false on a failure.
bool decode(const std::vector<uint8_t>& c, CodecHeader* h, std::vector<uint8_t>* data, int32_t threads) {
  try {
    codec_read_header(c.data(), c.size(), h);
    if (h->count > MAX_ELEMENTS) return false;
    data->assign(h->count * element_bytes(h->cls) + 1, 0);
    CodecArray a{};
    a.cls = h->cls;
    a.element_bytes = 1;
    a.data = data->data();
    a.count = h->count;
    a.ndims = h->ndims;
    std::memcpy(a.dims, h->dims, sizeof h->dims);
    codec_decompress(c.data(), *h, &a, CodecOptions{-1, threads, {nullptr, nullptr}, CODEC_LAYOUT_AUTO});
    return true;
  } catch (const Failure& failure) {
    if (failure.id < 0 || failure.id >= MESSAGE_COUNT) std::abort();
    return false;
  }
}

// Whether two decodings of cls hold the same values: for doubles and
// singles as floats (bytes of size + 1, the last unused), else byte for byte.
template <typename T>
bool same_floats(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  for (std::size_t at = 0; at + sizeof(T) <= a.size(); at += sizeof(T)) {
    T x, y;
    std::memcpy(&x, &a[at], sizeof x);
    std::memcpy(&y, &b[at], sizeof y);
    if (!(x == y)) return false;
  }
  return true;
}

bool same_values(int32_t cls, const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return false;
  if (cls == 1) return same_floats<double>(a, b);
  if (cls == 2) return same_floats<float>(a, b);
  return a == b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  std::vector<uint8_t> c(input + 1, input + size);
  if (c.empty()) c.push_back(0);  // a container of no bytes is read through a 1-byte buffer
  if (input[0] & 1) repair(c);
  CodecHeader h;
  std::vector<uint8_t> data;
  if (!decode(c, &h, &data, 1 + (input[0] >> 1 & 1))) return 0;
  CodecArray a{};
  a.cls = h.cls;
  a.element_bytes = 1;
  a.data = data.data();
  a.count = h.count;
  a.ndims = h.ndims;
  std::memcpy(a.dims, h.dims, sizeof h.dims);
  int32_t layout = input[0] & 4 ? CODEC_LAYOUT_CHANNELS : CODEC_LAYOUT_AUTO;
  int32_t method = input[0] & 8 ? BLOCK_CLASSES : BLOCK_BUCKETS;
  std::vector<uint8_t> again(codec_bound(a)), thrice(codec_bound(a));
  again.resize(codec_compress(a, CodecOptions{-1, 1, {nullptr, nullptr}, layout, method}, again.data()));
  thrice.resize(codec_compress(a, CodecOptions{-1, 3, {nullptr, nullptr}, layout, method}, thrice.data()));
  if (again != thrice) std::abort();
  CodecHeader h2;
  std::vector<uint8_t> data2;
  if (!decode(again, &h2, &data2, 2) || !same_values(h.cls, data, data2)) std::abort();
  return 0;
}
