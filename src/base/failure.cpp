// SPDX-License-Identifier: BSD-3-Clause
#include "base/failure.h"

#include <cstdio>
#include <cstring>

char failure_message[FAILURE_MESSAGE_SIZE];
char failure_identifier[FAILURE_IDENTIFIER_SIZE];

// Copies text into a buffer of size bytes, cut to size-1 characters, with
// every byte behind it NUL; a text already in place is left alone.
static void failure_copy(char* buffer, int size, const char* text) noexcept {
  if (text == buffer) return;
  std::strncpy(buffer, text, static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
}

void failure_keep(const char* identifier, const char* message) noexcept {
  failure_copy(failure_identifier, FAILURE_IDENTIFIER_SIZE, identifier);
  failure_copy(failure_message, FAILURE_MESSAGE_SIZE, message);
}

void raise_kept_failure(const char* identifier, const char* message) {
  failure_keep(identifier, message);
  throw Failure{};
}

void raise_failure(MessageId id) { raise_kept_failure(message_identifier(id), message_text(id)); }

void raise_failure_with_int(MessageId id, int value) {
  char text[FAILURE_MESSAGE_SIZE];
  std::snprintf(text, sizeof text, message_text(id), value);
  raise_kept_failure(message_identifier(id), text);
}
