function post_install(desc)
%POST_INSTALL  Octave's pkg install calls this once the files are in place.
%   It moves the help text kestrel.m from the package's folder of M files
%   into the folder of the compiled module kestrel.mex: help kestrel and
%   test kestrel find the text and the tests only beside the module.
%   DESC is the package description that pkg passes: the M files are in
%   DESC.dir, the module in a folder named after the platform inside
%   DESC.archprefix.

% SPDX-License-Identifier: BSD-3-Clause

  help_file = fullfile(desc.dir, 'kestrel.m');
  module_dir = '';
  entries = dir(desc.archprefix);
  for i = 1:numel(entries)
    folder = fullfile(desc.archprefix, entries(i).name);
    if entries(i).isdir && exist(fullfile(folder, 'kestrel.mex'), 'file')
      module_dir = folder;
    end
  end
  if isempty(module_dir) || ~exist(help_file, 'file')
    error('kestrel:install', 'post_install: kestrel.mex or kestrel.m not found under %s', desc.archprefix);
  end
  [moved, message] = movefile(help_file, fullfile(module_dir, 'kestrel.m'));
  if ~moved
    error('kestrel:install', 'post_install: could not move kestrel.m beside kestrel.mex: %s', message);
  end
end
