function bytes = file_bytes(name, bytes)
  % file_bytes(name): the file's bytes as a row of signed values -128..127,
  % as done hands them back. file_bytes(name, bytes): writes such a row.
  % SPDX-License-Identifier: BSD-3-Clause
  if nargin > 1
    fid = fopen(name, 'wb'); fwrite(fid, mod(bytes, 256), 'uint8'); fclose(fid);
    return;
  end
  fid = fopen(name, 'rb');
  if fid < 0, error('cannot read %s', name); end
  bytes = fread(fid, Inf, 'int8')'; fclose(fid);
  if isempty(bytes), bytes = zeros(1, 0); end
end
