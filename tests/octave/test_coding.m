% SPDX-License-Identifier: BSD-3-Clause
% Encoding and decoding through memory: byte format, bit counts, argument
% classes, bad symbols and round trips of larger data.
kestrel('cleanup');
function bytes = enc(nsym, symbols)
  h = kestrel('new_encoder', '', nsym); kestrel('encode', h, symbols); bytes = kestrel('done', h);
end
function symbols = dec(nsym, bytes, n)
  h = kestrel('new_decoder', '', nsym, bytes); symbols = kestrel('decode', h, n); kestrel('done', h);
end

% Known streams: their bytes, and the bits before done.
streams = known_streams();
for i = 1:numel(streams)
  k = streams(i);
  h = kestrel('new_encoder', '', k.nsym);
  expect_equal(kestrel('bits', h), 0, 'bits of a new encoder');
  kestrel('encode', h, k.symbols);
  expect_equal(kestrel('bits', h), k.bits_before, sprintf('bits of known stream %d', i));
  expect_equal(kestrel('done', h), k.bytes, sprintf('bytes of known stream %d', i));
  expect_equal(dec(k.nsym, k.bytes, numel(k.symbols)), k.symbols, sprintf('decode %d', i));
  expect_equal(dec(k.nsym, mod(k.bytes, 256), numel(k.symbols)), k.symbols, sprintf('decode %d unsigned', i));
end
% Bit counts grow symbol by symbol; more symbols than coded decode from zero bits.
h = kestrel('new_encoder', '', 4);
counts = arrayfun(@(s) kestrel('encode', h, s) + kestrel('bits', h), 0:3);
four = streams([streams.nsym] == 4 & cellfun(@numel, {streams.bits_after_each}) == 5);
expect_equal(counts, four.bits_after_each(2:end), 'bits after each symbol');
expect_equal(dec(4, [-37 3], 12), [0 1 2 3 3 3 1 2 3 3 3 3], 'twelve decodes of two bytes');
expect_equal(dec(4, [219.9 3 + 512], 4), 0:3, 'byte values taken by their low 8 bits');
expect_equal(dec(4, [-37 3; 0 0], 4), dec(4, [-37 0 3 0], 4), 'byte matrix in column order');

% Symbol vectors: shape, truncation, empty vectors.
expect_equal(enc(4, [0 2; 1 3]), [-37 3], 'matrix coded in column order');
expect_equal(enc(4, [0; 1; 2; 3]), [-37 3], 'column vector');
expect_equal(enc(4, [0 1 2.7 3.99]), [-37 3], 'fractions truncated');
expect_equal(enc(4, [-0.5 1 2 3]), [-37 3], '-0.5 is symbol 0');
h = kestrel('new_encoder', '', 4);
expect_equal(kestrel('encode', h, 0:1), 0, 'encode returns 0');
expect_equal(kestrel('encode', h, []), 0, 'empty vector');
expect_equal(kestrel('encode', h, zeros(0, 3)), 0, 'empty matrix');
expect_equal(kestrel('bits', h), 2, 'empty vectors code nothing');
kestrel('encode', h, 2:3);
expect_equal(kestrel('done', h), [-37 3], 'stream with empty vectors');
% decode counts: default 1, zero, truncated, of other classes.
h = kestrel('new_decoder', '', 4, [-37 3]);
expect_equal(kestrel('decode', h), 0, 'decode without count');
expect_equal(kestrel('decode', h, 0), zeros(1, 0), 'decode count 0');
expect_equal(kestrel('decode', h, 0.9), zeros(1, 0), 'decode count 0.9');
expect_equal(kestrel('decode', h, single(2.9)), [1 2], 'decode count single 2.9');
expect_error(@() kestrel('decode', h, -1), 'invalid count', 'negative count');
expect_equal(kestrel('decode', h, int8(1)), 3, 'decode count int8, nothing lost to -1');

% A bad symbol stops the vector there; earlier symbols stay coded and
% the encoder goes on as if the bad symbol had never been given.
for bad = {4, -1, NaN, 1e12, -Inf, 2^31}
  h = kestrel('new_encoder', '', 4);
  kestrel('encode', h, [0 1]);
  expect_error(@() kestrel('encode', h, [2 bad{1} 3]), 'symbol out of range', 'bad symbol');
  expect_equal(kestrel('bits', h), four.bits_after_each(4), 'bits count the symbols before the bad one');
  kestrel('encode', h, 3);
  expect_equal(kestrel('done', h), [-37 3], sprintf('stream around bad symbol %g', bad{1}));
end
h = kestrel('new_encoder', '', 0);
expect_error(@() kestrel('encode', h, 0), 'symbol out of range', 'nsym 0 has no symbols');
expect_equal(kestrel('done', h), 2, 'nsym 0 encoder still closes');
h = kestrel('new_decoder', '', 0, [1 2]);
expect_error(@() kestrel('decode', h, 1), 'symbol out of range', 'nsym 0 decoder');
expect_equal(kestrel('done', h), 0, 'nsym 0 decoder still closes');

