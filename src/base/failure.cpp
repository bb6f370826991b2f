// SPDX-License-Identifier: BSD-3-Clause
#include "base/failure.h"

#include <cstdio>

void raise_failure(MessageId id) { throw Failure{id, 0}; }

void raise_failure_with_int(MessageId id, int value) { throw Failure{id, value}; }

// Texts without a %d print as they are; the value is then ignored.
void failure_text(const Failure& failure, char* buffer, int size) noexcept {
  std::snprintf(buffer, static_cast<size_t>(size), message_text(failure.id), failure.value);
}
