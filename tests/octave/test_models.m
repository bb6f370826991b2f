% SPDX-License-Identifier: BSD-3-Clause
% Model options of the real module: models=K with CONTEXTS, order=1, counts,
% static and inc=N, each round trip, what each leaves as before, and each
% refusal with its identifier, the table and the coder unchanged.
kestrel('cleanup');
function b = enc(command, arg3, symbols, varargin)
  h = kestrel(command, '', arg3); kestrel('encode', h, symbols, varargin{:}); b = kestrel('done:uint8', h);
end
function y = dec(command, arg3, b, n, varargin)
  d = kestrel(command, '', arg3, b); y = kestrel('decode', d, n, varargin{:}); kestrel('done', d);
end
x = mod((0:4999) * 37, 251);
c = mod(x, 7);
plain = enc('new_encoder', 256, x);

% Options that ask for today's coder give today's bytes.
same = {'new_encoder:models=1', 'new_encoder:inc=1', 'new_encoder:order=0'};
for i = 1:numel(same)
  expect_equal(enc(same{i}, 256, x), plain, same{i});
end
expect_equal(enc('new_encoder:counts', ones(256, 1), x), plain, 'counts of all ones');
expect_equal(enc('new_encoder:models=1', 256, x, zeros(size(x))), plain, 'models=1 with CONTEXTS 0');

% Each option round trips, in one call and across calls, and changes the bytes.
tables = [mod(0:255, 7) + 1; mod(255:-1:0, 5) + 1; ones(1, 256) * 3]';
runs = {'new_encoder:models=7', 256, c; 'new_encoder:order=1', 256, []
        'new_encoder:inc=24', 256, []; 'new_encoder:order=1:inc=2', 256, []
        'new_encoder:counts:models=7', tables(:, 1), c; 'new_encoder:counts:static', tables(:, [1 2 3 1 2 3 1]), c
        'new_encoder:static:models=3', 256, mod(c, 3); 'new_encoder:counts', tables, mod(c, 3)};
for i = 1:size(runs, 1)
  [command, arg3, contexts] = runs{i, :};
  given = {};
  if ~isempty(contexts)
    given = {contexts};
  end
  b = enc(command, arg3, x, given{:});
  if isequal(b, plain), error('%s: the same bytes as the plain coder', command); end
  decoder = strrep(command, 'new_encoder', 'new_decoder');
  expect_equal(dec(decoder, arg3, b, numel(x), given{:}), x, [command ' round trip']);
  d = kestrel(decoder, '', arg3, b);
  half = {}; rest = {};
  if ~isempty(contexts)
    half = {contexts(1:2500)};
    rest = {int16(contexts(2501:end))};
  end
  y = [kestrel('decode:uint8', d, 2500, half{:}), kestrel('decode:uint8', d, 2500, rest{:})];
  kestrel('done', d);
  expect_equal(y, uint8(x), [command ' in two calls, typed']);
end
% Only the model that coded a symbol learns it: model 1 is as new after
% symbols coded with model 0.
h = kestrel('new_encoder:models=2', '', 256); kestrel('encode', h, x, zeros(size(x)));
kestrel('encode', h, x, ones(size(x))); b = kestrel('done:uint8', h);
d = kestrel('new_decoder', '', 256, b); kestrel('decode', d, numel(x)); kestrel('done', d);
expect_equal(dec('new_decoder:models=2', 256, b, 2 * numel(x), [zeros(size(x)), ones(size(x))]), [x x], 'two models');
% A zero count cannot be coded; the symbols before it stay coded.
h = kestrel('new_encoder:counts', '', [1; 0; 1]);
expect_error(@() kestrel('encode', h, [0 2 1 0]), 'symbol out of range', 'a zero count', 'kestrel:symbolOutOfRange');
expect_equal(dec('new_decoder:counts', [1; 0; 1], kestrel('done:uint8', h), 2), [0 2], 'before the zero count');

