#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Builds kestrel.mex and the core benchmark, then runs bench/kestrel_bigdata.m:
# memory and CPU time of 10^8 uint8 elements through kestrel_compress,
# kestrel_decompress and the handle commands with typed and double results,
# each in a fresh octave-cli, and the rate of 10^7 symbols through Octave
# against the core. Needs about 2 GiB of memory; run on a quiet machine.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh --target kestrel_bench kestrel_mex kestrel_m_functions
octave-cli --no-gui --quiet --norc --no-history --eval \
  "addpath('$(pwd)/build'); addpath('$(pwd)/bench'); kestrel_bigdata('$(pwd)/build/bench/kestrel_bench')"
