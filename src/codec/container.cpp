// SPDX-License-Identifier: BSD-3-Clause
#include "codec/container.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/failure.h"
#include "codec/block.h"
#include "codec/crc32.h"

namespace {

constexpr uint64_t HEADER_FIXED = 24;   // bytes of the header besides the size
constexpr uint64_t TABLE_ENTRY = 8;     // a block's length and CRC-32
constexpr double TWO_TO_63 = 9223372036854775808.0;
constexpr int32_t LOAD_AS_BITS = MESSAGE_COUNT;  // load_values: a float integer beyond 64-bit integers
constexpr uint8_t METHOD_FLOAT_BITS = 0x80;      // in a block's method byte: its values are IEEE bit patterns

// Float values as their bit patterns (a single's in the low 32 bits).
template <typename T>
void load_float_bits(const void* data, uint64_t first, uint64_t count, int64_t* x) {
  const T* in = static_cast<const T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) {
    typename std::conditional<sizeof(T) == 8, uint64_t, uint32_t>::type bits;
    std::memcpy(&bits, &in[p], sizeof bits);
    x[p] = static_cast<int64_t>(bits);
  }
}

template <typename T>
void store_float_bits(const int64_t* x, uint64_t count, void* data, uint64_t first) {
  T* out = static_cast<T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) {
    typename std::conditional<sizeof(T) == 8, uint64_t, uint32_t>::type bits =
        static_cast<decltype(bits)>(static_cast<uint64_t>(x[p]));
    std::memcpy(&out[p], &bits, sizeof bits);
  }
}

// How a class's values are held while coded.
struct ClassForm {
  int32_t width;      // value bits
  int32_t is_signed;  // two's complement
  int32_t is_float;   // 1 double, 2 single
};

ClassForm class_form(int32_t cls) {
  static const ClassForm FORMS[CODEC_CLASS_COUNT] = {{64, 1, 1}, {64, 1, 2}, {8, 1, 0},  {8, 0, 0},
                                                      {16, 1, 0}, {16, 0, 0}, {32, 1, 0}, {32, 0, 0},
                                                      {64, 1, 0}, {64, 0, 0}, {1, 0, 0},  {16, 0, 0}};
  return FORMS[cls - 1];
}

void put_le(uint8_t* out, uint64_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) out[k] = static_cast<uint8_t>(value >> (8 * k));
}

uint64_t get_le(const uint8_t* in, int bytes) {
  uint64_t v = 0;
  for (int k = 0; k < bytes; ++k) v |= static_cast<uint64_t>(in[k]) << (8 * k);
  return v;
}

// Elements per block: whole columns (whole planes when a plane fits), at
// most CODEC_BLOCK_TARGET; 1 for an empty array.
uint64_t block_elements(const CodecArray& a) {
  if (a.count == 0) return 1;
  uint64_t rows = a.dims[0], plane = a.dims[0] * a.dims[1];
  uint64_t unit = plane <= CODEC_BLOCK_TARGET ? plane : rows <= CODEC_BLOCK_TARGET ? rows : CODEC_BLOCK_TARGET;
  uint64_t block = unit * (CODEC_BLOCK_TARGET / unit);
  return block < a.count ? block : a.count;
}

BlockShape shape_of(int32_t cls, uint64_t rows, uint64_t cols, uint64_t block, uint64_t first, uint64_t count) {
  ClassForm form = class_form(cls);
  BlockShape s{};
  s.count = count;
  s.rows = rows;
  s.plane = rows * cols;
  s.two_d = rows > 1 && cols > 1 && block % rows == 0 && first % rows == 0;
  s.width = form.width;
  s.is_signed = form.is_signed;
  return s;
}

// Reads elements first..first+count-1 as 64-bit values; returns -1 or the
// message of a value that cannot be coded.
template <typename T>
int32_t load_integers(const void* data, uint64_t first, uint64_t count, int64_t* x) {
  const T* in = static_cast<const T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) x[p] = static_cast<int64_t>(in[p]);
  return -1;
}

template <typename T>
int32_t load_floats(const void* data, uint64_t first, uint64_t count, int64_t* x) {
  const T* in = static_cast<const T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) {
    double v = static_cast<double>(in[p]);
    if (v != v || v - v != 0) return MSG_NOT_INTEGER_VALUED;  // NaN, Inf
    if (!(v >= -TWO_TO_63 && v < TWO_TO_63)) return LOAD_AS_BITS;
    int64_t i = static_cast<int64_t>(v);
    if (static_cast<double>(i) != v) return MSG_NOT_INTEGER_VALUED;
    x[p] = i;
  }
  return -1;
}

