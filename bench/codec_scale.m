% SPDX-License-Identifier: BSD-3-Clause
% Whether the version-2 codec's time grows linearly with the array: CPU
% nanoseconds per element both ways, 1 thread, from 10^3 elements to
% 10^LARGEST (default 9), on a real 8-bit photo and real 16-bit speech from
% the real data sets, tiled to each length (the photo by whole columns); each time is the median of 3
% runs of at least 0.2 s (one run from 10^8 on), and its quotient by the time at 10^6 shows any
% cliff. Run from the build folder:
%   octave-cli --no-history --eval "addpath('.'); addpath('../bench'); codec_scale"
function codec_scale(largest, root)
  if nargin < 1
    largest = 9;
  end
  if nargin < 2
    root = '/var/cache/kestrel/realdata/sets';
  end
  photo = reshape(load_raw(fullfile(root, 'gray8', 'camera.raw'), 'uint8'), 512, 512);
  speech = load_raw(fullfile(root, 'speech', 'alsa_front_center.raw'), 'int16');
  fprintf('%-12s %12s %9s %9s %9s %9s %7s\n', 'data', 'elements', 'enc ns', 'dec ns', 'enc/1e6', 'dec/1e6', 'ratio');
  report('uint8 photo', photo, largest);
  report('int16 speech', speech, largest);
end

function x = load_raw(name, cls)
  fid = fopen(name, 'r', 'ieee-le');
  x = fread(fid, Inf, ['*' cls]);
  fclose(fid);
end

% v tiled to about 10^3 .. 10^largest elements: whole columns of v when it
% has more than one (a photo stays a photo), else its first elements.
function report(name, v, largest)
  sizes = 10 .^ (3:largest);
  rows = size(v, 1);
  if size(v, 2) > 1
    sizes = rows * round(sizes / rows);
  end
  ns = zeros(numel(sizes), 2);
  ratio = zeros(numel(sizes), 1);
  for i = 1:numel(sizes)
    n = sizes(i);
    x = repmat(v, 1, ceil(n / numel(v)));
    if size(v, 2) > 1
      x = x(:, 1:n / rows);
    else
      x = x(1:n)';
    end
    [ns(i, 1), b] = per_element(@() kestrel('compress:threads=1', x), n);
    [ns(i, 2), y] = per_element(@() kestrel('decompress:threads=1', b), n);
    if ~isequal(x, y)
      error('codec_scale: %s of %d elements did not come back', name, n);
    end
    ratio(i) = n * numel(typecast(v(1), 'uint8')) / numel(b);
    clear x y b;
  end
  [~, at] = min(abs(sizes - 1e6));
  for i = 1:numel(sizes)
    fprintf('%-12s %12d %9.2f %9.2f %9.2f %9.2f %7.3f\n', name, sizes(i), ns(i, 1), ns(i, 2), ...
            ns(i, 1) / ns(at, 1), ns(i, 2) / ns(at, 2), ratio(i));
  end
end

% Median CPU nanoseconds per element of f over 3 runs (1 from 10^8
% elements on), each repeating f until it has taken 0.2 s; and f's result.
function [ns, out] = per_element(f, n)
  runs = 3 - 2 * (n >= 1e8);
  t = zeros(1, runs);
  for r = 1:runs
    k = 0;
    t0 = cputime;
    while k == 0 || cputime - t0 < 0.2
      out = f();
      k = k + 1;
    end
    t(r) = (cputime - t0) / k;
  end
  ns = median(t) / n * 1e9;
end
