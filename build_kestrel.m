function build_kestrel(outdir)
%BUILD_KESTREL  Build the kestrel module with the host's own mex command.
%   build_kestrel builds kestrel into the folder 'build' beside this file;
%   build_kestrel(OUTDIR) builds it into OUTDIR. Runs in MATLAB and in GNU
%   Octave, and copies the help text kestrel.m beside the module. Then
%   addpath(OUTDIR) makes kestrel(...) callable; see help kestrel.

% SPDX-License-Identifier: BSD-3-Clause

  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outdir = fullfile(root, 'build');
  end
  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end

  src = fullfile(root, 'src');
  files = {'gateway/failure.cpp', 'gateway/heap.cpp', 'gateway/messages.cpp', 'gateway/gateway.cpp', ...
           'gateway/commands.cpp', 'gateway/numbers.cpp', 'gateway/host_mex.cpp', ...
           'registry/slots.cpp', 'stream/buffer.cpp', 'stream/stream.cpp', ...
           'coder/bits.cpp', 'coder/model.cpp', 'coder/encoder.cpp', ...
           'coder/decoder.cpp'};
  sources = cellfun(@(f) fullfile(src, f), files, 'UniformOutput', false);

  if exist('OCTAVE_VERSION', 'builtin')
    % Octave's mex returns the status of mkoctfile; a failed build must stop here.
    setenv('CXXFLAGS', '-O2 -std=c++17 -fvisibility=hidden');
    status = mex(['-I' src], '-o', fullfile(outdir, 'kestrel.mex'), sources{:});
    if status ~= 0
      error('build_kestrel: mex failed with status %d', status);
    end
  else
    % MATLAB's mex raises an error itself when the build fails.
    mex(['-I' src], 'CXXFLAGS=$CXXFLAGS -std=c++17', '-outdir', outdir, ...
        '-output', 'kestrel', sources{:});
  end
  help_file = fullfile(outdir, 'kestrel.m');
  if ~strcmp(fullfile(src, 'gateway', 'kestrel.m'), help_file)
    copyfile(fullfile(src, 'gateway', 'kestrel.m'), help_file);
  end
  fprintf('kestrel built in %s\n', outdir);
end
