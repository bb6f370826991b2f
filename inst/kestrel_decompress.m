function x = kestrel_decompress(bytes)
%KESTREL_DECOMPRESS  Give back an array compressed by KESTREL_COMPRESS.
%   X = KESTREL_DECOMPRESS(BYTES) returns the array that
%   KESTREL_COMPRESS(X) turned into the uint8 vector BYTES, with its class,
%   size and values.
%
%   Bad input is refused with an error, never answered with an array of
%   another class or size: bytes that are not a uint8 vector or do not
%   start with the format's magic, bytes cut short anywhere (payload
%   included), bytes past the payload, an unknown version or class, and a
%   header that fails its checksum or whose fields disagree (dimensions that
%   do not multiply to the element count, block lengths that do not add up
%   to the payload's length). The payload has no checksum: a changed byte in
%   it decodes to other values of the right class and size, with no error.
%   A header forged with a valid checksum can ask for an array larger than
%   memory; the host's own out-of-memory error then ends the call.
%
%   Errors (identifier: cause)
%     kestrel:notCompressed   BYTES is not a real uint8 vector starting
%                             with 'KEST'
%     kestrel:truncated       BYTES end before the header, the block table
%                             or the payload does
%     kestrel:trailingBytes   BYTES go on past the end of the payload
%     kestrel:unknownVersion  a format version other than 1
%     kestrel:unknownClass    a class code other than 1..12
%     kestrel:corruptHeader   the header fails its checksum, or its fields
%                             disagree
%     kestrel:noFreeHandle    all 512 kestrel handles are open
%   and the module's own errors, such as running out of memory. No coder
%   stays open after a call, errors included.
%
%   Format (version 1). Numbers are little-endian and unsigned unless said
%   otherwise; offsets count bytes from 0; D is the number of dimensions and
%   M = ceil(N / B) the number of blocks.
%     offset   bytes  field
%     0        4      magic: 'KEST' (4B 45 53 54 hex)
%     4        1      format version: 1
%     5        1      class: 1 double, 2 single, 3 int8, 4 uint8, 5 int16,
%                     6 uint16, 7 int32, 8 uint32, 9 int64, 10 uint64,
%                     11 logical, 12 char
%     6        1      D, 2..255
%     7        1      0 (reserved)
%     8        8*D    the size, 8 bytes per dimension
%     8+8D     8      offset, the value of symbol 0: an IEEE 754 double for
%                     double and single, unsigned for uint64, a signed (two's
%                     complement) integer for every other class
%     16+8D    4      K, the alphabet size, 1..16382
%     20+8D    8      N, the number of elements
%     28+8D    8      P, the payload's length in bytes
%     36+8D    4      B, elements per block, 1..2^31-1
%     40+8D    4      checksum of bytes 0 .. 39+8D: Adler-32
%     44+8D    4*M    block table: each block's coded length in bytes (1 or
%                     more; they add up to P)
%     44+8D+4M P      payload: the M coded blocks back to back
%   Block b holds elements (b-1)*B+1 .. min(b*B, N) in storage (column)
%   order, each coded as its value minus the offset by a kestrel memory
%   encoder of alphabet K.
%
%   See also KESTREL_COMPRESS, KESTREL.

% SPDX-License-Identifier: BSD-3-Clause

  header = read_header(bytes);
  [lengths, position] = read_block_table(bytes, header);
  x = empty_array(header.cls, header.dims);
  decode_class = symbol_class(header.cls, header.nsym);
  for b = 1:numel(lengths)
    first = (b - 1) * header.block + 1;
    last = min(b * header.block, header.count);
    block = bytes(position:position + lengths(b) - 1);
    symbols = decode_block(block, header.nsym, decode_class, last - first + 1);
    x(first:last) = symbol_values(symbols, header.cls, header.offset);
    position = position + lengths(b);
  end
end

function refuse(identifier, varargin)
  error(identifier, ['kestrel_decompress: ' varargin{1}], varargin{2:end});
end

