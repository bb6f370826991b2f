// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/commands.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "base/failure.h"
#include "base/heap.h"
#include "base/messages.h"
#include "gateway/numbers.h"
#include "registry/slots.h"

// Longest file name, counted in the characters the caller passed (see
// host_get_string), and the buffer for its UTF-8 bytes: at most 4 a character
// (3 a UTF-16 unit), and a NUL.
constexpr int FILE_NAME_CHARACTERS = 510;
constexpr int FILE_NAME_SIZE = 4 * FILE_NAME_CHARACTERS + 1;

static bool exit_hook_registered = false;  // set once the exit hook is registered for this load

// When the host unloads the module, it calls the hook registered here
// (through mexAtExit, host_mex.cpp): gateway_unload (gateway.cpp) runs
// close_all (registry/slots.cpp), which runs close_encoder on every slot in
// turn, whose encoder_finish (coder/encoder.cpp) completes the file of every
// open file encoder.
void command_setup() {
  if (exit_hook_registered) return;
  host_register_exit_hook(gateway_unload);
  exit_hook_registered = true;
}

void command_give_back(const CommandCall& call) noexcept {
  if (call.creating < 0) return;
  slot_give_back(call.creating);
}

// Reads and validates the handle in argument 2; ALL_HANDLES only when allowed.
static int command_read_handle(const CommandCall& call, bool allow_all) {
  if (call.nrhs < 2) raise_failure(MSG_FEW_ARGUMENTS);
  if (!host_is_numeric(call.prhs[1])) raise_failure(MSG_EXPECTED_INT);
  int32_t handle = double_to_int(host_get_scalar(call.prhs[1]));
  if (allow_all && handle == ALL_HANDLES) return handle;
  if (handle < 0 || handle >= SLOT_COUNT || coder_table.slots[handle].in_use == 0) {
    raise_failure(MSG_INVALID_HANDLE);
  }
  return handle;
}

// Reads the file name (argument 2) and the alphabet size (argument 3).
static int32_t command_read_creation(const CommandCall& call, char* name) {
  if (call.nrhs < 2) raise_failure(MSG_FEW_ARGUMENTS);
  if (!host_is_char(call.prhs[1])) raise_failure(MSG_NOT_A_STRING);
  HostText text = host_get_string(call.prhs[1], name, FILE_NAME_SIZE);
  if (text.characters > FILE_NAME_CHARACTERS || text.bytes >= FILE_NAME_SIZE) raise_failure(MSG_FILE_NAME_TOO_LONG);
  if (call.nrhs < 3) raise_failure(MSG_FEW_ARGUMENTS);
  if (!host_is_numeric(call.prhs[2])) raise_failure(MSG_EXPECTED_INT);
  return double_to_int(host_get_scalar(call.prhs[2]));
}

// Takes a slot and gives it a uniform adaptive model. Returns its handle, or
// -1 with -1 as the call's result when the table is full.
static int command_take_slot(CommandCall& call, int32_t nsym, int32_t is_decoder) {
  int handle = acquire_slot();
  if (handle < 0) {
    call.result_value = -1;
    return -1;
  }
  call.creating = handle;
  slot_open(handle, nsym, is_decoder);
  return handle;
}

// Ends a creation: the handle on success, or -1 with the slot given back.
static void command_end_creation(CommandCall& call, int handle, int started) {
  if (started < 0) {
    slot_give_back(handle);
    handle = -1;
  }
  call.creating = -1;
  call.result_value = handle;
}

void command_new_encoder(CommandCall& call) {
  char name[FILE_NAME_SIZE];
  int32_t nsym = command_read_creation(call, name);
  int handle = command_take_slot(call, nsym, 0);
  if (handle < 0) return;
  const char* mode = "w";
  if (find_option(call.options, "a") != nullptr) mode = "a";
  if (find_option(call.options, ">") != nullptr) mode = ">";
  int started = encoder_start(&coder_table.slots[handle].encoder, name, mode);
  command_end_creation(call, handle, started);
}

