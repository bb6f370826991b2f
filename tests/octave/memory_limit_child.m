function memory_limit_child()
  % Run by test_memory_limits.m in an octave-cli started under an
  % address-space limit (ulimit -v). A ballast array leaves a chosen room
  % free below the limit; each case shows what a call that runs out of memory
  % keeps.
  % SPDX-License-Identifier: BSD-3-Clause
  kestrel('cleanup');
  x = uint8(mod((0:2^20-1) * 37, 256));  % codes to about one byte a symbol
  xx = [x x];

  % done at a doubling boundary: the encoder's 64 MiB buffer is full and
  % finishing needs a few bytes more.
  [h, chunks, extra] = fill_to_boundary(x, xx, 2^26);
  ballast = hold_room(2^25);  % no room for the 64 MiB row
  expect_error(@() kestrel('done:uint8', h), 'out of memory', 'done:uint8 without room for its row', ...
               'kestrel:outOfMemory');
  expect_equal(kestrel('bits', h) >= 8 * 2^26, true, 'the encoder stays open, its bits kept');
  clear ballast;
  ballast = hold_room(2^26 + 2^24);  % room for the row, not for a doubled buffer
  bytes = kestrel('done:uint8', h);
  clear ballast;
  expect_equal(numel(bytes) > 2^26, true, 'done:uint8 at the boundary');
  expect_decodes(bytes, x, chunks, xx(1:extra), 'done:uint8 at the boundary');
  clear bytes;

  % Encoders whose buffer could not grow: done frees one with no memory to
  % spare (its double row would be 128 MiB), and cleanup closes the other.
  ballast = hold_room(2^24);  % 16 MiB: a buffer grows to 16 MiB and no further
  broken = [break_encoder(x), break_encoder(x)];
  expect_error(@() kestrel('done', broken(1)), 'buffer allocation failure', 'done on a broken encoder', ...
               'kestrel:bufferAllocation');
  expect_error(@() kestrel('bits', broken(1)), 'invalid handler', 'freed by done', 'kestrel:invalidHandle');
  kestrel('cleanup');
  expect_error(@() kestrel('bits', broken(2)), 'invalid handler', 'freed by cleanup', 'kestrel:invalidHandle');
  clear ballast;
  expect_equal(kestrel('new_encoder', '', 2), 0, 'every handle free');
  kestrel('cleanup');
end

function free = free_bytes()
  % Bytes of address space left below the limit.
  limits = fileread('/proc/self/limits');
  limit = str2double(regexp(limits, 'Max address space\s+(\d+)', 'tokens', 'once'));
  status = fileread('/proc/self/status');
  used = 1024 * str2double(regexp(status, 'VmSize:\s+(\d+)', 'tokens', 'once'));
  free = limit - used;
end

function ballast = hold_room(room)
  % A ballast that leaves room bytes free; clear the last one first.
  ballast = zeros(1, free_bytes() - room, 'uint8');
  if abs(free_bytes() - room) > 2^20, error('the ballast left %d bytes free, not %d', free_bytes(), room); end
end

function [h, chunks, extra] = fill_to_boundary(x, xx, target)
  % A memory encoder whose whole bytes reach target, the size its buffer has
  % grown to: finishing it needs target + 1 bytes or more. Its symbols are
  % chunks copies of x, then xx(1:extra).
  h = kestrel('new_encoder', '', 256);
  chunks = 0;
  while kestrel('bits', h) / 8 + 2 * numel(x) < target
    kestrel('encode', h, x);
    chunks = chunks + 1;
  end
  extra = 0;
  while kestrel('bits', h) / 8 + 2048 < target
    kestrel('encode', h, xx(extra + (1:1024)));
    extra = extra + 1024;
  end
  while kestrel('bits', h) / 8 < target
    extra = extra + 1;
    kestrel('encode', h, xx(extra));
  end
end

function h = break_encoder(x)
  % A memory encoder that lost bytes when its buffer could not grow.
  h = kestrel('new_encoder', '', 256);
  for i = 1:64
    try
      kestrel('encode', h, x);
    catch err
      if ~strcmp(err.identifier, 'kestrel:bufferAllocation'), rethrow(err); end
      return;
    end
  end
  error('the encoder never ran out of memory');
end

function expect_decodes(bytes, x, chunks, rest, label)
  d = kestrel('new_decoder', '', 256, bytes);
  for i = 1:chunks
    if ~isequal(kestrel('decode:uint8', d, numel(x)), x), error('%s: chunk %d differs', label, i); end
  end
  expect_equal(kestrel('decode:uint8', d, numel(rest)), rest, [label ': the last symbols']);
  kestrel('done', d);
end
