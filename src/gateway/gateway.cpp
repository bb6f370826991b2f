// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/gateway.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "gateway/commands.h"
#include "base/failure.h"
#include "base/messages.h"
#include "registry/slots.h"

char failure_message[FAILURE_MESSAGE_SIZE];
char failure_identifier[FAILURE_IDENTIFIER_SIZE];

// Copies text into a buffer of size bytes, cut to size-1 characters, with
// every byte behind it NUL.
static void gateway_copy_report(char* buffer, int size, const char* text) noexcept {
  std::strncpy(buffer, text, static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
}

// Keeps identifier and message as the error of the call.
static void gateway_report(const char* identifier, const char* message) noexcept {
  gateway_copy_report(failure_identifier, FAILURE_IDENTIFIER_SIZE, identifier);
  gateway_copy_report(failure_message, FAILURE_MESSAGE_SIZE, message);
}

// Largest alphabet the module reports; sizes up to 16382 work as well.
constexpr int32_t MAX_ALPHABET_SIZE = 8191;

static void command_version(CommandCall& call) {
  host_create_string(&call.plhs[0], KESTREL_VERSION);
  call.result_kind = RESULT_ARRAY;
}

static void command_max_alphabet_size(CommandCall& call) { call.result_value = MAX_ALPHABET_SIZE; }

struct CommandRow {
  const char* name;                    // exact, case-sensitive command name; nullptr ends the table
  int code;                            // command code; -1 in the end row
  void (*handler)(CommandCall& call);  // runs the command
};

static const CommandRow COMMAND_TABLE[] = {
    {"new_encoder", 0, command_new_encoder},
    {"new_decoder", 1, command_new_decoder},
    {"bits", 2, command_bits},
    {"done", 3, command_done},
    {"encode", 4, command_encode},
    {"decode", 5, command_decode},
    {"version", 6, command_version},
    {"cleanup", 7, command_cleanup},
    {"max_alphabet_size", 8, command_max_alphabet_size},
    {nullptr, -1, nullptr},
};

static const CommandRow* command_lookup(const char* name) {
  const CommandRow* row = COMMAND_TABLE;
  while (row->name != nullptr && std::strcmp(row->name, name) != 0) ++row;
  return row;
}

int split_options(char* text, const char** options, int capacity) {
  for (int i = 0; i < capacity; ++i) options[i] = nullptr;
  int count = 0;
  while (count < capacity - 1) {
    char* colon = std::strrchr(text, ':');
    if (colon == nullptr) break;
    *colon = '\0';
    options[count++] = colon + 1;
  }
  return count;
}

const char* find_option(const char* const* options, const char* key) {
  size_t length = std::strlen(key);
  for (int i = 0; options[i] != nullptr; ++i) {
    if (std::strncmp(options[i], key, length) == 0) return options[i];
  }
  return nullptr;
}

static void gateway_finish(CommandCall& call) {
  switch (call.result_kind) {
    case RESULT_SCALAR:
      *host_create_row(&call.plhs[0], 1) = call.result_value;
      break;
    case RESULT_ARRAY:
    case RESULT_NO_OUTPUT:
      break;
    case RESULT_NONE:
      raise_failure(MSG_INTERNAL_FAULT);
  }
}

// Checks, splits and looks up the command string, then runs the command.
static void gateway_run(CommandCall& call) {
  if (call.nrhs < 1) raise_failure(MSG_FEW_ARGUMENTS);
  if (!host_is_char(call.prhs[0])) raise_failure(MSG_NOT_A_STRING);
  char command[COMMAND_BUFFER_SIZE];
  host_get_string(call.prhs[0], command, COMMAND_BUFFER_SIZE - 1);
  split_options(command, call.options, OPTION_CAPACITY);
  const CommandRow* row = command_lookup(command);
  if (row->code < 0) raise_failure(MSG_UNRECOGNIZED_COMMAND);
  row->handler(call);
  gateway_finish(call);
}

bool gateway_call(int nlhs, HostArray** plhs, int nrhs, const HostArray* const* prhs) noexcept {
  (void)nlhs;
  CommandCall call{};
  call.nrhs = nrhs;
  call.prhs = prhs;
  call.plhs = plhs;
  call.result_value = 0;
  call.result_kind = RESULT_SCALAR;
  call.creating = -1;
  try {
    command_setup();
    gateway_run(call);
    return false;
  } catch (const Failure& failure) {
    char text[FAILURE_MESSAGE_SIZE];
    failure_text(failure, text, FAILURE_MESSAGE_SIZE);
    gateway_report(message_identifier(failure.id), text);
  } catch (const std::bad_alloc&) {
    gateway_report(message_identifier(MSG_OUT_OF_MEMORY), message_text(MSG_OUT_OF_MEMORY));
  } catch (const std::exception& error) {
    char identifier[FAILURE_IDENTIFIER_SIZE];
    host_error_identifier(error, identifier, sizeof identifier);
    gateway_report(identifier, error.what());
  } catch (...) {
    gateway_report(message_identifier(MSG_INTERNAL_FAULT), message_text(MSG_INTERNAL_FAULT));
  }
  command_give_back(call);
  return true;
}

void gateway_unload() noexcept {
  try {
    close_all();
  } catch (...) {
    // Nothing can be reported while the host unloads the module; close_all
    // has closed every slot all the same.
  }
}
