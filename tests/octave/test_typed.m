% SPDX-License-Identifier: BSD-3-Clause
% Typed results from the real module: done:uint8 and decode:<class>, their
% refusals, and what options naming no class leave as before.
kestrel('cleanup');
function bytes = kestrel_bytes(nsym, symbols)
  h = kestrel('new_encoder', '', nsym); kestrel('encode', h, symbols); bytes = kestrel('done:uint8', h);
end
x = mod((0:9999) * 37, 251);

% done:uint8 hands back the bytes done gives as signed doubles, as 0..255.
h = kestrel('new_encoder', '', 256); kestrel('encode', h, x); signed = kestrel('done', h);
h = kestrel('new_encoder', '', 256); kestrel('encode', h, x); bytes = kestrel('done:uint8', h);
expect_equal(bytes, uint8(mod(signed, 256)), 'done:uint8 against done');
expect_equal(class(signed), 'double', 'done without an option');
% File encoders and decoders still return the scalar 0.
file = [tempname() '.kst'];
f = kestrel('new_encoder', file, 256); kestrel('encode', f, x);
d = kestrel('new_decoder', '', 256, bytes);
expect_equal(kestrel('done:uint8', f), 0, 'done:uint8 on a file encoder');
expect_equal(kestrel('done:uint8', d), 0, 'done:uint8 on a decoder');
delete(file);

% decode:<class>: every class, the rightmost class option winning, and
% options that name no class giving doubles as before.
cases = {'decode', 'double'; 'decode:double', 'double'; 'decode:single', 'single'
         'decode:int8', 'int8'; 'decode:uint8', 'uint8'; 'decode:int16', 'int16'
         'decode:uint16', 'uint16'; 'decode:int32', 'int32'; 'decode:uint32', 'uint32'
         'decode:uint8:int16', 'int16'; 'decode:int16:uint8', 'uint8'; 'decode:int64', 'double'
         'decode:q', 'double'};
for i = 1:rows(cases)
  d = kestrel('new_decoder', '', 128, kestrel_bytes(128, mod(x, 128)));
  s = [kestrel(cases{i, 1}, d, 9999), kestrel(cases{i, 1}, d)];
  kestrel('done', d);
  expect_equal(s, cast(mod(x, 128), cases{i, 2}), cases{i, 1});
end

% A class too narrow for the alphabet is refused before anything is
% decoded: the decoder goes on from where it was.
refusals = {'decode:uint8', 4096; 'decode:int8', 200; 'decode:int8', 129; 'decode:uint8', 257};
for i = 1:rows(refusals)
  nsym = refusals{i, 2};
  d = kestrel('new_decoder', '', nsym, kestrel_bytes(nsym, mod(x, nsym)));
  expect_equal(kestrel('decode', d, 10), mod(x(1:10), nsym), 'before the refusal');
  expect_error(@() kestrel(refusals{i, 1}, d, 5), ...
               'The class asked of decode cannot hold every symbol of the alphabet', ...
               sprintf('%s with %d symbols', refusals{i, :}), 'kestrel:classTooNarrow');
  expect_equal(kestrel('decode:uint16', d, 10), uint16(mod(x(11:20), nsym)), 'after the refusal');
  kestrel('done', d);
end
d = kestrel('new_decoder', '', 256, bytes);
expect_equal(kestrel('decode:uint8', d, numel(x)), uint8(x), 'uint8 with the largest alphabet it holds');
kestrel('done', d);
expect_equal(kestrel('new_encoder', '', 2), 0, 'no handle left open');
kestrel('cleanup');
