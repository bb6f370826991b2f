function kestrel_benchmark()
%KESTREL_BENCHMARK  Time kestrel.mex against the straightforward coder.
%   kestrel_benchmark prints, in one run:
%   - CPU time per symbol to encode and decode through kestrel.mex and
%     through kestrel_reference.mex (the same module over the
%     straightforward coder), for five alphabet sizes and four shapes of
%     data, with their ratios: the median of three runs in which the two
%     modules take turns. Symbols travel as the smallest integer class that
%     holds them, bytes as done:uint8 returns them, symbols come back with
%     decode:<that class>. The straightforward coder costs O(nsym) per
%     symbol, so the larger alphabets are timed on fewer symbols;
%   - kestrel against Octave's Huffman coder (huffmanenco, huffmandeco):
%     time and bits per symbol, and the order-0 entropy of the data.
%   Both modules must be on the path. The rate of 10^7 symbols against the
%   core benchmark, and the memory of big arrays, are kestrel_bigdata's.

% SPDX-License-Identifier: BSD-3-Clause

  alphabets = [16 256 4096 8191 16382];
  counts = [1e6 1e6 2e5 2e5 5e4];
  shapes = {'uniform', 'near-0', 'near-top', 'constant'};
  fprintf('CPU ns per symbol through Octave, median of 3; ratio = reference / kestrel\n');
  fprintf('%-6s %-9s %8s | %9s %9s %7s | %9s %9s %7s\n', 'nsym', 'data', 'symbols', 'enc ref', 'enc', ...
          'ratio', 'dec ref', 'dec', 'ratio');
  lowest = Inf;
  for a = 1:numel(alphabets)
    nsym = alphabets(a);
    n = counts(a);
    for k = 1:numel(shapes)
      x = make_symbols(nsym, shapes{k}, n);
      t = time_pair(x, nsym, 3);
      ratios = [t.enc_ref / t.enc_fast, t.dec_ref / t.dec_fast];
      lowest = min([lowest ratios]);
      fprintf('%-6d %-9s %8d | %9.1f %9.1f %6.2fx | %9.1f %9.1f %6.2fx\n', nsym, shapes{k}, n, ...
              1e9 * [t.enc_ref t.enc_fast] / n, ratios(1), 1e9 * [t.dec_ref t.dec_fast] / n, ratios(2));
    end
  end
  fprintf('lowest ratio: %.2fx\n\n', lowest);
  compare_with_huffman();
  compare_banks();
end

