#!/bin/sh
# Runs every test: the C++ tests of the core and the Octave tests of
# kestrel.mex.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh
cd build
ctest --output-on-failure -j2 "$@"
