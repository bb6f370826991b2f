% SPDX-License-Identifier: BSD-3-Clause
% Memory running out under an address-space limit (ulimit -v), in a child
% octave-cli (memory_limit_child.m): done at a buffer-doubling boundary
% keeps every byte, and encoders whose buffer could not grow are freed by
% done and cleanup while memory is still short.
if isempty(getenv('KESTREL_BUILD')), setenv('KESTREL_BUILD', fileparts(which('kestrel'))); end
if isempty(getenv('KESTREL_OCTAVE_TESTS')), setenv('KESTREL_OCTAVE_TESTS', fileparts(mfilename('fullpath'))); end
octave = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
code = 'addpath(getenv(''KESTREL_BUILD'')); addpath(getenv(''KESTREL_OCTAVE_TESTS'')); memory_limit_child';
limit_kib = 1536 * 1024;  % far above what the child needs; its ballast sets the room of each case
[status, out] = system(sprintf('ulimit -v %d && "%s" --no-gui --quiet --norc --no-history --eval "%s" 2>&1', ...
                               limit_kib, octave, code));
if status ~= 0, error('the child under ulimit -v exited with %d:\n%s', status, out); end
