// SPDX-License-Identifier: BSD-3-Clause
// The conversions at the host boundary, as the commands run them over an
// array (chunk by chunk through a small integer buffer): ns per element to read
// double, single, int16 and uint8 elements as symbols, and to write symbols
// into uint8 and double rows, with the vector loops and with the plain ones
// side by side. CPU time; each cell is the median of its repetitions: run
//   build/bench/numbers_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "gateway/numbers.h"

namespace {

// Array lengths: 32 Ki elements stay in the L2 cache (the cost of the loop
// itself); 4 Mi elements are larger than the caches, as real arrays are (the
// cost of moving them through memory as well).
const std::size_t LENGTHS[] = {std::size_t(1) << 15, std::size_t(1) << 22};
const char* const LENGTH_NAMES[] = {"32Ki", "4Mi"};

struct ReadCase {
  const char* name;
  HostClass element_class;
  std::size_t size;
};
const ReadCase READ_CASES[] = {
    {"double", HOST_DOUBLE, 8}, {"single", HOST_SINGLE, 4}, {"int16", HOST_INT16, 2}, {"uint8", HOST_UINT8, 1}};
const ReadCase WRITE_CASES[] = {{"uint8", HOST_UINT8, 1}, {"double", HOST_DOUBLE, 8}};
const char* const PATHS[] = {"plain", "vector"};

// Elements holding small whole numbers (0..250) in the raw bytes of a class.
std::vector<unsigned char> make_elements(HostClass element_class, std::size_t size, std::size_t count) {
  std::vector<int32_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<int32_t>(i * 2654435761u % 251);
  std::vector<unsigned char> raw(count * size);
  numbers_from_ints(values.data(), count, element_class, raw.data(), 0);
  return raw;
}

void per_element(benchmark::State& state, std::size_t count) {
  state.counters["elements"] = static_cast<double>(count);
}

void register_read(const ReadCase& c, int length, int path) {
  const std::size_t count = LENGTHS[length];
  auto raw = std::make_shared<std::vector<unsigned char>>(make_elements(c.element_class, c.size, count));
  std::string name = std::string("read/") + c.name + "/" + LENGTH_NAMES[length] + "/" + PATHS[path];
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
    platform_limit_path(path == 0 ? PATH_PLAIN : PATH_WIDE);
    const HostNumbers numbers{c.element_class, raw->data(), count};
    int32_t chunk[NUMBERS_CHUNK];
    for (auto _ : state) {
      for (std::size_t start = 0; start < count; start += NUMBERS_CHUNK) {
        numbers_to_ints(numbers, start, chunk);
        benchmark::DoNotOptimize(chunk);
      }
    }
    platform_limit_path(PATH_WIDE);
    per_element(state, count);
  });
}

void register_write(const ReadCase& c, int length, int path) {
  const std::size_t count = LENGTHS[length];
  std::string name = std::string("write/") + c.name + "/" + LENGTH_NAMES[length] + "/" + PATHS[path];
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
    platform_limit_path(path == 0 ? PATH_PLAIN : PATH_WIDE);
    std::vector<unsigned char> row(count * c.size);
    int32_t chunk[NUMBERS_CHUNK];
    for (std::size_t i = 0; i < NUMBERS_CHUNK; ++i) chunk[i] = static_cast<int32_t>(i % 251);
    for (auto _ : state) {
      for (std::size_t start = 0; start < count; start += NUMBERS_CHUNK) {
        numbers_from_ints(chunk, NUMBERS_CHUNK, c.element_class, row.data(), start);
      }
      benchmark::DoNotOptimize(row.data());
      benchmark::ClobberMemory();
    }
    platform_limit_path(PATH_WIDE);
    per_element(state, count);
  });
}

// Keeps the median CPU ns per element of every benchmark for the closing table.
class ElementReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> ns_per_element;

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      ns_per_element[run.run_name.function_name] = seconds * 1e9 / run.counters.at("elements");
    }
  }
};

void print_table(const std::map<std::string, double>& ns) {
  std::printf("\nCPU ns per element, median; ratio = plain / vector (above 1: the vector loop is faster)\n");
  std::printf("%-20s %9s %9s %7s\n", "conversion", "plain", "vector", "ratio");
  auto row = [&](const std::string& cell) {
    auto plain = ns.find(cell + "/plain"), vector = ns.find(cell + "/vector");
    if (plain == ns.end() || vector == ns.end()) return;
    std::printf("%-20s %9.3f %9.3f %6.2fx\n", cell.c_str(), plain->second, vector->second,
                plain->second / vector->second);
  };
  for (const char* length : LENGTH_NAMES) {
    for (const ReadCase& c : READ_CASES) row(std::string("read/") + c.name + "/" + length);
    for (const ReadCase& c : WRITE_CASES) row(std::string("write/") + c.name + "/" + length);
  }
  if (!numbers_vectorised()) std::printf("(built without vector loops: both columns run the plain loops)\n");
}

}  // namespace

int main(int argc, char** argv) {
  for (int length = 0; length < 2; ++length) {
    for (const ReadCase& c : READ_CASES) {
      for (int path = 0; path < 2; ++path) register_read(c, length, path);
    }
    for (const ReadCase& c : WRITE_CASES) {
      for (int path = 0; path < 2; ++path) register_write(c, length, path);
    }
  }
  benchmark::Initialize(&argc, argv);
  ElementReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  print_table(reporter.ns_per_element);
  benchmark::Shutdown();
  return 0;
}
