%KESTREL  Fast, exact adaptive arithmetic coding of integer symbol sequences.
%
%   RESULT = kestrel(COMMAND, ...) runs one command of the kestrel module.
%   Encoders and decoders stay open between calls under integer handles.
%
%   Simplest use, for whole arrays: BYTES = kestrel_compress(X) and
%   X = kestrel_decompress(BYTES) do it all in one call each, keeping the
%   class and shape of X (see help kestrel_compress). The commands below
%   are for streams and files.
%
%   Read this first
%     - An encoded stream has no header, length or end marker. The decoder
%       must be told how many symbols to take, and must be created with the
%       same alphabet size as the encoder.
%     - A decoder fed from memory never fails past the end of its bytes: it
%       goes on returning symbols decoded from zero bits. Keep the count.
%     - Handles are reused: creation always takes the lowest free handle, so
%       a closed handle may soon name another coder.
%     - 'done' on a memory encoder returns the bytes as doubles holding
%       SIGNED values -128..127 (uint8 or 0..255 values are accepted back).
%       uint8(bytes) destroys every negative byte: see "Storing a memory
%       encoder's bytes" below.
%     - Every coder adapts to the symbols it sees; encoder and decoder start
%       uniform and stay in step.
%
%   Commands
%     H = kestrel('new_encoder', FILE, NSYM)
%         Opens an encoder for symbols 0..NSYM-1. FILE '' collects the output
%         in memory; any other FILE is created (or truncated) and written.
%         NSYM may be 0..16382 (max_alphabet_size reports 8191). Returns the
%         handle, or -1 when all 512 handles are taken.
%         Options: 'new_encoder:a' (or ':append') appends to FILE instead of
%         truncating it. 'new_encoder:>' is refused: it returns -1 and
%         touches no file.
%     H = kestrel('new_decoder', FILE, NSYM)
%         Opens a decoder reading FILE from its start.
%         Option: 'new_decoder:s=N' starts reading at byte N of FILE (N <= 0
%         means the start; N past the end of FILE is an error).
%     H = kestrel('new_decoder', '', NSYM, BYTES)
%         Opens a decoder over a private copy of BYTES (any numeric vector;
%         each value's low 8 bits are the byte, so -56 and 200 are the same).
%     R = kestrel('encode', H, SYMBOLS)
%         Codes every element of SYMBOLS in storage (column) order. Elements
%         are truncated toward zero (2.7 codes as 2). Any numeric, logical or
%         char array is accepted. Returns 0. If an element is out of range,
%         the elements before it stay coded and the encoder stays usable.
%     R = kestrel('encode', H, SYMBOLS, CONTEXTS)
%         Codes SYMBOLS(i) with model CONTEXTS(i), 0..K-1, of a coder made
%         with models=K (see Models below). CONTEXTS has one element per
%         symbol, of any numeric class, truncated toward zero. A bad CONTEXTS
%         is refused before anything is coded.
%     S = kestrel('decode', H)
%     S = kestrel('decode', H, COUNT)
%         Returns the next COUNT symbols (default 1) as a 1-by-COUNT double
%         row. COUNT 0 gives a 1-by-0 row. Out of memory for the row, the
%         call fails before anything is decoded (see "When memory runs out").
%     S = kestrel('decode', H, COUNT, CONTEXTS)
%     S = kestrel('decode:CLASS', H, COUNT, CONTEXTS)
%         Decodes symbol i with model CONTEXTS(i), as encode coded it.
%     S = kestrel('decode:CLASS', H, COUNT)
%         The same symbols as a row of CLASS: uint8, int8, uint16, int16,
%         uint32, int32, single or double (the default). Refused, before
%         anything is decoded, when CLASS cannot hold every symbol
%         0..NSYM-1 (uint8 with NSYM above 256, int8 above 128, ...).
%         Of several class options the rightmost wins; an option naming no
%         class is ignored, as any unknown option is (decode:int64 gives
%         doubles).
%     N = kestrel('bits', H)
%         Number of bits the encoder H has emitted so far (pending bits and
%         the padding of the last byte are not counted).
%     B = kestrel('done', H)
%         Closes H. A memory encoder returns its bytes as a 1-by-N double row
%         of signed values -128..127; a file encoder completes its file and
%         returns 0; a decoder returns 0.
%         Out of memory, the call fails before anything changed and the
%         memory encoder stays open, unchanged: free memory and call done
%         again, or use done:uint8 (see "When memory runs out").
%     B = kestrel('done:uint8', H)
%         As done, but a memory encoder's bytes come back as a 1-by-N uint8
%         row holding 0..255: an eighth of the memory of doubles.
%     R = kestrel('done', -42)
%         Closes every coder; returns 0. Memory encoders are dropped
%         unfinished, their bytes discarded, without taking memory.
%     kestrel('cleanup')
%         Closes every coder, like done -42, and returns no value at all.
%     BYTES = kestrel('compress', X)
%         The work of kestrel_compress (version 2; see its help for the
%         format): X any real numeric, logical or char array of integer
%         values; returns a 1-by-N uint8 row. Options: 'compress:threads=N'
%         (1..256; default every core; the bytes do not depend on it),
%         'compress:predictor=NAME' (auto, none, previous, linear, med,
%         plane, lpc, stereo), 'compress:progress' (prints a line about once
%         a second). Blocks are coded in parallel threads, which never call
%         the host; Ctrl-C during a call takes effect once it ends (Octave
%         then drops its result and returns to the prompt).
%     X = kestrel('decompress', BYTES)
%         The work of kestrel_decompress for version 2 containers: BYTES a
%         uint8 vector; returns the array. Options: threads=N and progress,
%         as for compress. Every checksum is checked, and the size is
%         bounded by the block table, before the array is made.
%     V = kestrel('version')          returns '1.4.1 2008-05-16 (yyyy-mm-dd)'.
%     N = kestrel('max_alphabet_size') returns 8191.
%
%   Models
%     Every coder starts with one adaptive model, uniform over 0..NSYM-1,
%     that adds 1 to the count of each symbol coded and halves all counts
%     when their total reaches 16383. These options of new_encoder and
%     new_decoder change that; encoder and decoder must be made with the
%     same options and the same COUNTS. None begins with a, > or s=, so
%     none is taken for the options above.
%     'new_encoder:models=K'   K models (K >= 1), each as the one above.
%         Without CONTEXTS every symbol uses model 0.
%     'new_encoder:order=1'    NSYM models: each symbol is coded with the
%         model named by the symbol this coder coded before it, across
%         calls (model 0 for the first). Decoders do the same, so decode
%         needs no CONTEXTS; CONTEXTS given to such a coder are refused.
%     H = kestrel('new_encoder:counts', FILE, COUNTS)
%         Argument 3 is an NSYM-by-1 or NSYM-by-K matrix of counts in place
%         of NSYM: integers >= 0, each column totalling 1..16383. One
%         column is where every model starts, K columns one per model. K
%         is models=K when given, NSYM with order=1, else the columns. A
%         symbol whose count is 0 cannot be coded (symbol out of range).
%     'new_encoder:static'     the counts never change: with counts, the
%         caller's fixed tables; with models=K and CONTEXTS, one table
%         index per symbol.
%     'new_encoder:inc=N'      adds N (1 <= N, NSYM + N <= 16383) instead
%         of 1; before adding, halves every count for as long as the total
%         + N would exceed 16383. Learns faster; inc=1 is the default.
%     Options combine, as in 'new_encoder:order=1:inc=24' or
%     'new_decoder:counts:static:models=8'. K*NSYM may be at most 2^24
%     (16777216). A model costs memory only once a symbol has used it.
%
%   Unloading the module ('clear kestrel', 'clear all', leaving MATLAB or
%   Octave) closes every coder: open file encoders complete their files;
%   the output of open memory encoders is lost.
%
%   Options follow the command name behind colons ('new_decoder:s=100');
%   each is matched by its beginning, and when several share a beginning the
%   rightmost wins. At most 15 options; a command text is cut to 510
%   characters. A handle, size or count given as an array is taken by its
%   first element and truncated toward zero; an empty one is invalid.
%
%   Errors
%     Each error has a fixed message, shown as 'kestrel: MESSAGE', and an
%     identifier to catch it by (err.identifier), listed here with the
%     message and when it is raised:
%       try
%         kestrel('decode', h, n);
%       catch err
%         if ~strcmp(err.identifier, 'kestrel:badInputFile'), rethrow(err); end
%       end
%     An error of the host itself (Octave's or MATLAB's own out of memory,
%     for one) keeps the host's identifier and message; one the host gives
%     no identifier is reported as kestrel:outOfMemory, with its message.
%
%     kestrel:fewArguments     pochi parametri
%         no arguments; no handle; no FILE or NSYM
%     kestrel:notText          parametro non stringa
%         COMMAND or FILE is not text
%     kestrel:unknownCommand   Unrecognized command
%         unknown command name (names are case-sensitive)
%     kestrel:notNumeric       Atteso int
%         a handle, NSYM or COUNT that is not numeric
%     kestrel:invalidHandle    invalid handler
%         a handle that is not open (-42 only for done)
%     kestrel:missingData      Pochi parametri
%         encode without SYMBOLS; memory new_decoder without BYTES
%     kestrel:bitsOnDecoder    Cannot use action 'n_bits' with decoders
%     kestrel:encodeOnDecoder  Called ENCODE with a decoder handler
%     kestrel:decodeOnEncoder  Called DECODE with an encoder handler
%     kestrel:invalidCount     invalid count
%         a negative (or empty) COUNT
%     kestrel:notNumericArray  Expected a full real numeric array
%         SYMBOLS or BYTES is a cell, struct, function handle, sparse or
%         complex array
%     kestrel:fileNameTooLong  File name too long
%         FILE longer than 510 characters
%     kestrel:symbolOutOfRange symbol out of range
%         a symbol outside 0..NSYM-1, or one whose count is 0
%     kestrel:classTooNarrow   The class asked of decode cannot hold every
%                              symbol of the alphabet
%         decode:CLASS with an alphabet CLASS cannot hold; the decoder is
%         unchanged
%     kestrel:invalidModels    invalid models: models=K, order=1, inc=N and
%                              COUNTS do not fit together
%         K, N or order not an integer in range; order=1 with K other than
%         NSYM; COUNTS with neither 1 nor K columns, a negative, fractional
%         or NaN count, or a column totalling 0; CONTEXTS given to an
%         order=1 coder. Nothing is created or coded.
%     kestrel:tooManyModels    too many models: K times NSYM exceeds 16777216
%     kestrel:contextCount     CONTEXTS must have one element per symbol
%     kestrel:contextOutOfRange  context out of range
%         an element of CONTEXTS outside 0..K-1; nothing is coded and the
%         coder is unchanged
%     kestrel:openFile         Could not open file
%         FILE cannot be opened (missing, a directory, no permission)
%     kestrel:writeFile        Could not write file
%         the file encoder's output did not all reach the disk (disk full,
%         size limit); raised by done, at the latest. Bytes already written
%         stay.
%     kestrel:unseekable       Unseekable stream
%         s=N beyond the end of the input file
%     kestrel:badInputFile     arithmetic decoder bad input file
%         a file decoder read too far past the file's end; every later
%         decode on it fails the same way (close it with done)
%     kestrel:maxFrequency     arithmetic coder model max frequency exceeded
%         NSYM of 16383 or more; a column of COUNTS totalling above 16383
%     kestrel:modelAllocation  arithmetic coder model allocation failure
%         a negative (or empty) NSYM, or out of memory
%     kestrel:bufferAllocation buffer allocation failure
%     kestrel:streamAllocation stream allocation failure
%         out of memory. A memory encoder that could not grow has lost
%         bytes: every later encode fails the same way; done frees it
%         without a result and raises the error; cleanup and unloading close
%         it without an error and without memory.
%     Of compress and decompress (and kestrel_compress, kestrel_decompress):
%     kestrel:unsupportedInput X must be a real, full numeric, logical or
%                              char array
%     kestrel:notIntegerValued X holds values that are not integers
%                              (fractions, NaN or Inf)
%     kestrel:invalidOption    unknown option or option value
%     kestrel:notCompressed    BYTES must be a uint8 vector made by
%                              kestrel_compress
%     kestrel:truncated        BYTES are cut short: they end before the
%                              data they describe
%     kestrel:trailingBytes    BYTES go on past the end of the payload
%     kestrel:unknownVersion   the format version is unknown (this release
%                              reads versions 1 and 2)
%     kestrel:unknownClass     the class code is unknown
%     kestrel:corruptHeader    the header is corrupt
%         its CRC-32 fails, or its fields disagree
%     kestrel:corruptData      a block is corrupt: it fails its checksum or
%                              does not decode to exactly its bytes
%     kestrel:charTooWide      the characters hold codes above 255, which
%                              this host's char cannot hold
%         a container written in MATLAB with such chars, read in Octave
%     kestrel:outOfMemory      out of memory
%         memory ran out in the module's own C++ code, for a result the
%         host could not make (then with the host's message, such as
%         'failed to allocate N bytes of memory'), or for the room of the
%         host's copy of a result
%     kestrel:internal         Questo non dovrebbe accadere
%     kestrel:releaseOutOfBounds  Internal error: handler out of bounds
%     kestrel:closeOutOfBounds Internal: handler 'N' out of bounds to
%                              close_encoder
%         guards against faults of the module itself, which no call
%         should ever meet
%
%   When memory runs out
%     - done on a memory encoder fails before anything changed and the
%       encoder stays open, unchanged: after memory is freed, done returns
%       every byte. It needs room for its result (8 bytes a coded byte for
%       doubles, 1 for done:uint8; twice that for a result under 64 KiB, see
%       below) beside the encoder's own bytes; finishing takes only the few
%       bytes more that the last bits need.
%     - decode fails before anything is decoded: the decoder stays where it
%       was, and the same call returns the same symbols once memory is free.
%       decode:uint8 needs 1 byte a symbol, decode 8; decoding in chunks
%       (a few million symbols a call) needs only a chunk's room.
%     - In Octave, a result of 64 KiB or more is made by Octave itself and
%       handed over without a copy; a smaller one, which Octave copies after
%       the call, takes the room for that copy during the call. So no call
%       fails after it has changed a coder: the host's copy fits whenever
%       the call did.
%     - A memory encoder that could not grow while encoding has lost bytes
%       (kestrel:bufferAllocation): done frees it without a result and
%       raises the error; cleanup and unloading close it without an error
%       and without memory, as they drop every memory encoder unfinished.
%     - A failed call returns nothing: a result it had begun is discarded.
%
%   Storing a memory encoder's bytes
%     'done' returns doubles holding SIGNED byte values -128..127. Write them
%     as int8, and read them back the same way:
%       fid = fopen('signal.kst', 'w');
%       fwrite(fid, bytes, 'int8');
%       fclose(fid);
%       fid = fopen('signal.kst', 'r');
%       bytes = fread(fid, Inf, 'int8');           % a column: any vector does
%       fclose(fid);
%     Never uint8(bytes), nor a plain fwrite(fid, bytes): both turn every
%     negative byte into 0, and decoding that returns wrong symbols with no
%     error. uint8(mod(bytes, 256)) keeps them. Better still,
%     B = kestrel('done:uint8', H) returns the bytes as a uint8 row holding
%     0..255, in an eighth of the memory, ready for fwrite(fid, B).
%
%   Example: a memory round trip
%     x = round(100 * sin((1:1000) / 20)) + 128;   % symbols 28..228
%     h = kestrel('new_encoder', '', 256);
%     kestrel('encode', h, x);
%     bytes = kestrel('done', h);                  % signed byte values
%     d = kestrel('new_decoder', '', 256, bytes);
%     y = kestrel('decode', d, numel(x));
%     kestrel('done', d);
%     isequal(y, x)                                % true
%
%   Example: a file round trip
%     h = kestrel('new_encoder', 'signal.kst', 256);
%     kestrel('encode', h, x);
%     kestrel('done', h);                          % file complete
%     d = kestrel('new_decoder', 'signal.kst', 256);
%     y = kestrel('decode', d, numel(x));
%     kestrel('done', d);
%
%   Example: order 1 on text, learning faster
%     t = double(fileread('/usr/share/common-licenses/GPL-3'));
%     h = kestrel('new_encoder:order=1:inc=24', '', 256);
%     kestrel('encode', h, t);
%     b = kestrel('done:uint8', h);
%     d = kestrel('new_decoder:order=1:inc=24', '', 256, b);
%     isequal(kestrel('decode', d, numel(t)), t)      % true
%
%   Example: indexed static tables, one table index per symbol
%     tables = [8 1 1; 1 8 1; 1 1 8]';             % 3 symbols, 3 tables
%     h = kestrel('new_encoder:counts:static', '', tables);
%     kestrel('encode', h, [0 1 2 2], [0 1 2 2]);    % SYMBOLS, CONTEXTS
%     b = kestrel('done', h);
%     d = kestrel('new_decoder:counts:static', '', tables, b);
%     kestrel('decode', d, 4, [0 1 2 2])            % 0 1 2 2
%
%   See also kestrel_compress, kestrel_decompress, build_kestrel.

