function kestrel_demo(n)
%KESTREL_DEMO  Compress a quantised noisy sine with kestrel and check it.
%   kestrel_demo encodes 10^6 samples of a 12-bit sampled noisy sine, both
%   in memory and through a file, decodes them back, checks that nothing
%   changed, and prints the compressed size, the bits per symbol against the
%   order-0 entropy of the data, and the encode and decode rates.
%   kestrel_demo(N) uses N samples.

% SPDX-License-Identifier: BSD-3-Clause

  if nargin < 1
    n = 1e6;
  end
  nsym = 4096;                                   % 12-bit samples
  rand('seed', 7); randn('seed', 7);
  t = (0:n-1) / 8000;
  signal = 0.6 * sin(2 * pi * 440 * t) + 0.25 * sin(2 * pi * 97 * t) + 0.03 * randn(1, n);
  x = min(nsym - 1, max(0, round((signal + 1) / 2 * (nsym - 1))));

  % In memory: encode, hand the bytes back, decode them.
  tic;
  h = kestrel('new_encoder', '', nsym);
  kestrel('encode', h, x);
  bytes = kestrel('done', h);
  encode_time = toc;

  tic;
  d = kestrel('new_decoder', '', nsym, bytes);
  y = kestrel('decode', d, n);
  kestrel('done', d);
  decode_time = toc;
  if ~isequal(y, x)
    error('kestrel_demo: the memory round trip changed the data');
  end

  % Through a file, the same symbols must give the same bytes.
  file = [tempname() '.kst'];
  h = kestrel('new_encoder', file, nsym);
  kestrel('encode', h, x);
  kestrel('done', h);
  fid = fopen(file, 'r');
  stored = fread(fid, Inf, 'int8')';
  fclose(fid);
  d = kestrel('new_decoder', file, nsym);
  z = kestrel('decode', d, n);
  kestrel('done', d);
  delete(file);
  if ~isequal(stored, bytes) || ~isequal(z, x)
    error('kestrel_demo: the file round trip changed the data');
  end

  counts = accumarray(x(:) + 1, 1, [nsym 1]);
  p = counts(counts > 0) / n;
  entropy = -sum(p .* log2(p));
  bits = 8 * numel(bytes) / n;

  fprintf('kestrel %s: %d samples of a 12-bit noisy sine (alphabet %d)\n', ...
          kestrel('version'), n, nsym);
  fprintf('  raw (16-bit)       %10d bytes\n', 2 * n);
  fprintf('  compressed         %10d bytes  (%.2f%% of raw)\n', numel(bytes), 100 * numel(bytes) / (2 * n));
  fprintf('  bits per symbol    %10.4f\n', bits);
  fprintf('  order-0 entropy    %10.4f bits per symbol (coding overhead %.2f%%)\n', ...
          entropy, 100 * (bits - entropy) / entropy);
  fprintf('  encode             %10.2f Msymbols/s\n', n / encode_time / 1e6);
  fprintf('  decode             %10.2f Msymbols/s\n', n / decode_time / 1e6);
  fprintf('  memory and file round trips: identical\n');
end