int32_t load_values(const CodecArray& a, uint64_t first, uint64_t count, int64_t* x) {
  switch (a.cls) {
    case 1: return load_floats<double>(a.data, first, count, x);
    case 2: return load_floats<float>(a.data, first, count, x);
    case 3: return load_integers<int8_t>(a.data, first, count, x);
    case 5: return load_integers<int16_t>(a.data, first, count, x);
    case 6: return load_integers<uint16_t>(a.data, first, count, x);
    case 7: return load_integers<int32_t>(a.data, first, count, x);
    case 8: return load_integers<uint32_t>(a.data, first, count, x);
    case 9: return load_integers<int64_t>(a.data, first, count, x);
    case 10: return load_integers<uint64_t>(a.data, first, count, x);
    case CODEC_CLASS_CHAR:
      if (a.element_bytes == 2) return load_integers<uint16_t>(a.data, first, count, x);
      return load_integers<uint8_t>(a.data, first, count, x);
    default: return load_integers<uint8_t>(a.data, first, count, x);  // uint8, logical
  }
}

// Floats must hold each value exactly, as they did when it was coded.
template <typename T>
int32_t store_floats(const int64_t* x, uint64_t count, void* data, uint64_t first) {
  T* out = static_cast<T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) {
    T f = static_cast<T>(x[p]);
    if (!(f >= static_cast<T>(-TWO_TO_63) && f < static_cast<T>(TWO_TO_63)) || static_cast<int64_t>(f) != x[p]) {
      return MSG_CORRUPT_DATA;
    }
    out[p] = f;
  }
  return -1;
}

template <typename T>
void store_values(const int64_t* x, uint64_t count, void* data, uint64_t first) {
  T* out = static_cast<T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) out[p] = static_cast<T>(x[p]);
}

// Writes decoded values; returns -1, or the message of a value the host's
// array cannot take (only a forged block gives one).
int32_t save_values(const int64_t* x, uint64_t count, CodecArray* a, uint64_t first) {
  switch (a->cls) {
    case 1: return store_floats<double>(x, count, a->data, first);
    case 2: return store_floats<float>(x, count, a->data, first);
    case 3: store_values<int8_t>(x, count, a->data, first); break;
    case 5: store_values<int16_t>(x, count, a->data, first); break;
    case 6: store_values<uint16_t>(x, count, a->data, first); break;
    case 7: store_values<int32_t>(x, count, a->data, first); break;
    case 8: store_values<uint32_t>(x, count, a->data, first); break;
    case 9: store_values<int64_t>(x, count, a->data, first); break;
    case 10: store_values<uint64_t>(x, count, a->data, first); break;
    case CODEC_CLASS_CHAR:
      if (a->element_bytes == 2) {
        store_values<uint16_t>(x, count, a->data, first);
        break;
      }
      for (uint64_t p = 0; p < count; ++p) {
        if (x[p] > 255) return MSG_CHAR_TOO_WIDE;
      }
      store_values<uint8_t>(x, count, a->data, first);
      break;
    default: store_values<uint8_t>(x, count, a->data, first); break;
  }
  return -1;
}

// Runs work(b) for b = 0..blocks-1 on threads (the calling thread among
// them, and the only one that reports progress).
// When the system refuses a thread, the blocks go to those already started
// (at the least the calling thread): the bytes are the same either way.
template <typename Work>
void run_blocks(uint64_t blocks, int32_t threads, Work& work) {
  std::atomic<uint64_t> next{0};
  auto loop = [&]() {
    for (uint64_t b = next++; b < blocks; b = next++) work(b);
  };
  uint64_t extra = static_cast<uint64_t>(threads) - 1;
  if (extra > blocks - 1) extra = blocks - 1;
  std::vector<std::thread> pool;
  try {
    pool.reserve(extra);
    for (uint64_t t = 0; t < extra; ++t) pool.emplace_back(loop);
  } catch (...) {
  }
  loop();
  for (auto& thread : pool) thread.join();
}

}  // namespace

uint64_t codec_bound(const CodecArray& a) {
  uint64_t block = block_elements(a), blocks = a.count == 0 ? 0 : (a.count + block - 1) / block;
  uint64_t bytes = block_width_bytes(class_form(a.cls).width);
  return HEADER_FIXED + 8 * static_cast<uint64_t>(a.ndims) + 4 + blocks * (TABLE_ENTRY + 1) + a.count * bytes;
}

