function results = compress_real(varargin)
%COMPRESS_REAL  kestrel_compress beside the usual compressors on real data.
%   COMPRESS_REAL('Root', ROOT) reads the sets that bench/realdata.sh wrote
%   under ROOT (ROOT/index.txt, ROOT/SET/NAME.raw and NAME.txt) and prints,
%   per set, the ratio (the set's raw bytes over its compressed bytes) and
%   the CPU rate both ways (MB/s of raw data, the median of the repeats) of
%   kestrel_compress version 2 (the default container), version 1
%   (kestrel_compress(X, 'Version', 1), or the default while it writes
%   version 1), gzip -9, bzip2 -9, xz -9, zstd -19 and brotli -q 11, with
%   optipng (of PNG files written by imwrite) for images and rasters, and
%   flac -8 and wavpack -hh (of interleaved PCM) for audio. Then the targets
%   per set, each marked pass or fail, and a summary.
%
%   kestrel's CPU time is cputime inside Octave around the calls (every
%   thread of the process counts), each timing passing over the set as
%   often as 8 MB of raw data takes; the other tools' is the CPU time of their
%   processes (bash's times), one process per file, summed over the set
%   (two files at a time, which leaves the CPU time as it is).
%   PNG decoding is timed through imread. Every result is decoded and
%   compared with the original; a mismatch is an error.
%
%   Options (name, value):
%     'Root'     the folder of the sets (/var/cache/kestrel/realdata/sets)
%     'Sets'     a cell array of set names (default: every set in the index)
%     'Quick'    true: the first 2 files of each set, 1 repetition
%                (default false)
%     'PngBest'  true: optipng -o5 too, beside -o2; the better counts for
%                the targets (default false: -o5 takes 7 times as long and
%                gained under 0.1% on the photos)
%     'Repeats'  repetitions of each timing (default 3)
%     'Scratch'  a folder for the peers' files (default: a new one in tempdir,
%                removed afterwards)
%   RESULTS is a struct array, one element per set: name, bytes, entries
%   (a cell row per codec: name, ratio, comp and decomp MB/s, note, and
%   for kestrel each file's coded length) and checks (text, pass: true,
%   false, or NaN where a target does not apply).

% SPDX-License-Identifier: BSD-3-Clause

  opts = parse_options(varargin);
  index = read_index(opts.root);
  names = opts.sets;
  if isempty(names)
    names = unique_in_order(index(:, 1));
  end
  made_scratch = isempty(opts.scratch);
  if made_scratch
    opts.scratch = tempname();
  end
  [ok, message] = mkdir(opts.scratch);
  if ~ok
    error('compress_real: cannot create %s: %s', opts.scratch, message);
  end
  cleanup = onCleanup(@() remove_scratch(opts.scratch, made_scratch));
  results = struct('name', {}, 'bytes', {}, 'entries', {}, 'checks', {});
  for k = 1:numel(names)
    files = index(strcmp(index(:, 1), names{k}), 2);
    if isempty(files)
      error('compress_real: no set %s in %s', names{k}, opts.root);
    end
    if opts.quick
      files = files(1:min(2, numel(files)));
    end
    set = load_set(opts.root, names{k}, files);
    result = measure_set(set, opts);
    print_set(result, set);
    results(end + 1) = result; %#ok<AGROW>
  end
  print_summary(results);
end

function opts = parse_options(args)
  opts = struct('root', '/var/cache/kestrel/realdata/sets', 'sets', {{}}, 'quick', false, ...
                'repeats', 3, 'scratch', '', 'pngbest', false);
  for k = 1:2:numel(args)
    switch lower(args{k})
      case 'root'
        opts.root = args{k + 1};
      case 'sets'
        opts.sets = args{k + 1};
      case 'quick'
        opts.quick = logical(args{k + 1});
      case 'repeats'
        opts.repeats = args{k + 1};
      case 'scratch'
        opts.scratch = args{k + 1};
      case 'pngbest'
        opts.pngbest = logical(args{k + 1});
      otherwise
        error('compress_real: unknown option %s', args{k});
    end
  end
  if opts.quick
    opts.repeats = 1;
  end
