// SPDX-License-Identifier: BSD-3-Clause
// The class of each prediction residual, coded two ways side by side in one
// run, on real data: the array codec's way (binary decisions of
// codec/range_coder.h, unary from its context's start) and the coder's way
// (one symbol through a bank of adaptive FrequencyModels, one per context,
// counted by increments of 1, 24 or 32, over the classes 0..width the block's
// values allow, 0..top as a header byte could say, or all 65). The bulk
// calls take every context up front; a codec's decoder learns the next
// context from the residual it has just decoded and so calls once per
// symbol, which the last way measures.
// Per set: bytes, bits per element, CPU ns per element to encode and to
// decode (median of the repetitions, the ways taken in turn within each), and
// each coder's ratios to the codec's way; then the bytes of one skewed,
// generated case that shows where each model's probabilities stop.
//
// The residuals and contexts are those of the codec's blocks: MED on images
// (context from W, N, NW, NE magnitudes), its per-segment linear prediction
// on audio (context from the four magnitudes before), blocks split as the
// container splits them, models fresh per block, no run mode. Only the class
// is coded; the sign and the bits below it cost the same either way.
// Build and run (the data comes from bench/realdata.sh):
//   ./scripts/build.sh --target residual_coders && build/bench/residual_coders
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/heap.h"
#include "base/platform.h"
#include "codec/block.h"
#include "codec/container.h"
#include "codec/lpc.h"
#include "codec/range_coder.h"
#include "codec/residual.h"
#include "coder/bank.h"
#include "coder/decoder.h"
#include "coder/encoder.h"

namespace {

constexpr int32_t CONTEXTS = RESIDUAL_CONTEXTS;
constexpr int32_t CLASSES = RESIDUAL_CLASSES;  // classes 0..64
constexpr int REPETITIONS = 7;  // at least 5: the medians stand against other tenants

// ---- The codec's residual classes and contexts (codec/residual.h) ----

// The class residual_encode codes for r.
inline int32_t class_of(int64_t r) {
  if (r == 0) return 0;
  return value_bit_length((r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r)) - 1) + 1;
}

// The context of position p: as the codec's median edge predictor makes it
// (two_d) or its linear prediction.
inline int32_t context_of(const uint32_t* m, uint64_t p, uint64_t R, bool two_d) {
  return two_d ? residual_context<PRED_MED>(m, p, R) : residual_context<PRED_LPC>(m, p, R);
}

// ---- The sequences ----

// One block's (context, class) sequence, and its alphabet.
struct Block {
  std::vector<int32_t> contexts;  // 0..CONTEXTS-1
  std::vector<int32_t> classes;   // 0..width
  int32_t width;                  // value bits after the common shift: classes are 0..width
  int32_t top;                    // the largest class in classes
};

// Residuals of x (count values, reduced to width bits) and their classes in
// context, with MED over columns of R rows (two_d) or the linear prediction
// of block.cpp's encode_lpc for one channel.
Block block_classes(const int64_t* x, uint64_t count, uint64_t R, bool two_d, int32_t width) {
  Block b{std::vector<int32_t>(count), std::vector<int32_t>(count), width, 0};
  std::vector<uint32_t> m(count);
  LpcCoefficients c{};
  for (uint64_t p = 0, row = 0; p < count; ++p, row = row + 1 == R ? 0 : row + 1) {
    int64_t prediction;
    if (two_d) {
      prediction = predict_med(x, p, R, row);
    } else {
      if (p % LPC_SEGMENT == 0) c = lpc_fit(x + p, std::min<uint64_t>(count - p, LPC_SEGMENT));
      prediction = p < static_cast<uint64_t>(c.order) ? (p == 0 ? 0 : x[p - 1]) : lpc_predict(c, x, p);
    }
    int64_t r = residual_reduce(static_cast<uint64_t>(x[p]) - static_cast<uint64_t>(prediction), width);
    b.contexts[p] = context_of(m.data(), p, R, two_d);
    b.classes[p] = class_of(r);
    m[p] = residual_magnitude(r);
  }
  b.top = *std::max_element(b.classes.begin(), b.classes.end());
  return b;
}

