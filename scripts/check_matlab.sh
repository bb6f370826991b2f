#!/bin/sh
# SPDX-License-Identifier: BSD-3-Clause
# Fails on Octave-only syntax in the .m files that kestrel ships, which must
# run in MATLAB as well: '#' comments, '!' and '!=', '++', '+=' and the
# like, '**', double-quoted strings, endfunction/endif/endwhile/endfor and
# the other Octave block ends, unwind_protect, a backslash continuation,
# index chaining such as f(x)(1), an assignment inside a condition or a
# parameter list, and calls of functions that only Octave has (printf, puts,
# rows, columns, ...). Comments, and so %!test blocks, are not checked.
# Usage: check_matlab.sh [file.m...]; with no files, every shipped .m file
# of the repository. Prints file:line: what: line, for each offending line,
# and exits 1 if there is any.
set -eu
if [ $# -eq 0 ]; then
  cd "$(dirname "$0")/.."
  set -- src/gateway/kestrel.m build_kestrel.m post_install.m demo/*.m inst/*.m inst/private/*.m
fi

awk '
# The code of one line with every string replaced by an empty one and the
# comment removed; sets quote when a double-quoted string was found and
# hash when a # comment was.
function code_of(line,    out, i, c, prev, n) {
  out = ""; prev = ""; quote = 0; hash = 0; n = length(line)
  for (i = 1; i <= n; i++) {
    c = substr(line, i, 1)
    if (c == "%") break
    if (c == "#") { hash = 1; break }
    if (substr(line, i, 3) == "...") break
    if (c == "\"") {
      quote = 1
      for (i++; i <= n && substr(line, i, 1) != "\""; i++) ;
      out = out "\"\""; prev = "\""; continue
    }
    # A quote right after a name, a closing bracket, a dot or a transpose is
    # a transpose; anywhere else it opens a string.
    if (c == "'\''" && prev !~ /[A-Za-z0-9_)\]}.'\'']/) {
      for (i++; i <= n; i++) {
        if (substr(line, i, 1) != "'\''") continue
        if (substr(line, i + 1, 1) == "'\''") { i++; continue }
        break
      }
      out = out "'\'''\''"; prev = "\""; continue
    }
    out = out c
    prev = (c ~ /[ \t]/) ? "" : c
  }
  return out
}

function report(what) {
  printf "%s:%d: %s: %s\n", FILENAME, FNR, what, $0
  failed = 1
}

FNR == 1 { block = 0 }
/^[ \t]*%\{[ \t]*$/ { block = 1; next }
block && /^[ \t]*%\}[ \t]*$/ { block = 0; next }
block { next }

{
  code = code_of($0)
  # An anonymous function head @(x) may be followed by a bracket.
  bare = code; gsub(/@[ \t]*\([^()]*\)/, "@", bare)
  W = "(^|[^A-Za-z0-9_])"; E = "([^A-Za-z0-9_]|$)"
  if (hash) report("# comment")
  else if (quote) report("double-quoted string")
  else if (code ~ /!/) report("! or !=")
  else if (code ~ /\+\+|--|[-+*\/^|&]=/) report("increment or compound assignment")
  else if (code ~ /\*\*/) report("** power")
  else if (code ~ /\\[ \t]*$/) report("backslash continuation")
  else if (code ~ W "(endfunction|endif|endwhile|endfor|endswitch|end_try_catch|end_unwind_protect|unwind_protect|unwind_protect_cleanup|until)" E) report("Octave block keyword")
  else if (code ~ W "(printf|puts|fputs|fdisp|fflush|stdout|stderr|rows|columns|print_usage|nthargout|ifelse|merge|ostrsplit|postpad|prepad)" E) report("Octave-only function")
  else if (bare ~ /\)[({]/) report("index chaining")
  else if (code ~ /^[ \t]*(if|elseif|while)[ \t(].*[^=~<>]=[^=]/) report("assignment in a condition")
  else if (code ~ /^[ \t]*function[^(]*\([^)]*=/) report("default argument")
}

END { exit failed }
' "$@" || { echo "check_matlab: shipped .m files use Octave-only syntax (above)" >&2; exit 1; }
echo "check_matlab: $# shipped .m files are valid MATLAB"
