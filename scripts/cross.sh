#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Builds the core's C++ tests and the fuzz-corpus replays for other targets
# and runs them through CTest, each target in a build folder of its own:
#   windows   MinGW-w64, run under wine; the host layer compiled for Windows
#   arm64     aarch64 Linux, run under qemu-user
#   libcxx    clang with LLVM's libc++, the C++ library of macOS
#   portable  this machine with the coder's plain C++ path forced
# scripts/cross.sh runs them all; scripts/cross.sh TARGET... the ones named.
# Installs what each target needs first. Prints each target's time.
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
TARGETS=${*:-windows arm64 libcxx portable}

# The round trips of the two largest alphabets compare whole models after
# every symbol, minutes under an emulator; the native build runs them, and
# here the differential test covers those alphabets.
FILTER='*-Alphabets/RandomRoundTrip.*Nsym8191:Alphabets/RandomRoundTrip.*Nsym16382'
GTEST_SOURCE=/usr/src/googletest

# configure DIR [cmake arguments...]: no debug information, which would
# double the compile time of the tests; no module, no benchmarks.
configure() {
  dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    -DKESTREL_MODULE=OFF -DKESTREL_BENCH=OFF -DKESTREL_CORE_TEST_FILTER="$FILTER" "$@" >/dev/null
  cmake --build "$dir" -j2
}

run_tests() {
  (cd "$1" && ctest --output-on-failure -j2)
}

# Wine keeps its state in a prefix inside the build folder, made here once:
# the first start takes a while, and is timed apart from the tests.
wine_prefix() {
  export WINEPREFIX="$ROOT/build-windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver64
  [ -x "$wine" ] || wine=$(command -v wine)
  [ -x "$wineserver" ] || wineserver=$(command -v wineserver)
  prefix_started=$(date +%s)
  "$wine" wineboot --init >/dev/null 2>&1 </dev/null
  "$wineserver" -w
  echo "cross.sh: wine prefix made in $(($(date +%s) - prefix_started)) s"
}

target_windows() {
  ./scripts/deps.sh g++-mingw-w64-x86-64 wine64 googletest
  configure build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
    -DKESTREL_GTEST_SOURCE="$GTEST_SOURCE" -DKESTREL_HOST_CHECK=ON
  # A Windows MEX file must export mexFunction: the host layer says so itself.
  grep -a -q -e '-export:"mexFunction"' build-windows/CMakeFiles/kestrel_host_matlab.dir/src/gateway/host_mex.cpp.obj || {
    echo "cross.sh: the host layer does not export mexFunction" >&2
    return 1
  }
  wine_prefix
  run_tests build-windows
}

target_arm64() {
  ./scripts/deps.sh g++-aarch64-linux-gnu qemu-user googletest
  configure build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux.cmake \
    -DKESTREL_GTEST_SOURCE="$GTEST_SOURCE" -DKESTREL_HOST_CHECK=ON
  run_tests build-arm64
}

target_libcxx() {
  ./scripts/deps.sh clang libc++-dev libc++abi-dev googletest
  configure build-libcxx -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-clang-libcxx.cmake \
    -DKESTREL_GTEST_SOURCE="$GTEST_SOURCE" -DKESTREL_HOST_CHECK=ON
  run_tests build-libcxx
}

target_portable() {
  ./scripts/deps.sh cmake ninja-build g++ libgtest-dev
  configure build-portable -DKESTREL_PORTABLE=ON
  run_tests build-portable
}

./scripts/deps.sh cmake ninja-build
for target in $TARGETS; do
  case $target in
    windows | arm64 | libcxx | portable) ;;
    *) echo "usage: scripts/cross.sh [windows|arm64|libcxx|portable]..." >&2; exit 2 ;;
  esac
  started=$(date +%s)
  "target_$target"
  echo "cross.sh: $target passed in $(($(date +%s) - started)) s"
done