// The blocks of one array of rows x cols x ... values, split as the
// container splits them, each shifted as block_encode shifts it.
void array_blocks(std::vector<int64_t>& x, uint64_t rows, uint64_t cols, int32_t width, int32_t is_signed,
                  std::vector<Block>* out) {
  uint64_t plane = rows * cols, target = CODEC_BLOCK_TARGET;
  uint64_t unit = plane <= target ? plane : rows <= target ? rows : target;
  uint64_t size = unit * (target / unit);
  for (uint64_t first = 0; first < x.size(); first += size) {
    uint64_t count = std::min<uint64_t>(size, x.size() - first);
    int64_t* v = x.data() + first;
    int32_t shift = values_common_shift(v, count, width);
    for (uint64_t p = 0; p < count && shift > 0; ++p) v[p] = value_restore(static_cast<uint64_t>(v[p] >> shift), width - shift, is_signed);
    bool two_d = rows > 1 && cols > 1 && size % rows == 0 && first % rows == 0;
    out->push_back(block_classes(v, count, rows, two_d, width - shift));
  }
}

// The values of a raw little-endian file of class cls (uint8, int16 or
// uint16); empty for any other class or an unreadable file.
std::vector<int64_t> raw_values(const std::string& path, const std::string& cls) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int64_t> x;
  if (cls == "uint8") x.assign(bytes.begin(), bytes.end());
  if (cls != "int16" && cls != "uint16") return x;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint16_t v = static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8);
    x.push_back(cls == "int16" ? static_cast<int16_t>(v) : v);
  }
  return x;
}

// The blocks of every file of set listed in root/index.txt.
std::vector<Block> set_blocks(const std::string& root, const std::string& set) {
  std::ifstream index(root + "/index.txt");
  std::vector<Block> blocks;
  for (std::string line; std::getline(index, line);) {
    std::istringstream fields(line);
    std::string name, file, cls;
    uint64_t rows = 1, cols = 1;
    fields >> name >> file >> cls >> rows >> cols;
    if (name != set) continue;
    std::vector<int64_t> x = raw_values(root + "/" + set + "/" + file + ".raw", cls);
    array_blocks(x, rows, cols, cls == "uint8" ? 8 : 16, cls == "int16", &blocks);
  }
  return blocks;
}

// ---- The coders ----

// A way to code the classes: the codec's binary decisions, or a bank of
// CONTEXTS models of nsym symbols with increment.
struct Way {
  const char* name;   // as printed
  bool binary;        // the codec's way
  int32_t nsym;       // bank: the alphabet; 0: classes 0..width, the block's; -1: 0..top, as a header could say
  int32_t increment;  // bank: model increment
  bool single;        // bank: one call per symbol, as a decoder whose next context needs this symbol makes them
};
const Way WAYS[] = {{"(a) binary, codec", true, 0, 0, false},
                    {"(b) bank inc=1", false, 0, 1, false},
                    {"(b) bank inc=24", false, 0, 24, false},
                    {"(b) bank inc=32", false, 0, 32, false},
                    {"(b) bank inc=32 nsym=top+1", false, -1, 32, false},
                    {"(b) bank inc=32 nsym=65", false, CLASSES + 1, 32, false},
                    {"(b) inc=32, 1 per call", false, 0, 32, true}};
constexpr int WAY_COUNT = sizeof WAYS / sizeof WAYS[0];

// CONTEXTS class models at their start, as models_reset leaves them.
std::vector<ContextModels> class_models_fresh() {
  ContextModels fresh{};  // the sign and top bits are not coded here
  fresh.above = BitModel{PROB_HALF, 0};
  std::fill_n(fresh.up, CLASSES, BitModel{PROB_HALF, 0});
  std::fill_n(fresh.down, CLASSES, BitModel{PROB_HALF, 0});
  return std::vector<ContextModels>(CONTEXTS, fresh);
}