% Refused creations leave every handle free.
refusals = {'new_encoder:models=0', 256, 'kestrel:invalidModels'; 'new_encoder:models=x', 256, 'kestrel:invalidModels'
            'new_encoder:order=2', 256, 'kestrel:invalidModels'; 'new_encoder:order=1:models=3', 256, 'kestrel:invalidModels'
            'new_encoder:inc=0', 256, 'kestrel:invalidModels'; 'new_encoder:inc=16128', 256, 'kestrel:invalidModels'
            'new_decoder:counts:order=1', [1 2 3; 3 4 5], 'kestrel:invalidModels'; 'new_encoder:counts:models=3', ones(4, 2), 'kestrel:invalidModels'
            'new_encoder:counts', [1; -1], 'kestrel:invalidModels'; 'new_encoder:counts', [1; 0.5], 'kestrel:invalidModels'
            'new_encoder:counts', [1 0; 1 0], 'kestrel:invalidModels'; 'new_encoder:counts', [1; NaN], 'kestrel:invalidModels'
            'new_encoder:counts', [16000; 384], 'kestrel:maxFrequency'; 'new_encoder:models=65537', 256, 'kestrel:tooManyModels'
            'new_encoder:order=1', 4097, 'kestrel:tooManyModels'; 'new_encoder:counts', 'ab', 'kestrel:notNumeric'};
for i = 1:size(refusals, 1)
  expect_refusal(@() kestrel(refusals{i, 1}, '', refusals{i, 2}, uint8([1 2])), refusals{i, 3}, refusals{i, 1});
  expect_equal(kestrel('new_encoder', '', 2), 0, [refusals{i, 1} ' left handle 0 free']);
  kestrel('done', 0);
end
expect_error(@() kestrel('new_encoder:counts', '', [16000; 384]), 'arithmetic coder model max frequency exceeded', ...
             'the exact text of a column above 16383', 'kestrel:maxFrequency');
expect_equal(kestrel('new_encoder:order=1', '', 4096), 0, 'order=1 at 4096 models of 4096');
kestrel('done', 0);

% Refused CONTEXTS code nothing and leave the coder open and unchanged.
bad = {zeros(1, 4), 'kestrel:contextCount'; [0 1 7 0 0], 'kestrel:contextOutOfRange'
       [0 -1 0 0 0], 'kestrel:contextOutOfRange'; {0}, 'kestrel:notNumericArray'};
for i = 1:size(bad, 1)
  h = kestrel('new_encoder:models=7', '', 256);
  expect_refusal(@() kestrel('encode', h, 1:5, bad{i, 1}), bad{i, 2}, ['encode ' bad{i, 2}]);
  kestrel('encode', h, x, c);
  expect_equal(kestrel('done:uint8', h), enc('new_encoder:models=7', 256, x, c), ['encoder unchanged by ' bad{i, 2}]);
  b = enc('new_encoder:models=7', 256, x, c);
  d = kestrel('new_decoder:models=7', '', 256, b);
  expect_refusal(@() kestrel('decode', d, 5, bad{i, 1}), bad{i, 2}, ['decode ' bad{i, 2}]);
  expect_equal(kestrel('decode', d, numel(x), c), x, ['decoder unchanged by ' bad{i, 2}]);
  kestrel('done', d);
end
h = kestrel('new_encoder:order=1', '', 256);
expect_refusal(@() kestrel('encode', h, 1:3, [0 0 0]), 'kestrel:invalidModels', 'CONTEXTS on order=1');
expect_equal(kestrel('bits', h), 0, 'nothing coded after CONTEXTS on order=1');
kestrel('done', h);

% The new names are not taken for the old prefixes, nor the old for them.
file = [tempname() '.kst'];
h = kestrel('new_encoder', file, 4); kestrel('encode', h, 0:3); kestrel('done', h);
options = 'new_encoder:static:models=2:inc=3:order=0';
h = kestrel(options, file, 4); kestrel('encode', h, 0:3); kestrel('done', h);
n = numel(file_bytes(file));
expect_equal(n, numel(enc(options, 4, 0:3)), 'the new options neither append (a) nor refuse (>)');
h = kestrel('new_encoder:a:models=2', file, 4); kestrel('encode', h, 0:3); kestrel('done', h);
appended = file_bytes(file);
expect_equal(appended(n + 1:end), [-37 3], 'append beside models=2');
d = kestrel(sprintf('new_decoder:models=2:s=%d', n), file, 4);
expect_equal(kestrel('decode', d, 4), 0:3, 's= read beside models=2');
kestrel('done', d);
d = kestrel('new_decoder:static:models=2:inc=3', file, 4);
expect_equal(kestrel('decode', d, 4), 0:3, 'static on a file decoder, which no s= moves');
kestrel('done', d);
expect_equal(kestrel('new_encoder:>:models=2', file, 4), -1, '> beside models=2');
delete(file);
kestrel('cleanup');
