#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs only what the demo needs (a C++ compiler, Octave and its
# development files), builds build/kestrel.mex with build_kestrel, as a user
# without the repository's tools would, and runs the demo in Octave: a
# signal encoded, decoded and compared, with its compressed size and rates.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh g++ octave octave-dev
octave-cli --no-gui --quiet --norc --no-history --eval "build_kestrel(); addpath('build'); addpath('demo'); kestrel_demo"
