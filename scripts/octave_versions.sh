#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs, tests and builds kestrel on each Octave that users have: 7 (this
# machine's, Debian bookworm), 9 (Debian trixie) and the newest (Debian
# unstable). Usage: octave_versions.sh [7|9|newest]...; with no argument,
# all three. For each it runs tests/versions/steps.sh, which prints the
# Octave version, every step that passed and the time taken, and fails on
# the first step that does not pass.
#
# Octave 9 and the newest run in minimal Debian roots made with debootstrap
# and reused afterwards, in $KESTREL_ROOTS (default /var/cache/kestrel/roots,
# outside any clone, so that every clone on the machine shares them). A root
# is made once, in a temporary folder renamed when complete, and remade only
# when its package list changes; remove the folder to remake it with what
# Debian ships today. The sources are bound read-only into the root at
# /kestrel, with /proc and /dev; everything is unmounted however the script
# ends. Needs root (through sudo otherwise), debootstrap (installed when
# missing) and Debian's mirror ($KESTREL_MIRROR).
set -eu
cd "$(dirname "$0")/.."
source_tree=$(pwd)
roots=${KESTREL_ROOTS:-/var/cache/kestrel/roots}
mirror=${KESTREL_MIRROR:-http://deb.debian.org/debian}
# Octave, its development files and a compiler, as users install them, and
# the tools of the Octave tests' build.
root_packages="octave octave-dev g++ make cmake ninja-build libgtest-dev"

if [ $# -eq 0 ]; then set -- 7 9 newest; fi
needs_root=0
for version in "$@"; do
  case $version in
    7) ;;
    9|newest) needs_root=1 ;;
    *) echo "octave_versions.sh: unknown version '$version' (7, 9 or newest)" >&2; exit 2 ;;
  esac
done
if [ $needs_root = 1 ] && [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"   # debootstrap, mount and chroot
fi

# The Debian suite whose Octave a version is.
suite_of() {
  case $1 in
    9) echo trixie ;;
    newest) echo sid ;;
  esac
}

# Makes the root of suite $1 in $roots/$1 unless it is there with the
# packages of $root_packages; prints how long the making took (which the
# version's total includes).
make_root() {
  root="$roots/$1"
  if [ "$(cat "$root/.kestrel-packages" 2>/dev/null)" = "$root_packages" ]; then
    return 0
  fi
  ./scripts/deps.sh debootstrap
  making_started=$(date +%s)
  echo "making the Debian $1 root in $root (once)"
  refuse_mounted "$root"
  refuse_mounted "$root.partial"
  rm -rf --one-file-system "$root" "$root.partial"
  mkdir -p "$roots"
  nice -n 10 debootstrap --variant=minbase "$1" "$root.partial" "$mirror" >"$roots/$1.log" 2>&1 || {
    tail -20 "$roots/$1.log" >&2; echo "octave_versions.sh: debootstrap $1 failed (log: $roots/$1.log)" >&2; exit 1; }
  cp /etc/resolv.conf "$root.partial/etc/resolv.conf"
  # Unstable's Release file is valid for a week only; a mirror that lags
  # behind (or a clock ahead of it) must not stop the root being made.
  # shellcheck disable=SC2086
  nice -n 10 chroot "$root.partial" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    sh -c "apt-get -o Acquire::Check-Valid-Until=false update -qq && apt-get install -y -qq --no-install-recommends $root_packages" \
    >>"$roots/$1.log" 2>&1 || {
    tail -20 "$roots/$1.log" >&2; echo "octave_versions.sh: installing Octave in the $1 root failed" >&2; exit 1; }
  chroot "$root.partial" apt-get clean
  echo "$root_packages" >"$root.partial/.kestrel-packages"
  mv "$root.partial" "$root"
  echo "made the Debian $1 root in $(($(date +%s) - making_started)) s"
}

# Stops when anything is mounted inside folder $1 (a run killed before it
# could unmount): removing or reusing the folder would reach the host's /dev.
refuse_mounted() {
  if grep -q " $1/" /proc/mounts; then
    echo "octave_versions.sh: mounts left inside $1 (see /proc/mounts): unmount them first" >&2
    exit 1
  fi
}

mounted=""
unmount_all() {
  for point in $mounted; do
    umount "$point" 2>/dev/null || umount -l "$point" 2>/dev/null || true
  done
  mounted=""
}
trap 'unmount_all' EXIT
trap 'exit 1' INT TERM HUP

# Binds $1 onto $2 (a folder inside a root), remembered for unmount_all.
bind() {
  mkdir -p "$2" && mount --bind "$1" "$2" || return 1
  mounted="$2 $mounted"
}

# Runs the steps in the root of suite $1, on its Octave.
run_in_root() {
  root="$roots/$1"
  refuse_mounted "$root"
  mount -t proc proc "$root/proc" || return 1
  mounted="$root/proc $mounted"
  bind /dev "$root/dev" || return 1
  bind "$source_tree" "$root/kestrel" || return 1
  mount -o remount,bind,ro "$root/kestrel" || return 1
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    sh /kestrel/tests/versions/steps.sh /kestrel "$2"
  status=$?
  unmount_all
  return $status
}

failed=""
for version in "$@"; do
  started=$(date +%s)
  echo "== Octave $version"
  if [ "$version" = 7 ]; then
    ./scripts/deps.sh g++ octave octave-dev make cmake ninja-build libgtest-dev
    if sh tests/versions/steps.sh "$source_tree" "Debian bookworm, this machine"; then ok=1; else ok=0; fi
  else
    suite=$(suite_of "$version")
    mkdir -p "$roots"
    exec 9>"$roots/.lock"
    flock 9   # one run at a time makes and uses the roots
    make_root "$suite"
    if run_in_root "$suite" "Debian $suite root $roots/$suite"; then ok=1; else ok=0; fi
    flock -u 9
  fi
  if [ $ok = 1 ]; then
    echo "== Octave $version: every step passed in $(($(date +%s) - started)) s"
  else
    echo "== Octave $version: FAILED after $(($(date +%s) - started)) s"
    failed="$failed $version"
  fi
done
if [ -n "$failed" ]; then
  echo "octave_versions.sh: failed on Octave$failed" >&2
  exit 1
fi
