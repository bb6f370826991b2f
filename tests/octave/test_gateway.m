% SPDX-License-Identifier: BSD-3-Clause
% Command strings, argument checks and their messages, version,
% max_alphabet_size, cleanup and the option syntax.
kestrel('cleanup');
V = '1.4.1 2008-05-16 (yyyy-mm-dd)';
e = kestrel('new_encoder', '', 4);   % handle 0
d = kestrel('new_decoder', '', 4, [-37 3]);   % handle 1
free = 7;
long = repmat('f', 1, 511);

% {arguments, expected message}: every argument check, in the order tested.
cases = {
  {}, 'pochi parametri'
  {5}, 'parametro non stringa'
  {{'version'}}, 'parametro non stringa'
  {'Version'}, 'Unrecognized command'
  {''}, 'Unrecognized command'
  {'version '}, 'Unrecognized command'
  {'bits'}, 'pochi parametri'
  {'bits', '0'}, 'Atteso int'
  {'bits', true}, 'Atteso int'
  {'bits', {0}}, 'Atteso int'
  {'bits', free}, 'invalid handler'
  {'bits', d}, 'Cannot use action ''n_bits'' with decoders'
  {'done'}, 'pochi parametri'
  {'done', 'x'}, 'Atteso int'
  {'done', -1}, 'invalid handler'
  {'encode'}, 'pochi parametri'
  {'encode', 'x'}, 'Atteso int'
  {'encode', free}, 'invalid handler'
  {'encode', -42, 0}, 'invalid handler'
  {'encode', d}, 'Called ENCODE with a decoder handler'
  {'encode', e}, 'Pochi parametri'
  {'decode'}, 'pochi parametri'
  {'decode', false}, 'Atteso int'
  {'decode', 512, 'x'}, 'invalid handler'
  {'decode', e, 'x'}, 'Called DECODE with an encoder handler'
  {'decode', d, 'x'}, 'Atteso int'
  {'decode', d, true}, 'Atteso int'
  {'decode', d, {2}}, 'Atteso int'
  {'decode', d, -1}, 'invalid count'
  {'decode', d, []}, 'invalid count'
  {'decode', d, NaN}, 'invalid count'
  {'decode', d, 1e10}, 'invalid count'
  {'new_encoder'}, 'pochi parametri'
  {'new_encoder', 5, 4}, 'parametro non stringa'
  {'new_encoder', ''}, 'pochi parametri'
  {'new_encoder', long}, 'File name too long'
  {'new_encoder', '', '4'}, 'Atteso int'
  {'new_encoder', '', true}, 'Atteso int'
  {'new_decoder'}, 'pochi parametri'
  {'new_decoder', {''}, 4}, 'parametro non stringa'
  {'new_decoder', 'x.bin'}, 'pochi parametri'
  {'new_decoder', '', 'a', []}, 'Atteso int'
  {'new_decoder', '', false, []}, 'Atteso int'
  {'new_decoder', '', 4}, 'Pochi parametri'
};
for i = 1:rows(cases)
  args = cases{i, 1};
  expect_error(@() kestrel(args{:}), cases{i, 2}, sprintf('case %d', i));
end
% Errors carry identifiers a caller can catch by: an argument error, a
% failure raised deep in the coder, and a handle that is not open.
expect_error(@() kestrel('new_encoder', 5, 4), 'parametro non stringa', 'argument error', 'kestrel:notText');
expect_error(@() kestrel('decode', 7), 'invalid handler', 'wrong handle', 'kestrel:invalidHandle');
e = kestrel('new_encoder', '', 4);
expect_error(@() kestrel('encode', e, [0 9]), 'symbol out of range', 'deep failure', 'kestrel:symbolOutOfRange');
kestrel('done', e);
% None of these changed the table: the next creation gets handle 2.
expect_equal(kestrel('new_encoder', '', 4), 2, 'handle after argument errors');
kestrel('done', 2);

% version and max_alphabet_size ignore options and further arguments.
for args = {{'version'}, {'version:x:y'}, {'version', 1, {}, @sin}, {'version:', struct()}}
  expect_equal(kestrel(args{1}{:}), V, 'version');
