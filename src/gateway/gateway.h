// SPDX-License-Identifier: BSD-3-Clause
// The command frame: every call of kestrel(command, ...) passes through
// gateway_call, which checks and splits the command string, looks the
// command up, runs its handler and turns the result into the first output.
// All errors of a call, argument errors and raised failures alike, travel as
// Failure and are handed back to mexFunction as one message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gateway/host.h"

// The answer of the version command; packages carry its first number.
#define KESTREL_VERSION "1.4.1 2008-05-16 (yyyy-mm-dd)"

constexpr int FAILURE_MESSAGE_SIZE = 512;     // holds a message of 511 characters and its NUL
constexpr int FAILURE_IDENTIFIER_SIZE = 128;  // holds any identifier a host gives its own errors

// The error of the last call that failed, for mexFunction to raise: its text,
// NUL-terminated and cut to 511 characters with every byte behind it NUL.
// Written only by gateway_call.
extern char failure_message[FAILURE_MESSAGE_SIZE];

// Its identifier: "kestrel:..." for the module's own errors, the host's for
// an error the host raised, "" when the host gave none.
extern char failure_identifier[FAILURE_IDENTIFIER_SIZE];

constexpr int COMMAND_BUFFER_SIZE = 512;  // the command text: at most 510 characters and a NUL
constexpr int OPTION_CAPACITY = 16;       // 15 options and the absent entry that ends the list

enum ResultKind {
  RESULT_NONE,       // no result: an internal fault
  RESULT_SCALAR,     // result_value becomes a 1-by-1 double
  RESULT_ARRAY,      // the handler placed the first output itself
  RESULT_NO_OUTPUT   // the call sets no output at all (cleanup)
};

struct CommandCall {
  int nrhs;                                // number of arguments, command string included
  const HostArray* const* prhs;            // arguments; prhs[0] is the command string
  HostArray** plhs;                        // outputs; only plhs[0] is ever set
  const char* options[OPTION_CAPACITY];    // options right to left, ended by nullptr
  double result_value;                     // scalar result, initially 0
  ResultKind result_kind;                  // initially RESULT_SCALAR
  int creating;                            // slot of a creation under way, given back if the call fails; -1: none
  void* copy_room;                         // heap block as large as the host's copy of the result row, held
                                           // until the call returns; nullptr: none
  HostArray* scalar;                       // 1-by-1 row made before the command ran, for a scalar result;
                                           // nullptr: none, or placed in plhs[0]
};

// Runs one call. Returns false on success; true when the call failed, with
// the error the host must raise in failure_identifier and failure_message.
// Never throws: every exception of the call is caught here,
// after a coder whose creation was cut short has been given back.
bool gateway_call(int nlhs, HostArray** plhs, int nrhs, const HostArray* const* prhs) noexcept;

// The exit hook: closes every coder, completing open file encoders, and
// gives back the array codec's kept working memory. Never throws; failures
// met while unloading are contained here.
void gateway_unload() noexcept;

// Places a new 1-by-count row of element_class in the first output, sets
// the result kind to array and returns the row's data (nullptr when count is
// 0). A host that copies its outputs after the call (host_copy_after_call)
// gets the room for that copy taken here and given back as the call returns,
// so that the copy fits whenever the row and the room did. Raises the
// host's error, or "out of memory" (kestrel:outOfMemory) for the room,
// before the command has changed anything.
void* gateway_create_result_row(CommandCall& call, HostClass element_class, std::size_t count);

// Makes the row of the call's scalar result, and the room for its copy,
// before a command changes anything: a command that ends well is then not
// failed by the host. The frame does it for the commands that always answer
// with a scalar; done, for the coders that answer 0. Raises as
// gateway_create_result_row does.
void gateway_prepare_scalar(CommandCall& call);

// Splits text in place at its last ':' up to capacity-1 times, filling
// options right to left with the texts behind each ':' and ending the list
// with nullptr. What stays at the start of text is the command name.
// Returns the number of options.
int split_options(char* text, const char** options, int capacity);

// First option (in list order) that begins with key, or nullptr.
const char* find_option(const char* const* options, const char* key);
