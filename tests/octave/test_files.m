% SPDX-License-Identifier: BSD-3-Clause
% Coding through files: file and memory agree, appending, start offsets,
% the end of an input file, file names and files that cannot be opened.
kestrel('cleanup');
function bytes = enc(nsym, symbols)
  h = kestrel('new_encoder', '', nsym); kestrel('encode', h, symbols); bytes = kestrel('done', h);
end
function enc_file(cmd, name, nsym, symbols)
  h = kestrel(cmd, name, nsym); kestrel('encode', h, symbols);
  expect_equal(kestrel('done', h), 0, 'done on a file encoder');
end

% A file encoder writes exactly the bytes a memory encoder hands back.
rand('seed', 11);
data = floor(rand(1, 50000) .^ 2 * 256);
enc_file('new_encoder', 'data.bin', 256, data);
expect_equal(file_bytes('data.bin'), enc(256, data), 'file bytes equal memory bytes');
h = kestrel('new_decoder', 'data.bin', 256);
got = [kestrel('decode', h, 10) kestrel('decode', h, 49980) kestrel('decode', h) kestrel('decode', h, 9)];
expect_equal(got, data, 'file round trip');
expect_equal(kestrel('done', h), 0, 'done on a file decoder');
expect_equal(exist('data.bin', 'file'), 2, 'decoder leaves its file');

% A file ends after 14 reads past its end; memory input never ends.
file_bytes('two.bin', [-37 3]);
h = kestrel('new_decoder', 'two.bin', 4);
expect_equal(kestrel('decode', h, 4), 0:3, 'file decoder');
expect_equal(size(kestrel('decode', h, 52)), [1 52], 'decoding on past the end of a file');
expect_error(@() kestrel('decode', h, 1), 'arithmetic decoder bad input file', '57th decode');
expect_error(@() kestrel('decode', h, 1), 'arithmetic decoder bad input file', '58th decode');
expect_equal(kestrel('done', h), 0, 'a failed decoder still closes');
h = kestrel('new_decoder', '', 4, [-37 3]);
expect_equal(numel(kestrel('decode', h, 5000)), 5000, 'memory input never ends');

% Several streams appended to one file, each read back from its offset.
streams = {0:9, [], 9:-1:0, mod((1:3000) * 7, 10), 5 * ones(1, 100)};
offsets = zeros(1, numel(streams));
for i = 1:numel(streams)
  cmd = 'new_encoder';
  if i > 1, cmd = 'new_encoder:a'; offsets(i) = numel(file_bytes('multi.bin')); end
  enc_file(cmd, 'multi.bin', 10, streams{i});
end
expect_equal(file_bytes('multi.bin'), cell2mat(cellfun(@(s) enc(10, s), streams, 'UniformOutput', false)), 'appended file');
for i = 1:numel(streams)
  h = kestrel(sprintf('new_decoder:s=%d', offsets(i)), 'multi.bin', 10);
  expect_equal(kestrel('decode', h, numel(streams{i})), reshape(streams{i}, 1, []), sprintf('stream %d of the file', i));
end
enc_file('new_encoder:s=5', 'multi.bin', 10, 0:9);
expect_equal(file_bytes('multi.bin'), enc(10, 0:9), 'without a, the file is truncated');
% s= is ignored for a memory decoder.
h = kestrel('new_decoder:s=1', '', 10, enc(10, 9:-1:0));
expect_equal(kestrel('decode', h, 10), 9:-1:0, 's= ignored in memory');

% Offsets at and past the end of the file.
n = numel(file_bytes('multi.bin'));
fclose(fopen('empty.bin', 'wb'));
for cmd = {'new_decoder', sprintf('new_decoder:s=%d', n)}
  name = {'empty.bin', 'multi.bin'}{1 + (numel(cmd{1}) > 11)};
  h = kestrel(cmd{1}, name, 8);
  expect_equal(kestrel('decode', h, 40), zeros(1, 40), [cmd{1} ' reads ones only']);
  expect_error(@() kestrel('decode', h, 1e5), 'arithmetic decoder bad input file', [cmd{1} ' ends']);
