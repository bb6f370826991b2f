% SPDX-License-Identifier: BSD-3-Clause
% kestrel_compress and kestrel_decompress: round trips of every class and
% shape, extremes and constants, in both format versions; each refusal with
% its identifier; every truncation and every change of a header byte of a
% version 1 container, every truncation and every byte change of a version 2
% one; and no coder left open.
kestrel('cleanup');
function round_trip(x, label, varargin)
  y = kestrel_decompress(kestrel_compress(x, varargin{:}));
  expect_equal(y, x, label);
  if isempty(varargin)
    expect_equal(kestrel_decompress(kestrel_compress(x, 'Version', 1)), x, [label ', version 1']);
    expect_equal(kestrel_decompress(kestrel_compress(x, 'Threads', 3)), x, [label ', 3 threads']);
  end
end
% The header with its checksum made anew, for headers forged on purpose.
function bytes = resign(bytes)
  d = double(bytes(7));
  head = double(bytes(1:40 + 8 * d));
  n = numel(head);
  sum32 = mod(n + sum((n:-1:1) .* head), 65521) * 65536 + mod(1 + sum(head), 65521);
  bytes(41 + 8 * d:44 + 8 * d) = typecast(uint32(sum32), 'uint8');
end
% Decompresses bytes; passes when they give back x (class, size and values)
% or are refused with one of the container's identifiers; anything else
% fails the test.
function expect_original_or_refusal(bytes, x, what)
  KNOWN = {'kestrel:notCompressed', 'kestrel:truncated', 'kestrel:trailingBytes', 'kestrel:unknownVersion', ...
           'kestrel:unknownClass', 'kestrel:corruptHeader', 'kestrel:corruptData'};
  try
    y = kestrel_decompress(bytes);
  catch err
    if ~any(strcmp(err.identifier, KNOWN))
      error('%s: unexpected error %s: %s', what(), err.identifier, err.message);
    end
    return;
  end
  expect_equal(y, x, what());
end

% Every class over every shape.
classes = {'double', 'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64', ...
           'logical', 'char'};
shapes = {[1 1], [1 7], [9 1], [3 4 2], [0 0], [0 3], [1 0], [2 1 1 3]};
for c = 1:numel(classes)
  for s = 1:numel(shapes)
    values = reshape(mod((1:prod(shapes{s})) * 7, 23), shapes{s});
    switch classes{c}
      case 'logical', x = values > 11;
      case 'char', x = char(values + 65);
      otherwise, x = cast(values, classes{c});
    end
    round_trip(x, sprintf('%s %s', classes{c}, mat2str(shapes{s})));
  end
end

% Extremes: whole ranges, both ends of wide classes, large floating values,
% negative values, constants, and values taken as they are with NSYM.
extremes = {
  int8(-128:127), 'full int8'
  uint8(0:255), 'full uint8'
  int16(-8000:8000), 'int16 -8000..8000'
  int16([-32768 -32700 -32768 -30000]), 'int16 near its bottom'
  int16([32767 30000; 32000 32767]), 'int16 near its top'
  uint16([65535 60000 65535]), 'uint16 near its top'
  int32([-2147483648 -2147480000]), 'int32 near its bottom'
  uint32([4294967295 4294960000]), 'uint32 near its top'
  [intmin('int64') intmin('int64') + 9], 'int64 near its bottom'
  [intmax('int64') intmax('int64') - 9], 'int64 near its top'
  [intmax('uint64') intmax('uint64') - 9], 'uint64 near its top'
  [2^60 2^60 + 2^10 2^60 - 2^12], 'doubles beyond 2^53'
  -1e6 + [0 3 16000 16380], 'negative doubles'
  single(2^30 + [0 128 1024]), 'large singles'
  int16(-7 * ones(3, 4)), 'constant int16'
  1e300 * ones(1, 5), 'constant huge double'
  true(2, 2), 'constant true'
  'zzzz', 'constant char'
};
for i = 1:rows(extremes)
  round_trip(extremes{i, :});
end
round_trip([3 4 5], 'values as symbols', 10);
round_trip(uint8([0 255]), 'uint8 with the largest alphabet', 16382);
round_trip(zeros(0, 2, 'int8'), 'empty with NSYM', 5);
expect_equal(kestrel_decompress(kestrel_compress(-0)), 0, '-0 comes back as 0');
% More than one block: the block boundary and a minimum that is not 0; 5
% channels and a colour image beyond 2^20 elements, in blocks of every channel.
x = reshape(int16(mod((1:2^20 + 4) * 13, 2001)) - 1000, [], 5);
round_trip(x, 'two blocks of int16');
b = kestrel_compress(x);
expect_equal(class(b), 'uint8', 'result class');
expect_equal(size(b, 1), 1, 'result is a row');
expect_equal(b(8), uint8(1), 'layout byte of 5 channels');
photo = uint8(mod(reshape(1:700 * 600 * 3, 700, 600, 3) * 7, 251));
round_trip(photo, 'a colour image of two blocks', 'Threads', 2);