% Checks the container's fixed fields and returns them; refuses bytes that
% are not a container or whose header is cut short or corrupt.
function header = read_header(bytes)
  MAGIC = double('KEST');
  if ~isa(bytes, 'uint8') || ~isreal(bytes) || ~(isempty(bytes) || isvector(bytes))
    refuse('kestrel:notCompressed', 'BYTES must be a uint8 vector made by kestrel_compress');
  end
  n = numel(bytes);
  seen = min(n, 4);
  if any(reshape(double(bytes(1:seen)), 1, []) ~= MAGIC(1:seen))
    refuse('kestrel:notCompressed', 'BYTES do not start with ''KEST'': not made by kestrel_compress');
  end
  if n < 8
    truncated();
  end
  if bytes(5) ~= 1
    refuse('kestrel:unknownVersion', 'format version %d is unknown (this release reads version 1)', bytes(5));
  end
  CLASSES = {'double', 'single', 'int8', 'uint8', 'int16', 'uint16', 'int32', 'uint32', ...
             'int64', 'uint64', 'logical', 'char'};
  if bytes(6) < 1 || bytes(6) > numel(CLASSES)
    refuse('kestrel:unknownClass', 'class code %d is unknown', bytes(6));
  end
  d = double(bytes(7));
  header.table_start = 44 + 8 * d;
  if n < header.table_start
    truncated();
  end
  head = double(reshape(bytes(1:header.table_start), 1, []));
  if adler32(head(1:40 + 8 * d)) ~= le_values(head(41 + 8 * d:44 + 8 * d), 4)
    corrupt('checksum');
  end
  if d < 2 || head(8) ~= 0
    corrupt('number of dimensions or reserved byte');
  end
  header.cls = CLASSES{head(6)};
  header.dims = le_values(head(9:8 + 8 * d), 8);
  fields = 8 + 8 * d;
  header.offset = read_offset(bytes(fields + 1:fields + 8), header.cls);
  header.nsym = le_values(head(fields + 9:fields + 12), 4);
  header.count = le_values(head(fields + 13:fields + 20), 8);
  header.payload = le_values(head(fields + 21:fields + 28), 8);
  header.block = le_values(head(fields + 29:fields + 32), 4);
  check_counts(header);
end

function truncated()
  refuse('kestrel:truncated', 'BYTES are cut short: they end before the data they describe');
end

function corrupt(what)
  refuse('kestrel:corruptHeader', 'the header is corrupt (%s)', what);
end

function check_counts(header)
  if any(isnan(header.dims)) || isnan(header.count) || isnan(header.payload)
    corrupt('a size beyond 2^53');
  end
  elements = 1;
  for k = 1:numel(header.dims)
    elements = elements * header.dims(k);
    if elements > flintmax
      corrupt('a size beyond 2^53');
    end
  end
  if elements ~= header.count
    corrupt('the dimensions do not multiply to the element count');
  end
  if header.nsym < 1 || header.nsym > 16382
    corrupt('alphabet size');
  end
  if header.block < 1 || header.block > 2147483647
    corrupt('block length');
  end
end

% The offset in a form that adds exactly to the symbols: the 64-bit integer
% classes keep their own, every other class a double. Refuses an offset that
% is no value of the class.
function offset = read_offset(raw, cls)
  raw = reshape(raw, 1, 8);
  switch cls
    case {'double', 'single'}
      offset = typecast(native_order(raw), 'double');
      valid = isfinite(offset) && offset == fix(offset) && (strcmp(cls, 'double') || double(single(offset)) == offset);
    case {'int64', 'uint64'}
      offset = typecast(native_order(raw), cls);
      valid = true;
    otherwise
      offset = double(typecast(native_order(raw), 'int64'));
      switch cls
        case 'logical'
          limits = [0 1];
        case 'char'
          limits = [0 65535];
        otherwise
          limits = double([intmin(cls) intmax(cls)]);
      end
      valid = offset >= limits(1) && offset <= limits(2);
  end
  if ~valid
    corrupt('offset');
  end
end

