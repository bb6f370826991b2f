function test_unload_cycles(cycles)
% Unloading the module with file encoders open, many times in one session:
% every file must come out complete, and neither the open descriptors nor
% the memory of the session may grow with the number of cycles.
  % SPDX-License-Identifier: BSD-3-Clause
  if nargin < 1
    cycles = 1000;
  end
  kestrel('cleanup');
  dir_name = tempname();
  mkdir(dir_name);
  cleanup_dir = onCleanup(@() confirm_recursive_rmdir(false) || rmdir(dir_name, 's'));
  symbols = mod((0:299) * 37, 256);
  unload_cycle(dir_name, 0, symbols);               % the first load settles the session
  fds_before = open_descriptors();
  rss_before = resident_kib();
  for c = 1:cycles
    unload_cycle(dir_name, c, symbols);
    if c == 100
      rss_early = resident_kib();
    end
  end
  fds_after = open_descriptors();
  rss_after = resident_kib();
  for c = 0:cycles
    for k = 1:2
      d = kestrel('new_decoder', cycle_file(dir_name, c, k), 256);
      expect_equal(kestrel('decode', d, numel(symbols)), circshift(symbols, k));
      kestrel('done', d);
    end
  end
  expect_equal(fds_after, fds_before);
  % Memory may settle during the first cycles; after that it must stay flat.
  if rss_after - rss_early > 2048
    error('memory grew from %d KiB (cycle 100) to %d KiB (cycle %d); %d KiB before', ...
          rss_early, rss_after, cycles, rss_before);
  end
  printf('%d unload cycles: descriptors %d -> %d, resident %d -> %d -> %d KiB\n', cycles, ...
         fds_before, fds_after, rss_before, rss_early, rss_after);
end

% Opens two file encoders and a memory encoder, codes into them and unloads
% the module with all three still open.
function unload_cycle(dir_name, c, symbols)
  for k = 1:2
    h = kestrel('new_encoder', cycle_file(dir_name, c, k), 256);
    kestrel('encode', h, circshift(symbols, k));
  end
  m = kestrel('new_encoder', '', 256);
  kestrel('encode', m, symbols);
  clear kestrel
end

function name = cycle_file(dir_name, c, k)
  name = fullfile(dir_name, sprintf('cycle%04d_%d.kst', c, k));
end

function n = open_descriptors()
  n = numel(readdir('/proc/self/fd')) - 2;
end

function kib = resident_kib()
  text = fileread('/proc/self/status');
  kib = sscanf(text(strfind(text, 'VmRSS:') + 6:end), '%d', 1);
end
