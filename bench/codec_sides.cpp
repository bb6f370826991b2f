// SPDX-License-Identifier: BSD-3-Clause
// Two settings of the version-2 codec side by side, in one run, on the real
// data sets that bench/realdata.sh writes: per set, the ratio (raw bytes
// over container bytes) and the CPU rate of one thread both ways (MB/s of
// raw data, the median of the repeats) of each, taking turns in each
// repeat, then the quotients of the two. Every container is decoded and
// compared with the original.
//
//   codec_sides ROOT SET layout|method [ROWS] [REPEATS]
//
// layout: layout 0 (storage order) against the encoder's choice (layout 1,
// every channel in each block, where it applies). A set of N-by-C
// recordings (the same C) is measured as one recording, its files one after
// the other along the rows, repeated until it has ROWS rows or more
// (default 2^20): what a long recording is. A set of mono recordings
// (N-by-1) is made a recording of as many channels, unrelated ones, each
// file a column, cut to the shortest and repeated up to ROWS rows: the case
// where the channels have nothing to share.
// method: the blocks' residuals coded in classes (method 1) against
// buckets (method 2, what kestrel_compress writes), every file as it is.
// Either way a set of 3-D arrays (images) is measured file by file, the
// sizes added up. Reads int16, uint16 and uint8 files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/failure.h"
#include "codec/block.h"
#include "codec/container.h"

