// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/gateway.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "gateway/codec_commands.h"
#include "gateway/commands.h"
#include "base/failure.h"
#include "base/heap.h"
#include "base/messages.h"
#include "codec/container.h"
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
  bool scalar;                         // answers with a scalar, whose row is made before it runs
};

static const CommandRow COMMAND_TABLE[] = {
    {"new_encoder", 0, command_new_encoder, true},
    {"new_decoder", 1, command_new_decoder, true},
    {"bits", 2, command_bits, true},
    {"done", 3, command_done, false},  // makes its own
    {"encode", 4, command_encode, true},
    {"decode", 5, command_decode, false},
    {"version", 6, command_version, false},
    {"cleanup", 7, command_cleanup, false},
    {"max_alphabet_size", 8, command_max_alphabet_size, true},
    {"compress", 9, command_compress, false},
    {"decompress", 10, command_decompress, false},
    {nullptr, -1, nullptr, false},
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

// Takes the room for the host's copy of a row of count elements of
// element_class after the call, in place of any taken before.
static void gateway_take_copy_room(CommandCall& call, HostClass element_class, std::size_t count) {
  std::size_t copied = host_copy_after_call(element_class, count);
  if (copied == 0) return;
  heap_free(call.copy_room);
  call.copy_room = heap_take(copied);
  if (call.copy_room == nullptr) raise_failure(MSG_OUT_OF_MEMORY);
}

void* gateway_create_result_row(CommandCall& call, HostClass element_class, std::size_t count) {
  void* row = host_create_typed_row(&call.plhs[0], element_class, count);
  call.result_kind = RESULT_ARRAY;
  gateway_take_copy_room(call, element_class, count);
  return row;
}

void gateway_prepare_scalar(CommandCall& call) {
  host_create_row(&call.scalar, 1);
  gateway_take_copy_room(call, HOST_DOUBLE, 1);
}

static void gateway_finish(CommandCall& call) {
  switch (call.result_kind) {
    case RESULT_SCALAR:
      if (call.scalar == nullptr) gateway_prepare_scalar(call);
      *host_row_data(call.scalar) = call.result_value;
      call.plhs[0] = call.scalar;
      call.scalar = nullptr;
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
  if (row->scalar) gateway_prepare_scalar(call);
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
  call.copy_room = nullptr;
  call.scalar = nullptr;
  // Gives back, as the call returns, the room for the host's copy and a
  // scalar row the call did not answer with.
  struct CallRelease {
    CommandCall& call;  // the call ending
    ~CallRelease() {
      heap_free(call.copy_room);
      if (call.scalar != nullptr) host_destroy_row(call.scalar);
    }
  } release{call};
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
    // The host's own errors are its allocation failures; one without an
    // identifier of its own is reported under the module's.
    char identifier[FAILURE_IDENTIFIER_SIZE];
    host_error_identifier(error, identifier, sizeof identifier);
    gateway_report(identifier[0] != '\0' ? identifier : message_identifier(MSG_OUT_OF_MEMORY), error.what());
  } catch (...) {
    gateway_report(message_identifier(MSG_INTERNAL_FAULT), message_text(MSG_INTERNAL_FAULT));
  }
  command_give_back(call);
  return true;
}

void gateway_unload() noexcept {
  codec_release();
  try {
    close_all();
  } catch (...) {
    // Nothing can be reported while the host unloads the module; close_all
    // has closed every slot all the same.
  }
}
