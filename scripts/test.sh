#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Runs every test, in order: the MATLAB validity of the shipped .m files;
# the order of the layers of src/; the core compiled as Microsoft's compiler
# sees it, with the fast path (clang-cl); the build in build/; the Octave
# package built from a clean clone and installed as users install it; the
# C++ tests of the core, the fuzz corpora and the Octave tests of
# build/kestrel.mex; the package and the Octave tests on Octave 9 and the
# newest, in Debian roots made once (scripts/octave_versions.sh; Octave 7 is
# this machine's, tested above); then the C++ tests and fuzz corpora again
# built with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/;
# then the tests for Windows, arm64, libc++ and the portable coder
# (scripts/cross.sh). Arguments go to both ctest runs.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh
./scripts/check_matlab.sh
./scripts/check_layers.sh
./scripts/check_msvc.sh
./scripts/build.sh
tests/package/install_test.sh
(cd build && ctest --output-on-failure -j2 "$@")
./scripts/octave_versions.sh 9 newest

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKESTREL_SANITIZE=ON -DKESTREL_MODULE=OFF >/dev/null
cmake --build build-asan
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j2 "$@")
./scripts/cross.sh