end
kestrel('cleanup');
for s = {n + 1, n + 1000, 2^40}
  expect_error(@() kestrel(sprintf('new_decoder:s=%d', s{1}), 'multi.bin', 8), 'Unseekable stream', 'offset past the end');
  expect_equal(kestrel('new_decoder', 'multi.bin', 8), 0, 'slot free after Unseekable stream');
  kestrel('done', 0);
end

% Files that cannot be opened; each leaves the slot free.
if ~exist('adir', 'dir'), mkdir('adir'); end
bad = {
  'new_decoder', 'missing.bin'; 'new_decoder', 'adir'; 'new_decoder', 'adir/missing.bin'
  'new_encoder', 'no_dir/out.bin'; 'new_encoder', 'adir'; 'new_encoder:a', 'no_dir/out.bin'
  'new_encoder', 'two.bin/x'
};
for i = 1:rows(bad)
  expect_error(@() kestrel(bad{i, 1}, bad{i, 2}, 4), 'Could not open file', [bad{i, :}]);
  expect_equal(kestrel('new_encoder', '', 4), 0, 'slot free after Could not open file');
  kestrel('done', 0);
end
expect_equal(exist('no_dir', 'file'), 0, 'no directory created');

% File names of 510 characters work; 511 fail before any file is touched.
name510 = [repmat('adir/../', 1, 62) 'name_of_14_chr'];
name511 = [repmat('adir/../', 1, 62) 'name_of_15_chrs'];
expect_equal([numel(name510) numel(name511)], [510 511], 'name lengths');
enc_file('new_encoder', name510, 4, 0:3);
expect_equal(file_bytes('name_of_14_chr'), [-37 3], '510-character name');
h = kestrel('new_decoder', name510, 4);
expect_equal(kestrel('decode', h, 4), 0:3, 'decoder with a 510-character name');
kestrel('done', h);
file_bytes('name_of_15_chr', [1 2 3]);
expect_error(@() kestrel('new_encoder', name511, 4), 'File name too long', 'encoder, 511 characters');
expect_error(@() kestrel('new_decoder', name511, 4), 'File name too long', 'decoder, 511 characters');
expect_error(@() kestrel('new_encoder', repmat('z', 1, 2000), 4), 'File name too long', '2000 characters');
expect_equal(exist('name_of_15_chrs', 'file'), 0, '511-character name created no file');
expect_equal(file_bytes('name_of_15_chr'), [1 2 3], 'file behind a 510-character prefix untouched');
expect_equal(kestrel('new_encoder', '', 4), 0, 'slot free after File name too long');

% Names outside ASCII are counted in characters, not in the bytes of
% Octave's UTF-8 text: 510 two-byte characters work, 511 are refused.
e = char([195 169]);  % one character, two bytes
part = repmat(e, 1, 120);  % 240 bytes, within the 255 a folder's name may take
folder = part;
[ok, msg] = mkdir(folder);
for k = 1:3
  folder = [folder '/' part];
  [ok, msg] = mkdir(folder);
end
name510 = [folder '/' repmat(e, 1, 26)];  % 4 * 120 + 4 + 26 characters
expect_equal(numel(name510), 1016, 'bytes of a name of 510 characters outside ASCII');
enc_file('new_encoder', name510, 4, 0:3);
expect_equal(file_bytes(name510), [-37 3], '510 characters outside ASCII');
expect_error(@() kestrel('new_encoder', [name510 e], 4), 'File name too long', '511 characters outside ASCII');

% The option > creates, truncates and appends nothing.
file_bytes('keep.bin', [7 8 9]);
for cmd = {'new_encoder:>', 'new_encoder:a:>'}
  expect_equal(kestrel(cmd{1}, 'keep.bin', 4), -1, cmd{1});
  expect_equal(file_bytes('keep.bin'), [7 8 9], [cmd{1} ' leaves the file alone']);
end
expect_equal(kestrel('new_encoder', '', 4), 1, 'slot free after >');
kestrel('cleanup');
