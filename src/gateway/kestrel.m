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
%     S = kestrel('decode', H)
%     S = kestrel('decode', H, COUNT)
%         Returns the next COUNT symbols (default 1) as a 1-by-COUNT double
%         row. COUNT 0 gives a 1-by-0 row.
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
%         If the result cannot be created (out of memory), the error is
%         reported and the memory encoder stays open and unchanged: free
%         memory and call done again, or use done:uint8.
%     B = kestrel('done:uint8', H)
%         As done, but a memory encoder's bytes come back as a 1-by-N uint8
%         row holding 0..255: an eighth of the memory of doubles.
%     R = kestrel('done', -42)
%         Closes every coder (memory encoders' bytes are discarded); returns 0.
%     kestrel('cleanup')
%         Closes every coder, like done -42, and returns no value at all.
%     V = kestrel('version')          returns '1.4.1 2008-05-16 (yyyy-mm-dd)'.
%     N = kestrel('max_alphabet_size') returns 8191.
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
%   Errors (the message, and when it is raised)
%     pochi parametri         no arguments; no handle; no FILE or NSYM
%     parametro non stringa   COMMAND or FILE is not text
%     Unrecognized command    unknown command name (names are case-sensitive)
%     Atteso int              a handle, NSYM or COUNT that is not numeric
%     invalid handler         a handle that is not open (-42 only for done)
%     Pochi parametri         encode without SYMBOLS; memory new_decoder
%                             without BYTES
%     Cannot use action 'n_bits' with decoders
%     Called ENCODE with a decoder handler
%     Called DECODE with an encoder handler
%     invalid count           a negative (or empty) COUNT
%     Expected a full real numeric array
%                             SYMBOLS or BYTES is a cell, struct, function
%                             handle, sparse or complex array
%     File name too long      FILE longer than 510 characters
%     symbol out of range     a symbol outside 0..NSYM-1
%     The class asked of decode cannot hold every symbol of the alphabet
%                             decode:CLASS with an alphabet CLASS cannot
%                             hold (identifier kestrel:classTooNarrow); the
%                             decoder is unchanged
%     Could not open file     FILE cannot be opened (missing, a directory,
%                             no permission)
%     Could not write file    the file encoder's output did not all reach
%                             the disk (disk full, size limit); raised by
%                             done, at the latest. Bytes already written stay.
%     Unseekable stream       s=N beyond the end of the input file
%     arithmetic decoder bad input file
%                             a file decoder read too far past the file's
%                             end; every later decode on it fails the same
%                             way (close it with done)
%     arithmetic coder model max frequency exceeded
%                             NSYM of 16383 or more
%     arithmetic coder model allocation failure
%                             a negative (or empty) NSYM, or out of memory
%     buffer allocation failure, stream allocation failure
%                             out of memory. A memory encoder that could not
%                             grow has lost bytes: every later encode and its
%                             done fail the same way, and done frees it.
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
%   See also kestrel_compress, kestrel_decompress, build_kestrel.

% SPDX-License-Identifier: BSD-3-Clause

% This file holds the help text only; the function is the compiled module
% kestrel.mex beside it.
error('kestrel: the compiled module was not found; run build_kestrel first');