uint64_t codec_compress(const CodecArray& a, const CodecOptions& options, uint8_t* out) {
  uint64_t block = block_elements(a), blocks = a.count == 0 ? 0 : (a.count + block - 1) / block;
  uint64_t table_at = HEADER_FIXED + 8 * static_cast<uint64_t>(a.ndims);
  uint64_t position = table_at + TABLE_ENTRY * blocks + 4;
  std::memcpy(out, "KEST", 4);
  out[4] = CODEC_VERSION;
  out[5] = static_cast<uint8_t>(a.cls);
  out[6] = static_cast<uint8_t>(a.ndims);
  out[7] = 0;
  for (int32_t k = 0; k < a.ndims; ++k) put_le(out + 8 + 8 * k, a.dims[k], 8);
  put_le(out + table_at - 16, a.count, 8);
  put_le(out + table_at - 8, block, 4);
  put_le(out + table_at - 4, blocks, 4);

  struct Slot {
    std::vector<uint8_t> bytes;  // the payload, until it is copied out
    int32_t failure = -1;        // a MessageId, or -1
    bool done = false;           // coded (or failed)
  };
  std::vector<Slot> slots(blocks);
  std::mutex lock;
  std::condition_variable turn;
  uint64_t copied = 0;  // blocks copied to out, in order
  bool aborted = false;
  uint64_t window = 2 * static_cast<uint64_t>(options.threads);
  auto last_report = std::chrono::steady_clock::now();
  std::thread::id caller = std::this_thread::get_id();
  auto work = [&](uint64_t b) {
    {
      std::unique_lock<std::mutex> held(lock);
      turn.wait(held, [&] { return b < copied + window || aborted; });
      if (aborted) return;
    }
    uint64_t first = b * block, count = a.count - first < block ? a.count - first : block;
    Slot& slot = slots[b];
    try {
      std::vector<int64_t> x(count);
      slot.failure = load_values(a, first, count, x.data());
      bool as_bits = slot.failure == LOAD_AS_BITS;
      if (as_bits) {
        slot.failure = -1;
        if (a.cls == 1) load_float_bits<double>(a.data, first, count, x.data());
        if (a.cls == 2) load_float_bits<float>(a.data, first, count, x.data());
      }
      BlockShape shape = shape_of(a.cls, a.dims[0], a.dims[1], block, first, count);
      if (slot.failure < 0) block_encode(x.data(), shape, options.predictor, &slot.bytes);
      if (as_bits) slot.bytes[0] |= METHOD_FLOAT_BITS;
    } catch (const std::bad_alloc&) {
      slot.failure = MSG_OUT_OF_MEMORY;
    } catch (...) {  // nothing may leave a worker thread: it would end the session
      slot.failure = MSG_INTERNAL_FAULT;
    }
    std::lock_guard<std::mutex> held(lock);
    slot.done = true;
    if (slot.failure >= 0) aborted = true;
    while (!aborted && copied < blocks && slots[copied].done) {
      Slot& ready = slots[copied];
      uint64_t length = ready.bytes.size();
      std::memcpy(out + position, ready.bytes.data(), length);
      put_le(out + table_at + TABLE_ENTRY * copied, length, 4);
      put_le(out + table_at + TABLE_ENTRY * copied + 4, crc32_update(0, ready.bytes.data(), length), 4);
      position += length;
      std::vector<uint8_t>().swap(ready.bytes);
      ++copied;
    }
    turn.notify_all();
    if (options.progress.report != nullptr && std::this_thread::get_id() == caller &&
        std::chrono::steady_clock::now() - last_report > std::chrono::seconds(1)) {
      last_report = std::chrono::steady_clock::now();
      options.progress.report(options.progress.context, copied, blocks);
    }
  };
  if (blocks > 0) run_blocks(blocks, options.threads, work);
  for (const Slot& slot : slots) {
    if (slot.failure >= 0) raise_failure(static_cast<MessageId>(slot.failure));
  }
  uint64_t table_end = table_at + TABLE_ENTRY * blocks;
  put_le(out + table_end, crc32_update(0, out, table_end), 4);
  return position;
}

namespace {
[[noreturn]] void corrupt_header() { raise_failure(MSG_CORRUPT_HEADER); }

// The size's fields: each dimension, and their product equal to N.
void read_size(const uint8_t* bytes, CodecHeader* h) {
  uint64_t product = 1;
  bool overflow = false;
  for (int32_t k = 0; k < h->ndims; ++k) {
    h->dims[k] = get_le(bytes + 8 + 8 * k, 8);
    if (h->dims[k] != 0 && product > UINT64_MAX / h->dims[k]) overflow = true;
    product *= h->dims[k];
  }
  if (overflow && product != 0) corrupt_header();
  bool any_zero = false;
  for (int32_t k = 0; k < h->ndims; ++k) any_zero = any_zero || h->dims[k] == 0;
  if ((any_zero ? 0 : product) != h->count || (overflow && !any_zero)) corrupt_header();
}
}  // namespace