% Model options through Octave against the order-0 coder on the same
% symbols in the same run: typed symbols and contexts in, decode:<class>
% out; CPU ns per symbol, median of 5 turns taken in alternation.
function compare_banks()
  fprintf('\nmodel options through Octave, CPU ns per symbol, median of 5; ratio = cell / order-0\n');
  fprintf('%-24s %8s | %8s %6s | %8s %6s\n', 'cell', 'symbols', 'encode', 'ratio', 'decode', 'ratio');
  n = 1e6;
  for nsym = [16 256 4096]
    x = make_symbols(nsym, 'near-0', n);
    column = 1 + mod(nsym - (0:nsym - 1)', 3);
    cells = {'models=1', 'new_%s:models=1', nsym, {}; 'inc=24', 'new_%s:inc=24', nsym, {}
             'counts', 'new_%s:counts', column, {}; 'static counts', 'new_%s:counts:static', column, {}};
    bank_rows(x, nsym, cells, sprintf('/%d', nsym));
  end
  x = make_symbols(256, 'near-0', n);
  rand('seed', 5); %#ok<RAND>
  contexts = uint8(floor(rand(1, n) * 256));
  bank_rows(x, 256, {'models=256 random', 'new_%s:models=256', 256, {contexts}
                     'static models=256', 'new_%s:models=256:static', 256, {contexts}}, '/256');
  text = [fileread('/usr/share/common-licenses/GPL-3'), fileread('/usr/share/common-licenses/GPL-2'), ...
          fileread('/usr/share/common-licenses/Apache-2.0')];
  text = uint8(text(1:min(end, n)));
  bank_rows(text, 256, {'order=1 text', 'new_%s:order=1', 256, {}; 'order=1 inc=24 text', 'new_%s:order=1:inc=24', 256, {}}, ...
            '/256');
end

function bank_rows(x, nsym, cells, suffix)
  times = zeros(5, 2, size(cells, 1) + 1);
  for r = 1:5
    [times(r, 1, 1), times(r, 2, 1)] = time_options(x, 'new_%s', nsym, {});
    for c = 1:size(cells, 1)
      [times(r, 1, c + 1), times(r, 2, c + 1)] = time_options(x, cells{c, 2}, cells{c, 3}, cells{c, 4});
    end
  end
  m = median(times, 1);
  n = numel(x);
  fprintf('%-24s %8d | %8.1f %6s | %8.1f %6s\n', ['order-0' suffix], n, 1e9 * m(1, 1, 1) / n, '1', ...
          1e9 * m(1, 2, 1) / n, '1');
  for c = 1:size(cells, 1)
    fprintf('%-24s %8d | %8.1f %6.3f | %8.1f %6.3f\n', [cells{c, 1} suffix], n, 1e9 * m(1, 1, c + 1) / n, ...
            m(1, 1, c + 1) / m(1, 1, 1), 1e9 * m(1, 2, c + 1) / n, m(1, 2, c + 1) / m(1, 2, 1));
  end
end

function [encode_time, decode_time] = time_options(x, command, arg3, contexts)
  start = cputime();
  h = kestrel(sprintf(command, 'encoder'), '', arg3);
  kestrel('encode', h, x, contexts{:});
  bytes = kestrel('done:uint8', h);
  encode_time = cputime() - start;
  start = cputime();
  d = kestrel(sprintf(command, 'decoder'), '', arg3, bytes);
  y = kestrel(['decode:' class(x)], d, numel(x), contexts{:});
  kestrel('done', d);
  decode_time = cputime() - start;
  if ~isequal(y, x), error('kestrel_benchmark: %s does not round trip', command); end
end

% n symbols of an alphabet of nsym, in the smallest unsigned class that
% holds them.
function x = make_symbols(nsym, shape, n)
  rand('seed', nsym); %#ok<RAND>
  near = min(nsym - 1, floor(log(rand(1, n)) / log(0.9)));   % geometric, p = 0.1
  switch shape
    case 'uniform'
      x = floor(rand(1, n) * nsym);
    case 'near-0'
      x = near;
    case 'near-top'
      x = nsym - 1 - near;
    otherwise
      x = repmat(floor(nsym / 2), 1, n);
  end
  if nsym <= 256
    x = uint8(x);
  else
    x = uint16(x);
  end
end

% Encode and decode CPU times, in seconds, of both modules: the median of
% runs that alternate between them, so that both meet the same machine.
function t = time_pair(x, nsym, runs)
  times = zeros(runs, 4);
  for r = 1:runs
    [times(r, 1), times(r, 3)] = time_module(@kestrel_reference, x, nsym);
    [times(r, 2), times(r, 4)] = time_module(@kestrel, x, nsym);
  end
  m = median(times, 1);
  t = struct('enc_ref', m(1), 'enc_fast', m(2), 'dec_ref', m(3), 'dec_fast', m(4));
end

function [encode_time, decode_time] = time_module(module, x, nsym)
  start = cputime();
  h = module('new_encoder', '', nsym);
  module('encode', h, x);
  bytes = module('done:uint8', h);
  encode_time = cputime() - start;
  start = cputime();
  d = module('new_decoder', '', nsym, bytes);
  y = module(['decode:' class(x)], d, numel(x));
  module('done', d);
  decode_time = cputime() - start;
  if ~isequal(y, x)
    error('kestrel_benchmark: a round trip changed the data');
  end
end

% kestrel against Octave's own Huffman coder on the same data.
function compare_with_huffman()
  pkg load communications
  n = 1e5;
  fprintf('kestrel against huffmanenco/huffmandeco, %d symbols (time in ns per symbol)\n', n);
  fprintf('%-22s | %8s %8s %8s | %9s %9s %9s %9s\n', 'data', 'entropy', 'kestrel', 'huffman', ...
         'k enc', 'k dec', 'h enc', 'h dec');
  rand('seed', 11); randn('seed', 11); %#ok<RAND>
  t = (0:n-1) / 8000;
  sine = round((0.6 * sin(2 * pi * 440 * t) + 0.03 * randn(1, n) + 1) / 2 * 4095);
  residual = min(255, max(0, round(128 + 6 * randn(1, n))));
  sets = {'uniform, nsym 256', floor(rand(1, n) * 256), 256;
          'near-0, nsym 256', make_symbols(256, 'near-0', n), 256;
          'residual, nsym 256', residual, 256;
          '12-bit sine, nsym 4096', sine, 4096};
  for k = 1:size(sets, 1)
    [name, x, nsym] = sets{k, :};
    counts = accumarray(x(:) + 1, 1, [nsym 1])';
    p = counts(counts > 0) / n;
    entropy = -sum(p .* log2(p));
    [k_enc, k_dec] = time_module(@kestrel, x, nsym);
    h = kestrel('new_encoder', '', nsym);
    kestrel('encode', h, x);
    kestrel_bits = 8 * numel(kestrel('done', h)) / n;
    % Octave's coder takes symbols as indices 1..N into its dictionary.
    present = find(counts > 0);
    index = zeros(1, nsym);
    index(present) = 1:numel(present);
    signal = index(x + 1);
    dict = huffmandict(1:numel(present), counts(present) / n);
    tic; code = huffmanenco(signal, dict); h_enc = toc;
    tic; y = huffmandeco(code, dict); h_dec = toc;
    if ~isequal(y(:)', signal)
      error('kestrel_benchmark: the Huffman round trip changed the data');
    end
    fprintf('%-22s | %8.3f %8.3f %8.3f | %9.1f %9.1f %9.0f %9.0f\n', name, entropy, kestrel_bits, ...
           numel(code) / n, 1e9 * [k_enc k_dec h_enc h_dec] / n);
  end
  fprintf('(bits per symbol; Huffman''s count excludes its code table, kestrel needs none)\n');
end
