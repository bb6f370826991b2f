#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Compression on real data: fetches the sets (bench/realdata.sh), builds
# kestrel.mex and the one-call pair, then runs bench/compress_real.m, which
# prints per set the ratio and the CPU MB/s both ways of kestrel_compress
# (container versions 2 and 1) beside gzip, bzip2, xz, zstd, brotli, optipng
# (images and rasters), flac and wavpack (audio), and the targets.
# Usage: bench_compress.sh [--quick] [SET...]
#   --quick  the first 2 files of each set, one repetition, optipng -o2 only
#   SET      gray8 rgb8 img16 speech speech8k speech_synth music1 music2 dem
#            med8 med16
#            (default: all)
# KESTREL_REALDATA overrides the data folder (/var/cache/kestrel/realdata).
set -eu
cd "$(dirname "$0")/.."
quick=false
sets=""
for arg in "$@"; do
  case "$arg" in
    --quick) quick=true ;;
    -*) echo "usage: $0 [--quick] [SET...]" >&2; exit 2 ;;
    *) sets="$sets${sets:+, }'$arg'" ;;
  esac
done
./scripts/deps.sh gzip bzip2 xz-utils zstd brotli optipng flac wavpack
./bench/realdata.sh
nice -n 10 ./scripts/build.sh -j 2 --target kestrel_mex kestrel_m_functions
root="${KESTREL_REALDATA:-/var/cache/kestrel/realdata}/sets"
octave-cli --no-gui --quiet --norc --no-history --eval \
  "addpath('$(pwd)/build'); addpath('$(pwd)/bench'); compress_real('Root', '$root', 'Sets', {$sets}, 'Quick', $quick);"