end
for args = {{'max_alphabet_size'}, {'max_alphabet_size:q'}, {'max_alphabet_size', 'x', {1}, -3}}
  expect_equal(kestrel(args{1}{:}), 8191, 'max_alphabet_size');
end

% cleanup sets no output value at all.
try
  x = kestrel('cleanup');
  error('assigning the result of cleanup did not fail');
catch err
  if isempty(strfind(err.message, 'undefined')), error('cleanup output: %s', err.message); end
end
kestrel('cleanup', 1, {}, 'x');
kestrel('cleanup:x');
expect_error(@() kestrel('bits', e), 'invalid handler', 'cleanup closed the encoder');

% At most 15 options are split off; a 16th ':' stays in the command name.
expect_equal(kestrel(['version' repmat(':', 1, 15)]), V, '15 colons');
expect_error(@() kestrel(['version' repmat(':', 1, 16)]), 'Unrecognized command', '16 colons');
% The command string is cut to 510 characters before it is split.
pad = @(head, tail, n) [head repmat('p', 1, n - numel(head) - numel(tail)) tail];
head15 = ['version' repmat(':', 1, 15)];
expect_equal(kestrel(pad(head15, ':z', 512)), V, '16th colon cut off at 511');
expect_error(@() kestrel(pad(head15, ':z', 511)), 'Unrecognized command', '16th colon at 510');

% Option lookup as seen through new_encoder (a: append) and new_decoder (s=).
first = kestrel('new_encoder', '', 16); kestrel('encode', first, 0:15); A = kestrel('done', first);
second = kestrel('new_encoder', '', 16); kestrel('encode', second, 15:-1:0); B = kestrel('done', second);
la = numel(A); sa = num2str(la);
function fill(cmd, bytes)
  h = kestrel(cmd, 'opt.bin', 16); kestrel('encode', h, bytes); kestrel('done', h);
end
% {command for the second stream, expected file contents}
appends = {
  'new_encoder:a', [A B];  'new_encoder:append', [A B];  'new_encoder:x:a:y', [A B]
  'new_encoder', B;  'new_encoder:', B;  'new_encoder:A', B;  'new_encoder:xa', B
  'new_encoder:s=5', B;  ['new_encoder:a' repmat(':', 1, 14)], [A B]
  pad('new_encoder:', ':a', 510), [A B];  pad('new_encoder:', ':a', 511), B
  pad('new_encoder:', ':a', 512), B
};
for i = 1:rows(appends)
  fill('new_encoder', 0:15); fill(appends{i, 1}, 15:-1:0);
  expect_equal(file_bytes('opt.bin'), appends{i, 2}, ['append option: ' appends{i, 1}(1:min(end, 30))]);
end
% With A then B in the file, s= picks the start of the stream to decode.
fill('new_encoder', 0:15); fill('new_encoder:a', 15:-1:0);
read_at = @(cmd) kestrel('decode', kestrel(cmd, 'opt.bin', 16), 16);
starts = {
  ['s=' sa], 15:-1:0;  ['s= ' sa], 15:-1:0;  ['s=' sa 'abc'], 15:-1:0;  ['s=3:s=' sa], 15:-1:0
  ['x:s=' sa ':y'], 15:-1:0;  's=0', 0:15;  's=-5', 0:15;  's=', 0:15;  's=abc', 0:15
  's', 0:15;  ['S=' sa], 0:15;  [repmat(':', 1, 14) 's=' sa], 15:-1:0
};
for i = 1:rows(starts)
  expect_equal(read_at(['new_decoder:' starts{i, 1}]), starts{i, 2}, ['start option ' starts{i, 1}]);
end
% Rightmost of several s= options wins.
expect_equal(read_at(['new_decoder:s=' sa ':s=3']), read_at('new_decoder:s=3'), 's=la:s=3');
expect_equal(read_at('new_decoder:s=5:s=9'), read_at('new_decoder:s=9'), 's=5:s=9');
% A cut command string shortens an option: s=<la>0 loses its last digit.
expect_equal(read_at(pad('new_decoder:', [':s=' sa '0'], 511)), 15:-1:0, 's= cut to 510');
expect_error(@() read_at(pad('new_decoder:', [':s=' sa '0'], 510)), 'Unseekable stream', 's= not cut');
kestrel('cleanup');
