// SPDX-License-Identifier: BSD-3-Clause
// The coder side by side with the straightforward one, in one run: CPU time
// per symbol to encode and to decode vectors of symbols through the bulk
// calls, for five alphabet sizes and four shapes of data, and the ratios
// (above 1: the coder is faster); then the coder again on each lower path
// this build and processor have (platform_limit_path), beside its best, with
// the ratio plain / best: what a platform without the vector rows or the
// wide loops gets. Each cell is the median of its repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "coder/decoder.h"
#include "coder/encoder.h"
#include "base/heap.h"
#include "base/platform.h"
#include "reference/reference_coder.h"

namespace {

constexpr size_t SYMBOLS = 1000000;
const int32_t ALPHABETS[] = {16, 256, 4096, 8191, 16382};
const char* const SHAPES[] = {"uniform", "near-0", "near-top", "constant"};
const char* const CODERS[] = {"reference", "current"};
constexpr int CODER_COUNT = 2;

// Symbols per run of a coder: the straightforward coder costs O(nsym) per
// symbol, and near the largest alphabet it rebuilds its model at nearly every
// symbol; it is timed on fewer symbols there.
size_t symbols_for(const std::string& coder, int32_t nsym) {
  if (coder == "current" || nsym <= 256) return SYMBOLS;
  return nsym > 8191 ? SYMBOLS / 100 : SYMBOLS / 10;
}

std::vector<int32_t> make_symbols(int32_t nsym, int shape, size_t count) {
  std::mt19937 random(static_cast<uint32_t>(nsym * 4 + shape));
  std::uniform_int_distribution<int32_t> any(0, nsym - 1);
  std::geometric_distribution<int32_t> offset(0.1);
  std::vector<int32_t> symbols(count);
  for (auto& symbol : symbols) {
    int32_t near = std::min(offset(random), nsym - 1);
    symbol = shape == 0 ? any(random) : shape == 1 ? near : shape == 2 ? nsym - 1 - near : nsym / 2;
  }
  return symbols;
}

std::vector<uint8_t> take(uint8_t* bytes, int32_t count) {
  std::vector<uint8_t> result(bytes, bytes + count);
  heap_free(bytes);
  return result;
}

std::vector<uint8_t> encode_current(int32_t nsym, const std::vector<int32_t>& symbols, size_t count) {
  FrequencyModel model;
  EncoderState encoder;
  model_init(&model, nsym, nullptr, 1);
  encoder_start(&encoder, "", "w");
  encoder_encode_symbols(&encoder, &model, symbols.data(), count);
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  encoder_finish(&encoder, &bytes, &length);
  model_release(&model);
  return take(bytes, length);
}

std::vector<uint8_t> encode_reference(int32_t nsym, const std::vector<int32_t>& symbols, size_t count) {
  ReferenceModel model;
  ReferenceEncoder encoder;
  reference_model_init(&model, nsym, nullptr, 1);
  reference_encoder_start(&encoder, "", "w");
  for (size_t i = 0; i < count; ++i) reference_encoder_encode(&encoder, &model, symbols[i]);
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  reference_encoder_finish(&encoder, &bytes, &length);
  reference_model_release(&model);
  return take(bytes, length);
}

int32_t decode_current(int32_t nsym, const std::vector<uint8_t>& bytes, size_t count) {
  FrequencyModel model;
  DecoderState decoder;
  model_init(&model, nsym, nullptr, 1);
  decoder_start(&decoder, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  std::vector<int32_t> symbols(count);
  decoder_decode_symbols(&decoder, &model, symbols.data(), count);
  decoder_close(&decoder);
  model_release(&model);
  return symbols[count - 1];
}

int32_t decode_reference(int32_t nsym, const std::vector<uint8_t>& bytes, size_t count) {
  ReferenceModel model;
  ReferenceDecoder decoder;
  reference_model_init(&model, nsym, nullptr, 1);
  reference_decoder_start(&decoder, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
  int32_t last = 0;
  for (size_t i = 0; i < count; ++i) last = reference_decoder_decode(&decoder, &model);
  reference_decoder_close(&decoder);
  reference_model_release(&model);
  return last;
}

// The paths by name, lowest first: plain loops (arm64 and other processors),
// SSE2 rows with the baseline loops (Microsoft's compiler on x86-64), and
// the loops built for BMI1, BMI2 and LZCNT as well (GCC and Clang on x86-64).
const char* const PATH_NAMES[] = {"plain", "vector", "wide"};

// The current coder on a path below the best, registered as
// "<op>/<path>/<cell>"; the best path is the "current" coder.
void register_paths(int32_t nsym, const std::string& cell, const std::shared_ptr<std::vector<int32_t>>& symbols,
                    const std::shared_ptr<std::vector<uint8_t>>& bytes) {
  const PlatformPath best = platform_best_path();
  for (int p = PATH_PLAIN; p < best; ++p) {
    const PlatformPath path = static_cast<PlatformPath>(p);
    platform_limit_path(path);
    bool same = encode_current(nsym, *symbols, SYMBOLS) == *bytes;
    platform_limit_path(best);
    if (!same) {
      std::fprintf(stderr, "the %s path disagrees on %s\n", PATH_NAMES[p], cell.c_str());
      std::exit(1);
    }
    benchmark::RegisterBenchmark(("encode/" + std::string(PATH_NAMES[p]) + "/" + cell).c_str(),
                                 [=](benchmark::State& state) {
                                   platform_limit_path(path);
                                   for (auto _ : state) benchmark::DoNotOptimize(encode_current(nsym, *symbols, SYMBOLS));
                                   platform_limit_path(best);
                                   state.counters["symbols"] = static_cast<double>(SYMBOLS);
                                 });
    benchmark::RegisterBenchmark(("decode/" + std::string(PATH_NAMES[p]) + "/" + cell).c_str(),
                                 [=](benchmark::State& state) {
                                   platform_limit_path(path);
                                   for (auto _ : state) benchmark::DoNotOptimize(decode_current(nsym, *bytes, SYMBOLS));
                                   platform_limit_path(best);
                                   state.counters["symbols"] = static_cast<double>(SYMBOLS);
                                 });
  }
}

using Encode = std::vector<uint8_t> (*)(int32_t, const std::vector<int32_t>&, size_t);
using Decode = int32_t (*)(int32_t, const std::vector<uint8_t>&, size_t);
const Encode ENCODERS[] = {encode_reference, encode_current};
const Decode DECODERS[] = {decode_reference, decode_current};

void register_cell(int32_t nsym, int shape) {
  auto symbols = std::make_shared<std::vector<int32_t>>(make_symbols(nsym, shape, SYMBOLS));
  auto bytes = std::make_shared<std::vector<uint8_t>>(encode_current(nsym, *symbols, SYMBOLS));
  std::string cell = std::to_string(nsym) + "/" + SHAPES[shape];
  for (int coder = 0; coder < CODER_COUNT; ++coder) {
    size_t count = symbols_for(CODERS[coder], nsym);
    if (ENCODERS[coder](nsym, *symbols, count) != encode_current(nsym, *symbols, count)) {
      std::fprintf(stderr, "the %s coder disagrees on nsym %d %s\n", CODERS[coder], nsym, SHAPES[shape]);
      std::exit(1);
    }
    Encode encode = ENCODERS[coder];
    Decode decode = DECODERS[coder];
    benchmark::RegisterBenchmark(("encode/" + std::string(CODERS[coder]) + "/" + cell).c_str(),
                                 [=](benchmark::State& state) {
                                   for (auto _ : state) benchmark::DoNotOptimize(encode(nsym, *symbols, count));
                                   state.counters["symbols"] = static_cast<double>(count);
                                 });
    benchmark::RegisterBenchmark(("decode/" + std::string(CODERS[coder]) + "/" + cell).c_str(),
                                 [=](benchmark::State& state) {
                                   for (auto _ : state) benchmark::DoNotOptimize(decode(nsym, *bytes, count));
                                   state.counters["symbols"] = static_cast<double>(count);
                                 });
  }
  register_paths(nsym, cell, symbols, bytes);
}

// The current coder alone on a vector of 10^7 symbols (alphabet 256,
// uniform): the rate that the Octave benchmark compares its own against.
void register_long_vector() {
  constexpr size_t LONG_SYMBOLS = 10000000;
  auto symbols = std::make_shared<std::vector<int32_t>>(make_symbols(256, 0, LONG_SYMBOLS));
  auto bytes = std::make_shared<std::vector<uint8_t>>(encode_current(256, *symbols, LONG_SYMBOLS));
  benchmark::RegisterBenchmark("long/encode/256/uniform", [=](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(encode_current(256, *symbols, LONG_SYMBOLS));
    state.counters["symbols"] = LONG_SYMBOLS;
  });
  benchmark::RegisterBenchmark("long/decode/256/uniform", [=](benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(decode_current(256, *bytes, LONG_SYMBOLS));
    state.counters["symbols"] = LONG_SYMBOLS;
  });
}

// Keeps the median CPU ns per symbol of every benchmark for the closing table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns_per_symbol;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      ns_per_symbol[run.run_name.function_name] = seconds * 1e9 / run.counters.at("symbols");
    }
  }
};