% SPDX-License-Identifier: BSD-3-Clause

% This file holds the help text, and below the smoke tests that Octave's
% test kestrel runs (it reads them from the .m file beside the module); the
% function is the compiled module kestrel.mex beside it.
error('kestrel: the compiled module was not found; run build_kestrel first');

%!test
%! % symbols 0, 1, 2, 3 with an alphabet of 4 encode to these two bytes
%! h = kestrel('new_encoder', '', 4);
%! kestrel('encode', h, 0:3);
%! assert(kestrel('done', h), [-37 3]);
%!test
%! % a memory round trip through the signed bytes that done returns
%! x = mod((0:999) * 37, 256);
%! h = kestrel('new_encoder', '', 256);
%! kestrel('encode', h, x);
%! d = kestrel('new_decoder', '', 256, kestrel('done', h));
%! assert(kestrel('decode', d, numel(x)), x);
%! kestrel('done', d);
%!error <kestrel: invalid handler> kestrel('bits', 511)
%!assert (kestrel('version'), '1.4.1 2008-05-16 (yyyy-mm-dd)')
%!test
%! % text through typed results: uint8 bytes in, uint8 symbols out
%! h = kestrel('new_encoder', '', 256);
%! kestrel('encode', h, uint8('hello, hello, hello'));
%! bytes = kestrel('done:uint8', h);
%! assert (class(bytes), 'uint8');
%! d = kestrel('new_decoder', '', 256, bytes);
%! assert (char(kestrel('decode:uint8', d, 19)), 'hello, hello, hello');
%! kestrel('done', d);
%!error id=kestrel:unknownCommand kestrel('squeeze', 1:3)
