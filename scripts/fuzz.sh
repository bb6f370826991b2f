#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Runs one libFuzzer target: scripts/fuzz.sh fuzz_decode [libFuzzer flags...],
# e.g. -max_total_time=3600 for an hour (tests/fuzz/README.md says what each
# target checks and how to merge what a run found). Builds build-fuzz with
# clang, ASan and UBSan; new inputs go to a scratch corpus beside the
# committed one, which seeds it.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh cmake ninja-build clang libclang-rt-dev
target=${1:?usage: scripts/fuzz.sh fuzz_target [libFuzzer flags]}
shift
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_FUZZ=ON -DKESTREL_TESTS=OFF -DKESTREL_MODULE=OFF >/dev/null
cmake --build build-fuzz --target "$target"
mkdir -p "build-fuzz/corpus/$target"
exec "build-fuzz/tests/fuzz/$target" "$@" "build-fuzz/corpus/$target" "tests/fuzz/corpus/$target"
