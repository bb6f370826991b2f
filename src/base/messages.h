// SPDX-License-Identifier: BSD-3-Clause
// Every error the module reports, in one table: its identifier, in the
// host's component:mnemonic form, and its exact text. The failure channel
// raises them by their row; the gateway reports them; nothing else formats
// errors. Several texts are in Italian and two differ only by case ("pochi
// parametri", "Pochi parametri"): callers match texts and identifiers
// exactly, so neither ever changes.
#pragma once

enum MessageId {
  // Argument errors of the command frame and the coder commands.
  MSG_FEW_ARGUMENTS,
  MSG_FEW_ARGUMENTS_COMMAND,
  MSG_NOT_A_STRING,
  MSG_EXPECTED_INT,
  MSG_UNRECOGNIZED_COMMAND,
  MSG_INTERNAL_FAULT,
  MSG_INVALID_HANDLE,
  MSG_BITS_ON_DECODER,
  MSG_ENCODE_ON_DECODER,
  MSG_DECODE_ON_ENCODER,
  MSG_INVALID_COUNT,
  MSG_NOT_NUMERIC_ARRAY,
  MSG_FILE_NAME_TOO_LONG,
  MSG_OUT_OF_MEMORY,
  MSG_CLASS_TOO_NARROW,
  // Slot table bounds, guarding against internal misuse only.
  MSG_RELEASE_OUT_OF_BOUNDS,
  MSG_CLOSE_OUT_OF_BOUNDS,
  // Failures raised below the gateway through the failure channel.
  MSG_BUFFER_ALLOCATION,
  MSG_STREAM_ALLOCATION,
  MSG_OPEN_FILE,
  MSG_WRITE_FILE,
  MSG_MODEL_ALLOCATION,
  MSG_MAX_FREQUENCY,
  MSG_UNSEEKABLE,
  MSG_BAD_INPUT_FILE,
  MSG_SYMBOL_OUT_OF_RANGE,
  MESSAGE_COUNT  // number of rows; not a message
};

struct Message {
  const char* identifier;  // "kestrel:mnemonic", stable across releases
  const char* text;        // the exact text; MSG_CLOSE_OUT_OF_BOUNDS is a format with one %d
};

// Row id of the table is message id; every row is filled.
extern const Message MESSAGES[MESSAGE_COUNT];

inline const char* message_text(MessageId id) { return MESSAGES[id].text; }
inline const char* message_identifier(MessageId id) { return MESSAGES[id].identifier; }
