#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# The steps that scripts/octave_versions.sh runs on one Octave, the first
# octave-cli on PATH: the package file written from the sources SOURCE (may
# be read-only), installed and checked as a user sees it
# (tests/package/check_package.m), then the module built with CMake in a
# scratch folder and the Octave tests of tests/octave run against it.
# Prints the Octave version (with WHERE, a note on where it runs), each step
# that passed with its time, and stops at the first step that fails.
# Usage: steps.sh SOURCE WHERE
set -eu
source=$1
where=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs "$@" as step $name, its output kept in the log unless it fails.
run_step() {
  name=$1
  shift
  started=$(date +%s)
  if ! "$@" >"$work/step.log" 2>&1; then
    cat "$work/step.log"
    echo "  $name FAILED"
    exit 1
  fi
  printf '  %-24s passed (%d s%s)\n' "$name" $(($(date +%s) - started)) "${note:-}"
  note=""
}

echo "Octave $(octave-cli --no-history --version | sed -n '1s/.*version //p') ($where; $(g++ -dumpfullversion) g++)"
run_step "package file" sh -c "'$source/scripts/package.sh' '$work' >'$work/tarball'"
tarball=$(cat "$work/tarball")
version=$(sed -n 's/^Version: *//p' "$source/DESCRIPTION")
mkdir "$work/home"
(cd "$work" && HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_CONFIG_HOME="$work/home/.config" octave-cli --no-gui --quiet --norc --no-history \
  --eval "addpath('$source/tests/package'); check_package('$tarball', '$version');")

run_step "module build" sh -c "cmake -S '$source' -B '$work/build' -G Ninja -DKESTREL_BENCH=OFF >/dev/null &&
  nice -n 10 cmake --build '$work/build' -j2 --target kestrel_mex kestrel_reference_mex kestrel_m_functions"
count=$(cd "$work/build" && ctest -N -R '^octave\.' | sed -n 's/^Total Tests: //p')
note="; $count tests"
run_step "tests/octave" sh -c "cd '$work/build' && nice -n 10 ctest --output-on-failure -j2 -R '^octave\.'"
