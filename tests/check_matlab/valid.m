function y = valid(x, varargin)
%VALID  MATLAB that the check must pass: quotes that are transposes, quotes
%   inside strings, Octave syntax inside strings and comments.
%   # and ! and endfunction in the help text are comments.

% SPDX-License-Identifier: BSD-3-Clause

  y = x';                                   % a transpose
  y = [x' x.'] * [(x')' x]';                 % transposes after names and brackets
  s = 'it''s 100% "quoted" # ! != ++ += printf endif f(x)(1)';
  t = ['a' 'b'];
  u = {'x', s(1), t(end)};
  if numel(u) ~= 3 && x(1) >= 2 || x(1) <= -1 && x(1) == 0
    y = -y;
  end
  f = @(v)(v + 1);                          % an anonymous function head before a bracket
  g = @(v) (v - 1);
  c = u{1}(1);                              % indexing inside a cell element is MATLAB
  z = f(g(x)) + c - 'a' ...  % continued, then a comment with # ! ++
      + 1;
  fprintf('%s %d\n', s, z(1));
%{
  Block comments may hold anything: x(1)(2), #, !, endif.
%}
%!test
%! assert(true != false)
end