void codec_read_header(const uint8_t* bytes, uint64_t length, CodecHeader* h) {
  static const uint8_t MAGIC[4] = {'K', 'E', 'S', 'T'};
  uint64_t seen = length < 4 ? length : 4;
  if (std::memcmp(bytes, MAGIC, seen) != 0) raise_failure(MSG_NOT_COMPRESSED);
  if (length < 8) raise_failure(MSG_TRUNCATED);
  if (bytes[4] != CODEC_VERSION) raise_failure(MSG_UNKNOWN_VERSION);
  if (bytes[5] < 1 || bytes[5] > CODEC_CLASS_COUNT) raise_failure(MSG_UNKNOWN_CLASS);
  h->cls = bytes[5];
  h->ndims = bytes[6];
  h->table_at = HEADER_FIXED + 8 * static_cast<uint64_t>(h->ndims);
  if (length < h->table_at) raise_failure(MSG_TRUNCATED);
  h->count = get_le(bytes + h->table_at - 16, 8);
  h->block = get_le(bytes + h->table_at - 8, 4);
  h->blocks = get_le(bytes + h->table_at - 4, 4);
  uint64_t table_end = h->table_at + TABLE_ENTRY * h->blocks;
  if (length < table_end + 4) raise_failure(MSG_TRUNCATED);
  if (crc32_update(0, bytes, table_end) != get_le(bytes + table_end, 4)) corrupt_header();
  if (h->ndims < 2 || bytes[7] != 0 || h->block < 1 || h->block > CODEC_BLOCK_TARGET) corrupt_header();
  if (h->blocks != (h->count + h->block - 1) / h->block) corrupt_header();
  read_size(bytes, h);
  h->payload_at = table_end + 4;
  uint64_t total = 0;
  for (uint64_t b = 0; b < h->blocks; ++b) {
    uint64_t size = get_le(bytes + h->table_at + TABLE_ENTRY * b, 4);
    if (size == 0) corrupt_header();
    total += size;
  }
  if (length - h->payload_at < total) raise_failure(MSG_TRUNCATED);
  if (length - h->payload_at > total) raise_failure(MSG_TRAILING_BYTES);
}

void codec_decompress(const uint8_t* bytes, const CodecHeader& h, CodecArray* a, const CodecOptions& options) {
  std::vector<uint64_t> offsets(h.blocks + 1);
  offsets[0] = h.payload_at;
  for (uint64_t b = 0; b < h.blocks; ++b) offsets[b + 1] = offsets[b] + get_le(bytes + h.table_at + TABLE_ENTRY * b, 4);
  std::vector<int32_t> failures(h.blocks, -1);
  std::atomic<bool> aborted{false};
  std::atomic<uint64_t> finished{0};
  auto last_report = std::chrono::steady_clock::now();
  std::thread::id caller = std::this_thread::get_id();
  auto work = [&](uint64_t b) {
    if (aborted) return;
    uint64_t first = b * h.block, count = h.count - first < h.block ? h.count - first : h.block;
    const uint8_t* data = bytes + offsets[b];
    uint64_t length = offsets[b + 1] - offsets[b];
    int32_t failure = -1;
    try {
      std::vector<int64_t> x(count);
      std::vector<uint32_t> scratch;
      BlockShape shape = shape_of(h.cls, h.dims[0], h.dims[1], h.block, first, count);
      bool as_bits = length > 0 && (data[0] & METHOD_FLOAT_BITS) != 0;
      if (crc32_update(0, data, length) != get_le(bytes + h.table_at + TABLE_ENTRY * b + 4, 4) ||
          (as_bits && h.cls > 2) || !block_decode(data, length, shape, x.data(), &scratch)) {
        failure = MSG_CORRUPT_DATA;
      } else if (as_bits && h.cls == 1) {
        store_float_bits<double>(x.data(), count, a->data, first);
      } else if (as_bits) {
        store_float_bits<float>(x.data(), count, a->data, first);
      } else {
        failure = save_values(x.data(), count, a, first);
      }
    } catch (const std::bad_alloc&) {
      failure = MSG_OUT_OF_MEMORY;
    } catch (...) {  // nothing may leave a worker thread: it would end the session
      failure = MSG_INTERNAL_FAULT;
    }
    failures[b] = failure;
    if (failure >= 0) aborted = true;
    ++finished;
    if (options.progress.report != nullptr && std::this_thread::get_id() == caller &&
        std::chrono::steady_clock::now() - last_report > std::chrono::seconds(1)) {
      last_report = std::chrono::steady_clock::now();
      options.progress.report(options.progress.context, finished, h.blocks);
    }
  };
  if (h.blocks > 0) run_blocks(h.blocks, options.threads, work);
  for (int32_t failure : failures) {
    if (failure >= 0) raise_failure(static_cast<MessageId>(failure));
  }
}
