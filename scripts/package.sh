#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Writes the Octave package kestrel-VERSION.tar.gz into the folder given as
# argument (default dist/) and prints its path. VERSION is DESCRIPTION's,
# and must agree with the module's version answer and inst/Contents.m.
# The tarball holds DESCRIPTION, INDEX, COPYING, post_install.m, the help
# text and every M function of inst/ (private/ included) in inst/, the
# sources with Makefile and module.mk in src/, and build_kestrel.m for a
# build from MATLAB.
set -eu
cd "$(dirname "$0")/.."
out=${1:-dist}

version=$(sed -n 's/^Version: *//p' DESCRIPTION)
date=$(sed -n 's/^Date: *//p' DESCRIPTION)
if ! grep -q "KESTREL_VERSION \"$version $date " src/gateway/gateway.h; then
  echo "package.sh: DESCRIPTION's $version $date is not the module's version answer" >&2
  exit 1
fi
if ! grep -q "^% Version $version " inst/Contents.m; then
  echo "package.sh: inst/Contents.m does not carry version $version" >&2
  exit 1
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
top="$stage/kestrel-$version"
mkdir -p "$top/inst"
cp DESCRIPTION INDEX COPYING post_install.m build_kestrel.m "$top/"
cp inst/*.m src/gateway/kestrel.m "$top/inst/"
cp -R inst/private "$top/inst/"
cp -R src "$top/"
find "$top/src" \( -name '*.m' -o -name '*.o' -o -name '*.mex' \) -exec rm -f {} +

mkdir -p "$out"
tarball="$(cd "$out" && pwd)/kestrel-$version.tar.gz"
tar -C "$stage" -czf "$tarball" "kestrel-$version"
echo "$tarball"
