// SPDX-License-Identifier: BSD-3-Clause
// Failure channel: any routine below the gateway gives up on the current call
// with raise_failure(id), which throws a Failure carrying the message's row.
// Three places catch it: the gateway frame, which reports it; the exit hook,
// which has no one to report to; and close_all, which goes on closing the
// other slots and throws the first failure again. Routines in between run no
// code of their own on the way out: what they must release is held by scope
// guards (HeapBlock, the slot and stream guards), and records kept in a coder
// slot stay as they were.
#pragma once

#include "base/messages.h"

// The exception that carries a raised failure: which message, and the number
// a format message shows.
struct Failure {
  MessageId id;  // the message's row in MESSAGES
  int value;     // the number behind the one %d of a format message; 0 for the others
};

// Throws Failure{id, 0}. Never returns.
[[noreturn]] void raise_failure(MessageId id);

// Throws Failure{id, value}, for a message whose text is a printf format with
// one %d. Never returns.
[[noreturn]] void raise_failure_with_int(MessageId id, int value);

// Writes the text of failure (a format message with its value in place) into
// buffer, NUL-terminated and cut to size-1 characters (size >= 1).
void failure_text(const Failure& failure, char* buffer, int size) noexcept;
