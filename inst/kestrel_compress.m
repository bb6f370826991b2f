function bytes = kestrel_compress(x, varargin)
%KESTREL_COMPRESS  Compress an integer-valued array into a uint8 row.
%   BYTES = KESTREL_COMPRESS(X) compresses the array X (an array, not a
%   file: read a file's contents into an array first) losslessly and returns
%   a 1-by-N uint8 row. KESTREL_DECOMPRESS(BYTES) gives X back with its
%   class, size and values.
%
%   X may be a real, full numeric array of any class, a logical or a char
%   array, of any size (empty included), holding integer values in the full
%   range of its class: int8 .. uint64 from their smallest to their largest
%   value, doubles and singles holding any integers (beyond 2^53 and 2^24
%   too; a block holding one of magnitude 2^63 or more is coded as its IEEE
%   bit patterns), chars of any code. Non-integer values (fractions, NaN,
%   Inf) are refused: there is no float path for them. -0 comes back as 0,
%   except in a block coded as bit patterns.
%
%   Each block of X is predicted from its neighbours and the residuals are
%   coded with adaptive context models; blocks are coded in parallel. What
%   to expect (raw size over compressed size, measured on real photos,
%   rasters, scans and recordings; see the README): 8-bit photos about 1.8,
%   colour photos about 2.5, 8-bit medical volumes about 3.4, 16-bit rasters
%   and medical images 3 to 7, 16-bit speech and music 1.4 to 3; smooth,
%   sparse or constant arrays far more, noise nothing. No array grows by
%   more than the header (28 + 8*D bytes) and 9 bytes a block.
%
%   BYTES = KESTREL_COMPRESS(X, NAME, VALUE, ...) takes options:
%     'Predictor'  'auto' (default: per block, the one its own data favour),
%                  'none', 'previous' (the element before, along the first
%                  dimension), 'linear' (2*x(i-1) - x(i-2), for signals),
%                  'med' (the median edge predictor over the first two
%                  dimensions), 'plane' (MED, corrected by the previous
%                  plane's residual: colour, slices), 'lpc' (linear
%                  prediction along the first dimension, its coefficients
%                  fitted to every 4096 elements: audio, one channel a
%                  column), 'stereo' ('lpc' of each column's difference from
%                  the column before, past the first)
%     'Threads'    number of threads, 1..256 (default: every core); the
%                  bytes are the same for every count
%     'Progress'   true: print progress about once a second (default false)
%     'Version'    2 (default) or 1, the format of older releases (values
%                  spanning at most 16381, one adaptive model, no prediction)
%   BYTES = KESTREL_COMPRESS(X, NSYM) writes version 1 as before: the values
%   as they are, as symbols of an alphabet of NSYM (1..16382).
%
%   Example
%     img = uint8(repmat(0:255, 480, 3));
%     bytes = kestrel_compress(img);
%     isequal(kestrel_decompress(bytes), img)   % true: class and size too
%
%   Notes
%     - Every block carries a CRC-32, and the header and block table one
%       more: a changed or missing byte is refused by kestrel_decompress,
%       never decoded to other values.
%     - Blocks hold at most 2^20 elements: whole columns (whole planes
%       where a plane fits), or, for an N-by-C recording or an H-by-W-by-C
%       image of 2 to 16 channels C beyond 2^20 elements, a range of rows
%       (columns) of every channel, so that channels are predicted from
%       each other in long recordings and large colour photos too. Memory
%       grows by the threads' blocks, never by a copy of X in double; the
%       calling thread keeps one block's working memory (at most about
%       40 MB) for the next call, and clear kestrel gives it back.
%     - Ctrl-C is not noticed during a call: the host gives a compiled
%       function no way to see it, so a long call runs to its end; Octave
%       then drops the result and returns to the prompt, with nothing
%       leaked.
%
%   Errors (identifier: cause)
%     kestrel:unsupportedInput  X is missing, complex, sparse, a cell, a
%                               struct, or of a class that is not numeric,
%                               logical or char
%     kestrel:notIntegerValued  X holds a fraction, NaN or Inf
%     kestrel:spanTooWide       with 'Version', 1: max(X) - min(X) is more
%                               than 16381
%     kestrel:invalidOption     an unknown option or a bad option value
%     kestrel:invalidAlphabet   NSYM is not an integer from 1 to 16382
%     kestrel:outsideAlphabet   with NSYM, a value of X outside 0..NSYM-1
%     kestrel:noFreeHandle      (version 1) all 512 kestrel handles are open
%   and the module's own errors, such as running out of memory.
%
%   Format, version 2. Numbers are little-endian and unsigned unless said
%   otherwise; offsets count bytes from 0; D is the number of dimensions,
%   B the elements per block and M = ceil(N / B) the number of blocks.
%     offset     bytes  field
%     0          4      magic: 'KEST' (4B 45 53 54 hex)
%     4          1      format version: 2
%     5          1      class of X: 1 double, 2 single, 3 int8, 4 uint8,
%                       5 int16, 6 uint16, 7 int32, 8 uint32, 9 int64,
%                       10 uint64, 11 logical, 12 char
%     6          1      D, 2..255
%     7          1      layout of the blocks: 0 or 1 (below)
%     8          8*D    size(X), 8 bytes per dimension
%     8+8D       8      N = numel(X), the product of the size
%     16+8D      4      B, elements per block, 1..2^20
%     20+8D      4      M
%     24+8D      8*M    block table: per block its payload's length (4
%                       bytes, 1 or more) and the payload's CRC-32 (4 bytes)
%     24+8D+8M   4      CRC-32 of bytes 0 .. 23+8D+8M
%     28+8D+8M   ...    the M payloads back to back; their lengths add up to
%                       the bytes left
%   Layout 0: block b (from 0) holds elements b*B+1 .. min((b+1)*B, N) of X
%   in storage (column) order. Layout 1 (channels), only for D = 2 or 3,
%   N >= 1 and C = size(X, D) from 2 to 16, with L = 1 (D = 2) or
%   size(X, 1) (D = 3): B is a multiple of L*C, and with Lb = B / (L*C)
%   block b holds X(r, :) (D = 2) or X(:, r, :) (D = 3) for
%   r = b*Lb+1 .. min((b+1)*Lb, size(X, D-1)), in storage order, coded as
%   an array of its own (min(B, N - b*B) elements, as in layout 0).
%   kestrel_compress writes layout 1 where it applies and N > 2^20, with Lb
%   the largest multiple of 4096 up to 2^20/C (D = 2; no segment of the
%   linear predictors then spans two channels) or the largest whole number
%   up to 2^20/(L*C) (D = 3; layout 0 where L*C > 2^19: a block of one
%   column would lose the median edge predictor).
%   A block's payload starts with a method byte:
%     0  stored: the elements as they are, little-endian, 1 byte each for
%        int8, uint8 and logical, 2 for int16, uint16 and char, 4 for int32
%        and uint32, 8 for int64, uint64, double and single (the last two
%        as 64-bit integers)
%     1  coded: a predictor byte (0 none, 1 previous, 2 linear, 3 med,
%        4 plane, 5 lpc, 6 stereo; plus 128 for run mode: where every
%        neighbouring residual is 0, the number of zero residuals from there
%        on is coded at once), a shift byte s (every element was a
%        multiple of 2^s and is coded divided by 2^s), then a binary range
%        coder's bytes (5 or more; the first is 0). lpc and stereo code
%        before every 4096 elements the order (0..32, 6 bits), the shift
%        (4 bits) and the 16-bit coefficients of their prediction, as raw
%        bits. Each residual (the element minus its
%        prediction, modulo 2^width of the class) is coded in a context given
%        by the magnitudes of the residuals next to it: its class (0 for
%        zero, else 1 + the bit length of its magnitude minus 1) in unary
%        up or down from a start the context sets, the sign, the bit below
%        the leading one, then the bits below that as they are. The first
%        release of format 2 wrote this method; it still decodes.
%     2  coded as 1, but each residual r is coded in a context made of
%        L, the bit length of the sum of the magnitudes of the residuals
%        next to it: the context is L (0..32), or for med and plane L
%        below 2, else 2L - 2 + the bit below the sum's leading one
%        (0..63). With k = max(0, L - 7) and q = floor(abs(r) / 2^k), one
%        adaptive model of 16 symbols per context codes q's bucket (0..3
%        for q = 0..3, then two per bit length, told apart by the bit below
%        the leading one, up to 14 for 128..191; 15 for 192 and above,
%        followed by q - 192 as its bit length in unary and the bits below
%        its leading one), then as they are q's bits within its bucket and
%        the k low bits of abs(r); then, where r is not 0, the sign: as it
%        is for med and plane, modelled per context for the others. The
%        residuals' bits taken as they are (not those of run lengths and
%        coefficients) go to a stream of their own: bytes 3 to 6
%        of the payload (after the shift byte) give its length R, the range
%        coder's bytes follow, and the last R bytes hold those bits in the
%        order written, each value's lowest bit first, packed from the
%        lowest bit of each byte (the last byte's unused bits 0; the sign,
%        for med and plane, is the lowest bit of the value it ends).
%        kestrel_compress writes this method.
%   A container decodes only if every checksum matches and each coded
%   block's decoder ends exactly at the last byte of its range coder's
%   bytes and of its raw stream (method 2, whose unused bits must be 0).
%   The largest expansion a container can claim: 2^20 elements of 8 bytes
%   for 16 bytes of table and payload, 524288 times its own size.
%
%   Format, version 1: see KESTREL_DECOMPRESS.
%
%   See also KESTREL_DECOMPRESS, KESTREL.

