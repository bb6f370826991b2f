% SPDX-License-Identifier: BSD-3-Clause
% build_kestrel leaves the session as it found it: built twice in one
% session, the module works and a plain C++ MEX of the user's own still
% builds and loads afterwards; a build that fails gives CXXFLAGS back, and
% a missing tool stops it before it creates any folder.
here = getenv('KESTREL_OCTAVE_TESTS');
addpath(fileparts(fileparts(here)));
unsetenv('CXXFLAGS');

out = fullfile(pwd, 'module');
for pass = 1:2
  text = evalc('module = build_kestrel(out);');
  expect_equal(module, fullfile(out, 'kestrel.mex'), sprintf('module of build %d', pass));
  if isempty(strfind(text, sprintf('addpath(''%s'')', out)))
    error('build %d did not print the addpath line:\n%s', pass, text);
  end
  expect_equal(getenv('CXXFLAGS'), '', sprintf('CXXFLAGS after build %d', pass));
end
expect_equal(exist(fullfile(out, 'kestrel.m'), 'file'), 2, 'help text beside the module');
addpath(out);
clear kestrel;
expect_equal(which('kestrel'), module, 'the module called');
expect_equal(kestrel('encode', kestrel('new_encoder', '', 4), 0:3), 0, 'encode with the new module');
expect_equal(kestrel('done', 0), [-37 3], 'bytes from the new module');
expect_equal(which('kestrel_compress'), fullfile(out, 'kestrel_compress.m'), 'the one-call pair beside it');
expect_equal(kestrel_decompress(kestrel_compress(uint8(250:255))), uint8(250:255), 'round trip beside the module');

copyfile(fullfile(here, 'user_mex.cpp'), pwd);
mex('user_mex.cpp');
expect_equal(user_mex(), 7, 'a plain C++ MEX built after build_kestrel');

% A build that fails gives the caller's CXXFLAGS back: here a compiler that
% answers --version and refuses every source.
setenv('CXXFLAGS', '-O1');
fid = fopen('refusing_cxx', 'w');
fprintf(fid, '#!/bin/sh\n[ "$1" = --version ] && exit 0\necho refusing_cxx: refused >&2\nexit 1\n');
fclose(fid);
system('chmod +x refusing_cxx');
setenv('CXX', fullfile(pwd, 'refusing_cxx'));
try
  evalc('build_kestrel(out);');
  error('a build with a refusing compiler succeeded');
catch err
  expect_equal(err.identifier, 'build_kestrel:mexFailed', 'failed build');
end
expect_equal(getenv('CXXFLAGS'), '-O1', 'CXXFLAGS after a failed build');

% A missing compiler or mkoctfile is named, and no folder is created.
setenv('CXX', 'kestrel-no-such-compiler');
never = fullfile(pwd, 'never');
try
  build_kestrel(never);
  error('a build without a compiler succeeded');
catch err
  expect_equal(err.identifier, 'build_kestrel:noCompiler', 'missing compiler');
  if isempty(strfind(err.message, '''kestrel-no-such-compiler''')), error('compiler not named: %s', err.message); end
end
unsetenv('CXX');
stub = fullfile(pwd, 'stub');
mkdir(stub);
fid = fopen(fullfile(stub, 'mkoctfile.m'), 'w');
fprintf(fid, 'function varargout = mkoctfile(varargin)\n  error(''mkoctfile: the Octave mkoctfile command was not found'');\nend\n');
fclose(fid);
warning('off', 'Octave:shadowed-function');
addpath(stub);
try
  build_kestrel(never);
  error('a build without mkoctfile succeeded');
catch err
  expect_equal(err.identifier, 'build_kestrel:noMkoctfile', 'missing mkoctfile');
end
rmpath(stub);
expect_equal(exist(never, 'dir'), 0, 'folder created without tools');
expect_equal(getenv('CXXFLAGS'), '-O1', 'CXXFLAGS after the missing tools');