end

function remove_scratch(folder, made)
  if made && exist(folder, 'dir')
    if exist('OCTAVE_VERSION', 'builtin')
      confirm_recursive_rmdir(false, 'local');
    end
    rmdir(folder, 's');
  end
end

% index.txt: a file a line, its set and name first.
function index = read_index(root)
  text = fileread(fullfile(root, 'index.txt'));
  lines = strsplit(strtrim(text), sprintf('\n'));
  index = cell(numel(lines), 2);
  for k = 1:numel(lines)
    words = strsplit(strtrim(lines{k}), ' ');
    index(k, :) = words(1:2);
  end
end

function out = unique_in_order(names)
  out = {};
  for k = 1:numel(names)
    if ~any(strcmp(out, names{k}))
      out{end + 1} = names{k}; %#ok<AGROW>
    end
  end
end

% The set's arrays with their descriptions; bytes is the raw total.
function set = load_set(root, name, files)
  set = struct('name', name, 'files', {files}, 'paths', {{}}, 'x', {{}}, 'rate', [], ...
               'kind', '', 'bytes', 0, 'file_bytes', []);
  for k = 1:numel(files)
    base = fullfile(root, name, files{k});
    info = read_description([base '.txt']);
    fid = fopen([base '.raw'], 'r', 'ieee-le');
    x = fread(fid, Inf, ['*' info.class]);
    fclose(fid);
    set.x{k} = reshape(x, info.dims);
    set.paths{k} = [base '.raw'];
    set.rate(k) = info.rate;
    set.kind = info.kind;
    set.file_bytes(k) = numel(x) * bytes_per_element(info.class);
    set.bytes = set.bytes + set.file_bytes(k);
  end
end

function info = read_description(file)
  lines = strsplit(strtrim(fileread(file)), sprintf('\n'));
  info = struct();
  for k = 1:numel(lines)
    [key, value] = strtok(lines{k}, ' ');
    info.(key) = strtrim(value);
  end
  info.dims = str2num(info.dims); %#ok<ST2NM>
  info.rate = str2double(info.rate);
end

function n = bytes_per_element(cls)
  n = numel(typecast(zeros(1, 1, cls), 'uint8'));
end

% Every codec on one set: a row each of codec, ratio, rates, note and sizes.
function result = measure_set(set, opts)
  entries = {};
  entries(end + 1, :) = measure_kestrel(set, 2, opts);
  entries(end + 1, :) = measure_kestrel(set, 1, opts);
  peers = {'gzip -9', 'gzip -9 -c IN > OUT', 'gzip -dc IN > OUT'; ...
           'bzip2 -9', 'bzip2 -9 -c IN > OUT', 'bzip2 -dc IN > OUT'; ...
           'xz -9', 'xz -9 -c IN > OUT', 'xz -dc IN > OUT'; ...
           'zstd -19', 'zstd -19 -q -c IN > OUT', 'zstd -dq -c IN > OUT'; ...
           'brotli -q 11', 'brotli -q 11 -c IN > OUT', 'brotli -dc IN > OUT'};
  for k = 1:size(peers, 1)
    entries(end + 1, :) = measure_tool(set, set.paths, peers(k, :), opts); %#ok<AGROW>
  end
  if strcmp(set.kind, 'audio')
    entries = [entries; measure_audio_tools(set, opts)];
  else
    entries = [entries; measure_png(set, opts)];
  end
  result = struct('name', set.name, 'bytes', set.bytes, 'entries', {entries}, ...
                  'checks', {target_checks(set, entries)});
end

% Passes over a set that each timing of kestrel makes: enough for 8 MB of
% raw data, so that a small set is not timed in a few milliseconds (1 when
% Quick).
function passes = kestrel_passes(set, opts)
  bytes = sum(cellfun(@(x) numel(typecast(x(1), 'uint8')) * numel(x), set.x));
  passes = 1;
  if ~opts.quick && bytes > 0
    passes = ceil(8e6 / bytes);
  end