std::vector<uint8_t> binary_encode(const Block& b) {
  std::vector<ContextModels> models = class_models_fresh();
  std::size_t room = 2 * b.classes.size() + 64;  // a class costs a few bits here; the check below guards the rest
  std::vector<uint8_t> out(room + RANGE_ELEMENT_WRITES + 8);
  RangeEncoder e;
  range_encoder_start(&e, out.data(), out.data() + room);
  for (std::size_t i = 0; i < b.classes.size(); ++i) {
    if (range_encoder_full(&e)) {
      std::fprintf(stderr, "residual_coders: the binary coder's output outgrew its room\n");
      std::exit(1);
    }
    class_encode(&e, models[b.contexts[i]], class_start(b.contexts[i]), b.classes[i]);
  }
  range_encoder_finish(&e);
  out.resize(static_cast<std::size_t>(e.next - out.data()));
  return out;
}

// False unless the stream gives back b's classes and ends at its last byte.
bool binary_decode(const Block& b, const std::vector<uint8_t>& bytes) {
  std::vector<ContextModels> models = class_models_fresh();
  std::vector<int32_t> classes(b.classes.size());
  RangeDecoder d;
  if (!range_decoder_start(&d, bytes.data(), bytes.size())) return false;
  for (std::size_t i = 0; i < classes.size(); ++i) classes[i] = class_decode(&d, models[b.contexts[i]], class_start(b.contexts[i]));
  return range_decoder_ended(&d) && classes == b.classes;
}

std::vector<uint8_t> bank_encode(const Block& b, int32_t nsym, int32_t increment, bool single = false) {
  ModelBank bank{};
  bank_init(&bank, nsym, CONTEXTS, 0, nullptr, 0, 1, increment);
  EncoderState e;
  encoder_start(&e, "", "w");
  std::size_t n = b.classes.size(), step = single ? 1 : n;
  for (std::size_t i = 0; i < n; i += step) encoder_encode_bank(&e, &bank, &b.classes[i], &b.contexts[i], step);
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  encoder_finish(&e, &bytes, &count);
  bank_release(&bank);
  std::vector<uint8_t> out(bytes, bytes + count);
  heap_free(bytes);
  return out;
}

