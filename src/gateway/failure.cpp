// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/failure.h"

#include <cstdio>
#include <cstring>

char failure_message[FAILURE_MESSAGE_SIZE];

void failure_keep_message(const char* message) noexcept {
  if (message == failure_message) return;
  std::strncpy(failure_message, message, FAILURE_MESSAGE_SIZE - 1);
  failure_message[FAILURE_MESSAGE_SIZE - 1] = '\0';
}

void raise_failure(const char* message) {
  failure_keep_message(message);
  throw Failure{};
}

void raise_failure_with_int(const char* format, int value) {
  char text[FAILURE_MESSAGE_SIZE];
  std::snprintf(text, sizeof text, format, value);
  raise_failure(text);
}
