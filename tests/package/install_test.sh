#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs kestrel the way Octave users do. Builds the package with
# scripts/package.sh from a clean clone of the committed tree (so a file
# left out of a commit fails here), and checks it with check_package.m in a
# temporary HOME: pkg install -local, pkg load, the package's version (and
# the module's own answer), help kestrel, test of kestrel and of each M
# function shipped in inst/ (every test passing, at least one each: pkg's
# test command exits 0 even on failures), a round trip through the
# one-call pair, news kestrel, citation kestrel and pkg uninstall.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone -q "$root" "$work/clone"
echo "package of $(git -C "$work/clone" log -1 --format='%h %s')"
tarball=$("$work/clone/scripts/package.sh" "$work")
mkdir "$work/home"
cd "$work"
HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
octave-cli --no-gui --quiet --norc --no-history --eval "
  addpath('$work/clone/tests/package');
  check_package('$tarball', '$(sed -n 's/^Version: *//p' "$work/clone/DESCRIPTION")');"
echo "package install: passed"
