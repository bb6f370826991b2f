function kestrel_bigdata(core_bench, which_case, scratch)
%KESTREL_BIGDATA  Memory and time of 10^8 uint8 elements through kestrel.
%   kestrel_bigdata(CORE_BENCH) prints, in one run:
%   - for a 10000-by-10000 uint8 image (10^8 elements): the CPU time (median
%     of 3 runs) and the peak resident memory of kestrel_compress,
%     kestrel_decompress, and the handle commands with typed results
%     (encode + done:uint8, new_decoder + decode:uint8) side by side with
%     the same commands returning doubles (done, decode). Each case runs in
%     a fresh octave-cli, and its peak is the process's VmHWM (reset just
%     before the timed call, read just after) less its resident memory
%     before the data existed. compress and decompress are held to their
%     limits: input + 2 x output + 64 MiB, and output + input + 64 MiB;
%   - the rate of 10^7 uniform symbols (alphabet 256) through encode +
%     done:uint8 and new_decoder + decode:uint8 (and their double
%     counterparts) against the core benchmark program CORE_BENCH on the
%     same kind of data: CPU time, medians of 5 runs, the two taking turns
%     three times.
%   kestrel.mex, kestrel_compress and kestrel_decompress must be on the path.
%   kestrel_bigdata(CORE_BENCH, CASE, SCRATCH) runs one case in this process
%   and prints its result line: what the fresh processes do.

% SPDX-License-Identifier: BSD-3-Clause

  if nargin > 1
    run_case(which_case, scratch);
    return;
  end
  scratch = tempname();
  mkdir(scratch);
  cleanup = onCleanup(@() remove_folder(scratch));
  cases = {'compress', 'decompress', 'encode:uint8', 'decode:uint8', 'encode:double', 'decode:double'};
  results = struct('name', cases, 'seconds', 0, 'peak', 0, 'input', 0, 'output', 0);
  for k = 1:numel(cases)
    results(k) = fresh_process(cases{k}, scratch);
  end
  print_memory_table(results);
  compare_rate_with_core(core_bench, scratch);
end

function remove_folder(folder)
  confirm_recursive_rmdir(false);
  rmdir(folder, 's');
end

