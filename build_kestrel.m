function module = build_kestrel(outdir)
%BUILD_KESTREL  Build the kestrel module with the host's own mex command.
%   build_kestrel builds kestrel into the folder 'build' beside this file;
%   build_kestrel(OUTDIR) builds it into OUTDIR. MODULE = build_kestrel(...)
%   also returns the full name of the module file. Runs in MATLAB and in
%   GNU Octave, and puts the help text kestrel.m and the M functions of
%   inst/ (with their private/ folder) beside the module. It ends by
%   printing the addpath line that makes kestrel(...) callable; see
%   help kestrel.
%
%   Octave needs its development files (mkoctfile; on Debian the package
%   octave-dev) and a C++17 compiler; MATLAB needs a C++ compiler set up for
%   mex (mex -setup C++). Without them build_kestrel stops before it
%   creates any folder, naming what is missing.
%
%   The sources and compile flags come from src/module.mk, the list every
%   build route shares. Octave's CXXFLAGS is set for the build and restored
%   afterwards, also when the build fails.

% SPDX-License-Identifier: BSD-3-Clause

  root = fileparts(mfilename('fullpath'));
  if nargin < 1
    outdir = fullfile(root, 'build');
  end
  src = fullfile(root, 'src');
  list = fullfile(src, 'module.mk');
  if ~exist(list, 'file')
    error('build_kestrel:noSources', 'build_kestrel: %s not found; run build_kestrel from the kestrel sources', list);
  end
  text = fileread(list);
  files = [module_variable(text, 'KESTREL_CORE_SOURCES'), module_variable(text, 'KESTREL_HOST_SOURCES')];
  flags = module_variable(text, 'KESTREL_CXXFLAGS');
  flags = sprintf(' %s', flags{:});
  sources = cell(size(files));
  for i = 1:numel(files)
    sources{i} = fullfile(src, files{i});
  end

  on_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  if on_octave
    check_octave_tools();
  else
    compiler = check_matlab_compiler();
  end

  if ~exist(outdir, 'dir')
    mkdir(outdir);
  end
  module = fullfile(outdir, ['kestrel.' mexext()]);
  if on_octave
    % mkoctfile takes the module's flags from CXXFLAGS, in place of its
    % defaults; the caller's value comes back however this function ends.
    saved = getenv('CXXFLAGS');
    restore = onCleanup(@() restore_environment('CXXFLAGS', saved));
    setenv('CXXFLAGS', flags(2:end));
    status = mex(['-I' src], '-o', module, sources{:});
    if status ~= 0
      error('build_kestrel:mexFailed', 'build_kestrel: mkoctfile failed with status %d', status);
    end
    clear restore;
  else
    % MATLAB's mex takes variables in its own syntax and raises an error
    % itself when the build fails; it exports mexFunction on every system.
    mex(['-I' src], matlab_flags(compiler, flags), '-outdir', outdir, '-output', 'kestrel', sources{:});
  end

  copy_beside(fullfile(src, 'gateway', 'kestrel.m'), outdir);
  copy_all_beside(fullfile(root, 'inst'), outdir);
  copy_all_beside(fullfile(root, 'inst', 'private'), fullfile(outdir, 'private'));
  fprintf('kestrel built: %s\n', module);
  fprintf('To use it, run:  addpath(''%s'')\n', outdir);
  if nargout == 0
    clear module;
  end
end

function words = module_variable(text, name)
% The words of the variable NAME of module.mk (NAME = words, lines continued
% by a trailing backslash), as a 1-by-N cell of char rows.
  text = strrep(text, char(13), '');
  text = regexprep(text, '\\\n', ' ');
  value = regexp(text, ['^' name '[ \t]*=([^\n]*)'], 'tokens', 'once', 'lineanchors');
  if isempty(value)
    error('build_kestrel:noSources', 'build_kestrel: module.mk defines no %s', name);
  end
  words = regexp(value{1}, '\S+', 'match');
end

function check_octave_tools()
% Stops with the name of what is missing: Octave's mkoctfile, or the C++
% compiler it calls.
  try
    compiler = strtrim(mkoctfile('-p', 'CXX'));
  catch
    error('build_kestrel:noMkoctfile', ['build_kestrel: Octave''s mkoctfile was not found; install Octave''s ' ...
          'development files (on Debian and Ubuntu: apt-get install octave-dev)']);
  end
  [status, output] = system([compiler ' --version 2>&1']);
  if status ~= 0
    error('build_kestrel:noCompiler', ['build_kestrel: the C++ compiler ''%s'' that mkoctfile calls was not ' ...
          'found; install one (on Debian and Ubuntu: apt-get install g++) or set CXX'], compiler);
  end
end

function compiler = check_matlab_compiler()
% The C++ compiler that MATLAB's mex is set up to use; stops when none is.
  compiler = mex.getCompilerConfigurations('C++', 'Selected');
  if isempty(compiler)
    error('build_kestrel:noCompiler', ['build_kestrel: MATLAB has no C++ compiler set up for mex; ' ...
          'install a supported compiler and run: mex -setup C++']);
  end
end

function option = matlab_flags(compiler, flags)
% The module's flags as one mex variable assignment. Microsoft's compiler
% takes the language standard in its own form and hides everything but
% mexFunction by default; GCC and Clang take the flags as they are.
  if strncmpi(compiler(1).Manufacturer, 'Microsoft', 9)
    flags = strrep(flags, '-std=', '/std:');
    flags = strrep(flags, ' -fvisibility=hidden', '');
    option = ['COMPFLAGS=$COMPFLAGS' flags];
  else
    option = ['CXXFLAGS=$CXXFLAGS' flags];
  end
end

function restore_environment(name, value)
% Gives NAME back its VALUE; an empty value was unset (Octave's getenv tells
% the two apart no more than mkoctfile does).
  if isempty(value)
    unsetenv(name);
  else
    setenv(name, value);
  end
end

function copy_all_beside(folder, outdir)
% Copies every M file of FOLDER into OUTDIR, made if missing.
  shipped = dir(fullfile(folder, '*.m'));
  if ~isempty(shipped) && ~exist(outdir, 'dir')
    mkdir(outdir);
  end
  for i = 1:numel(shipped)
    copy_beside(fullfile(folder, shipped(i).name), outdir);
  end
end

function copy_beside(file, outdir)
% Copies FILE into OUTDIR unless it is there already.
  [folder, name, ext] = fileparts(file);
  if exist(file, 'file') && ~strcmp(folder, outdir)
    copyfile(file, fullfile(outdir, [name ext]));
  end
end
