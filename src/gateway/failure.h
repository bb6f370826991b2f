// SPDX-License-Identifier: BSD-3-Clause
// Failure channel: any routine below the gateway gives up on the current call
// with raise_failure(message). The message is kept in failure_message and a
// Failure is thrown; only the gateway frame and the exit hook catch it.
// Routines in between run no code of their own on the way out; the records
// they keep in a coder slot stay as they were, and only temporaries of the
// call (owned by scope guards) are released.
#pragma once

constexpr int FAILURE_MESSAGE_SIZE = 512;  // holds a message of 511 characters and its NUL

// Text of the last raised failure; NUL-terminated, cut to 511 characters.
extern char failure_message[FAILURE_MESSAGE_SIZE];

// The exception that carries a raised failure; its text is failure_message.
struct Failure {};

// Copies message (NUL-terminated; longer texts are cut to 511 characters) into
// failure_message and throws Failure. Never returns.
[[noreturn]] void raise_failure(const char* message);

// Keeps message in failure_message as raise_failure does, without throwing.
void failure_keep_message(const char* message) noexcept;

// As raise_failure, with a printf-style format and one int argument.
[[noreturn]] void raise_failure_with_int(const char* format, int value);