% Refusals of kestrel_compress, each with its identifier.
refused = {
  {1 + 2i}, 'kestrel:unsupportedInput'
  {sparse([1 2])}, 'kestrel:unsupportedInput'
  {{1, 2}}, 'kestrel:unsupportedInput'
  {struct('a', 1)}, 'kestrel:unsupportedInput'
  {@sin}, 'kestrel:unsupportedInput'
  {1.5}, 'kestrel:notIntegerValued'
  {[1 NaN 2]}, 'kestrel:notIntegerValued'
  {[0 Inf]}, 'kestrel:notIntegerValued'
  {-Inf}, 'kestrel:notIntegerValued'
  {single([1 2.25 3])}, 'kestrel:notIntegerValued'
  {[0 16382], 'Version', 1}, 'kestrel:spanTooWide'
  {int16([-8191 8191]), 'Version', 1}, 'kestrel:spanTooWide'
  {[intmin('int64') intmax('int64')], 'Version', 1}, 'kestrel:spanTooWide'
  {[uint64(0) intmax('uint64')], 'Version', 1}, 'kestrel:spanTooWide'
  {[1 2], 'Version', 3}, 'kestrel:invalidOption'
  {[1 2], 'Threads', 0}, 'kestrel:invalidOption'
  {[1 2], 'Predictor', 'best'}, 'kestrel:invalidOption'
  {[1 2], 'Speed', 1}, 'kestrel:invalidOption'
  {[0 1], 0}, 'kestrel:invalidAlphabet'
  {[0 1], 16383}, 'kestrel:invalidAlphabet'
  {[0 1], 2.5}, 'kestrel:invalidAlphabet'
  {[0 1], 'a'}, 'kestrel:invalidAlphabet'
  {[0 1], [2 3]}, 'kestrel:invalidAlphabet'
  {[0 5], 5}, 'kestrel:outsideAlphabet'
  {int8([-1 0]), 3}, 'kestrel:outsideAlphabet'
};
for i = 1:rows(refused)
  args = refused{i, 1};
  expect_refusal(@() kestrel_compress(args{:}), refused{i, 2}, sprintf('kestrel_compress refusal %d', i));
end
round_trip([0 16381], 'the widest span');
% A fraction in the second block is found after the first was coded.
late = zeros(1, 2^20 + 3);
late(end) = 0.5;
expect_refusal(@() kestrel_compress(late), 'kestrel:notIntegerValued', 'fraction in the second block');
expect_equal(kestrel('new_encoder', '', 2), 0, 'no coder left open after refusals');
kestrel('cleanup');

% Version 2: every truncation and every change of a byte (each bit flipped,
% 0 and 255) gives the original or a refusal, never other values.
x = int16([-3 5; 7 -1; 0 2]);
b = kestrel_compress(x);
for k = 0:numel(b) - 1
  expect_original_or_refusal(b(1:k), x, @() sprintf('version 2 cut to %d bytes', k));
end
for position = 1:numel(b)
  for value = setdiff([bitxor(double(b(position)), 2 .^ (0:7)), 0, 255], double(b(position)))
    bad = b;
    bad(position) = value;
    expect_original_or_refusal(bad, x, @() sprintf('version 2 byte %d set to %d', position, value));
  end
end

% Refusals of kestrel_decompress: foreign arrays, unknown version and class,
% bytes past the payload, fields that disagree under a valid checksum
% (version 1, whose checksum covers the header alone).
b = kestrel_compress(x, 'Version', 1);
d = double(b(7));
table = 45 + 8 * d;   % first byte of the block table
foreign = {double(b), 'kestrel:notCompressed'; char(b), 'kestrel:notCompressed'
           reshape([b b], 2, []), 'kestrel:notCompressed'; uint8('KESX'), 'kestrel:notCompressed'
           uint8([]), 'kestrel:truncated'; [b uint8(0)], 'kestrel:trailingBytes'};
for i = 1:rows(foreign)
  expect_refusal(@() kestrel_decompress(foreign{i, 1}), foreign{i, 2}, sprintf('foreign input %d', i));
end
expect_equal(kestrel_decompress(b'), x, 'a column of bytes');
forged = {5, 3, 'kestrel:unknownVersion'; 6, 13, 'kestrel:unknownClass'; 6, 0, 'kestrel:unknownClass'
          9, 4, 'kestrel:corruptHeader'; 17, 5, 'kestrel:corruptHeader'};   % a dimension; the second
for i = 1:rows(forged)
  bad = b;
  bad(forged{i, 1}) = forged{i, 2};
  expect_refusal(@() kestrel_decompress(resign(bad)), forged{i, 3}, sprintf('forged byte %d', forged{i, 1}));
end
bad = b;
bad(table) = bad(table) + 1;   % the block table no longer adds up to the payload
expect_refusal(@() kestrel_decompress(bad), 'kestrel:corruptHeader', 'block table');

% Every truncation gives a refusal. Every change of a header or table byte
% gives the original or a refusal: every value of the first 8 bytes (read
% before the checksum), and for the others each single bit flipped, 0, 255
% and both neighbours. Changes of the payload keep class and size.
for k = 0:numel(b) - 1
  expect_refusal(@() kestrel_decompress(b(1:k)), 'kestrel:truncated', sprintf('cut to %d bytes', k));
end
for position = 1:table + 3
  original = double(b(position));
  values = 0:255;
  if position > 8
    values = [bitxor(original, 2 .^ (0:7)), 0, 255, mod(original + [-1 1], 256)];
  end
  for value = setdiff(values, original)
    bad = b;
    bad(position) = value;
    expect_original_or_refusal(bad, x, @() sprintf('byte %d set to %d', position, value));
  end
end
for position = table + 4:numel(b)
  for value = [0 1 127 128 255]
    bad = b;
    bad(position) = value;
    y = kestrel_decompress(bad);
    expect_equal(class(y), 'int16', 'class after a payload change');
    expect_equal(size(y), [3 2], 'size after a payload change');
  end
end
expect_equal(kestrel('new_encoder', '', 2), 0, 'no coder left open after corrupt input');
kestrel('cleanup');
