// SPDX-License-Identifier: BSD-3-Clause
#include "codec/container.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/checks.h"
#include "base/failure.h"
#include "codec/block.h"
#include "codec/crc32.h"
#include "codec/lpc.h"

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

// Writes bit patterns as floats; MSG_CORRUPT_DATA (only a forged block
// gives it) where one is not a whole number, as every float coded is: NaN,
// an infinity or a fraction. Else -1.
template <typename T>
int32_t store_float_bits(const int64_t* x, uint64_t count, void* data, uint64_t first) {
  T* out = static_cast<T*>(data) + first;
  for (uint64_t p = 0; p < count; ++p) {
    typename std::conditional<sizeof(T) == 8, uint64_t, uint32_t>::type bits =
        static_cast<decltype(bits)>(static_cast<uint64_t>(x[p]));
    T f;
    std::memcpy(&f, &bits, sizeof bits);
    if (f - f != 0 || std::floor(f) != f) return MSG_CORRUPT_DATA;
    out[p] = f;
  }
  return -1;
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

// Layout 1's unit for a size of ndims dimensions and count elements: the
// elements of one line (a row of a 2-D array, a column of a 3-D one) across
// every channel (the last dimension); 0 where the layout does not take the
// shape: D other than 2 or 3, channels outside 2..CODEC_CHANNELS_MAX, or no
// elements.
uint64_t channel_unit(int32_t ndims, const uint64_t* dims, uint64_t count) {
  if (count == 0 || ndims < 2 || ndims > 3) return 0;
  uint64_t channels = dims[ndims - 1];
  if (channels < 2 || channels > CODEC_CHANNELS_MAX) return 0;
  return (ndims == 3 ? dims[0] : 1) * channels;  // at most count: no overflow
}

// The layout of a's blocks for the requested one (a CodecLayout): layout 1
// where it takes the shape, a block holds a line of every channel (two
// columns of a 3-D array: with one, the block would lose the median edge
// predictor), and it is asked for or (CODEC_LAYOUT_AUTO) the array exceeds
// one block.
int32_t layout_of(const CodecArray& a, int32_t requested) {
  uint64_t unit = channel_unit(a.ndims, a.dims, a.count), most = a.ndims == 3 ? CODEC_BLOCK_TARGET / 2 : CODEC_BLOCK_TARGET;
  if (unit == 0 || unit > most || requested == CODEC_LAYOUT_STORAGE) return CODEC_LAYOUT_STORAGE;
  bool channels = requested == CODEC_LAYOUT_CHANNELS || a.count > CODEC_BLOCK_TARGET;
  return channels ? CODEC_LAYOUT_CHANNELS : CODEC_LAYOUT_STORAGE;
}

// Elements per block, at most CODEC_BLOCK_TARGET; 1 for an empty array.
// Layout 0: whole columns (whole planes when a plane fits). Layout 1: as
// many lines as CODEC_BLOCK_TARGET elements hold (all when fewer); for a
// 2-D array a multiple of LPC_SEGMENT rows, so that no segment of linear
// prediction spans two channels.
uint64_t block_elements(const CodecArray& a, int32_t layout) {
  if (a.count == 0) return 1;
  if (layout == CODEC_LAYOUT_CHANNELS) {
    uint64_t unit = channel_unit(a.ndims, a.dims, a.count), lines = CODEC_BLOCK_TARGET / unit;
    if (a.ndims == 2) lines = lines / LPC_SEGMENT * LPC_SEGMENT;  // 2^16 or more: channels are at most 16
    uint64_t all = a.dims[a.ndims - 2];
    return (lines < all ? lines : all) * unit;
  }
  uint64_t rows = a.dims[0], plane = a.dims[0] * a.dims[1];
  uint64_t unit = plane <= CODEC_BLOCK_TARGET ? plane : rows <= CODEC_BLOCK_TARGET ? rows : CODEC_BLOCK_TARGET;
  uint64_t block = unit * (CODEC_BLOCK_TARGET / unit);
  return block < a.count ? block : a.count;
}

// How an array is cut into blocks.
struct BlockGrid {
  int32_t layout;     // CODEC_LAYOUT_STORAGE or CODEC_LAYOUT_CHANNELS
  int32_t cls;        // class code 1..12
  uint64_t rows;      // R, the first dimension
  uint64_t cols;      // the second dimension
  uint64_t count;     // N
  uint64_t block;     // B
  uint64_t line;      // layout 1: elements of a line, 1 (2-D) or R (3-D)
  uint64_t lines;     // layout 1: lines of a channel, the last dimension but one
  uint64_t channels;  // layout 1: the last dimension
};

BlockGrid grid_make(int32_t layout, int32_t cls, int32_t ndims, const uint64_t* dims, uint64_t count, uint64_t block) {
  BlockGrid g{layout, cls, dims[0], dims[1], count, block, 1, 0, 0};
  if (layout == CODEC_LAYOUT_CHANNELS) {
    g.line = ndims == 3 ? dims[0] : 1;
    g.lines = dims[ndims - 2];
    g.channels = dims[ndims - 1];
  }
  return g;
}

// Where a block's elements lie in the array: runs runs of run elements
// each, the first at first, each next stride elements after the one before;
// in the block they follow each other.
struct BlockPlace {
  uint64_t first;   // the array index of the block's first element
  uint64_t run;     // elements of a run: all the block's (layout 0), its lines of one channel (layout 1)
  uint64_t runs;    // 1 (layout 0), the channels (layout 1)
  uint64_t stride;  // layout 1: the elements of a channel
};

// Block b (0..M-1) of grid g (whose B, under layout 1, is a multiple of
// the line's elements times the channels).
BlockPlace place_of(const BlockGrid& g, uint64_t b) {
  if (g.layout == CODEC_LAYOUT_CHANNELS) {
    uint64_t per_block = g.block / (g.line * g.channels), first = b * per_block;
    KESTREL_ASSERT(per_block * g.line * g.channels == g.block && first < g.lines);
    uint64_t lines = g.lines - first < per_block ? g.lines - first : per_block;
    return BlockPlace{first * g.line, lines * g.line, g.channels, g.lines * g.line};
  }
  uint64_t first = b * g.block;
  return BlockPlace{first, g.count - first < g.block ? g.count - first : g.block, 1, 0};
}

// The shape block.cpp sees: under layout 1 the block is an array of its own,
// n-by-C (2-D) or R-by-n-by-C (3-D) for its n lines.
BlockShape shape_of(const BlockGrid& g, const BlockPlace& at) {
  ClassForm form = class_form(g.cls);
  BlockShape s{};
  s.count = at.run * at.runs;
  if (g.layout == CODEC_LAYOUT_CHANNELS) {
    uint64_t lines = at.run / g.line;
    uint64_t rows = g.line == 1 ? lines : g.line, cols = g.line == 1 ? g.channels : lines;
    s.rows = rows;
    s.plane = rows * cols;
    s.two_d = rows > 1 && cols > 1;
  } else {
    s.rows = g.rows;
    s.plane = g.rows * g.cols;
    s.two_d = g.rows > 1 && g.cols > 1 && g.block % g.rows == 0 && at.first % g.rows == 0;
  }
  s.width = form.width;
  s.is_signed = form.is_signed;
  KESTREL_ASSERT(s.count >= 1 && s.count <= g.block);
  return s;
}

// Calls copy(array index, block index, elements) for each run of the block;
// returns the first failure (>= 0) that copy returns, or -1.
template <typename Copy>
int32_t each_run(const BlockPlace& at, Copy copy) {
  for (uint64_t k = 0; k < at.runs; ++k) {
    int32_t failure = copy(at.first + k * at.stride, k * at.run, at.run);
    if (failure >= 0) return failure;
  }
  return -1;
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

// Reads the block at of a into x; returns -1, LOAD_AS_BITS (x then holds
// the elements' bit patterns) or the message of a value that cannot be coded.
int32_t load_block(const CodecArray& a, const BlockPlace& at, int64_t* x) {
  int32_t failure = each_run(at, [&](uint64_t first, uint64_t offset, uint64_t n) { return load_values(a, first, n, x + offset); });
  if (failure != LOAD_AS_BITS) return failure;
  each_run(at, [&](uint64_t first, uint64_t offset, uint64_t n) {
    if (a.cls == 1) load_float_bits<double>(a.data, first, n, x + offset);
    if (a.cls == 2) load_float_bits<float>(a.data, first, n, x + offset);
    return -1;
  });
  return LOAD_AS_BITS;
}

// Writes the decoded block x to its place in a: its values, or (as_bits, a
// float class) the bit patterns they hold; returns -1 or the message of
// save_values or store_float_bits.
int32_t save_block(const int64_t* x, const BlockPlace& at, bool as_bits, CodecArray* a) {
  return each_run(at, [&](uint64_t first, uint64_t offset, uint64_t n) {
    if (!as_bits) return save_values(x + offset, n, a, first);
    if (a->cls == 1) return store_float_bits<double>(x + offset, n, a->data, first);
    return store_float_bits<float>(x + offset, n, a->data, first);
  });
}

BlockGrid grid_of(const CodecArray& a, int32_t layout) {
  return grid_make(layout, a.cls, a.ndims, a.dims, a.count, block_elements(a, layout));
}

uint64_t blocks_of(const BlockGrid& g) { return g.count == 0 ? 0 : (g.count + g.block - 1) / g.block; }

// Runs work(b, scratch) for b = 0..blocks-1 on threads (the calling thread
// among them, and the only one that reports progress), each thread with a
// scratch of its own for all its blocks.
// When the system refuses a thread, the blocks go to those already started
// (at the least the calling thread): the bytes are the same either way.
// The calling thread's scratch, kept from one call to the next so that a
// call on an array of one block (most files) does not ask the system for
// fresh pages each time; it holds at most one block's working memory (about
// 40 MB at 2^20 elements) and goes at codec_release. The codec is called
// from one thread at a time (the host's).
BlockScratch caller_scratch;

template <typename Work>
void run_blocks(uint64_t blocks, int32_t threads, Work& work) {
  std::atomic<uint64_t> next{0};
  auto loop = [&](BlockScratch* scratch) {
    for (uint64_t b = next++; b < blocks; b = next++) work(b, scratch);
  };
  auto worker = [&]() {
    BlockScratch scratch;  // this thread's, for all its blocks
    loop(&scratch);
  };
  uint64_t extra = static_cast<uint64_t>(threads) - 1;
  if (extra > blocks - 1) extra = blocks - 1;
  std::vector<std::thread> pool;
  try {
    pool.reserve(extra);
    for (uint64_t t = 0; t < extra; ++t) pool.emplace_back(worker);
  } catch (...) {
  }
  loop(&caller_scratch);
  for (auto& thread : pool) thread.join();
}

}  // namespace

void codec_release() noexcept { caller_scratch = BlockScratch{}; }

uint64_t codec_bound(const CodecArray& a) {
  uint64_t blocks = blocks_of(grid_of(a, CODEC_LAYOUT_STORAGE));
  uint64_t channels = blocks_of(grid_of(a, layout_of(a, CODEC_LAYOUT_CHANNELS)));
  if (channels > blocks) blocks = channels;
  uint64_t bytes = block_width_bytes(class_form(a.cls).width);
  return HEADER_FIXED + 8 * static_cast<uint64_t>(a.ndims) + 4 + blocks * (TABLE_ENTRY + 1) + a.count * bytes;
}

uint64_t codec_compress(const CodecArray& a, const CodecOptions& options, uint8_t* out) {
  BlockGrid grid = grid_of(a, layout_of(a, options.layout));
  uint64_t blocks = blocks_of(grid);
  uint64_t table_at = HEADER_FIXED + 8 * static_cast<uint64_t>(a.ndims);
  uint64_t position = table_at + TABLE_ENTRY * blocks + 4;
  std::memcpy(out, "KEST", 4);
  out[4] = CODEC_VERSION;
  out[5] = static_cast<uint8_t>(a.cls);
  out[6] = static_cast<uint8_t>(a.ndims);
  out[7] = static_cast<uint8_t>(grid.layout);
  for (int32_t k = 0; k < a.ndims; ++k) put_le(out + 8 + 8 * k, a.dims[k], 8);
  put_le(out + table_at - 16, a.count, 8);
  put_le(out + table_at - 8, grid.block, 4);
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
  auto work = [&](uint64_t b, BlockScratch* scratch) {
    {
      std::unique_lock<std::mutex> held(lock);
      turn.wait(held, [&] { return b < copied + window || aborted; });
      if (aborted) return;
    }
    BlockPlace at = place_of(grid, b);
    BlockShape shape = shape_of(grid, at);
    Slot& slot = slots[b];
    try {
      std::vector<int64_t>& x = scratch->values;
      x.resize(shape.count);
      slot.failure = load_block(a, at, x.data());
      bool as_bits = slot.failure == LOAD_AS_BITS;
      if (as_bits) slot.failure = -1;
      if (slot.failure < 0) {
        scratch->payload.clear();
        block_encode(x.data(), shape, options.predictor, options.method, &scratch->payload, scratch);
        slot.bytes.assign(scratch->payload.begin(), scratch->payload.end());
      }
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
  if (h->ndims < 2 || bytes[7] > CODEC_LAYOUT_CHANNELS || h->block < 1 || h->block > CODEC_BLOCK_TARGET) corrupt_header();
  if (h->blocks != (h->count + h->block - 1) / h->block) corrupt_header();
  read_size(bytes, h);
  h->layout = bytes[7];
  if (h->layout == CODEC_LAYOUT_CHANNELS) {
    uint64_t unit = channel_unit(h->ndims, h->dims, h->count);
    if (unit == 0 || h->block % unit != 0) corrupt_header();
  }
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
  BlockGrid grid = grid_make(h.layout, h.cls, h.ndims, h.dims, h.count, h.block);
  auto work = [&](uint64_t b, BlockScratch* scratch) {
    if (aborted) return;
    BlockPlace at = place_of(grid, b);
    BlockShape shape = shape_of(grid, at);
    const uint8_t* data = bytes + offsets[b];
    uint64_t length = offsets[b + 1] - offsets[b];
    int32_t failure = -1;
    try {
      std::vector<int64_t>& x = scratch->values;
      x.resize(shape.count);
      bool as_bits = length > 0 && (data[0] & METHOD_FLOAT_BITS) != 0;
      if (crc32_update(0, data, length) != get_le(bytes + h.table_at + TABLE_ENTRY * b + 4, 4) ||
          (as_bits && h.cls > 2) || !block_decode(data, length, shape, x.data(), scratch)) {
        failure = MSG_CORRUPT_DATA;
      } else {
        failure = save_block(x.data(), at, as_bits, a);
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