bool bank_decode(const Block& b, const std::vector<uint8_t>& bytes, int32_t nsym, int32_t increment, bool single = false) {
  ModelBank bank{};
  bank_init(&bank, nsym, CONTEXTS, 0, nullptr, 0, 1, increment);
  std::vector<int32_t> classes(b.classes.size());
  DecoderState d;
  decoder_start(&d, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  std::size_t n = classes.size(), step = single ? 1 : n;
  for (std::size_t i = 0; i < n; i += step) decoder_decode_bank(&d, &bank, &classes[i], &b.contexts[i], step);
  decoder_close(&d);
  bank_release(&bank);
  return classes == b.classes;
}

int32_t way_nsym(const Way& w, const Block& b) { return w.nsym > 0 ? w.nsym : w.nsym == 0 ? b.width + 1 : b.top + 1; }
std::vector<uint8_t> way_encode(const Way& w, const Block& b) {
  return w.binary ? binary_encode(b) : bank_encode(b, way_nsym(w, b), w.increment, w.single);
}
bool way_decode(const Way& w, const Block& b, const std::vector<uint8_t>& bytes) {
  return w.binary ? binary_decode(b, bytes) : bank_decode(b, bytes, way_nsym(w, b), w.increment, w.single);
}

// ---- Measurement ----

double cpu_ns() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// One way's results on a set: bytes, and per repetition the ns to code all blocks.
struct Measure {
  uint64_t bytes = 0;
  std::vector<double> encode_ns, decode_ns;
};

// Codes and decodes every block once with w; exits 1 on a mismatch.
void measure_once(const Way& w, const std::vector<Block>& blocks, Measure* m) {
  std::vector<std::vector<uint8_t>> streams(blocks.size());
  double start = cpu_ns();
  for (std::size_t k = 0; k < blocks.size(); ++k) streams[k] = way_encode(w, blocks[k]);
  double middle = cpu_ns();
  bool same = true;
  for (std::size_t k = 0; k < blocks.size(); ++k) same = way_decode(w, blocks[k], streams[k]) && same;
  m->decode_ns.push_back(cpu_ns() - middle);
  m->encode_ns.push_back(middle - start);
  m->bytes = 0;
  for (const auto& s : streams) m->bytes += s.size();
  if (!same) {
    std::printf("MISMATCH: %s does not give back the classes\n", w.name);
    std::exit(1);
  }
}

// Bytes of the classes at their empirical entropy given the context, per
// block: a reference, not a bound, since adaptive models go below it where
// the statistics drift within a block.
double entropy_bytes(const std::vector<Block>& blocks) {
  double bits = 0;
  for (const Block& b : blocks) {
    std::vector<double> n(CONTEXTS * (CLASSES + 1), 0.0), total(CONTEXTS, 0.0);
    for (std::size_t i = 0; i < b.classes.size(); ++i) {
      n[b.contexts[i] * (CLASSES + 1) + b.classes[i]] += 1;
      total[b.contexts[i]] += 1;
    }
    for (int32_t k = 0; k < CONTEXTS * (CLASSES + 1); ++k) {
      if (n[k] > 0) bits -= n[k] * std::log2(n[k] / total[k / (CLASSES + 1)]);
    }
  }
  return bits / 8;
}

void print_set(const char* name, const std::vector<Block>& blocks, const Measure* m, bool timed) {
  uint64_t elements = 0;
  for (const Block& b : blocks) elements += b.classes.size();
  double n = static_cast<double>(elements), entropy = entropy_bytes(blocks);
  std::printf("%-12s %9llu elements in %zu blocks; static entropy of the class given the context: %.0f bytes, %.4f bits/el\n",
              name, static_cast<unsigned long long>(elements), blocks.size(), entropy, 8 * entropy / n);
  double e0 = median(m[0].encode_ns), d0 = median(m[0].decode_ns);
  for (int w = 0; w < WAY_COUNT; ++w) {
    double e = median(m[w].encode_ns), d = median(m[w].decode_ns), bytes = static_cast<double>(m[w].bytes);
    std::printf("  %-26s %10.0f %8.4f", WAYS[w].name, bytes, 8 * bytes / n);
    if (timed) std::printf(" %8.2f %8.2f", e / n, d / n);
    std::printf("   %6.3f", bytes / static_cast<double>(m[0].bytes));
    if (timed) std::printf(" %6.2f %6.2f", e / e0, d / d0);
    std::printf("\n");
  }
}

void print_bytes(const char* name, uint64_t bytes, uint64_t n, const char* note) {
  std::printf("  %-26s %10llu %8.4f   (%s)\n", name, static_cast<unsigned long long>(bytes),
              8.0 * static_cast<double>(bytes) / static_cast<double>(n), note);
}

// Every way on blocks, repetitions times, the order of the ways turning.
void measure_set(const char* name, const std::vector<Block>& blocks, int repetitions) {
  Measure m[WAY_COUNT];
  for (int r = 0; r < repetitions; ++r) {
    for (int i = 0; i < WAY_COUNT; ++i) measure_once(WAYS[(i + r) % WAY_COUNT], blocks, &m[(i + r) % WAY_COUNT]);
  }
  print_set(name, blocks, m, repetitions > 1);
}

// n uint16 zeros with one 16000 in the middle, predicted by the previous
// value: classes all 0 but two of 15.
std::vector<Block> skewed_blocks(uint64_t n) {
  std::vector<int64_t> x(n, 0), y(n, 0);
  x[n / 2] = 16000;
  for (uint64_t p = 1; p < n; ++p) y[p] = x[p] - x[p - 1];
  std::vector<Block> blocks;
  for (uint64_t first = 0; first < n; first += CODEC_BLOCK_TARGET) {
    std::vector<int64_t> part(y.begin() + first, y.begin() + std::min(n, first + CODEC_BLOCK_TARGET));
    Block b{std::vector<int32_t>(part.size()), std::vector<int32_t>(part.size()), 16, 0};
    std::vector<uint32_t> m(part.size());
    for (std::size_t p = 0; p < part.size(); ++p) {
      b.contexts[p] = context_of(m.data(), p, part.size(), false);
      b.classes[p] = class_of(part[p]);
      m[p] = residual_magnitude(part[p]);
    }
    b.top = *std::max_element(b.classes.begin(), b.classes.end());
    blocks.push_back(b);
  }
  return blocks;
}

// Bytes of the n values of the skewed case themselves (not their classes)
// in one adaptive model of 16001 symbols, the way the issue measured; exits
// 1 when they do not decode back.
uint64_t skewed_values_bytes(uint64_t n) {
  Block values{std::vector<int32_t>(n, 0), std::vector<int32_t>(n, 0), 0, 0};
  values.classes[n / 2] = 16000;
  std::vector<uint8_t> bytes = bank_encode(values, 16001, 1);
  if (!bank_decode(values, bytes, 16001, 1)) {
    std::printf("MISMATCH: the values of 16001 symbols do not come back\n");
    std::exit(1);
  }
  return bytes.size();
}

// Bytes of the whole blocks (residuals, signs, bits) that the codec's
// block_encode makes of the skewed case with predictor; exits 1 when they
// do not decode back.
uint64_t skewed_codec_bytes(uint64_t n, int32_t predictor) {
  uint64_t bytes = 0;
  for (uint64_t first = 0; first < n; first += CODEC_BLOCK_TARGET) {
    uint64_t count = std::min<uint64_t>(CODEC_BLOCK_TARGET, n - first);
    std::vector<int64_t> x(count, 0), back(count, 1);
    if (n / 2 - first < count) x[n / 2 - first] = 16000;
    const BlockShape shape{count, n, n, 0, 16, 0};
    std::vector<uint8_t> out;
    BlockScratch scratch;
    std::vector<int64_t> original = x;
    block_encode(x.data(), shape, predictor, BLOCK_BUCKETS, &out, &scratch);
    if (!block_decode(out.data(), out.size(), shape, back.data(), &scratch) || back != original) {
      std::printf("MISMATCH: the codec's block does not come back\n");
      std::exit(1);
    }
    bytes += out.size();
  }
  return bytes;
}

}  // namespace

