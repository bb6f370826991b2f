function streams = known_streams()
  % The streams whose bytes are known (tests/data/known_streams.def), as a
  % struct array: nsym, symbols (a row), bytes (a row of signed values, as
  % done returns them), bits_before (before done), bits_after_each (after
  % each symbol from the start on; empty when not given).
  % SPDX-License-Identifier: BSD-3-Clause
  text = fileread(fullfile(fileparts(mfilename('fullpath')), '..', 'data', 'known_streams.def'));
  rows = regexp(text, 'KNOWN_STREAM\((\d+), "([^"]*)", "([^"]*)", (-?\d+), (-?\d+), "([^"]*)"\)', 'tokens');
  streams = struct('nsym', {}, 'symbols', {}, 'bytes', {}, 'bits_before', {}, 'bits_after_each', {});
  for i = 1:numel(rows)
    row = rows{i};
    bytes = sscanf(row{3}, '%x')';
    streams(end + 1) = struct('nsym', str2double(row{1}), 'symbols', expand(row{2}), ...
                              'bytes', bytes - 256 * (bytes > 127), 'bits_before', str2double(row{4}), ...
                              'bits_after_each', expand(row{6}));
  end
end

function numbers = expand(text)
  % Numbers separated by blanks, "s*n" standing for n copies of s.
  numbers = zeros(1, 0);
  for item = strsplit(strtrim(text), ' ')
    if isempty(item{1}), continue; end
    parts = sscanf(item{1}, '%d*%d');
    if numel(parts) == 1, parts(2) = 1; end
    numbers = [numbers repmat(parts(1), 1, parts(2))];
  end
end
