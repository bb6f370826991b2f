function sum32 = adler32(bytes)
%ADLER32  Adler-32 checksum of a row of bytes (the container's header check).
%   SUM32 = ADLER32(BYTES) for BYTES of any numeric class holding values
%   0..255 gives the checksum as a double. The sums are exact in doubles
%   for rows shorter than about 10^5 bytes, far more than a header holds.

% SPDX-License-Identifier: BSD-3-Clause

  d = double(bytes);
  n = numel(d);
  a = mod(1 + sum(d), 65521);
  b = mod(n + sum((n:-1:1) .* d), 65521);
  sum32 = b * 65536 + a;
end
