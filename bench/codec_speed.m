% SPDX-License-Identifier: BSD-3-Clause
% Speed of the version-2 codec, side by side in one run: MB/s of raw data
% both ways, CPU time per thread with 1 thread and wall time with 1 and 2
% threads (medians of 5), on real data tiled to 16 blocks or more (an 8-bit
% photo, 16-bit stereo music from the real data sets), and the time of a
% call on 100 elements. Run from the build folder:
%   octave-cli --no-history --eval "addpath('.'); addpath('../bench'); codec_speed"
function codec_speed(root)
  if nargin < 1
    root = '/var/cache/kestrel/realdata/sets';
  end
  photo = load_raw(fullfile(root, 'gray8', 'camera.raw'), 'uint8', [512 512]);
  photo = repmat(photo, 8, 8);
  lines = strsplit(strtrim(fileread(fullfile(root, 'index.txt'))), sprintf('\n'));
  music = zeros(0, 2, 'int16');
  for i = 1:numel(lines)
    f = strsplit(strtrim(lines{i}));
    if strcmp(f{1}, 'music2')
      music = [music; load_raw(fullfile(root, 'music2', [f{2} '.raw']), 'int16', cellfun(@str2double, f(4:5)))];
    end
  end
  music = repmat(music, ceil(2^24 / numel(music)), 1);
  fprintf('%-22s %9s %9s %9s %9s %9s %9s %7s\n', 'data', 'enc cpu', 'dec cpu', 'enc 1t', 'enc 2t', 'dec 1t', 'dec 2t', 'ratio');
  report('uint8 photo 4096^2', photo);
  report(sprintf('int16 music %dx2', size(music, 1)), music);
  x = uint8(1:100);
  b = kestrel_compress(x);
  t = zeros(1, 5);
  for r = 1:5
    tic; for k = 1:1000, kestrel('compress', x); end, t(r) = toc / 1000;
  end
  fprintf('100-element call: compress %.3f ms, ', median(t) * 1e3);
  for r = 1:5
    tic; for k = 1:1000, kestrel('decompress', b); end, t(r) = toc / 1000;
  end
  fprintf('decompress %.3f ms\n', median(t) * 1e3);
end

function x = load_raw(name, cls, dims)
  fid = fopen(name, 'r', 'ieee-le');
  x = reshape(fread(fid, Inf, ['*' cls]), dims);
  fclose(fid);
end

function report(name, x)
  mb = numel(typecast(x(:)', 'uint8')) / 1e6;
  [ec, ew1, b] = timed(@() kestrel('compress:threads=1', x));
  [~, ew2] = timed(@() kestrel('compress:threads=2', x));
  [dc, dw1] = timed(@() kestrel('decompress:threads=1', b));
  [~, dw2] = timed(@() kestrel('decompress:threads=2', b));
  fprintf('%-22s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %7.3f\n', name, mb / ec, mb / dc, mb / ew1, mb / ew2, ...
          mb / dw1, mb / dw2, mb / numel(b) * 1e6);
end

% Medians of 5 runs: CPU seconds, wall seconds, and the result.
function [cpu, wall, out] = timed(f)
  c = zeros(1, 5);
  w = zeros(1, 5);
  for r = 1:5
    t0 = cputime; tic; out = f(); w(r) = toc; c(r) = cputime - t0;
  end
  cpu = median(c);
  wall = median(w);
end