// Reads a decimal number as atoi does (blanks, sign, digits); a number too
// large for 64 bits stops growing instead of overflowing.
static int64_t parse_offset(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
    if (value < (INT64_MAX - 9) / 10) value = value * 10 + (*text - '0');
  }
  return negative ? -value : value;
}

// Starts a memory decoder over the bytes of argument 4.
static int command_start_memory_decoder(CommandCall& call, DecoderState* decoder) {
  if (call.nrhs < 4) raise_failure(MSG_FEW_ARGUMENTS_COMMAND);
  HostNumbers numbers = host_numbers(call.prhs[3]);
  if (numbers.element_class == HOST_OTHER) raise_failure(MSG_NOT_NUMERIC_ARRAY);
  if (numbers.count > static_cast<size_t>(INT32_MAX)) raise_failure(MSG_BUFFER_ALLOCATION);
  HeapBlock block{static_cast<uint8_t*>(heap_take(numbers.count))};
  if (block.data == nullptr) raise_failure(MSG_BUFFER_ALLOCATION);
  numbers_to_bytes(numbers, block.data);
  return decoder_start(decoder, block.data, static_cast<int64_t>(numbers.count), 1);
}

void command_new_decoder(CommandCall& call) {
  char name[FILE_NAME_SIZE];
  int32_t nsym = command_read_creation(call, name);
  int handle = command_take_slot(call, nsym, 1);
  if (handle < 0) return;
  DecoderState* decoder = &coder_table.slots[handle].decoder;
  int started;
  if (name[0] == '\0') {
    started = command_start_memory_decoder(call, decoder);
  } else {
    const char* offset = find_option(call.options, "s=");
    started = decoder_start(decoder, name, offset == nullptr ? 0 : parse_offset(offset + 2), 0);
  }
  command_end_creation(call, handle, started);
}

void command_bits(CommandCall& call) {
  int handle = command_read_handle(call, false);
  const CoderSlot& slot = coder_table.slots[handle];
  if (slot.is_decoder) raise_failure(MSG_BITS_ON_DECODER);
  call.result_value = static_cast<double>(encoder_bits_written(&slot.encoder));
}

void command_encode(CommandCall& call) {
  int handle = command_read_handle(call, false);
  CoderSlot* slot = &coder_table.slots[handle];
  if (slot->is_decoder) raise_failure(MSG_ENCODE_ON_DECODER);
  if (call.nrhs < 3) raise_failure(MSG_FEW_ARGUMENTS_COMMAND);
  HostNumbers numbers = host_numbers(call.prhs[2]);
  if (numbers.element_class == HOST_OTHER) raise_failure(MSG_NOT_NUMERIC_ARRAY);
  int32_t chunk[NUMBERS_CHUNK];
  for (size_t start = 0; start < numbers.count; start += NUMBERS_CHUNK) {
    size_t length = numbers_to_ints(numbers, start, chunk);
    encoder_encode_symbols(&slot->encoder, &slot->model, chunk, length);
  }
  call.result_value = 0;
}

// A class a result can be asked for by an option. No name begins with
// another, so an option names at most one class.
struct ResultClass {
  const char* name;         // the class's name, which is the option's key
  HostClass element_class;  // the class of the result row
  int64_t largest;          // the largest symbol it holds exactly
};

static const ResultClass RESULT_CLASSES[] = {
    {"double", HOST_DOUBLE, INT32_MAX}, {"single", HOST_SINGLE, 1 << 24},  {"int8", HOST_INT8, INT8_MAX},
    {"uint8", HOST_UINT8, UINT8_MAX},   {"int16", HOST_INT16, INT16_MAX}, {"uint16", HOST_UINT16, UINT16_MAX},
    {"int32", HOST_INT32, INT32_MAX},   {"uint32", HOST_UINT32, INT32_MAX},
};

