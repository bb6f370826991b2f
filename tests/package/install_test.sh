#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Installs kestrel the way Octave users do. Builds the package with
# scripts/package.sh from a clean clone of the committed tree (so a file
# left out of a commit fails here), installs it with pkg install -local into
# a temporary HOME, loads it, checks that help kestrel prints the help text
# and that the one-call functions (and the private functions they call)
# round-trip an array, and runs the smoke tests of test('kestrel'): fails
# unless every one of at least one test passes (pkg's own test command exits
# 0 even on failures).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

git clone -q "$root" "$work/clone"
echo "package of $(git -C "$work/clone" log -1 --format='%h %s')"
tarball=$("$work/clone/scripts/package.sh" "$work")
mkdir "$work/home"
cd "$work"
HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config" \
octave-cli --no-gui --quiet --norc --no-history --eval "
  pkg('install', '-local', '$tarball');
  pkg('load', 'kestrel');
  fprintf('installed: %s, %s\n', which('kestrel'), kestrel('version'));
  text = evalc('help kestrel');
  if isempty(strfind(text, 'Fast, exact adaptive arithmetic coding')) || ~isempty(strfind(text, 'not documented'))
    error('help kestrel did not print the help text:\n%s', text);
  end
  fprintf('help kestrel: %d lines, beginning\n', numel(strfind(text, char(10))));
  lines = strsplit(text, char(10));
  fprintf('  %s\n', lines{2:4});
  x = int16([-300 0 7; 12 300 -1]);
  if ~isequal(kestrel_decompress(kestrel_compress(x)), x)
    error('kestrel_decompress(kestrel_compress(x)) did not give x back');
  end
  fprintf('kestrel_compress: round trip of a %s array from %s\n', class(x), which('kestrel_compress'));
  [n, nmax] = test('kestrel');
  fprintf('test kestrel: n = %d, nmax = %d\n', n, nmax);
  if ~(n == nmax && nmax > 0)
    test('kestrel', 'verbose');
    exit(1);
  end"
echo "package install: passed"
