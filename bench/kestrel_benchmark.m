function kestrel_benchmark(core_bench)
%KESTREL_BENCHMARK  Time kestrel.mex against the straightforward coder.
%   kestrel_benchmark(CORE_BENCH) prints, in one run:
%   - ns per symbol to encode and decode 10^6 symbols through kestrel.mex
%     and through kestrel_reference.mex (the same module over the
%     straightforward coder), for four alphabet sizes and four shapes of
%     data, with their ratios (median of three interleaved runs);
%   - the rate of a 10^7-symbol vector through kestrel.mex against the core
%     benchmark program CORE_BENCH on the same kind of data;
%   - kestrel against Octave's Huffman coder (huffmanenco, huffmandeco):
%     time and bits per symbol, and the order-0 entropy of the data.
%   Both modules must be on the path.

% SPDX-License-Identifier: BSD-3-Clause

  alphabets = [16 256 4096 8191];
  shapes = {'uniform', 'near-0', 'near-top', 'constant'};
  n = 1e6;
  printf('ns per symbol through Octave, median of 3; ratio = reference / fast\n');
  printf('%-6s %-9s | %9s %9s %7s | %9s %9s %7s\n', 'nsym', 'data', 'enc ref', 'enc fast', 'ratio', ...
         'dec ref', 'dec fast', 'ratio');
  lowest = Inf;
  for nsym = alphabets
    for k = 1:numel(shapes)
      x = make_symbols(nsym, shapes{k}, n);
      t = time_pair(x, nsym, 3);
      ratios = [t.enc_ref / t.enc_fast, t.dec_ref / t.dec_fast];
      lowest = min([lowest ratios]);
      printf('%-6d %-9s | %9.1f %9.1f %6.2fx | %9.1f %9.1f %6.2fx\n', nsym, shapes{k}, ...
             1e9 * [t.enc_ref t.enc_fast] / n, ratios(1), 1e9 * [t.dec_ref t.dec_fast] / n, ratios(2));
    end
  end
  printf('lowest ratio: %.2fx\n\n', lowest);

  compare_with_core(core_bench);
  compare_with_huffman();
end

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
end

% Encode and decode times, in seconds, of both modules: the median of runs
% that alternate between them, so that both meet the same machine.
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
  tic;
  h = module('new_encoder', '', nsym);
  module('encode', h, x);
  bytes = module('done', h);
  encode_time = toc;
  tic;
  d = module('new_decoder', '', nsym, bytes);
  y = module('decode', d, numel(x));
  module('done', d);
  decode_time = toc;
  if ~isequal(y, x)
    error('kestrel_benchmark: a round trip changed the data');
  end
end

% A 10^7-symbol vector through kestrel.mex against the core benchmark's rate
% for the same alphabet, shape and length: the encode and decode calls alone,
% and with the calls that hand the bytes over (done) and take them back
% (new_decoder), which turn 10^7 bytes into doubles and back.
function compare_with_core(core_bench)
  n = 1e7;
  nsym = 256;
  x = make_symbols(nsym, 'uniform', n);
  best = Inf(1, 4);
  for r = 1:3
    h = kestrel('new_encoder', '', nsym);
    tic; kestrel('encode', h, x); t(1) = toc;
    tic; bytes = kestrel('done', h); t(2) = toc;
    tic; d = kestrel('new_decoder', '', nsym, bytes); t(3) = toc;
    tic; y = kestrel('decode', d, n); t(4) = toc;
    kestrel('done', d);
    if ~isequal(y, x)
      error('kestrel_benchmark: the 10^7-symbol round trip changed the data');
    end
    best = min(best, t);
  end
  json = [tempname() '.json'];
  status = system([core_bench ' --benchmark_filter="^long/"' ...
                   ' --benchmark_repetitions=3 --benchmark_report_aggregates_only=true' ...
                   ' --benchmark_out_format=json --benchmark_out=' json ' > /dev/null 2>&1']);
  if status ~= 0
    error('kestrel_benchmark: the core benchmark %s failed', core_bench);
  end
  text = fileread(json);
  delete(json);
  core = [core_ns(text, 'long/encode/256/uniform_median'), core_ns(text, 'long/decode/256/uniform_median')];
  octave = 1e9 * best / n;
  printf('10^7 symbols, nsym 256 uniform: ns per symbol, Octave best of 3 against the core median\n');
  printf('  encode call           %6.1f  core %6.1f: %3.0f%% of the core rate\n', octave(1), core(1), 100 * core(1) / octave(1));
  printf('  encode call + done    %6.1f  core %6.1f: %3.0f%%\n', sum(octave(1:2)), core(1), 100 * core(1) / sum(octave(1:2)));
  printf('  decode call           %6.1f  core %6.1f: %3.0f%% of the core rate\n', octave(4), core(2), 100 * core(2) / octave(4));
  printf('  new_decoder + decode  %6.1f  core %6.1f: %3.0f%%\n\n', sum(octave(3:4)), core(2), 100 * core(2) / sum(octave(3:4)));
end

% ns per symbol of a named aggregate in Google Benchmark's JSON output.
function ns = core_ns(text, name)
  at = strfind(text, ['"name": "' name '"']);
  if isempty(at)
    error('kestrel_benchmark: %s missing from the core benchmark output', name);
  end
  rest = text(at(1):end);
  field = strfind(rest, '"real_time":');
  real_time = sscanf(rest(field(1) + 12:end), '%f', 1);
  unit = regexp(rest, '"time_unit": "(\w+)"', 'tokens', 'once');
  scale = struct('ns', 1, 'us', 1e3, 'ms', 1e6, 's', 1e9);
  ns = real_time * scale.(unit{1}) / 1e7;   % these core benchmarks code 10^7 symbols
end

% kestrel against Octave's own Huffman coder on the same data.
function compare_with_huffman()
  pkg load communications
  n = 1e5;
  printf('kestrel against huffmanenco/huffmandeco, %d symbols (time in ns per symbol)\n', n);
  printf('%-22s | %8s %8s %8s | %9s %9s %9s %9s\n', 'data', 'entropy', 'kestrel', 'huffman', ...
         'k enc', 'k dec', 'h enc', 'h dec');
  rand('seed', 11); randn('seed', 11); %#ok<RAND>
  t = (0:n-1) / 8000;
  sine = round((0.6 * sin(2 * pi * 440 * t) + 0.03 * randn(1, n) + 1) / 2 * 4095);
  residual = min(255, max(0, round(128 + 6 * randn(1, n))));
  sets = {'uniform, nsym 256', floor(rand(1, n) * 256), 256;
          'near-0, nsym 256', make_symbols(256, 'near-0', n), 256;
          'residual, nsym 256', residual, 256;
          '12-bit sine, nsym 4096', sine, 4096};
  for k = 1:rows(sets)
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
    printf('%-22s | %8.3f %8.3f %8.3f | %9.1f %9.1f %9.0f %9.0f\n', name, entropy, kestrel_bits, ...
           numel(code) / n, 1e9 * [k_enc k_dec h_enc h_dec] / n);
  end
  printf('(bits per symbol; Huffman''s count excludes its code table, kestrel needs none)\n');
end
