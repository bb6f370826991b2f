function kestrel_load(total, chunk)
%KESTREL_LOAD  Push 10^8 symbols through one encoder and back.
%   kestrel_load encodes 10^8 symbols (alphabet 256, a skewed source) in
%   chunks of 10^7 into one memory encoder and one file encoder at once,
%   decodes both back in chunks, checks every symbol, and prints the times,
%   rates, sizes and the session's peak memory. kestrel_load(TOTAL, CHUNK)
%   sets the counts.

% SPDX-License-Identifier: BSD-3-Clause

  if nargin < 1, total = 1e8; end
  if nargin < 2, chunk = 1e7; end
  nsym = 256;
  file = [tempname() '.kst'];
  rss_start = status_kib('VmRSS:');

  tic;
  memory_encoder = kestrel('new_encoder', '', nsym);
  file_encoder = kestrel('new_encoder', file, nsym);
  for first = 0:chunk:total - 1
    x = make_chunk(first, chunk);
    kestrel('encode', memory_encoder, x);
    kestrel('encode', file_encoder, x);
  end
  bits = kestrel('bits', memory_encoder);
  bytes = kestrel('done', memory_encoder);
  kestrel('done', file_encoder);
  encode_time = toc;

  tic;
  memory_decoder = kestrel('new_decoder', '', nsym, bytes);
  file_decoder = kestrel('new_decoder', file, nsym);
  for first = 0:chunk:total - 1
    x = double(make_chunk(first, chunk));
    if ~isequal(kestrel('decode', memory_decoder, chunk), x) || ~isequal(kestrel('decode', file_decoder, chunk), x)
      error('kestrel_load: symbols %d.. did not come back', first);
    end
  end
  kestrel('done', memory_decoder);
  kestrel('done', file_decoder);
  decode_time = toc;
  info = dir(file);
  delete(file);

  printf('%d symbols (alphabet %d) through a memory and a file encoder at once, and back\n', total, nsym);
  printf('  output        %d bytes in memory, %d in the file (%.3f bits per symbol; %d bits counted)\n', ...
         numel(bytes), info.bytes, 8 * numel(bytes) / total, bits);
  printf('  encode        %.1f s for both: %.1f ns per symbol per encoder\n', encode_time, 1e9 * encode_time / total / 2);
  printf('  decode        %.1f s for both: %.1f ns per symbol per decoder (with the comparison)\n', ...
         decode_time, 1e9 * decode_time / total / 2);
  printf('  session peak  %d MiB resident (%d MiB at the start)\n', round(status_kib('VmHWM:') / 1024), ...
         round(rss_start / 1024));
end

% Symbols first .. first+count-1 of a skewed source: a slow drift plus
% geometric noise, the same for every run.
function x = make_chunk(first, count)
  i = first + (0:count - 1);
  noise = mod(floor(i * 2654435761 / 4096), 4096);       % a cheap deterministic scramble
  x = uint8(mod(floor(i / 1000) + floor(-log((noise + 1) / 4097) * 6), 256));
end

function kib = status_kib(field)
  text = fileread('/proc/self/status');
  kib = sscanf(text(strfind(text, field) + numel(field):end), '%d', 1);
end
