% SPDX-License-Identifier: BSD-3-Clause
% The version-2 codec on the real data sets that bench/realdata.sh (branch
% realdata) unpacks from Debian packages: per set the ratio (raw bytes over
% compressed bytes, totals over its files) and the CPU MB/s both ways, of
% version 2 (1 thread) and version 1. Run from the build folder:
%   octave-cli --no-history --eval "addpath('.'); addpath('../bench'); codec_sets"
function codec_sets(root)
  if nargin < 1
    root = '/var/cache/kestrel/realdata/sets';
  end
  lines = strsplit(strtrim(fileread(fullfile(root, 'index.txt'))), sprintf('\n'));
  sets = {};
  stats = zeros(0, 6);   % raw, v2 bytes, v2 enc s, v2 dec s, v1 bytes (0: refused)
  for i = 1:numel(lines)
    f = strsplit(strtrim(lines{i}));
    name = f{1};
    cls = f{3};
    dims = cellfun(@str2double, f(4:end));
    fid = fopen(fullfile(root, name, [f{2} '.raw']), 'r', 'ieee-le');
    x = reshape(fread(fid, Inf, ['*' cls]), dims);
    fclose(fid);
    k = find(strcmp(sets, name));
    if isempty(k)
      sets{end + 1} = name;
      k = numel(sets);
      stats(k, :) = 0;
    end
    t = cputime; b = kestrel_compress(x, 'Threads', 1); te = cputime - t;
    t = cputime; y = kestrel_decompress(b, 'Threads', 1); td = cputime - t;
    if ~isequal(x, y)
      error('%s %s: round trip differs', name, f{2});
    end
    try
      v1 = numel(kestrel_compress(x, 'Version', 1));
    catch
      v1 = NaN;
    end
    raw = numel(typecast(x(:)', 'uint8'));
    stats(k, :) = stats(k, :) + [raw, numel(b), te, td, v1, 1];
  end
  fprintf('%-10s %8s %7s %7s %8s %8s %6s\n', 'set', 'MB', 'v2', 'v1', 'enc MB/s', 'dec MB/s', 'files');
  for k = 1:numel(sets)
    s = stats(k, :);
    fprintf('%-10s %8.2f %7.3f %7.3f %8.1f %8.1f %6d\n', sets{k}, s(1) / 1e6, s(1) / s(2), s(1) / s(5), ...
            s(1) / 1e6 / s(3), s(1) / 1e6 / s(4), s(6));
  end
end
