#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Compiles the core as Microsoft's compiler sees it: clang-cl in MSVC mode
# for x86-64 Windows, which takes every _MSC_VER branch of base/platform.h,
# with KESTREL_REQUIRE_FAST, so that the compile fails when that header would
# give MSVC the plain path (no SSE2 rows, no one-step zero counts or
# multiply-high). No Windows SDK or MSVC library is at hand: the compiler's
# own headers give intrin.h and emmintrin.h, and tests/support/msvc stands in
# for the few C and C++ library headers the core includes. Compiled, never
# linked. clang-cl defines some of GCC's macros that Microsoft's compiler
# lacks; those the platform header could read are undefined here (clang's
# own intrinsic headers need __x86_64__). Left out, and compiled and run by
# the MinGW-w64 build of scripts/cross.sh instead: stream/stream.cpp (the
# Windows file API needs the SDK's windows.h), and the array codec's block
# and container code and its commands, which need the C++ library's
# containers and threads that no stand-in here provides; its bit tricks come
# from base/platform.h. Its checksum and linear prediction are compiled here.
set -eu
cd "$(dirname "$0")/.."
./scripts/deps.sh clang clang-tools

CL=$(command -v clang-cl || ls /usr/bin/clang-cl-* 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$CL" ]; then CL="clang --driver-mode=cl"; fi

OUT=build-msvc
mkdir -p "$OUT"
SOURCES=$(sed -e ':a' -e '/\\$/N; s/\\\n//; ta' src/module.mk |
          sed -n 's/^KESTREL_CORE_SOURCES[[:space:]]*=//p')
count=0
for source in $SOURCES; do
  case $source in
    stream/stream.cpp | codec/block.cpp | codec/container.cpp | gateway/codec_commands.cpp) continue ;;
  esac
  object="$OUT/$(echo "$source" | tr / _ | sed 's/\.cpp$/.obj/')"
  # shellcheck disable=SC2086
  $CL --target=x86_64-pc-windows-msvc /std:c++17 /O2 /EHsc /W4 /WX /c /clang:-ffreestanding \
    -U__SSE2__ -U__SIZEOF_INT128__ -U__BYTE_ORDER__ -DKESTREL_REQUIRE_FAST -Itests/support/msvc -Isrc "src/$source" "/Fo$object" >/dev/null
  count=$((count + 1))
done
[ "$count" -ge 10 ] || { echo "check_msvc: only $count sources found in src/module.mk"; exit 1; }
echo "check_msvc: $count core sources compile as MSVC x86-64 with the fast path ($CL)"
