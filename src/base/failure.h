// SPDX-License-Identifier: BSD-3-Clause
// Failure channel: any routine below the gateway gives up on the current call
// with raise_failure(id). The message's identifier and text are kept in
// failure_identifier and failure_message and a Failure is thrown. Three places
// catch it: the gateway frame, which reports it; the exit hook, which has no
// one to report to; and close_all, which goes on closing the other slots and
// raises the first failure again. Routines in between run no code of their
// own on the way out: what they must release is held by scope guards
// (HeapBlock, the slot and stream guards), and records kept in a coder slot
// stay as they were.
#pragma once

#include "base/messages.h"

constexpr int FAILURE_MESSAGE_SIZE = 512;     // holds a message of 511 characters and its NUL
constexpr int FAILURE_IDENTIFIER_SIZE = 128;  // holds any identifier a host gives its own errors

// Text of the last raised failure; NUL-terminated, cut to 511 characters.
extern char failure_message[FAILURE_MESSAGE_SIZE];

// Identifier of the last raised failure: "kestrel:..." for the module's own,
// the host's for an error the host raised, "" when the host gave none.
extern char failure_identifier[FAILURE_IDENTIFIER_SIZE];

// The exception that carries a raised failure; its text is failure_message.
struct Failure {};

// Keeps the identifier and text of message id and throws Failure. Never returns.
[[noreturn]] void raise_failure(MessageId id);

// As raise_failure, for a message whose text is a printf format with one %d.
[[noreturn]] void raise_failure_with_int(MessageId id, int value);

// Keeps identifier and message (NUL-terminated; cut to fit) and throws
// Failure: for a failure kept earlier and raised again.
[[noreturn]] void raise_kept_failure(const char* identifier, const char* message);

// Keeps identifier and message as the failure of the call, without throwing.
void failure_keep(const char* identifier, const char* message) noexcept;