end

% kestrel_compress writing container version `version`, over the files it
% accepts (the note names those it refuses); a row of n/a and the reason
% when it accepts none or writes another version. The sixth column holds
% each file's coded length, NaN where refused.
function row = measure_kestrel(set, version, opts)
  label = sprintf('kestrel v%d', version);
  n = numel(set.x);
  blobs = cell(1, n);
  refused = {};
  reason = '';
  for k = 1:n
    try
      blobs{k} = kestrel_version(set.x{k}, version);
    catch err
      refused{end + 1} = set.files{k}; %#ok<AGROW>
      reason = short_reason(err);
    end
  end
  taken = find(~cellfun(@isempty, blobs));
  if isempty(taken)
    row = {label, NaN, NaN, NaN, ['n/a: ' reason], NaN(1, n)};
    return;
  end
  if blobs{taken(1)}(5) ~= version
    row = {label, NaN, NaN, NaN, sprintf('n/a: the default container is version %d', blobs{taken(1)}(5)), NaN(1, n)};
    return;
  end
  comp = zeros(1, opts.repeats);
  decomp = zeros(1, opts.repeats);
  passes = kestrel_passes(set, opts);
  for r = 1:opts.repeats
    start = cputime();
    for pass = 1:passes
      for k = taken
        blobs{k} = kestrel_version(set.x{k}, version);
      end
    end
    comp(r) = (cputime() - start) / passes;
    back = cell(1, n);
    start = cputime();
    for pass = 1:passes
      for k = taken
        back{k} = kestrel_decompress(blobs{k});
      end
    end
    decomp(r) = (cputime() - start) / passes;
    for k = taken
      if ~isequal(back{k}, set.x{k}) || ~strcmp(class(back{k}), class(set.x{k}))
        error('compress_real: %s did not give back %s/%s', label, set.name, set.files{k});
      end
    end
  end
  sizes = NaN(1, n);
  sizes(taken) = cellfun(@numel, blobs(taken));
  raw = sum(set.file_bytes(taken));
  note = '';
  if ~isempty(refused)
    note = sprintf('%d of %d files; refuses %s: %s', numel(taken), n, strjoin(refused, ', '), reason);
  end
  row = {label, raw / sum(sizes(taken)), rate(raw, comp), rate(raw, decomp), note, sizes};
end

% Version 2 is the default container; version 1 is asked for by name, and
% is the default itself while the default still writes version 1.
function bytes = kestrel_version(x, version)
  if version == 2
    bytes = kestrel_compress(x);
    return;
  end
  try
    bytes = kestrel_compress(x, 'Version', 1);
  catch err
    bytes = kestrel_compress(x);
    if bytes(5) ~= 1
      rethrow(err);
    end
  end
end

function text = short_reason(err)
  text = err.message;
  if ~isempty(err.identifier)
    text = [err.identifier ': ' text];
  end
  if numel(text) > 90
    text = [text(1:87) '...'];
  end
end

function mbs = rate(bytes, seconds)
  mbs = bytes / 1e6 / max(median(seconds), 1e-6);
end

% A command-line tool over the set's files, one process per file: the CPU
% time of the processes, both ways, and a byte-for-byte check.
function row = measure_tool(set, inputs, tool, opts)
  label = tool{1};
  tag = regexprep(label, '[^a-z0-9]', '');
  packed = cell(size(inputs));
  unpacked = cell(size(inputs));
  for k = 1:numel(inputs)
    packed{k} = fullfile(opts.scratch, sprintf('%s_%d.z', tag, k));
    unpacked{k} = fullfile(opts.scratch, sprintf('%s_%d.out', tag, k));
  end
  comp = zeros(1, opts.repeats);
  decomp = zeros(1, opts.repeats);
  for r = 1:opts.repeats
    comp(r) = run_timed(opts.scratch, tool{2}, inputs, packed);
    decomp(r) = run_timed(opts.scratch, tool{3}, packed, unpacked);
  end
  coded = 0;
  for k = 1:numel(inputs)
    same_file(inputs{k}, unpacked{k}, label);
    coded = coded + file_size(packed{k});
    delete(unpacked{k});
  end
  for k = 1:numel(inputs)
    delete(packed{k});
  end
  row = {label, set.bytes / coded, rate(set.bytes, comp), rate(set.bytes, decomp), '', []};
