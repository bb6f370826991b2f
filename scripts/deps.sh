#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs the Debian packages that kestrel's scripts need: the packages named
# as arguments, or with none, everything to build and test. Recommended
# packages are left out (Octave's alone would bring a Java runtime and Qt).
# Idempotent: packages already present are left alone, and apt is not
# touched at all when nothing is missing.
set -eu

if [ $# -gt 0 ]; then
  PACKAGES="$*"
else
  PACKAGES="g++ octave octave-dev make git cmake ninja-build libgtest-dev libbenchmark-dev debootstrap"
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
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
