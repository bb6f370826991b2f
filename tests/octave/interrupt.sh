#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Ctrl-C during long calls, as a user at an interactive octave-cli presses
# it: the session runs on a pseudo-terminal (script), whose Ctrl-C byte the
# terminal turns into SIGINT. Three loops of compress calls (one thread,
# with progress, which prints after the interrupt) and three of decompress
# calls (two threads), each stopped by Ctrl-C, must leave a session that
# still round-trips exactly, holds no more memory than before (a call makes
# 32 MB of bytes or a 36 MB array: a leak of either would show), and exits
# with status 0.
#   interrupt.sh OCTAVE_CLI BUILD_DIR
set -eu
octave=$1
build=$2
if ! script -q -e -c true /dev/null </dev/null >/dev/null 2>&1; then
  echo "interrupt: skipped, script cannot open a pseudo-terminal here"
  exit 77
fi
work=$(mktemp -d)
session=""
trap 'if [ -n "$session" ]; then kill "$session" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
mkfifo "$work/in"
script -q -e -c "\"$octave\" --no-gui --quiet --norc --no-history" /dev/null <"$work/in" >"$work/out" 2>&1 &
session=$!
exec 3>"$work/in"
say() { printf '%s\n' "$1" >&3; }

# Waits until the session printed MARK=digits; fails after a minute.
await() {
  for _ in $(seq 600); do
    grep -a -q "$1=[0-9]" "$work/out" && return 0
    sleep 0.1
  done
  echo "interrupt: the session never printed $1; it printed:" >&2
  cat "$work/out" >&2
  exit 1
}

rss="sscanf(regexp(fileread('/proc/self/status'), 'VmRSS:\\s*(\\d+)', 'tokens', 'once'){1}, '%d')"
say "addpath('$build'); x = uint8(mod(floor(((1:6000)' + (1:6000)) / 47), 200)) + randi([0 7], 6000, 6000, 'uint8'); b0 = kestrel('compress', x);"
say "xx = [x; x]; b = kestrel('compress:threads=1', xx); y = kestrel('decompress:threads=2', b0); clear b y; disp(sprintf('BEFORE=%d', $rss))"
await BEFORE
# Each loop prints GOn=1 as it starts and DONEn=1 if it ends; Ctrl-C comes
# 0.3 s after GOn, well inside the first of 4 calls of 0.4 s or more (a
# compress call here takes more than the second after which it reports).
loop() {
  say "disp(sprintf('GO%d=1', $1)); fflush(stdout); for k = 1:4, $2 end, disp(sprintf('DONE%d=1', $1))"
  await "GO$1"

  sleep 0.3
  printf '\003' >&3
}
for cycle in 1 2 3; do
  loop "$cycle" "b = kestrel('compress:threads=1:progress', xx);"
  loop "$((cycle + 3))" "y = kestrel('decompress:threads=2', b0);"
done
say "clear b y; r = $rss; ok = isequal(kestrel_decompress(kestrel_compress(x)), x); disp(sprintf('AFTER=%d OK=%d', r, ok))"
await AFTER
say "exit"
exec 3>&-
status=0
wait "$session" || status=$?
session=""
sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' "$work/out" | grep -a -E '^(BEFORE|AFTER)=' || true
before=$(grep -a -o 'BEFORE=[0-9][0-9]*' "$work/out" | head -n 1 | cut -d= -f2)
after=$(grep -a -o 'AFTER=[0-9][0-9]*' "$work/out" | head -n 1 | cut -d= -f2)
interrupted=0
for loop in $(seq 6); do
  grep -a -q "DONE$loop=[0-9]" "$work/out" || interrupted=$((interrupted + 1))
done
fail=""
grep -a -q 'OK=1' "$work/out" || fail="$fail; the round trip after the interrupts is not exact"
[ "$status" -eq 0 ] || fail="$fail; octave-cli exited with $status"
[ -n "$before" ] && [ -n "$after" ] && [ $((after - before)) -lt 65536 ] || fail="$fail; the session grew from $before to $after KiB"
[ "$interrupted" -eq 6 ] || fail="$fail; only $interrupted of 6 loops were interrupted"
if [ -n "$fail" ]; then
  echo "interrupt: ${fail#; }; the session printed:" >&2
  cat "$work/out" >&2
  exit 1
fi
echo "interrupt: $interrupted loops interrupted; memory $before KiB before, $after after; exit status 0"
