% SPDX-License-Identifier: BSD-3-Clause
% help kestrel, beside the module, prints the help text and lists the
% identifier of every row of the message table; test kestrel finds and
% passes its smoke tests.
root = fileparts(fileparts(getenv('KESTREL_OCTAVE_TESTS')));
text = evalc('help kestrel');
if isempty(strfind(text, 'Fast, exact adaptive arithmetic coding')) || ~isempty(strfind(text, 'not documented'))
  error('help kestrel did not print the help text:\n%s', text);
end
rows = regexp(fileread(fullfile(root, 'src', 'base', 'messages.cpp')), '\{"(kestrel:\w+)", "', 'tokens');
if numel(rows) < 20, error('found only %d rows in the message table', numel(rows)); end
for i = 1:numel(rows)
  if isempty(regexp(text, ['\W' rows{i}{1} '\W'], 'once'))
    error('help kestrel does not list %s', rows{i}{1});
  end
end
[n, nmax] = test('kestrel');
if ~(n == nmax && nmax > 0), error('test kestrel passed %d of %d', n, nmax); end
