function expect_refusal(f, identifier, label)
  % Runs f and fails unless it raises an error with the given identifier
  % and a message that names the function refusing (kestrel...: ...).
  % SPDX-License-Identifier: BSD-3-Clause
  try
    f();
  catch err
    if ~strcmp(err.identifier, identifier)
      error('%s: expected identifier "%s", got "%s" (%s)', label, identifier, err.identifier, err.message);
    end
    if isempty(regexp(err.message, '^kestrel\w*: \S', 'once'))
      error('%s: the message "%s" does not name who refused', label, err.message);
    end
    return;
  end
  error('%s: expected error %s, but the call succeeded', label, identifier);
end
