function check_package(tarball, version)
  % Installs the package file TARBALL with pkg install -local and checks what
  % its user sees, step by step: it loads; pkg, ver and the module tell their
  % versions (VERSION is DESCRIPTION's, the module keeps its own answer);
  % help kestrel prints the help text; test passes for kestrel and for each
  % M function shipped in inst/; the one-call pair round-trips arrays; news
  % and citation print the package's NEWS and CITATION; pkg uninstall
  % leaves nothing listed. Prints each step with its time; raises an error
  % at the first that fails.
  % SPDX-License-Identifier: BSD-3-Clause
  step('pkg install', @() run_command(['pkg install -local ' tarball]));
  step('pkg load kestrel', @() run_command('pkg load kestrel'));
  step('versions', @() check_versions(version));
  step('help kestrel', @check_help);
  shipped = dir(fullfile(fileparts(which('kestrel_compress')), '*.m'));
  names = [{'kestrel'}, setdiff(regexprep({shipped.name}, '\.m$', ''), {'kestrel', 'Contents'})];
  for i = 1:numel(names)
    step(['test ' names{i}], @() check_tests(names{i}));
  end
  step('round trip', @check_round_trip);
  step('news kestrel', @() check_text('news', version, 'Summary of important user-visible changes'));
  step('citation kestrel', @() check_text('citation', version, 'To cite kestrel'));
  step('pkg uninstall', @check_uninstall);
end

function step(name, check)
  started = tic();
  note = check();
  if isempty(note), note = ''; else note = ['; ' note]; end
  fprintf('  %-24s passed (%.1f s%s)\n', name, toc(started), note);
end

function note = run_command(command)
  eval(command);
  note = '';
end

% The description of the installed package kestrel, or [] when none is.
function desc = installed()
  desc = [];
  list = pkg('list');
  for i = 1:numel(list)
    if strcmp(list{i}.name, 'kestrel'), desc = list{i}; end
  end
end

function note = check_versions(version)
  expect_equal(installed().version, version, 'pkg list''s version');
  v = ver('kestrel');
  expect_equal(v.Version, version, 'ver''s version');
  expect_equal(kestrel('version'), '1.4.1 2008-05-16 (yyyy-mm-dd)', 'the module''s version answer');
  note = sprintf('package %s %s, module %s', v.Version, v.Date, kestrel('version'));
end

function note = check_help()
  text = evalc('help kestrel');
  if isempty(strfind(text, 'Fast, exact adaptive arithmetic coding')) || ~isempty(strfind(text, 'not documented'))
    error('help kestrel did not print the help text:\n%s', text);
  end
  note = sprintf('%d lines', numel(strfind(text, char(10))));
end

function note = check_tests(name)
  [n, nmax] = test(name);
  if ~(n == nmax && nmax > 0)
    test(name, 'verbose');
    error('test %s passed %d of %d', name, n, nmax);
  end
  note = sprintf('%d of %d', n, nmax);
end

function note = check_round_trip()
  x = int16([-300 0 7; 12 300 -1]);
  expect_equal(kestrel_decompress(kestrel_compress(x)), x, 'int16 round trip');
  img = uint8(repmat(0:255, 480, 3));
  bytes = kestrel_compress(img);
  expect_equal(kestrel_decompress(bytes), img, 'uint8 image round trip');
  note = sprintf('from %s', fileparts(which('kestrel_compress')));
end

function note = check_text(command, version, opening)
  text = evalc([command ' kestrel']);
  if isempty(strfind(text, opening)) || isempty(strfind(text, version))
    error('%s kestrel did not print the package''s file for %s:\n%s', command, version, text);
  end
  note = sprintf('%d lines', numel(strfind(text, char(10))));
end

% pkg uninstall kestrel as users type it, then, if kestrel is still listed,
% pkg uninstall -local kestrel. When Octave runs as the superuser, pkg acts
% on the global list by default, so that a -local install needs -local to
% go; the note says what the plain command left.
function note = check_uninstall()
  folder = installed().dir;
  evalc('pkg uninstall kestrel');
  note = 'pkg uninstall kestrel';
  if ~isempty(installed())
    if exist(folder, 'dir')
      left = 'the files and the entry';
    else
      left = 'the entry';
    end
    evalc('pkg uninstall -local kestrel');
    note = sprintf('pkg uninstall kestrel left %s, pkg uninstall -local kestrel removed it', left);
  end
  expect_equal(installed(), [], 'the entry after pkg uninstall');
  expect_equal(exist(folder, 'dir'), 0, 'the package folder after pkg uninstall');
end

function expect_equal(actual, expected, what)
  if ~isequal(actual, expected)
    error('%s: got %s, expected %s', what, disp(actual), disp(expected));
  end
end