% SPDX-License-Identifier: BSD-3-Clause

  if nargin < 1
    error('kestrel:unsupportedInput', 'kestrel_compress: X, the array to compress, is missing');
  end
  if nargin == 2
    bytes = compress_version1(x, varargin{1}, true);
    return;
  end
  [command, version] = compress_options(varargin);
  if version == 1
    bytes = compress_version1(x, [], false);
  else
    class_code(x);
    bytes = kestrel(command, x);
  end
end

% The kestrel command for the options, and the format version asked for.
function [command, version] = compress_options(args)
  command = 'compress';
  version = 2;
  if mod(numel(args), 2) ~= 0
    bad_option('options come in name, value pairs');
  end
  for k = 1:2:numel(args)
    name = args{k};
    value = args{k + 1};
    if ~ischar(name)
      bad_option('an option name must be text');
    end
    switch lower(name)
      case 'predictor'
        names = {'auto', 'none', 'previous', 'linear', 'med', 'plane', 'lpc', 'stereo'};
        if ~ischar(value) || ~any(strcmpi(value, names))
          bad_option('''Predictor'' must be one of auto, none, previous, linear, med, plane, lpc, stereo');
        end
        command = [command ':predictor=' lower(value)];
      case 'threads'
        if ~(isnumeric(value) && isreal(value) && isscalar(value) && value == fix(value) && value >= 1 && value <= 256)
          bad_option('''Threads'' must be an integer from 1 to 256');
        end
        command = sprintf('%s:threads=%d', command, value);
      case 'progress'
        if ~((islogical(value) || isnumeric(value)) && isscalar(value))
          bad_option('''Progress'' must be true or false');
        end
        if value
          command = [command ':progress'];
        end
      case 'version'
        if ~(isnumeric(value) && isscalar(value) && (value == 1 || value == 2))
          bad_option('''Version'' must be 1 or 2');
        end
        version = double(value);
      otherwise
        bad_option(['unknown option ''' name '''']);
    end
  end
end

function bad_option(text)
  error('kestrel:invalidOption', 'kestrel_compress: %s', text);
end

% Version 1: one adaptive model over the values minus their minimum, or,
% with NSYM given, over the values as they are.
function bytes = compress_version1(x, nsym, given)
  LARGEST_ALPHABET = 16382;   % the coder's limit: counts total at most 16383
  BLOCK = 1048576;            % 2^20 elements: a few MiB of temporaries at most
  code = class_code(x);
  n = numel(x);
  [low, high] = value_range(x);
  if given
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
          'or char array (it is a %s%s%s)'], ternary(issparse(x), 'sparse ', ''), ...
          ternary(~isreal(x), 'complex ', ''), class(x));
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
