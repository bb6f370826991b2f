% SPDX-License-Identifier: BSD-3-Clause
% Handles: validation, lowest free slot, reuse, a full table, done and cleanup.
kestrel('cleanup');
expect_equal(kestrel('new_encoder', '', 4), 0, 'first handle');
expect_equal(kestrel('new_decoder', '', 4, [-37 3]), 1, 'second handle');
expect_equal(kestrel('new_encoder', '', 4), 2, 'third handle');
kestrel('encode', 0, [0 1]);   % 2 bits so far

% Handle values and classes for bits, encode and decode. 2 is an encoder,
% 1 a decoder, 3 and above free.
for h = {512, -1, -42, 3, 511, [], NaN, Inf, -Inf, 1e10, -2.9, [3 0], uint8(3), -42.7}
  expect_error(@() kestrel('bits', h{1}), 'invalid handler', ['bits ' mat2str(h{1})]);
  expect_error(@() kestrel('encode', h{1}, 0), 'invalid handler', ['encode ' mat2str(h{1})]);
  expect_error(@() kestrel('decode', h{1}, 1), 'invalid handler', ['decode ' mat2str(h{1})]);
end
for h = {'3', '0', true, false, {0}, struct('h', 0)}
  expect_error(@() kestrel('bits', h{1}), 'Atteso int', 'bits with a non-numeric handle');
  expect_error(@() kestrel('done', h{1}), 'Atteso int', 'done with a non-numeric handle');
end
% Truncation toward zero, first element of an array, any numeric class.
for h = {0, 0.99, -0.5, -0.99, int32(0), single(0.7), uint8(0), int64(0), [0 99], [0; 511]}
  expect_equal(kestrel('bits', h{1}), 2, ['bits ' mat2str(h{1})]);
end
kestrel('encode', 2, [0 1 2 3]);
expect_equal(kestrel('bits', 2.9), 5, 'bits 2.9 means handle 2');
expect_equal(kestrel('bits', int16(2)), 5, 'bits int16(2)');
expect_equal(kestrel('decode', [1 0], 4), 0:3, 'decode [1 0]');
expect_equal(kestrel('decode', 1.5), 3, 'decode 1.5');
for h = {512, -1, 3, -43, -41.5, 1e10, []}
  expect_error(@() kestrel('done', h{1}), 'invalid handler', ['done ' mat2str(h{1})]);
end

% done: a memory encoder hands back a row of signed bytes, a decoder 0.
expect_equal(kestrel('done', 2), [-37 3], 'done memory encoder');
expect_error(@() kestrel('done', 2), 'invalid handler', 'done twice');
expect_equal(kestrel('done', 1), 0, 'done decoder');
expect_error(@() kestrel('decode', 1), 'invalid handler', 'decode after done');
% Lowest free slot first: 1 and 2 are free, 0 still open.
expect_equal(kestrel('new_encoder', 'h.bin', 4), 1, 'reuse slot 1');
expect_equal(kestrel('new_decoder', '', 4, []), 2, 'reuse slot 2');
expect_equal(kestrel('done', 1), 0, 'done file encoder');
expect_equal(kestrel('new_encoder', '', 4), 1, 'reuse slot 1 again');

% A creation that fails leaves the table as it was: slot 3 stays next.
file_bytes('in.bin', [-37 3]);
failing = {
  {'new_decoder', '', 4}, 'Pochi parametri'
  {'new_encoder', '', -1}, 'arithmetic coder model allocation failure'
  {'new_encoder', '', []}, 'arithmetic coder model allocation failure'
  {'new_decoder', '', -2^40, 1}, 'arithmetic coder model allocation failure'
  {'new_encoder', '', 16383}, 'arithmetic coder model max frequency exceeded'
  {'new_decoder', 'in.bin', 1e6}, 'arithmetic coder model max frequency exceeded'
  {'new_decoder', 'missing.bin', 4}, 'Could not open file'
  {'new_encoder', 'no/such/dir/x.bin', 4}, 'Could not open file'
  {'new_decoder:s=3', 'in.bin', 4}, 'Unseekable stream'
  {'new_decoder', '', 4, {1}}, 'Expected a full real numeric array'
  {'new_decoder', '', 4, [1 2i]}, 'Expected a full real numeric array'
  {'new_encoder', repmat('n', 1, 511), 4}, 'File name too long'
};
for i = 1:rows(failing)
  args = failing{i, 1};
  expect_error(@() kestrel(args{:}), failing{i, 2}, sprintf('failing creation %d', i));
  expect_equal(kestrel('bits', 0), 2, 'open encoder kept');
  expect_error(@() kestrel('bits', 3), 'invalid handler', sprintf('slot 3 free after case %d', i));