// The coder on each path, its best as "current"; 0 where a path is missing.
void print_paths(const std::map<std::string, double>& ns) {
  const PlatformPath best = platform_best_path();
  std::printf("\nCPU ns per symbol by path, median; best path here: %s; ratio = plain / best\n", PATH_NAMES[best]);
  std::printf("%-6s %-9s | %7s %7s %7s %7s | %7s %7s %7s %7s\n", "nsym", "data", "enc pl", "enc vec", "enc wide",
              "ratio", "dec pl", "dec vec", "dec wide", "ratio");
  for (int32_t nsym : ALPHABETS) {
    for (int shape = 0; shape < 4; ++shape) {
      std::string cell = std::to_string(nsym) + "/" + SHAPES[shape];
      double e[3] = {0, 0, 0}, d[3] = {0, 0, 0};
      for (int p = PATH_PLAIN; p <= best; ++p) {
        const std::string coder = p == best ? "current" : PATH_NAMES[p];
        auto found = ns.find("encode/" + coder + "/" + cell);
        e[p] = found == ns.end() ? 0.0 : found->second;
        found = ns.find("decode/" + coder + "/" + cell);
        d[p] = found == ns.end() ? 0.0 : found->second;
      }
      if (e[PATH_PLAIN] <= 0 || e[best] <= 0 || d[PATH_PLAIN] <= 0 || d[best] <= 0) continue;
      std::printf("%-6d %-9s | %7.1f %7.1f %8.1f %6.2fx | %7.1f %7.1f %8.1f %6.2fx\n", nsym, SHAPES[shape], e[0], e[1],
                  e[2], e[0] / e[best], d[0], d[1], d[2], d[0] / d[best]);
    }
  }
}