% The block table's lengths, checked against each other and the payload,
% and the position of the payload's first byte.
function [lengths, first] = read_block_table(bytes, header)
  blocks = ceil(header.count / header.block);
  table_end = header.table_start + 4 * blocks;
  if numel(bytes) < table_end
    truncated();
  end
  lengths = le_values(double(bytes(header.table_start + 1:table_end)), 4);
  if any(lengths == 0) || sum(lengths) ~= header.payload
    corrupt('block lengths');
  end
  if numel(bytes) < table_end + header.payload
    truncated();
  end
  if numel(bytes) > table_end + header.payload
    refuse('kestrel:trailingBytes', 'BYTES go on past the end of the payload');
  end
  first = table_end + 1;
end

function x = empty_array(cls, dims)
  switch cls
    case 'logical'
      x = false(dims);
    case 'char'
      x = repmat(char(0), dims);
    otherwise
      x = zeros(dims, cls);
  end
end

% The class decode hands symbols back in: the array's own for floating
% classes, else the narrowest unsigned class that holds 0..nsym-1.
function cls = symbol_class(array_class, nsym)
  if strcmp(array_class, 'double') || strcmp(array_class, 'single')
    cls = array_class;
  elseif nsym <= 256
    cls = 'uint8';
  else
    cls = 'uint16';
  end
end

% Decodes count symbols of an alphabet of nsym from one block's bytes.
function symbols = decode_block(block, nsym, cls, count)
  h = kestrel('new_decoder', '', nsym, block);
  if h < 0
    refuse('kestrel:noFreeHandle', 'all 512 kestrel handles are open');
  end
  cleanup = onCleanup(@() kestrel('done', h));
  symbols = kestrel(['decode:' cls], h, count);
end

% Symbols plus the offset, in the array's class. The sum is made in a class
% that holds it exactly; only a changed payload or a forged header can take
% it outside the array's class, and the conversion then saturates.
function values = symbol_values(symbols, cls, offset)
  if strcmp(class(symbols), cls)
    if offset ~= 0
      symbols = symbols + offset;
    end
    values = symbols;
    return;
  end
  switch cls
    case {'int8', 'uint8', 'int16', 'uint16', 'logical', 'char'}
      wide = int32(symbols) + int32(offset);
    case {'int32', 'uint32'}
      wide = double(symbols) + offset;
    otherwise   % int64, uint64: the offset is of that class
      wide = feval(cls, symbols) + offset;
  end
  values = feval(cls, wide);
end

% Unsigned little-endian numbers of width bytes (4 or 8) each, from a row
% of byte values, as doubles; NaN for a number of 2^53 or more, which a
% double cannot hold exactly.
function values = le_values(digits, width)
  digits = reshape(digits, width, []);
  values = (256 .^ (0:width - 1)) * digits;
  if width == 8
    values(digits(8, :) ~= 0 | digits(7, :) >= 32) = NaN;
  end
end

% Little-endian bytes in the order typecast reads on this machine.
function raw = native_order(raw)
  order = typecast(uint16(1), 'uint8');
  if order(1) == 0   % a big-endian machine
    raw = fliplr(raw);
  end
end

%!shared bytes, x
%! x = reshape(uint16(0:11) * 1000, 3, 2, 2);
%! bytes = kestrel_compress(x);
%!assert (kestrel_decompress(bytes), x)
%!assert (kestrel_decompress(bytes.'), x)
%!error id=kestrel:notCompressed kestrel_decompress(double(bytes))
%!error id=kestrel:notCompressed kestrel_decompress(uint8('PNG image data'))
%!error id=kestrel:truncated kestrel_decompress(bytes(1:end - 1))
%!error id=kestrel:trailingBytes kestrel_decompress([bytes, uint8(0)])
%!error id=kestrel:unknownVersion
%! bytes(5) = 200;
%! kestrel_decompress(bytes);
%!error id=kestrel:corruptHeader
%! bytes(9) = bitxor(bytes(9), 1);   % one bit of the size: the header's checksum fails
%! kestrel_decompress(bytes);