end
for cmd = {'new_encoder:>', 'new_encoder:>:a', 'new_encoder:a:>', 'new_encoder:>x'}
  expect_equal(kestrel(cmd{1}, 'gt.bin', 4), -1, cmd{1});
  expect_equal(exist('gt.bin', 'file'), 0, [cmd{1} ' created no file']);
end
expect_equal(kestrel('new_encoder:>', '', 4), -1, '> on a memory encoder');
for nsym = [0 1 8192 16382]   % accepted sizes
  expect_equal(kestrel('new_encoder', '', nsym), 3, sprintf('nsym %d', nsym));
  kestrel('done', 3);
end

% Fill all 512 slots with memory and file encoders and decoders.
kestrel('cleanup');
kind = @(k) mod(k, 4);   % 0 memory encoder, 1 file encoder, 2 memory decoder, 3 file decoder
syms = @(k) mod(k + (0:5), 4);
% What an encoder of each kind's symbols emits, from encoders of their own.
stream_bits = zeros(1, 4);
stream_bytes = cell(1, 4);
for k = 0:3
  h = kestrel('new_encoder', '', 4); kestrel('encode', h, syms(k));
  stream_bits(k + 1) = kestrel('bits', h);
  stream_bytes{k + 1} = kestrel('done', h);
end
for k = 0:511
  switch kind(k)
    case 0, h = kestrel('new_encoder', '', 4);
    case 1, h = kestrel('new_encoder', sprintf('full%d.bin', k), 4);
    case 2, h = kestrel('new_decoder', '', 4, [-37 3]);
    case 3, h = kestrel('new_decoder', 'in.bin', 4);
  end
  expect_equal(h, k, 'filling the table');
  if kind(k) < 2, kestrel('encode', h, syms(k)); end
end
full = {
  {'new_encoder', '', 4}; {'new_encoder', 'extra.bin', 4}; {'new_decoder', '', 4, 1}
  {'new_decoder', '', 4}; {'new_decoder', 'missing.bin', 4}; {'new_encoder', '', -1}
  {'new_encoder', '', 16383}; {'new_decoder', '', 4, {1}}; {'new_encoder:>', '', 4}
};
for i = 1:numel(full)
  expect_equal(kestrel(full{i}{:}), -1, sprintf('full table, creation %d', i));
end
expect_equal(exist('extra.bin', 'file'), 0, 'full table created no file');
for k = 0:511   % table unchanged: every coder still usable
  if kind(k) < 2
    expect_equal(kestrel('bits', k), stream_bits(mod(k, 4) + 1), sprintf('encoder %d kept', k));
  else
    expect_equal(kestrel('decode', k, 4), 0:3, sprintf('decoder %d kept', k));
  end
end
expect_equal(kestrel('done', 300), stream_bytes{mod(300, 4) + 1}, 'done 300');
expect_equal(kestrel('new_encoder', '', 4), 300, 'slot 300 reused');
expect_equal(kestrel('new_encoder', '', 4), -1, 'full again');
expect_equal(kestrel('done', -42.7), 0, 'done -42.7');
for k = [0 1 2 3 300 511]
  expect_error(@() kestrel('bits', k), 'invalid handler', sprintf('handle %d after done -42', k));
end
expect_equal(file_bytes('full1.bin'), stream_bytes{2}, 'file encoder closed by done -42');
expect_equal(kestrel('new_decoder', '', 4, [-37 3]), 0, 'fresh table after done -42');
expect_equal(kestrel('new_encoder', 'last.bin', 4), 1, 'second handle after done -42');
kestrel('encode', 1, 0:3);
expect_equal(kestrel('done', -42), 0, 'done -42');
expect_equal(file_bytes('last.bin'), [-37 3], 'file encoder closed by done -42');
expect_error(@() kestrel('done', 0), 'invalid handler', 'decoder closed by done -42');
expect_equal(kestrel('done', -42), 0, 'done -42 on an empty table');
kestrel('new_encoder', '', 4); kestrel('new_decoder', 'in.bin', 4); kestrel('new_encoder', 'last.bin', 4);
kestrel('cleanup');
for k = 0:2, expect_error(@() kestrel('done', k), 'invalid handler', 'handle after cleanup'); end
expect_equal(file_bytes('last.bin'), 2, 'file encoder closed by cleanup');
expect_equal(kestrel('new_encoder', '', 4), 0, 'fresh table after cleanup');
