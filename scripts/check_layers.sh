#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Checks the layers of src/: each file includes only files of its own layer
# or of layers below it, in the order base, stream, coder, registry, gateway;
# only the host layer (src/gateway/host*) includes mex.h. Prints every include
# that breaks the order and fails when there is one. Run from anywhere.
set -eu
cd "$(dirname "$0")/../src"

# The rank of a layer (a folder of src/); empty for anything else.
rank() {
  case "$1" in
    base) echo 0 ;; stream) echo 1 ;; coder) echo 2 ;; registry) echo 3 ;; gateway) echo 4 ;;
  esac
}

broken=0
files=$(find . -name '*.h' -o -name '*.cpp' | sed 's#^\./##' | sort)
for file in $files; do
  layer=${file%%/*}
  own=$(rank "$layer")
  if [ -z "$own" ]; then
    echo "$file: in no layer"
    broken=1
    continue
  fi
  for included in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\([^>"]*\)[>"].*/\1/p' "$file"); do
    if [ "$included" = mex.h ]; then
      case "$file" in
        gateway/host*) ;;
        *) echo "$file: includes mex.h outside the host layer"; broken=1 ;;
      esac
      continue
    fi
    case "$included" in */*) ;; *) continue ;; esac
    other=$(rank "${included%%/*}")
    [ -n "$other" ] || continue  # a system header such as sys/stat.h
    if [ "$other" -gt "$own" ]; then
      echo "$file: includes $included, a higher layer"
      broken=1
    fi
  done
done
[ "$broken" -eq 0 ] && echo "layers: every include goes down or stays in its layer"
exit "$broken"