end

% Runs the command template once per pair, its words IN and OUT replaced by
% the pair's files, in one bash that runs two lists of them side by side
% (the inputs split by size); the CPU seconds (user + system) of every
% process it started, which the side-by-side runs leave unchanged.
function seconds = run_timed(scratch, template, from, to)
  script = fullfile(scratch, 'run.sh');
  fid = fopen(script, 'w');
  fprintf(fid, 'set -e\n');
  lists = split_by_size(from);
  for j = 1:numel(lists)
    fprintf(fid, '(\nset -e\n');
    for k = lists{j}
      command = regexprep(template, '\<IN\>', strrep(quote(from{k}), '\\', '\\\\'));
      command = regexprep(command, '\<OUT\>', strrep(quote(to{k}), '\\', '\\\\'));
      fprintf(fid, '%s\n', command);
    end
    fprintf(fid, ') &\npid%d=$!\n', j);
  end
  for j = 1:numel(lists)
    fprintf(fid, 'wait $pid%d\n', j);
  end
  fprintf(fid, 'times\n');
  fclose(fid);
  [status, output] = system(['bash ' quote(script)]);
  if status ~= 0
    error('compress_real: %s failed: %s', template, output);
  end
  lines = strsplit(strtrim(output), sprintf('\n'));
  seconds = sum(parse_times(lines{end}));
end

% The indices of files split into two lists of about equal bytes (each file
% to the lighter list, largest first); one list for a single file.
function lists = split_by_size(files)
  sizes = cellfun(@file_size, files);
  [~, order] = sort(sizes, 'descend');
  lists = {[], []};
  filled = [0 0];
  for k = order
    [~, j] = min(filled);
    lists{j}(end + 1) = k;
    filled(j) = filled(j) + sizes(k);
  end
  lists = lists(~cellfun(@isempty, lists));
end

