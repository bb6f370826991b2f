#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Builds and runs the benchmarks: the core coder against the straightforward
# one (Google Benchmark), then the same through Octave with the comparison
# against Octave's Huffman coder. Run on a quiet machine.
set -eu
cd "$(dirname "$0")/.."
KESTREL_EXTRA_PACKAGES=octave-communications ./scripts/deps.sh
./scripts/build.sh --target kestrel_bench kestrel_mex kestrel_reference_mex
build/bench/kestrel_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
octave-cli --no-gui --quiet --norc --no-history --eval \
  "addpath('build'); addpath('bench'); kestrel_benchmark"
