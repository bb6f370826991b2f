#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Writes the Octave package kestrel-VERSION.tar.gz into the folder given as
# argument (default dist/) and prints its path. VERSION and its date are
# DESCRIPTION's, the package's own; inst/Contents.m, NEWS (its first entry)
# and CITATION must carry them. The module's version answer is another
# thing, kept as it is: Contents.m must quote it as the module gives it.
# The tarball holds DESCRIPTION, INDEX, COPYING, NEWS, CITATION,
# post_install.m, the help text and every M function of inst/ (private/
# included) in inst/, the sources with Makefile and module.mk in src/, and
# build_kestrel.m for a build from MATLAB.
set -eu
cd "$(dirname "$0")/.."
out=${1:-dist}

fail() {
  echo "package.sh: $*" >&2
  exit 1
}
version=$(sed -n 's/^Version: *//p' DESCRIPTION)
date=$(sed -n 's/^Date: *//p' DESCRIPTION)
contents_date=$(LC_ALL=C date -u -d "$date" +%d-%b-%Y) || fail "DESCRIPTION's date $date is no date"
grep -q "^% Version $version $contents_date\$" inst/Contents.m ||
  fail "inst/Contents.m does not carry '% Version $version $contents_date'"
head -1 NEWS | grep -q "for kestrel $version ($date)\$" || fail "NEWS does not begin with an entry for $version ($date)"
grep -q "kestrel $version " CITATION || fail "CITATION does not name kestrel $version"
module=$(sed -n 's/^#define KESTREL_VERSION "\(.*\)"$/\1/p' src/gateway/gateway.h)
tr '\n' ' ' <inst/Contents.m | sed 's/% */ /g; s/  */ /g' | grep -qF "kestrel('version') answers '$module'" ||
  fail "inst/Contents.m does not quote the module's version answer '$module'"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
top="$stage/kestrel-$version"
mkdir -p "$top/inst"
cp DESCRIPTION INDEX COPYING NEWS CITATION post_install.m build_kestrel.m "$top/"
cp inst/*.m src/gateway/kestrel.m "$top/inst/"
cp -R inst/private "$top/inst/"
cp -R src "$top/"
find "$top/src" \( -name '*.m' -o -name '*.o' -o -name '*.mex' \) -exec rm -f {} +

mkdir -p "$out"
tarball="$(cd "$out" && pwd)/kestrel-$version.tar.gz"
tar -C "$stage" -czf "$tarball" "kestrel-$version"
echo "$tarball"
