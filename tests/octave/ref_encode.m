function [bytes, bits] = ref_encode(nsym, symbols)
  % Plain Octave model of the coder: 16-bit interval, follow bits, uniform
  % adaptive counts halved at 16383, bits packed least significant first.
  % bytes: signed values as the module hands them back; bits: bits emitted
  % before the final ones. For short streams only (it is slow).
  % SPDX-License-Identifier: BSD-3-Clause
  freq = ones(1, nsym); csym = nsym:-1:0;       % csym(i+1) holds csym[i]
  low = 0; high = 65535; follow = 0;
  out = zeros(1, 40 * numel(symbols) + 64); n = 0;
  function put(bit)
    n = n + 1; out(n) = bit;
    out(n + 1:n + follow) = 1 - bit; n = n + follow; follow = 0;
  end
  for s = double(symbols(:))'
    range = high - low + 1; total = csym(1);
    high = low + fix(range * csym(s + 1) / total) - 1;
    low = low + fix(range * csym(s + 2) / total);
    while true
      if high < 32768, put(0);
      elseif low >= 32768, put(1); low -= 32768; high -= 32768;
      elseif low >= 16384 && high < 49152, follow += 1; low -= 16384; high -= 16384;
      else, break; end
      low = 2 * low; high = 2 * high + 1;
    end
    if csym(1) == 16383
      freq = fix((freq + 1) / 2); csym = [fliplr(cumsum(fliplr(freq))) 0];
    end
    freq(s + 1) += 1; csym(1:s + 1) += 1;
  end
  bits = n;
  follow += 1; put(low >= 16384);
  out = [out(1:n) zeros(1, 8 - mod(n, 8))];
  bytes = 2 .^ (0:7) * reshape(out, 8, []);
  bytes = bytes - 256 * (bytes > 127);
end
