% SPDX-License-Identifier: BSD-3-Clause
% Unloading the module closes open coders: file encoders are finished so
% their files are complete. Each case runs in a child octave-cli.
kestrel('cleanup');
if isempty(getenv('KESTREL_BUILD')), setenv('KESTREL_BUILD', fileparts(which('kestrel'))); end
octave = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
function bytes = enc(nsym, symbols)
  h = kestrel('new_encoder', '', nsym); kestrel('encode', h, symbols); bytes = kestrel('done', h);
end
function run_child(octave, code, label)
  code = ['addpath(getenv(''KESTREL_BUILD'')); s = mod((0:4999) * 37, 256); ' code];
  [status, out] = system(sprintf('"%s" --no-gui --quiet --norc --no-history --eval "%s" 2>&1', octave, code));
  if status ~= 0, error('%s: child exited with %d:\n%s', label, status, out); end
end
s = mod((0:4999) * 37, 256);
file_bytes('old.bin', [-37 3]);
file_bytes('in.bin', [-37 3]);

% {label, child code, files to check, {nsym, symbols, bytes before the stream}}
open_all = ['h = kestrel(''new_encoder'', ''%s.bin'', 256); kestrel(''encode'', h, s); ' ...
            'm = kestrel(''new_encoder'', '''', 4); kestrel(''encode'', m, 0:3); ' ...
            'd = kestrel(''new_decoder'', ''in.bin'', 4); kestrel(''decode'', d, 2); ' ...
            'a = kestrel(''new_encoder:a'', ''%s_a.bin'', 4); kestrel(''encode'', a, 0:3); '];
children = {
  'clear kestrel', ['copyfile(''old.bin'', ''clear_a.bin''); ' sprintf(open_all, 'clear', 'clear') ...
                    'clear kestrel; copyfile(''clear.bin'', ''clear_copy.bin''); ' ...
                    'copyfile(''clear_a.bin'', ''clear_a_copy.bin''); ' ...
                    'if kestrel(''new_encoder'', '''', 4) ~= 0, error(''table not emptied''); end'], ...
    {'clear_copy.bin', 'clear_a_copy.bin'}
  'end of Octave', ['copyfile(''old.bin'', ''end_a.bin''); ' sprintf(open_all, 'end', 'end')], ...
    {'end.bin', 'end_a.bin'}
  'exit', ['copyfile(''old.bin'', ''exit_a.bin''); ' sprintf(open_all, 'exit', 'exit') 'exit(0);'], ...
    {'exit.bin', 'exit_a.bin'}
  'first call fails', ['try, kestrel(); catch, end; copyfile(''old.bin'', ''first_a.bin''); ' ...
                       sprintf(open_all, 'first', 'first')], {'first.bin', 'first_a.bin'}
  'first call unrecognized', ['try, kestrel(''Version''); catch, end; copyfile(''old.bin'', ''unrec_a.bin''); ' ...
                              sprintf(open_all, 'unrec', 'unrec')], {'unrec.bin', 'unrec_a.bin'}
};
for i = 1:rows(children)
  [label, code, files] = children{i, :};
  for f = files, if exist(f{1}, 'file'), delete(f{1}); end, end
  run_child(octave, code, label);
  expect_equal(file_bytes(files{1}), enc(256, s), [label ': file encoder finished']);
  h = kestrel('new_decoder', files{1}, 256);
  expect_equal(kestrel('decode', h, numel(s)), s, [label ': file decodes']);
  kestrel('done', h);
  expect_equal(file_bytes(files{2}), [-37 3 -37 3], [label ': appended file finished']);
  h = kestrel('new_decoder:s=2', files{2}, 4);
  expect_equal(kestrel('decode', h, 4), 0:3, [label ': appended stream decodes']);
  kestrel('done', h);
end
% A child that loads the module, opens nothing and ends is fine too.
run_child(octave, 'kestrel(''version''); clear kestrel; kestrel(''cleanup'');', 'nothing open');