int main() {
  const char* env = std::getenv("KESTREL_REALDATA");
  std::string root = std::string(env != nullptr && *env != '\0' ? env : "/var/cache/kestrel/realdata") + "/sets";
  if (!std::ifstream(root + "/index.txt")) {
    std::printf("No real data in %s: make it with bench/realdata.sh (KESTREL_REALDATA moves it)\n", root.c_str());
    return 0;
  }
  const char* const SETS[] = {"gray8", "rgb8", "dem", "med8", "med16", "speech", "speech8k", "music1"};
  std::printf("The residual class coded two ways; CPU ns per element, median of %d, ratios (b)/(a)\n", REPETITIONS);
  std::printf("  %-26s %10s %8s %8s %8s   %6s %6s %6s\n", "way", "bytes", "bits/el", "enc ns", "dec ns", "bytes", "enc",
              "dec");
  try {
    for (const char* set : SETS) {
      std::vector<Block> blocks = set_blocks(root, set);
      if (!blocks.empty()) measure_set(set, blocks, REPETITIONS);
    }
    std::printf("\nGenerated, to show the skew limit: n uint16 zeros and one 16000, previous-value residuals\n");
    for (uint64_t n : {uint64_t{1000000}, uint64_t{10000000}}) {
      measure_set(n == 1000000 ? "skew 10^6" : "skew 10^7", skewed_blocks(n), 1);
      print_bytes("values, 16001 symbols", skewed_values_bytes(n), n, "the values, one model of 16001 symbols, inc=1");
      print_bytes("codec block_encode, auto", skewed_codec_bytes(n, PRED_AUTO), n, "whole blocks, the predictor it picks");
      print_bytes("codec block_encode, none", skewed_codec_bytes(n, PRED_NONE), n, "whole blocks, no prediction: run mode");
    }
  } catch (const Failure& failure) {
    char text[256];
    failure_text(failure, text, sizeof text);
    std::printf("coder failure: %s\n", text);
    return 1;
  }
  return 0;
}
