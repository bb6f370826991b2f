#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# The MATLAB check passes valid.m, and on invalid.m fails and reports
# exactly the lines marked '% <-' at their end.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
check="$here/../../scripts/check_matlab.sh"

if ! sh "$check" "$here/valid.m"; then
  echo "valid.m was refused" >&2
  exit 1
fi
status=0
report=$(sh "$check" "$here/invalid.m" 2>/dev/null) || status=$?
printf '%s\n' "$report"
if [ "$status" -eq 0 ]; then
  echo "invalid.m was passed" >&2
  exit 1
fi
expected=$(grep -n '% <-$' "$here/invalid.m" | cut -d: -f1 | tr '\n' ' ')
reported=$(printf '%s\n' "$report" | cut -d: -f2 | tr '\n' ' ')
if [ "$expected" != "$reported" ]; then
  echo "expected lines $expected, reported lines $reported" >&2
  exit 1
fi
