function expect_error(f, expected, label)
  % Runs f and fails unless it raises the kestrel error "kestrel: <expected>".
  % SPDX-License-Identifier: BSD-3-Clause
  try
    f();
  catch err
    if ~strcmp(err.message, ['kestrel: ' expected])
      error('%s: expected error "kestrel: %s", got "%s"', label, expected, err.message);
    end
    return;
  end
  error('%s: expected error "kestrel: %s", but the call succeeded', label, expected);
end