namespace {

struct Item {
  int32_t cls;                 // class code
  int32_t bytes;               // per element
  std::vector<uint64_t> dims;  // the size
  std::vector<char> data;      // storage order
};

double cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

bool class_of(const std::string& name, int32_t* cls, int32_t* bytes) {
  if (name == "int16") *cls = 5, *bytes = 2;
  else if (name == "uint16") *cls = 6, *bytes = 2;
  else if (name == "uint8") *cls = 4, *bytes = 1;
  else return false;
  return true;
}

std::vector<Item> read_set(const std::string& root, const std::string& set) {
  std::ifstream index(root + "/index.txt");
  std::vector<Item> items;
  for (std::string line; std::getline(index, line);) {
    std::istringstream fields(line);
    std::string name, file, cls;
    fields >> name >> file >> cls;
    Item item{};
    if (name != set || !class_of(cls, &item.cls, &item.bytes)) continue;
    uint64_t count = 1;
    for (uint64_t d; fields >> d;) item.dims.push_back(d), count *= d;
    std::ifstream raw(root + "/" + set + "/" + file + ".raw", std::ios::binary);
    item.data.resize(count * static_cast<uint64_t>(item.bytes));
    raw.read(item.data.data(), static_cast<std::streamsize>(item.data.size()));
    if (!raw) std::fprintf(stderr, "codec_sides: cannot read %s\n", file.c_str()), std::exit(1);
    items.push_back(item);
  }
  return items;
}

// The recordings one after another along the rows, repeated up to rows rows.
Item concatenate(const std::vector<Item>& items, uint64_t rows) {
  Item all{items[0].cls, items[0].bytes, {0, items[0].dims[1]}, {}};
  uint64_t columns = all.dims[1], width = static_cast<uint64_t>(all.bytes);
  std::vector<const Item*> order;
  for (uint64_t total = 0; total < rows;) {
    for (const Item& item : items) order.push_back(&item), total += item.dims[0];
  }
  for (const Item* item : order) all.dims[0] += item->dims[0];
  all.data.resize(all.dims[0] * columns * width);
  for (uint64_t c = 0, at = 0; c < columns; ++c) {
    for (const Item* item : order) {
      uint64_t n = item->dims[0] * width;
      std::memcpy(&all.data[at], &item->data[c * n], n);
      at += n;
    }
  }
  return all;
}

// The mono recordings as the channels of one, cut to the shortest, repeated
// up to rows rows.
Item as_channels(const std::vector<Item>& items, uint64_t rows) {
  uint64_t shortest = items[0].dims[0], width = static_cast<uint64_t>(items[0].bytes);
  for (const Item& item : items) shortest = std::min(shortest, item.dims[0]);
  uint64_t repeats = (rows + shortest - 1) / shortest, length = shortest * repeats;
  Item all{items[0].cls, items[0].bytes, {length, items.size()}, std::vector<char>(length * items.size() * width)};
  for (uint64_t c = 0; c < items.size(); ++c) {
    for (uint64_t r = 0; r < repeats; ++r) {
      std::memcpy(&all.data[(c * length + r * shortest) * width], items[c].data.data(), shortest * width);
    }
  }
  return all;
}

struct Measure {
  uint64_t raw = 0, coded = 0;
  int32_t layouts[2] = {0, 0};         // items written in layout 0 and in layout 1
  std::vector<double> encode, decode;  // seconds per repeat, summed over the items
};

CodecArray array_of(const Item& item) {
  CodecArray a{};
  a.cls = item.cls;
  a.element_bytes = item.bytes;
  a.data = const_cast<char*>(item.data.data());
  a.ndims = static_cast<int32_t>(item.dims.size());
  a.count = 1;
  for (int32_t k = 0; k < a.ndims; ++k) a.dims[k] = item.dims[k], a.count *= item.dims[k];
  return a;
}

// Repeat r of item with the options: compressed, decompressed and
// compared, the CPU time of each way added to m's repeat r.
void measure_once(const Item& item, const CodecOptions& options, std::size_t r, Measure* m) {
  CodecArray a = array_of(item);
  static std::vector<uint8_t> out;  // kept from one measure to the next, so that
  static std::vector<char> back;    // its pages are not first touched in the timing
  out.resize(std::max<std::size_t>(out.size(), codec_bound(a)));
  back.resize(item.data.size());
  double start = cpu_seconds();
  uint64_t length = codec_compress(a, options, out.data());
  m->encode[r] += cpu_seconds() - start;
  start = cpu_seconds();
  CodecHeader h;
  codec_read_header(out.data(), length, &h);
  CodecArray b = a;
  b.data = back.data();
  codec_decompress(out.data(), h, &b, options);
  m->decode[r] += cpu_seconds() - start;
  if (std::memcmp(back.data(), item.data.data(), item.data.size()) != 0) {
    std::fprintf(stderr, "codec_sides: the round trip failed\n");
    std::exit(1);
  }
  if (r > 0) return;
  ++m->layouts[h.layout];
  m->raw += item.data.size();
  m->coded += length;
}

double median_rate(std::vector<double> seconds, uint64_t bytes) {
  std::sort(seconds.begin(), seconds.end());
  return 1e-6 * static_cast<double>(bytes) / seconds[seconds.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  bool methods = argc > 3 && std::strcmp(argv[3], "method") == 0;
  if (argc < 4 || (!methods && std::strcmp(argv[3], "layout") != 0)) {
    std::fprintf(stderr, "usage: codec_sides ROOT SET layout|method [ROWS] [REPEATS]\n");
    return 2;
  }
  uint64_t rows = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : uint64_t{1} << 20;
  int repeats = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
  std::vector<Item> items = read_set(argv[1], argv[2]);
  if (items.empty()) {
    std::fprintf(stderr, "codec_sides: no int16, uint16 or uint8 files of set %s\n", argv[2]);
    return 1;
  }
  if (!methods && items[0].dims.size() == 2) {
    items = {items[0].dims[1] == 1 ? as_channels(items, rows) : concatenate(items, rows)};
  }
  const CodecOptions SIDES[2][2] = {
      {{PRED_AUTO, 1, {nullptr, nullptr}, CODEC_LAYOUT_STORAGE, BLOCK_BUCKETS}, {PRED_AUTO, 1, {nullptr, nullptr}, CODEC_LAYOUT_AUTO, BLOCK_BUCKETS}},
      {{PRED_AUTO, 1, {nullptr, nullptr}, CODEC_LAYOUT_AUTO, BLOCK_CLASSES}, {PRED_AUTO, 1, {nullptr, nullptr}, CODEC_LAYOUT_AUTO, BLOCK_BUCKETS}}};
  const char* NAMES[2][3] = {{"0", "auto", "auto / 0"}, {"1", "2", "2 / 1"}};
  Measure m[2];
  try {
    for (Measure& one : m) one.encode.assign(static_cast<std::size_t>(repeats), 0), one.decode = one.encode;
    for (std::size_t r = 0; r < static_cast<std::size_t>(repeats); ++r) {  // the layouts in turn: drift hits both
      for (int k = 0; k < 2; ++k) {
        for (const Item& item : items) measure_once(item, SIDES[methods][k], r, &m[k]);
      }
    }
  } catch (const Failure& failure) {
    std::fprintf(stderr, "codec_sides: failure %d\n", static_cast<int>(failure.id));
    return 1;
  }
  std::printf("%-12s %10s | %-6s %-11s %7s %9s %9s\n", "set", "raw bytes", methods ? "method" : "layout", "written 0/1",
              "ratio", "comp MB/s", "decomp");
  double values[2][3];
  for (int k = 0; k < 2; ++k) {
    values[k][0] = static_cast<double>(m[k].raw) / static_cast<double>(m[k].coded);
    values[k][1] = median_rate(m[k].encode, m[k].raw);
    values[k][2] = median_rate(m[k].decode, m[k].raw);
    std::printf("%-12s %10llu | %-6s %5d/%-5d %7.3f %9.1f %9.1f\n", argv[2], static_cast<unsigned long long>(m[k].raw),
                NAMES[methods][k], m[k].layouts[0], m[k].layouts[1], values[k][0], values[k][1], values[k][2]);
  }
  std::printf("%-12s %10s | %-18s %7.3f %9.3f %9.3f\n", argv[2], "", NAMES[methods][2], values[1][0] / values[0][0],
              values[1][1] / values[0][1], values[1][2] / values[0][2]);
  return 0;
}
