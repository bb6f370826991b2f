#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Fetches the real data that the compression benchmark judges on: photos,
# speech, music, elevation rasters and medical images shipped in Debian
# packages, none of them made here. The packages are downloaded with
# apt-get download and unpacked with dpkg-deb -x (nothing is installed but
# the converters' own tools), then each file becomes a raw array:
#   $KESTREL_REALDATA/sets/SET/NAME.raw   the elements in MATLAB storage
#                                          (column-major) order, little-endian
#   $KESTREL_REALDATA/sets/SET/NAME.txt   class, dims (MATLAB size), rate
#                                          (audio), kind, package, version,
#                                          path, note
#   $KESTREL_REALDATA/sets/index.txt      SET NAME CLASS DIMS..., a file a line
# KESTREL_REALDATA defaults to /var/cache/kestrel/realdata. Idempotent: the
# packages are fetched and unpacked once, the sets are rebuilt only when
# index.txt is missing or --force is given.
set -eu
cd "$(dirname "$0")/.."
BENCH="$(pwd)/bench"
CACHE="${KESTREL_REALDATA:-/var/cache/kestrel/realdata}"
PYTHON=/usr/bin/python3   # Debian's, with Debian's numpy and pydicom

./scripts/deps.sh python3 python3-numpy python3-pydicom flac octave espeak-ng
if [ -f "$CACHE/sets/index.txt" ] && [ "${1:-}" != "--force" ]; then
  echo "Real data in place: $CACHE/sets (bench/realdata.sh --force rebuilds it)"
  exit 0
fi

mkdir -p "$CACHE/deb" "$CACHE/x"
for package in $("$PYTHON" "$BENCH/realdata_convert.py" --packages); do
  if ! ls "$CACHE/deb/${package}"_*.deb >/dev/null 2>&1; then
    if ! (cd "$CACHE/deb" && apt-get download -q "$package" >/dev/null 2>&1); then
      apt-get update -qq   # the package lists may be stale
      (cd "$CACHE/deb" && apt-get download -q "$package" >/dev/null 2>&1) ||
        { echo "realdata: could not download $package" >&2; exit 1; }
    fi
  fi
  if [ ! -d "$CACHE/x/$package" ]; then
    dpkg-deb -x "$CACHE/deb/${package}"_*.deb "$CACHE/x/$package.part"
    mv "$CACHE/x/$package.part" "$CACHE/x/$package"
  fi
done
rm -rf "$CACHE/sets"
"$PYTHON" "$BENCH/realdata_convert.py" "$CACHE" "$BENCH"
