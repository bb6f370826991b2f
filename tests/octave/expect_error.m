function expect_error(f, expected, label, identifier)
  % Runs f and fails unless it raises the kestrel error "kestrel: <expected>",
  % with the given identifier when one is given.
  % SPDX-License-Identifier: BSD-3-Clause
  try
    f();
  catch err
    if ~strcmp(err.message, ['kestrel: ' expected])
      error('%s: expected error "kestrel: %s", got "%s"', label, expected, err.message);
    end
    if nargin > 3 && ~strcmp(err.identifier, identifier)
      error('%s: expected identifier "%s", got "%s"', label, identifier, err.identifier);
    end
    return;
  end
  error('%s: expected error "kestrel: %s", but the call succeeded', label, expected);
end
