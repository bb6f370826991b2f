// SPDX-License-Identifier: BSD-3-Clause
// Every text the module reports, in one place. The gateway reports each of
// them as the host error of the call that met it; nothing else formats errors.
// Several texts are in Italian and two differ only by case ("pochi parametri",
// "Pochi parametri"): callers match them exactly, so they never change.
#pragma once

// Argument errors of the command frame and the coder commands.
#define MSG_FEW_ARGUMENTS "pochi parametri"
#define MSG_FEW_ARGUMENTS_COMMAND "Pochi parametri"
#define MSG_NOT_A_STRING "parametro non stringa"
#define MSG_EXPECTED_INT "Atteso int"
#define MSG_UNRECOGNIZED_COMMAND "Unrecognized command"
#define MSG_INTERNAL_FAULT "Questo non dovrebbe accadere"
#define MSG_INVALID_HANDLE "invalid handler"
#define MSG_BITS_ON_DECODER "Cannot use action 'n_bits' with decoders"
#define MSG_ENCODE_ON_DECODER "Called ENCODE with a decoder handler"
#define MSG_DECODE_ON_ENCODER "Called DECODE with an encoder handler"
#define MSG_INVALID_COUNT "invalid count"
#define MSG_NOT_NUMERIC_ARRAY "Expected a full real numeric array"
#define MSG_FILE_NAME_TOO_LONG "File name too long"
#define MSG_OUT_OF_MEMORY "out of memory"

// Slot table bounds, guarding against internal misuse only.
#define MSG_RELEASE_OUT_OF_BOUNDS "Internal error: handler out of bounds"
#define MSG_CLOSE_OUT_OF_BOUNDS "Internal: handler '%d' out of bounds to close_encoder"

// Failures raised below the gateway through the failure channel.
#define MSG_BUFFER_ALLOCATION "buffer allocation failure"
#define MSG_STREAM_ALLOCATION "stream allocation failure"
#define MSG_OPEN_FILE "Could not open file"
#define MSG_WRITE_FILE "Could not write file"
#define MSG_MODEL_ALLOCATION "arithmetic coder model allocation failure"
#define MSG_MAX_FREQUENCY "arithmetic coder model max frequency exceeded"
#define MSG_UNSEEKABLE "Unseekable stream"
#define MSG_BAD_INPUT_FILE "arithmetic decoder bad input file"
#define MSG_SYMBOL_OUT_OF_RANGE "symbol out of range"

// The answer of the version command.
#define KESTREL_VERSION "1.4.1 2008-05-16 (yyyy-mm-dd)"
