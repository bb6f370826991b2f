function y = invalid(x)
% Each line marked at its end uses one construct that MATLAB rejects; the
% check must report each of them, and no other line.

% SPDX-License-Identifier: BSD-3-Clause
  y = x; # a hash comment % <-
  y = "double quoted"; % <-
  if !isempty(x), y = 1; end % <-
  if x != 1, y = 2; end % <-
  y++; % <-
  y += 1; % <-
  y = x ** 2; % <-
  y = [1, 2, ...
       3] \ % <-
  endif % <-
  endfunction % <-
  unwind_protect % <-
  printf('%d\n', y); % <-
  n = rows(x); % <-
  z = size(x)(1); % <-
  w = c{1}{2}(3){4}; % <-
  if (y = 1), end % <-
  fflush(stdout); % <-
end
function z = defaults(a = 1) % <-
