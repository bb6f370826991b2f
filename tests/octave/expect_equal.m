function expect_equal(actual, expected, label)
  % Fails unless actual has the class, size and values of expected.
  % SPDX-License-Identifier: BSD-3-Clause
  if ~strcmp(class(actual), class(expected)) || ~isequal(size(actual), size(expected))
    error('%s: expected %s %s, got %s %s', label, class(expected), mat2str(size(expected)), ...
          class(actual), mat2str(size(actual)));
  end
  if ~isequal(actual, expected)
    k = find(actual(:) ~= expected(:), 1);
    if isempty(k), k = 1; end
    error('%s: first difference at element %d: expected %s, got %s', label, k, ...
          num2str(double(expected(k))), num2str(double(actual(k))));
  end
end
