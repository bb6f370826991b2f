#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Configures and builds kestrel in build/: the core, its C++ tests and
# build/kestrel.mex (with Octave's mkoctfile --mex).
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build "$@"
