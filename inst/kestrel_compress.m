function bytes = kestrel_compress(x, nsym)
%KESTREL_COMPRESS  Compress an integer-valued array into a uint8 row.
%   BYTES = KESTREL_COMPRESS(X) codes every element of X with kestrel's
%   adaptive arithmetic coder and returns a 1-by-N uint8 row: a small header
%   recording the class, size and value range of X, then the coded stream.
%   KESTREL_DECOMPRESS(BYTES) gives X back with its class, size and values.
%
%   X may be a real numeric array of any class, a logical or a char array,
%   of any size, empty included, holding integer values. The minimum is
%   subtracted and the values are coded as symbols 0..K-1 (K = max - min + 1,
%   at most 16382). Nothing is clipped: int8 data from -128 to 127, or int16
%   data from -8000 to 8000, come back exactly.
%
%   BYTES = KESTREL_COMPRESS(X, NSYM) codes the values as they are, as
%   symbols of an alphabet of NSYM (1..16382): every value must lie in
%   0..NSYM-1.
%
%   Example
%     img = uint8(repmat(0:255, 480, 3));
%     bytes = kestrel_compress(img);
%     isequal(kestrel_decompress(bytes), img)   % true: class and size too
%
%   Notes
%     - The header carries a checksum; the coded stream does not. A changed
%       byte in the stream decodes to other values with no error.
%     - Large arrays are coded in blocks of 2^20 elements, each by a fresh
%       coder, so that memory grows by a block at a time, never by a copy of
%       X in double. No coder stays open after a call, errors included.
%     - -0 comes back as 0 (isequal holds).
%
%   Errors (identifier: cause)
%     kestrel:unsupportedInput  X is complex, sparse, a cell, a struct, or
%                               of a class that is not numeric, logical or
%                               char
%     kestrel:notIntegerValued  X holds a fraction, NaN or Inf
%     kestrel:spanTooWide       max(X) - min(X) is more than 16381
%     kestrel:invalidAlphabet   NSYM is not an integer from 1 to 16382
%     kestrel:outsideAlphabet   with NSYM, a value of X outside 0..NSYM-1
%     kestrel:noFreeHandle      all 512 kestrel handles are open
%   and the module's own errors, such as running out of memory.
%
%   Format (version 1). Numbers are little-endian and unsigned unless said
%   otherwise; offsets count bytes from 0; D is the number of dimensions and
%   M = ceil(N / B) the number of blocks.
%     offset   bytes  field
%     0        4      magic: 'KEST' (4B 45 53 54 hex)
%     4        1      format version: 1
%     5        1      class of X: 1 double, 2 single, 3 int8, 4 uint8,
%                     5 int16, 6 uint16, 7 int32, 8 uint32, 9 int64,
%                     10 uint64, 11 logical, 12 char
%     6        1      D, 2..255
%     7        1      0 (reserved)
%     8        8*D    size(X), 8 bytes per dimension
%     8+8D     8      offset, the value of symbol 0: an IEEE 754 double for
%                     double and single X, unsigned for uint64 X, a signed
%                     (two's complement) integer for every other class
%     16+8D    4      K, the alphabet size, 1..16382 (1 for an empty X)
%     20+8D    8      N = numel(X)
%     28+8D    8      P, the payload's length in bytes
%     36+8D    4      B, elements per block (1048576)
%     40+8D    4      checksum of bytes 0 .. 39+8D: Adler-32
%     44+8D    4*M    block table: each block's coded length in bytes
%     44+8D+4M P      payload: the M coded blocks back to back
%   Block b codes elements (b-1)*B+1 .. min(b*B, N) of X in storage
%   (column) order, each as its value minus the offset, with a fresh kestrel
%   memory encoder of alphabet K: a kestrel stream, decoded by
%   kestrel('new_decoder', '', K, BLOCK) and 'decode' of its element count.
%
%   See also KESTREL_DECOMPRESS, KESTREL.

% SPDX-License-Identifier: BSD-3-Clause

  LARGEST_ALPHABET = 16382;   % the coder's limit: counts total at most 16383
  BLOCK = 1048576;            % 2^20 elements: a few MiB of temporaries at most
  code = class_code(x);
  n = numel(x);
  [low, high] = value_range(x);
  if nargin > 1
    nsym = alphabet_size(nsym, LARGEST_ALPHABET);
    if n > 0 && (low < 0 || high > nsym - 1)
      error('kestrel:outsideAlphabet', 'kestrel_compress: X holds values outside 0..%d (NSYM is %d)', ...
            nsym - 1, nsym);
    end
    offset = 0;
  elseif n == 0
    nsym = 1;
    offset = 0;
  else
    span = value_span(low, high);
    if span > LARGEST_ALPHABET - 1
      error('kestrel:spanTooWide', ['kestrel_compress: the values of X span %.17g, more than %d ' ...
            '(the largest alphabet holds %d values)'], span, LARGEST_ALPHABET - 1, LARGEST_ALPHABET);
    end
    nsym = span + 1;
    offset = low;
  end

  count = ceil(n / BLOCK);
  parts = cell(1, count);
  lengths = zeros(1, count);
  for b = 1:count
    first = (b - 1) * BLOCK + 1;
    last = min(b * BLOCK, n);
    parts{b} = encode_block(block_symbols(x(first:last), offset), nsym);
    lengths(b) = numel(parts{b});
  end

  dims = size(x);
  head = [uint8('KEST'), uint8([1, code, numel(dims), 0]), le_bytes(dims, 'uint64'), ...
          offset_bytes(offset, class(x)), le_bytes(nsym, 'uint32'), le_bytes(n, 'uint64'), ...
          le_bytes(sum(lengths), 'uint64'), le_bytes(BLOCK, 'uint32')];
  bytes = [head, le_bytes(adler32(head), 'uint32'), le_bytes(lengths, 'uint32'), parts{:}];
end

% The class code of the format; refuses what cannot be compressed.
function code = class_code(x)
  CLASSES = {'double', 'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', ...
             'int64', 'uint64', 'logical', 'char'};
  code = find(strcmp(class(x), CLASSES));
  if isempty(code) || issparse(x) || ~isreal(x)
    error('kestrel:unsupportedInput', ['kestrel_compress: X must be a real, full numeric, logical ' ...
          'or char array (it is a %s%s)'], ternary(issparse(x), 'sparse ', ''), class(x));
  end
end

function text = ternary(condition, yes, no)
  if condition
    text = yes;
  else
    text = no;
  end
end

% Smallest and largest value, in the class of X (double for char); for
% floating classes both must be finite integers.
function [low, high] = value_range(x)
  low = min(x(:));
  high = max(x(:));
  if isfloat(x) && ~isempty(x) && ~(isfinite(low) && isfinite(high) && low == fix(low) && high == fix(high))
    not_integer_valued();
  end
end

function not_integer_valued()
  error('kestrel:notIntegerValued', 'kestrel_compress: X holds values that are not integers (fractions, NaN or Inf)');
end

% high - low as a double; exact whenever it is small enough to be coded
% (64-bit integers saturate only above that).
function span = value_span(low, high)
  if isa(low, 'int64') || isa(low, 'uint64')
    span = double(high - low);
  else
    span = double(high) - double(low);
  end
end

function nsym = alphabet_size(nsym, largest)
  if ~(isnumeric(nsym) && isreal(nsym) && isscalar(nsym) && nsym == fix(nsym) && nsym >= 1 && nsym <= largest)
    error('kestrel:invalidAlphabet', 'kestrel_compress: NSYM must be an integer from 1 to %d', largest);
  end
  nsym = double(nsym);
end

% The symbols of one block: its values minus the offset, in a class wide
% enough to hold them exactly (the values are no smaller than the offset).
function s = block_symbols(s, offset)
  if isfloat(s) && any(s ~= fix(s))
    not_integer_valued();
  end
  if offset == 0
    return;
  end
  switch class(s)
    case {'int8', 'int16', 'logical', 'char'}
      s = int32(s) - int32(offset);
    case {'int32'}
      s = double(s) - double(offset);
    otherwise   % floating and unsigned classes, and int64 whose span is known to be small
      s = s - offset;
  end
end

% Codes symbols with a fresh memory encoder of nsym symbols; its bytes.
function block = encode_block(symbols, nsym)
  h = kestrel('new_encoder', '', nsym);
  if h < 0
    error('kestrel:noFreeHandle', 'kestrel_compress: all 512 kestrel handles are open');
  end
  cleanup = onCleanup(@() close_coder(h));
  kestrel('encode', h, symbols);
  block = kestrel('done:uint8', h);
end

% Closes a coder that an error left open. After a done that succeeded the
% handle is closed already: that failure is ignored and leaves the caller's
% last error as it was.
function close_coder(h)
  message = lasterr();
  try
    kestrel('done', h);
  catch
    lasterr(message);
  end
end

% The offset field for an array of class cls.
function bytes = offset_bytes(offset, cls)
  if strcmp(cls, 'double') || strcmp(cls, 'single')
    bytes = le_bytes(offset, 'double');
  elseif strcmp(cls, 'uint64')
    bytes = le_bytes(offset, 'uint64');
  else
    bytes = le_bytes(int64(offset), 'int64');
  end
end

% values as a row of little-endian bytes, each value converted to cls.
function bytes = le_bytes(values, cls)
  bytes = typecast(feval(cls, reshape(values, 1, [])), 'uint8');
  order = typecast(uint16(1), 'uint8');
  if order(1) == 0 && ~isempty(values)   % a big-endian machine
    bytes = reshape(flipud(reshape(bytes, [], numel(values))), 1, []);
  end
end

%!test
%! % An image-like uint8 array: a smaller uint8 row that gives it back.
%! img = zeros(64, 48, 'uint8');
%! img(20:40, 10:30) = 200;
%! bytes = kestrel_compress(img);
%! assert (class(bytes), 'uint8');
%! assert (size(bytes, 1), 1);
%! assert (numel(bytes) < numel(img) / 4);
%! assert (kestrel_decompress(bytes), img);
%!test
%! % Class, size and values kept: signed, char, logical, empty, N-d; a given alphabet.
%! arrays = {int16([-300 0 7; 12 300 -1]), int8(-128:127), 'kestrel', true(2, 3), zeros(3, 0, 2), ...
%!           reshape(single(1:24), 2, 3, 4)};
%! for i = 1:numel(arrays)
%!   assert (kestrel_decompress(kestrel_compress(arrays{i})), arrays{i});
%! end
%! assert (kestrel_decompress(kestrel_compress(uint8([0 1 2 1]), 3)), uint8([0 1 2 1]));
%!error id=kestrel:unsupportedInput kestrel_compress({1, 2})
%!error id=kestrel:unsupportedInput kestrel_compress([1 2] + 1i)
%!error id=kestrel:notIntegerValued kestrel_compress([1 2.5 3])
%!error id=kestrel:invalidAlphabet kestrel_compress([0 1], 0)
%!error id=kestrel:outsideAlphabet kestrel_compress([0 5], 4)