void print_ratios(const std::map<std::string, double>& ns) {
  std::printf("\nCPU ns per symbol, median; ratio = reference / current (above 1: current is faster)\n");
  std::printf("%-6s %-9s | %8s %8s %7s | %8s %8s %7s\n", "nsym", "data", "enc ref", "enc cur", "ratio", "dec ref",
              "dec cur", "ratio");
  for (int32_t nsym : ALPHABETS) {
    for (int shape = 0; shape < 4; ++shape) {
      std::string cell = std::to_string(nsym) + "/" + SHAPES[shape];
      auto find = [&](const std::string& name) {
        auto found = ns.find(name + "/" + cell);
        return found == ns.end() ? 0.0 : found->second;
      };
      double e[CODER_COUNT], d[CODER_COUNT];
      for (int coder = 0; coder < CODER_COUNT; ++coder) {
        e[coder] = find(std::string("encode/") + CODERS[coder]);
        d[coder] = find(std::string("decode/") + CODERS[coder]);
      }
      if (e[1] <= 0 || d[1] <= 0) continue;
      std::printf("%-6d %-9s | %8.1f %8.1f %6.2fx | %8.1f %8.1f %6.2fx\n", nsym, SHAPES[shape], e[0], e[1],
                  e[0] / e[1], d[0], d[1], d[0] / d[1]);
    }
  }
  print_paths(ns);
  for (const char* name : {"long/encode/256/uniform", "long/decode/256/uniform"}) {
    auto found = ns.find(name);
    if (found != ns.end()) std::printf("%s, 10^7 symbols: %.1f CPU ns per symbol\n", name, found->second);
  }
}

// Peak heap bytes an encoder takes beyond what was live before it started,
// while it codes count symbols and finishes; *output is the bytes it handed
// back (memory) or wrote (file).
size_t encoder_peak_extra(const char* path, const std::vector<int32_t>& symbols, int32_t* output) {
  size_t live = heap_live_bytes();
  heap_reset_peak();
  FrequencyModel model;
  EncoderState encoder;
  model_init(&model, 256, nullptr, 1);
  encoder_start(&encoder, path, "w");
  encoder_encode_symbols(&encoder, &model, symbols.data(), symbols.size());
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  encoder_finish(&encoder, &bytes, &count);
  size_t peak = heap_peak_bytes() - live;
  *output = path[0] == '\0' ? count : static_cast<int32_t>((encoder_bits_written(&encoder) + 8) / 8);
  heap_free(bytes);
  model_release(&model);
  return peak;
}

void print_memory() {
  std::printf("\npeak heap bytes of one encoder beyond those live before it (nsym 256, uniform)\n");
  std::printf("%10s | %12s %12s %-13s | %12s %12s\n", "symbols", "memory out", "memory peak", "limit",
              "file out", "file peak");
  std::string path = "/tmp/kestrel_bench_memory.kst";
  for (size_t count : {size_t{100000}, size_t{1000000}, size_t{10000000}}) {
    std::vector<int32_t> symbols(count);
    std::mt19937 random(7);
    for (auto& symbol : symbols) symbol = static_cast<int32_t>(random() % 256);
    int32_t memory_output = 0;
    int32_t file_output = 0;
    size_t memory_peak = encoder_peak_extra("", symbols, &memory_output);
    size_t file_peak = encoder_peak_extra(path.c_str(), symbols, &file_output);
    size_t limit = 2 * static_cast<size_t>(memory_output) + 65536;
    std::printf("%10zu | %12d %12zu %-6s 2n+64K | %12d %12zu\n", count, memory_output, memory_peak,
                memory_peak <= limit ? "within" : "OVER", file_output, file_peak);
  }
  std::remove(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  for (int32_t nsym : ALPHABETS) {
    for (int shape = 0; shape < 4; ++shape) register_cell(nsym, shape);
  }
  register_long_vector();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_ratios(reporter.ns_per_symbol);
  print_memory();
  benchmark::Shutdown();
  return 0;
}
