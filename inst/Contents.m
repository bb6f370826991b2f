% kestrel: fast, exact adaptive arithmetic coding of integer symbol sequences
% Version 2.0.0 09-Dec-2026
%
% Coding in one call
%   kestrel_compress   - An integer-valued array to a self-describing uint8 row.
%   kestrel_decompress - That row back to the array, with its class and shape.
%
% Coding by handle
%   kestrel            - Encoders and decoders held open under integer handles,
%                        over files or memory: kestrel(command, ...).
%
% The version above is the package's (see NEWS). kestrel('version') answers
% '1.4.1 2008-05-16 (yyyy-mm-dd)', the version of the command set that the
% module keeps, whatever the package's version.

% SPDX-License-Identifier: BSD-3-Clause
