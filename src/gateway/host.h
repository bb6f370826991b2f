// SPDX-License-Identifier: BSD-3-Clause
// The host layer: the only way the gateway reaches MATLAB or Octave. Its one
// implementation for real hosts (host_mex.cpp) is the only file that includes
// mex.h; tests supply a stand-in with the same behaviour.
//
// Contracts the gateway relies on:
// - nothing here reports an error to the host; errors go back to mexFunction,
//   which raises them from its outermost frame (see gateway_call);
// - texts are cut, never refused, and arrays are read only within their data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

struct HostArray;  // the host's array (mxArray), opaque to the gateway

// Element classes the gateway can read as numbers. Logical arrays read as
// HOST_UINT8 (0 or 1) and character arrays as their character codes.
enum HostClass {
  HOST_DOUBLE, HOST_SINGLE, HOST_INT8, HOST_UINT8, HOST_INT16, HOST_UINT16,
  HOST_INT32, HOST_UINT32, HOST_INT64, HOST_UINT64,
  HOST_OTHER  // cell, struct, function handle, object, sparse or complex
};

// A read-only view of an array's elements in storage (column) order.
struct HostNumbers {
  HostClass element_class;  // HOST_OTHER: not readable, data is nullptr
  const void* data;         // count elements of element_class
  std::size_t count;        // number of elements
};

bool host_is_char(const HostArray* array);     // true exactly for character arrays
bool host_is_numeric(const HostArray* array);  // numeric classes; not char, logical, cell, struct

// The length of a character array's text, two ways.
struct HostText {
  std::size_t bytes;       // of its UTF-8 form; capacity or more: the copy was cut
  std::size_t characters;  // as the caller counts them: a MATLAB array's elements (UTF-16
                           // units), the characters of an Octave array's UTF-8 bytes
};

// Copies at most capacity-1 bytes of a character array's text, as UTF-8, and a
// NUL into buffer (capacity >= 1), and returns the whole text's lengths.
HostText host_get_string(const HostArray* array, char* buffer, std::size_t capacity);

// Characters of bytes (>= 0) bytes of UTF-8 text: every byte that does not
// continue a sequence (10xxxxxx), so that a stray continuation byte counts none.
inline std::size_t host_utf8_characters(const char* text, std::size_t bytes) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < bytes; ++i) characters += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
  return characters;
}

// First element of a numeric array as a double; NaN when the array is empty.
double host_get_scalar(const HostArray* array);

// The elements of any array, for reading by class.
HostNumbers host_numbers(const HostArray* array);

// Places a new 1-by-count real double row in *out and returns its data
// (nullptr when count is 0); its elements are not initialised, and the
// caller writes them all before the call ends well. A host that cannot
// allocate it throws its own error, which the gateway reports.
double* host_create_row(HostArray** out, std::size_t count);

// The data of a row made by host_create_row.
double* host_row_data(HostArray* row);

// Destroys a row made here that is not handed to the host as an output.
void host_destroy_row(HostArray* row);

// As host_create_row, for a 1-by-count row of element_class (any class but
// HOST_OTHER); returns its data, nullptr when count is 0.
void* host_create_typed_row(HostArray** out, HostClass element_class, std::size_t count);

// Bytes the host allocates after the call to copy a row of count elements
// of element_class made by host_create_typed_row, before the caller sees
// it; 0 when it hands the row over as it is.
std::size_t host_copy_after_call(HostClass element_class, std::size_t count);

// Places a new character row holding text in *out.
void host_create_string(HostArray** out, const char* text);

// Copies the identifier the host gave an error it threw itself (for example
// its own out-of-memory error) into buffer, cut to capacity-1 characters;
// "" when it gave none.
void host_error_identifier(const std::exception& error, char* buffer, std::size_t capacity);

// The class of an array as kestrel_compress's container numbers it: 1
// double, 2 single, 3 int8, 4 uint8, 5 int16, 6 uint16, 7 int32, 8 uint32,
// 9 int64, 10 uint64, 11 logical, 12 char; 0 for any other array (complex,
// sparse, cell, struct, ...).
int host_array_class(const HostArray* array);

// Bytes of one character of the host's char arrays (1 in Octave, 2 in MATLAB).
std::size_t host_char_bytes();

// The number of dimensions (2 or more); the first capacity of them (all of
// them when there are no more) in dims.
int host_array_dims(const HostArray* array, std::uint64_t* dims, int capacity);

// The array's data, its elements in storage order (nullptr when empty).
void* host_array_data(const HostArray* array);

// Places a new real array of class cls (1..12, as host_array_class) and size
// dims (ndims >= 2 values) in *out and returns its data (nullptr when it has
// no elements); its elements may be uninitialised. A host that cannot
// allocate it throws its own error.
void* host_create_array(HostArray** out, int cls, int ndims, const std::uint64_t* dims);

// Prints a line of progress text on the host's console.
void host_print(const char* text);

// Registers hook to be called once, outside any call, when the host unloads
// the module.
void host_register_exit_hook(void (*hook)());