% Every numeric class, logical and char give the values they hold.
classes = {'double', 'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', 'int64', 'uint64', 'char'};
symbols = [0 5 127 3 100 64 64 1 0 126];
bytes = enc(128, symbols);
for c = classes
  expect_equal(enc(128, cast(symbols, c{1})), bytes, ['symbols of class ' c{1}]);
  if any(strcmp(c{1}, {'uint8', 'uint16', 'uint32', 'uint64', 'char'}))
    fed = cast(mod(bytes, 256), c{1});
  else
    fed = cast(bytes, c{1});
  end
  expect_equal(dec(128, fed, 10), symbols, ['bytes of class ' c{1}]);
end
expect_equal(dec(128, uint16(mod(bytes, 256) + 256), 10), symbols, 'uint16 bytes above 255');
expect_equal(enc(2, logical([1 0 0 1 1])), enc(2, [1 0 0 1 1]), 'logical symbols');
expect_equal(dec(2, logical([1 0 1]), 6), dec(2, [1 0 1], 6), 'logical bytes');
expect_error(@() enc(4, int8(-1)), 'symbol out of range', 'int8 -1');
expect_error(@() enc(4, uint32(2^32 - 1)), 'symbol out of range', 'uint32 max');
expect_error(@() enc(4, int64(2^32 + 1)), 'symbol out of range', 'int64 beyond 32 bits');
h = kestrel('new_encoder', '', 4);
kestrel('encode', h, [0 1]);
for bad = {{0, 1}, struct('s', {0, 1}), @sin, sparse([2 3]), [2 3] + 1i, single([2 3i])}
  expect_error(@() kestrel('encode', h, bad{1}), 'Expected a full real numeric array', ['encode ' class(bad{1})]);
  expect_equal(kestrel('bits', h), 2, 'nothing coded from a rejected array');
  expect_error(@() kestrel('new_decoder', '', 4, bad{1}), 'Expected a full real numeric array', ['bytes ' class(bad{1})]);
end
kestrel('encode', h, int8([2 3]));
expect_equal(kestrel('done', h), [-37 3], 'encoder usable after rejected arrays');
expect_equal(kestrel('new_encoder', '', 4), h, 'slot free after rejected byte arrays');

% Longer streams against the straightforward coder, through the same
% commands (kestrel_reference.mex; counts halve at 16383).
rand('seed', 7);
for c = {{2, double(rand(1, 40000) < 0.1)}, {16, floor(rand(1, 20000) .^ 3 * 16)}, {300, floor(rand(1, 3000) * 300)}}
  [nsym, symbols] = c{1}{:};
  r = kestrel_reference('new_encoder', '', nsym); kestrel_reference('encode', r, symbols);
  h = kestrel('new_encoder', '', nsym); kestrel('encode', h, symbols);
  expect_equal(kestrel('bits', h), kestrel_reference('bits', r), sprintf('bits, nsym %d', nsym));
  expect_equal(kestrel('done', h), kestrel_reference('done', r), sprintf('bytes, nsym %d', nsym));
end

% Round trips of realistic data through memory and files, in pieces.
randn('seed', 3);
sine = min(255, max(0, round(128 + 100 * sin((1:1e5) / 500) + 8 * randn(1, 1e5))));
big = [8190 0 min(8190, floor(abs(randn(1, 30000)) * 900)) 8190];
huge = [16381 0 floor(rand(1, 20000) .^ 2 * 16382) 16381];
for c = {{256, sine}, {8191, big}, {16382, huge}}
  [nsym, symbols] = c{1}{:};
  cuts = unique([0 floor(numel(symbols) * [0.1 0.5 0.51 0.9]) numel(symbols)]);
  h = kestrel('new_encoder', '', nsym); f = kestrel('new_encoder', 'data.bin', nsym);
  for k = 1:numel(cuts) - 1
    kestrel('encode', h, symbols(cuts(k) + 1:cuts(k + 1))); kestrel('encode', f, symbols(cuts(k) + 1:cuts(k + 1)));
  end
  expect_equal(kestrel('bits', f), kestrel('bits', h), 'file and memory bit counts');
  bytes = kestrel('done', h); kestrel('done', f);
  expect_equal(file_bytes('data.bin'), bytes, sprintf('file and memory bytes, nsym %d', nsym));
  expect_equal(all(bytes >= -128 & bytes <= 127 & bytes == fix(bytes)), true, 'bytes are signed bytes');
  expect_equal(numel(bytes) < numel(symbols) * log2(nsym) / 8, true, sprintf('compression, nsym %d', nsym));
  expect_equal(bytes, enc(nsym, symbols), sprintf('pieces and whole agree, nsym %d', nsym));
  h = kestrel('new_decoder', '', nsym, bytes);
  got = [kestrel('decode', h, 1) kestrel('decode', h, cuts(3) - 1) kestrel('decode', h, numel(symbols) - cuts(3))];
  expect_equal(got, symbols, sprintf('round trip, nsym %d', nsym));
  kestrel('done', h); f = kestrel('new_decoder', 'data.bin', nsym);
  expect_equal([kestrel('decode', f, cuts(2)) kestrel('decode', f, numel(symbols) - cuts(2))], symbols, 'file round trip');
  kestrel('done', f);
end
