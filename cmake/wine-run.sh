#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# wine-run.sh WINE PROGRAM [ARGUMENTS...]: runs a Windows program under wine
# for CTest and exits with its status. The program's output passes through a
# file: the helper processes that wine starts beside the first program of a
# session (services.exe, explorer.exe, ...) inherit its output and outlive it,
# and would hold CTest's pipe open for as long as they run.
wine=$1
shift
out=$(mktemp) || exit 1
"$wine" "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit "$status"