// The class named by the first option in list order (the rightmost in the
// command text) that begins with a class name; double when none does.
static const ResultClass& command_result_class(const CommandCall& call) {
  for (int i = 0; call.options[i] != nullptr; ++i) {
    for (const ResultClass& result : RESULT_CLASSES) {
      if (std::strncmp(call.options[i], result.name, std::strlen(result.name)) == 0) return result;
    }
  }
  return RESULT_CLASSES[0];
}

void command_decode(CommandCall& call) {
  int handle = command_read_handle(call, false);
  CoderSlot* slot = &coder_table.slots[handle];
  if (!slot->is_decoder) raise_failure(MSG_DECODE_ON_ENCODER);
  int32_t count = 1;
  if (call.nrhs >= 3) {
    if (!host_is_numeric(call.prhs[2])) raise_failure(MSG_EXPECTED_INT);
    count = double_to_int(host_get_scalar(call.prhs[2]));
  }
  if (count < 0) raise_failure(MSG_INVALID_COUNT);
  const ResultClass& result = command_result_class(call);
  if (slot->model.nsym - 1 > result.largest) raise_failure(MSG_CLASS_TOO_NARROW);
  void* symbols = gateway_create_result_row(call, result.element_class, static_cast<size_t>(count));
  int32_t chunk[NUMBERS_CHUNK];
  for (size_t start = 0; start < static_cast<size_t>(count); start += NUMBERS_CHUNK) {
    size_t length = std::min(NUMBERS_CHUNK, static_cast<size_t>(count) - start);
    decoder_decode_symbols(&slot->decoder, &slot->model, chunk, length);
    numbers_from_ints(chunk, length, result.element_class, symbols, start);
  }
}

// Closes a memory encoder and hands its bytes back, as signed doubles or,
// with as_bytes, as uint8. The row is made first, of exactly the size the
// encoder hands back, and with it the room for the host's copy of it: if
// either cannot be had, or the encoder's last bytes find no room, the call
// fails before anything changed and the encoder stays open, unchanged.
static void command_done_memory(CommandCall& call, int handle, int64_t size, bool as_bytes) {
  HostClass element_class = as_bytes ? HOST_UINT8 : HOST_DOUBLE;
  void* row = gateway_create_result_row(call, element_class, static_cast<size_t>(size));
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  close_encoder(handle, &bytes, &count);
  HeapBlock block{bytes};
  if (count != size) raise_failure(MSG_INTERNAL_FAULT);
  if (as_bytes) std::memcpy(row, bytes, static_cast<size_t>(count));
  if (!as_bytes) numbers_bytes_to_signed(bytes, static_cast<size_t>(count), static_cast<double*>(row));
}

// Closes one coder; a memory encoder hands its bytes back, any other 0. An
// encoder that lost bytes has none to hand back: it is closed without asking
// the host for any row, and its failure raised.
static void command_done_one(CommandCall& call, int handle) {
  const CoderSlot& slot = coder_table.slots[handle];
  int64_t size = slot.is_decoder || encoder_lost_bytes(&slot.encoder) ? 0 : encoder_output_size(&slot.encoder);
  if (size > 0) {
    command_done_memory(call, handle, size, find_option(call.options, "uint8") != nullptr);
    return;
  }
  if (slot.is_decoder || !encoder_lost_bytes(&slot.encoder)) gateway_prepare_scalar(call);
  uint8_t* bytes = nullptr;
  int32_t count = 0;
  close_encoder(handle, &bytes, &count);
  HeapBlock block{bytes};  // stays nullptr: only a memory encoder hands bytes back
  call.result_value = 0;
}

void command_done(CommandCall& call) {
  int handle = command_read_handle(call, true);
  if (handle == ALL_HANDLES) {
    gateway_prepare_scalar(call);
    close_all();
    call.result_value = 0;
    return;
  }
  command_done_one(call, handle);
}

void command_cleanup(CommandCall& call) {
  close_all();
  call.result_kind = RESULT_NO_OUTPUT;
}
