#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs Debian packages that kestrel's scripts need: the packages named as
# arguments, or with none, everything to build and test. Idempotent: packages
# already present are left alone, and apt is not touched at all when nothing
# is missing.
set -eu

if [ $# -gt 0 ]; then
  PACKAGES="$*"
else
  PACKAGES="cmake ninja-build g++ libgtest-dev libbenchmark-dev octave octave-dev clang libclang-rt-14-dev valgrind"
fi
[ "${KESTREL_EXTRA_PACKAGES:-}" ] && PACKAGES="$PACKAGES $KESTREL_EXTRA_PACKAGES"

missing=""
for package in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq $missing >/dev/null
