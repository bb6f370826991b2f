function realdata_images(listing)
%REALDATA_IMAGES  Decodes image files into raw arrays for the real-data sets.
%   REALDATA_IMAGES(LISTING) reads LISTING, one job a line: the source file,
%   the output name OUT and a flag (1: the pixels are signed 16-bit, which
%   imread hands back as uint16). Writes OUT.raw, the pixels in MATLAB
%   storage order as little-endian numbers of the image's class, and
%   OUT.dims, the class and the size. Called by bench/realdata_convert.py.

% SPDX-License-Identifier: BSD-3-Clause

  text = fileread(listing);
  lines = strsplit(strtrim(text), sprintf('\n'));
  for k = 1:numel(lines)
    fields = strsplit(lines{k}, sprintf('\t'));
    state = warning('off', 'all');   % colour profile warnings of some PNGs
    x = imread(fields{1});
    warning(state);
    if strcmp(fields{3}, '1')
      x = reshape(typecast(x(:), 'int16'), size(x));
    end
    write_raw([fields{2} '.raw'], x);
    fid = fopen([fields{2} '.dims'], 'w');
    fprintf(fid, '%s %s\n', class(x), num2str(size(x)));
    fclose(fid);
  end
end

function write_raw(name, x)
  fid = fopen(name, 'w', 'ieee-le');
  fwrite(fid, x, class(x));
  fclose(fid);
end