function s = quote(path)
  s = ['''' strrep(path, '''', '''\''''') ''''];
end

% '0m1.250s 0m0.010s' as [1.25 0.01].
function t = parse_times(line)
  parts = regexp(line, '(\d+)m([\d.]+)s', 'tokens');
  t = zeros(1, numel(parts));
  for k = 1:numel(parts)
    t(k) = 60 * str2double(parts{k}{1}) + str2double(parts{k}{2});
  end
end

function n = file_size(path)
  d = dir(path);
  n = d.bytes;
end

function same_file(a, b, label)
  [status, ~] = system(['cmp -s ' quote(a) ' ' quote(b)]);
  if status ~= 0
    error('compress_real: %s did not give back %s', label, a);
  end
end

% flac -8 and wavpack -hh of the samples interleaved, as PCM files hold them.
function entries = measure_audio_tools(set, opts)
  pcm = cell(size(set.x));
  for k = 1:numel(set.x)
    pcm{k} = fullfile(opts.scratch, sprintf('pcm_%d.raw', k));
    fid = fopen(pcm{k}, 'w', 'ieee-le');
    fwrite(fid, set.x{k}.', 'int16');
    fclose(fid);
  end
  channels = size(set.x{1}, 2);
  if any(cellfun(@(x) size(x, 2), set.x) ~= channels) || any(set.rate ~= set.rate(1)) || ...
     ~all(cellfun(@(x) isa(x, 'int16'), set.x))
    error('compress_real: the files of %s differ in channels, rate or class', set.name);
  end
  raw = sprintf('--force-raw-format --endian=little --sign=signed --channels=%d --bps=16 --sample-rate=%d', ...
                channels, set.rate(1));
  flac = {'flac -8', ['flac -8 -s -f ' raw ' -o OUT IN'], ...
          'flac -d -s -f --force-raw-format --endian=little --sign=signed -o OUT IN'};
  wavpack = {'wavpack -hh', sprintf('wavpack -hh -q -y --raw-pcm=%d,16s,%d,le IN -o OUT', ...
                                    set.rate(1), channels), 'wvunpack -q -y --raw IN -o OUT'};
  entries = [measure_tool(set, pcm, flac, opts); measure_tool(set, pcm, wavpack, opts)];
  for k = 1:numel(pcm)
    delete(pcm{k});
  end
end

% optipng of PNG files that imwrite makes from the arrays: an H-by-W-by-3
% array as one colour PNG, any other array as one grey PNG per plane; int16
% values are shifted by 32768 into uint16. Decoding is timed through imread.
function entries = measure_png(set, opts)
  [pngs, planes] = write_pngs(set, opts.scratch);
  levels = {'-o2'};
  if opts.pngbest
    levels{end + 1} = '-o5';
  end
  entries = cell(numel(levels), 6);
  for j = 1:numel(levels)
    copies = strrep(pngs, '.png', ['_' levels{j}(2:end) '.png']);
    comp = zeros(1, opts.repeats);
    decomp = zeros(1, opts.repeats);
    for r = 1:opts.repeats
      comp(r) = run_timed(opts.scratch, ['optipng ' levels{j} ' -quiet -clobber -out OUT IN'], pngs, copies);
      start = cputime();
      for k = 1:numel(copies)
        back = imread(copies{k});
        if ~isequal(back, planes{k})
          error('compress_real: optipng did not give back %s of %s', copies{k}, set.name);
        end
      end
      decomp(r) = cputime() - start;
    end
    coded = sum(cellfun(@file_size, copies));
    entries(j, :) = {['optipng ' levels{j}], set.bytes / coded, rate(set.bytes, comp), ...
                  rate(set.bytes, decomp), 'imwrite + optipng; decode: imread', []};
    cellfun(@delete, copies);
  end
  cellfun(@delete, pngs);
end

function [pngs, planes] = write_pngs(set, scratch)
  pngs = {};
  planes = {};
  for k = 1:numel(set.x)
    x = set.x{k};
    if isa(x, 'int16')
      x = uint16(int32(x) + 32768);
    end
    if ndims(x) == 3 && size(x, 3) == 3
      parts = {x};
    else
      x = reshape(x, size(x, 1), size(x, 2), []);
      parts = arrayfun(@(p) x(:, :, p), 1:size(x, 3), 'UniformOutput', false);
    end
    for p = 1:numel(parts)
      pngs{end + 1} = fullfile(scratch, sprintf('img_%d_%d.png', k, p)); %#ok<AGROW>
      planes{end + 1} = parts{p}; %#ok<AGROW>
      imwrite(parts{p}, pngs{end});
    end
  end
end

% The targets: at least the best general compressor, at least the domain
% codec (PNG or FLAC), and for photos and rasters more than 1.5 times
% version 1, on the files that version 1 accepts. Version 2 must take
% every file.
function checks = target_checks(set, entries)
  ratios = cell2mat(entries(:, 2));
  labels = entries(:, 1);
  v2 = ratios(1);
  partial = '';
  if any(isnan(entries{1, 6}))
    v2 = NaN;
    if ~isnan(ratios(1))
      partial = ' [v2 refuses files]';
    end
  end
  general = 3:7;
  [best, at] = max(ratios(general));
  checks = {target(sprintf('v2 >= best general (%s %.3f)%s', labels{general(at)}, best, partial), v2, best)};
  domain = find(strncmp(labels, 'optipng', 7) | strncmp(labels, 'flac', 4));
  if ~isempty(domain)
    [best, at] = max(ratios(domain));
    checks{end + 1} = target(sprintf('v2 >= %s (%.3f)%s', labels{domain(at)}, best, partial), v2, best);
  end
  if any(strcmp(set.name, {'gray8', 'rgb8', 'img16', 'dem'}))
    v1_sizes = entries{2, 6};
    taken = ~isnan(v1_sizes);
    if ~any(taken)
      checks{end + 1} = struct('text', 'v2 > 1.5 x v1 (v1 refuses every file)', 'pass', NaN);
    else
      v1 = sum(set.file_bytes(taken)) / sum(v1_sizes(taken));
      v2_sizes = entries{1, 6};
      v2_same = sum(set.file_bytes(taken)) / sum(v2_sizes(taken));
      text = sprintf('v2 > 1.5 x v1 (%.3f', 1.5 * v1);
      if ~all(taken)
        text = sprintf('%s, on %d of %d files', text, sum(taken), numel(taken));
      end
      checks{end + 1} = target([text ')'], v2_same, 1.5 * v1 * (1 + eps));
    end
  end
end

% pass is true or false; NaN where the target does not apply.
function check = target(text, value, goal)
  check = struct('text', text, 'pass', ~isnan(value) && value >= goal);
end

function print_set(result, set)
  dims = size(set.x{1});
  fprintf('\n== %s: %d files, %.2f MB raw, %s %s first; %s\n', result.name, numel(set.x), ...
          result.bytes / 1e6, class(set.x{1}), strjoin(arrayfun(@num2str, dims, 'UniformOutput', false), 'x'), ...
          set.kind);
  fprintf('%-14s %8s %12s %12s  %s\n', 'codec', 'ratio', 'comp MB/s', 'decomp MB/s', 'note');
  for k = 1:size(result.entries, 1)
    row = result.entries(k, :);
    fprintf('%-14s %8s %12s %12s  %s\n', row{1}, number(row{2}, '%.3f'), number(row{3}, '%.2f'), ...
            number(row{4}, '%.2f'), row{5});
  end
  for k = 1:numel(result.checks)
    fprintf('  target %-64s %s\n', result.checks{k}.text, verdict(result.checks{k}.pass));
  end
end

function text = number(value, format)
  if isnan(value)
    text = 'n/a';
  else
    text = sprintf(format, value);
  end
end

function text = verdict(pass)
  if isnan(pass)
    text = 'n/a';
  elseif pass
    text = 'pass';
  else
    text = 'FAIL';
  end
end

function print_summary(results)
  fprintf('\n== summary: ratios (raw / compressed), and the targets (*: over the files it accepts)\n');
  fprintf('%-12s %8s %8s %8s %-23s %-23s  %s\n', 'set', 'MB', 'v2', 'v1', 'best general', 'domain', 'targets');
  for k = 1:numel(results)
    entries = results(k).entries;
    ratios = cell2mat(entries(:, 2));
    [best, at] = max(ratios(3:7));
    domain = find(strncmp(entries(:, 1), 'optipng', 7) | strncmp(entries(:, 1), 'flac', 4));
    [dbest, dat] = max(ratios(domain));
    marks = cellfun(@(c) verdict(c.pass), results(k).checks, 'UniformOutput', false);
    v2 = partial_mark(ratios(1), entries{1, 6});
    v1 = partial_mark(ratios(2), entries{2, 6});
    fprintf('%-12s %8.2f %8s %8s %-14s %8.3f %-14s %8.3f  %s\n', results(k).name, results(k).bytes / 1e6, ...
            v2, v1, entries{2 + at, 1}, best, ...
            entries{domain(dat), 1}, dbest, strjoin(marks, ' '));
  end
end

% A ratio, marked * when it covers only some of the set's files.
function text = partial_mark(ratio, sizes)
  text = number(ratio, '%.3f');
  if any(isnan(sizes)) && ~isnan(ratio)
    text = [text '*'];
  end
end
