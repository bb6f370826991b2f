#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Builds kestrel.mex and runs the demo in Octave: a signal encoded, decoded
# and compared, with its compressed size and rates.
set -eu
cd "$(dirname "$0")/.."
./scripts/build.sh --target kestrel_mex
octave-cli --no-gui --quiet --norc --eval "addpath('build'); addpath('demo'); kestrel_demo"