% Runs one case in a fresh octave-cli and reads back its result line.
function result = fresh_process(name, scratch)
  paths = sprintf('addpath(''%s''); addpath(''%s'');', fileparts(which('kestrel')), fileparts(mfilename('fullpath')));
  command = sprintf('octave-cli --no-gui --quiet --norc --no-history --eval "%s kestrel_bigdata('''', ''%s'', ''%s'')"', ...
                    paths, name, scratch);
  [status, text] = system(command);
  line = regexp(text, 'RESULT ([^\n]*)', 'tokens', 'once');
  if status ~= 0 || isempty(line)
    error('kestrel_bigdata: case %s failed:\n%s', name, text);
  end
  values = sscanf(line{1}, '%f');
  result = struct('name', name, 'seconds', values(1), 'peak', values(2), 'input', values(3), 'output', values(4));
  if numel(values) > 4
    result.seconds = values(1:end - 3)';
  end
end

function run_case(name, scratch)
  base = status_kib('VmRSS:') * 1024;
  side = image_side();
  switch name
    case 'compress'
      x = make_image(side);
      [seconds, peak, bytes] = timed(@() kestrel_compress(x), base);
      save_bytes(scratch, 'container', bytes);
      report(seconds, peak, numel(x), numel(bytes));
    case 'decompress'
      bytes = load_bytes(scratch, 'container');
      [seconds, peak, y] = timed(@() kestrel_decompress(bytes), base);
      check_image(y, side, name);
      report(seconds, peak, numel(bytes), numel(y));
    case {'encode:uint8', 'encode:double'}
      x = make_image(side);
      done = strrep(strrep(name, 'encode', 'done'), ':double', '');
      [seconds, peak, bytes] = timed(@() encode_all(x, done), base);
      save_bytes(scratch, 'stream', uint8(mod(double(bytes), 256)));
      report(seconds, peak, numel(x), numel(bytes));
    case {'decode:uint8', 'decode:double'}
      bytes = load_bytes(scratch, 'stream');
      [seconds, peak, y] = timed(@() decode_all(bytes, side^2, strrep(name, ':double', '')), base);
      check_image(reshape(y, side, side), side, name);
      report(seconds, peak, numel(bytes), numel(y) * numel(typecast(y(1), 'uint8')));
    case 'rate'
      rate_case();
  end
end

% The image's side: 10000, or KESTREL_BIGDATA_SIDE for a quick trial.
function side = image_side()
  side = str2double(getenv('KESTREL_BIGDATA_SIDE'));
  if isnan(side)
    side = 10000;
  end
end

% A side-by-side uint8 image (side a multiple of 100): smooth shading plus
% noise, made a hundred columns at a time so that no whole-image double ever
% exists.
function x = make_image(side)
  x = zeros(side, side, 'uint8');
  rows = (1:side)';
  for first = 1:100:side
    columns = first:first + 99;
    noise = mod(rows * 2654435761 + columns * 40503, 65536) / 65536;   % deterministic, uniform
    shade = 128 + 80 * sin(rows / 900) * cos(columns / 700);
    x(:, columns) = uint8(shade + 12 * (noise - 0.5));
  end
end

function check_image(y, side, name)
  if ~isequal(y, make_image(side))
    error('kestrel_bigdata: %s did not give the image back', name);
  end
end

function bytes = encode_all(x, done)
  h = kestrel('new_encoder', '', 256);
  kestrel('encode', h, x);
  bytes = kestrel(done, h);
end

function y = decode_all(bytes, count, decode)
  d = kestrel('new_decoder', '', 256, bytes);
  y = kestrel(decode, d, count);
  kestrel('done', d);
end

% Runs f three times, the result of one run freed before the next; the
% median CPU seconds, the highest resident bytes above base seen during a
% run, and the last result.
function [seconds, peak, result] = timed(f, base)
  times = zeros(1, 3);
  peak = 0;
  result = [];
  for r = 1:3
    result = [];
    reset_peak();
    start = cputime();
    result = f();
    times(r) = cputime() - start;
    peak = max(peak, status_kib('VmHWM:') * 1024 - base);
  end
  seconds = median(times);
end

function reset_peak()
  fid = fopen('/proc/self/clear_refs', 'w');
  if fid >= 0
    fprintf(fid, '5');   % resets VmHWM to the present resident size
    fclose(fid);
  end
end

function kib = status_kib(field)
  text = fileread('/proc/self/status');
  kib = sscanf(text(strfind(text, field) + numel(field):end), '%d', 1);
end

function report(seconds, peak, input, output)
  printf('RESULT %.6f %.0f %.0f %.0f\n', seconds, peak, input, output);
end

function save_bytes(scratch, name, bytes)
  fid = fopen(fullfile(scratch, name), 'wb');
  fwrite(fid, bytes, 'uint8');
  fclose(fid);
end

function bytes = load_bytes(scratch, name)
  fid = fopen(fullfile(scratch, name), 'rb');
  bytes = fread(fid, Inf, '*uint8')';
  fclose(fid);
end

function print_memory_table(results)
  MIB = 2^20;
  printf('%d uint8 elements (a square image): CPU seconds (median of 3) and peak resident\n', image_side()^2);
  printf('memory above the process before its data existed, each case in a fresh octave-cli\n');
  printf('%-38s %8s %10s %10s %10s %12s\n', 'case', 'CPU s', 'input MiB', 'output MiB', 'peak MiB', 'limit MiB');
  labels = struct('compress', 'kestrel_compress', 'decompress', 'kestrel_decompress', ...
                  'encode_uint8', 'encode + done:uint8', 'decode_uint8', 'new_decoder + decode:uint8', ...
                  'encode_double', 'encode + done (doubles)', 'decode_double', 'new_decoder + decode (doubles)');
  for r = results
    key = strrep(r.name, ':', '_');
    limit = '';
    if strcmp(r.name, 'compress')
      limit_bytes = r.input + 2 * r.output + 64 * MIB;
    elseif strcmp(r.name, 'decompress')
      limit_bytes = r.output + r.input + 64 * MIB;
    else
      limit_bytes = 0;
    end
    if limit_bytes > 0
      verdicts = {'OVER', 'within'};
      limit = sprintf('%7.1f %s', limit_bytes / MIB, verdicts{1 + (r.peak <= limit_bytes)});
    end
    printf('%-38s %8.2f %10.1f %10.1f %10.1f %12s\n', labels.(key), r.seconds, r.input / MIB, ...
           r.output / MIB, r.peak / MIB, limit);
  end
  printf('\n');
end

% 10^7 uniform symbols of 256 through the handle commands, typed and double:
% CPU seconds of each run for encode + done:uint8, new_decoder + decode:uint8,
% the decode call alone, encode + done, new_decoder + decode.
function rate_case()
  n = 1e7;
  rand('seed', 256); %#ok<RAND>
  x = uint8(floor(rand(1, n) * 256));
  xd = double(x);
  runs = 5;
  times = zeros(runs, 5);
  for r = 1:runs
    start = cputime(); bytes = encode_all(x, 'done:uint8'); times(r, 1) = cputime() - start;
    start = cputime(); d = kestrel('new_decoder', '', 256, bytes); t_new = cputime() - start;
    start = cputime(); y = kestrel('decode:uint8', d, n); times(r, 3) = cputime() - start;
    kestrel('done', d);
    times(r, 2) = t_new + times(r, 3);
    start = cputime(); signed = encode_all(xd, 'done'); times(r, 4) = cputime() - start;
    start = cputime(); yd = decode_all(signed, n, 'decode'); times(r, 5) = cputime() - start;
    if ~isequal(y, x) || ~isequal(yd, xd)
      error('kestrel_bigdata: the 10^7-symbol round trip changed the data');
    end
  end
  printf('RESULT %s 0 0 0\n', sprintf('%.6f ', median(times, 1)));
end

% The core and Octave take turns, three times each, so that both meet the
% machine alike; each side's figure is the median of its three medians.
function compare_rate_with_core(core_bench, scratch)
  core = zeros(3, 2);
  octave = zeros(3, 5);
  for turn = 1:3
    core(turn, :) = core_rates(core_bench);
    rate = fresh_process('rate', scratch);
    octave(turn, :) = 1e9 * rate.seconds / 1e7;
  end
  core = median(core, 1);
  octave = median(octave, 1);
  printf('10^7 uniform symbols, alphabet 256: CPU ns per symbol against the core (medians of 5 runs;\n');
  printf('the two took three turns each, and each shows the median of its turns)\n');
  printf('  %-34s %6.2f  core %6.2f: %5.1f%% of the core rate\n', 'encode + done:uint8', octave(1), core(1), ...
         100 * core(1) / octave(1));
  printf('  %-34s %6.2f  core %6.2f: %5.1f%%\n', 'new_decoder + decode:uint8', octave(2), core(2), ...
         100 * core(2) / octave(2));
  printf('  %-34s %6.2f  core %6.2f: %5.1f%%\n', 'decode:uint8 call alone', octave(3), core(2), ...
         100 * core(2) / octave(3));
  printf('  %-34s %6.2f  core %6.2f: %5.1f%%\n', 'encode (double input) + done', octave(4), core(1), ...
         100 * core(1) / octave(4));
  printf('  %-34s %6.2f  core %6.2f: %5.1f%%\n', 'new_decoder + decode (doubles)', octave(5), core(2), ...
         100 * core(2) / octave(5));
end

% CPU ns per symbol to encode and to decode 10^7 symbols in the core
% benchmark program (medians of 5).
function ns = core_rates(core_bench)
  json = [tempname() '.json'];
  status = system([core_bench ' --benchmark_filter="^long/"' ...
                   ' --benchmark_repetitions=5 --benchmark_report_aggregates_only=true' ...
                   ' --benchmark_out_format=json --benchmark_out=' json ' > /dev/null 2>&1']);
  if status ~= 0
    error('kestrel_bigdata: the core benchmark %s failed', core_bench);
  end
  text = fileread(json);
  delete(json);
  ns = [core_cpu_ns(text, 'long/encode/256/uniform_median'), core_cpu_ns(text, 'long/decode/256/uniform_median')];
end

% CPU ns per symbol of a named aggregate in Google Benchmark's JSON output
% (these core benchmarks code 10^7 symbols).
function ns = core_cpu_ns(text, name)
  at = strfind(text, ['"name": "' name '"']);
  if isempty(at)
    error('kestrel_bigdata: %s missing from the core benchmark output', name);
  end
  rest = text(at(1):end);
  field = strfind(rest, '"cpu_time":');
  cpu_time = sscanf(rest(field(1) + 11:end), '%f', 1);
  unit = regexp(rest, '"time_unit": "(\w+)"', 'tokens', 'once');
  scale = struct('ns', 1, 'us', 1e3, 'ms', 1e6, 's', 1e9);
  ns = cpu_time * scale.(unit{1}) / 1e7;
end
