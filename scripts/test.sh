#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Runs every test: the C++ tests of the core, the fuzz corpora and the Octave
# tests of kestrel.mex in build/, then the C++ tests and fuzz corpora again
# built with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/,
# then for Windows, arm64, libc++ and the portable coder (scripts/cross.sh).
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
(cd build && ctest --output-on-failure -j2 "$@")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_SANITIZE=ON -DKESTREL_MODULE=OFF >/dev/null
cmake --build build-asan
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 "$@")
./scripts/cross.sh
