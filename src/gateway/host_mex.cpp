// SPDX-License-Identifier: BSD-3-Clause
// The host layer over the MEX and mx interface of MATLAB and GNU Octave, and
// the module's exported entry point. The only file that includes mex.h.
//
// Where the hosts differ, this layer gives both the behaviour the gateway
// relies on: mxGetString may write nothing when a text does not fit (Octave),
// mxGetScalar may raise on an empty array (Octave), and mxGetPr of a
// non-double array is not a double array; arrays are read by their class.

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "mex.h"
#if defined(HAVE_OCTAVE)
#include <octave/quit.h>  // octave::execution_exception, the error Octave throws
#endif

#include "base/platform.h"
#include "gateway/gateway.h"
#include "gateway/host.h"
#include "gateway/numbers.h"

static const mxArray* host_mx(const HostArray* array) { return (const mxArray*)array; }

bool host_is_char(const HostArray* array) { return mxIsChar(host_mx(array)); }

bool host_is_numeric(const HostArray* array) { return mxIsNumeric(host_mx(array)); }

// Octave's character arrays hold UTF-8 bytes, which mxGetString copies as
// they are. MATLAB's hold UTF-16 units, which mxGetString would turn into the
// system's code page; mxArrayToUTF8String gives UTF-8.
HostText host_get_string(const HostArray* array, char* buffer, std::size_t capacity) {
  const mxArray* text = host_mx(array);
  buffer[0] = '\0';
#if defined(HAVE_OCTAVE)
  if (mxGetString(text, buffer, static_cast<mwSize>(capacity)) == 0) {
    std::size_t length = std::strlen(buffer);
    return HostText{length, host_utf8_characters(buffer, length)};
  }
  char* whole = mxArrayToString(text);  // the text did not fit: cut it here
#else
  char* whole = mxArrayToUTF8String(text);
#endif
  if (whole == nullptr) return HostText{capacity, mxGetNumberOfElements(text)};
  std::size_t length = std::strlen(whole);
  std::size_t kept = length < capacity - 1 ? length : capacity - 1;
  std::memcpy(buffer, whole, kept);
  buffer[kept] = '\0';
#if defined(HAVE_OCTAVE)
  HostText lengths{length, host_utf8_characters(whole, length)};
#else
  HostText lengths{length, mxGetNumberOfElements(text)};
#endif
  mxFree(whole);
  return lengths;
}

double host_get_scalar(const HostArray* array) {
  if (mxGetNumberOfElements(host_mx(array)) == 0) return std::numeric_limits<double>::quiet_NaN();
  return mxGetScalar(host_mx(array));
}

static HostClass host_class(const mxArray* array) {
  if (mxIsSparse(array) || mxIsComplex(array)) return HOST_OTHER;
  switch (mxGetClassID(array)) {
    case mxDOUBLE_CLASS: return HOST_DOUBLE;
    case mxSINGLE_CLASS: return HOST_SINGLE;
    case mxINT8_CLASS: return HOST_INT8;
    case mxUINT8_CLASS: return HOST_UINT8;
    case mxINT16_CLASS: return HOST_INT16;
    case mxUINT16_CLASS: return HOST_UINT16;
    case mxINT32_CLASS: return HOST_INT32;
    case mxUINT32_CLASS: return HOST_UINT32;
    case mxINT64_CLASS: return HOST_INT64;
    case mxUINT64_CLASS: return HOST_UINT64;
    case mxLOGICAL_CLASS: return sizeof(mxLogical) == 1 ? HOST_UINT8 : HOST_OTHER;
    case mxCHAR_CLASS: return sizeof(mxChar) == 1 ? HOST_UINT8 : sizeof(mxChar) == 2 ? HOST_UINT16 : HOST_OTHER;
    default: return HOST_OTHER;
  }
}

HostNumbers host_numbers(const HostArray* array) {
  const mxArray* mx = host_mx(array);
  HostNumbers numbers{host_class(mx), nullptr, mxGetNumberOfElements(mx)};
  if (numbers.element_class == HOST_OTHER || numbers.count == 0) {
    numbers.count = numbers.element_class == HOST_OTHER ? 0 : numbers.count;
    return numbers;
  }
  numbers.data = mxGetData(mx);
  if (numbers.data == nullptr) numbers.count = 0;
  return numbers;
}


double* host_create_row(HostArray** out, std::size_t count) {
  // Left uninitialised: the gateway writes every element before the call
  // returns, and the host discards the row of a call that fails.
  mxArray* row = mxCreateUninitNumericMatrix(1, static_cast<mwSize>(count), mxDOUBLE_CLASS, mxREAL);
  *out = (HostArray*)row;
  return count == 0 ? nullptr : static_cast<double*>(mxGetData(row));
}

double* host_row_data(HostArray* row) { return static_cast<double*>(mxGetData((mxArray*)row)); }

void host_destroy_row(HostArray* row) { mxDestroyArray((mxArray*)row); }

static mxClassID host_mx_class(HostClass element_class) {
  switch (element_class) {
    case HOST_DOUBLE: return mxDOUBLE_CLASS;
    case HOST_SINGLE: return mxSINGLE_CLASS;
    case HOST_INT8: return mxINT8_CLASS;
    case HOST_UINT8: return mxUINT8_CLASS;
    case HOST_INT16: return mxINT16_CLASS;
    case HOST_UINT16: return mxUINT16_CLASS;
    case HOST_INT32: return mxINT32_CLASS;
    case HOST_UINT32: return mxUINT32_CLASS;
    case HOST_INT64: return mxINT64_CLASS;
    case HOST_UINT64: return mxUINT64_CLASS;
    case HOST_OTHER: break;
  }
  return mxDOUBLE_CLASS;
}

// Octave turns every row made by mxCreate*Matrix into a value of its own
// when the call returns, copying the elements into a fresh array (its mxArray
// cannot hand its block over: Octave 7 as Debian builds it lacks the memory
// resources that would let it), so that such a row needs twice its memory
// for a moment, after the module has done its work. A row that Octave made
// itself, through mexCallMATLAB, is an Octave value already and goes back as
// it is. Rows from this size on are made that way; smaller ones, for which
// the call costs more than the copy, are made directly and copied.
#if defined(HAVE_OCTAVE)
constexpr std::size_t HOST_OWN_VALUE_BYTES = std::size_t(1) << 16;

static const char* host_class_name(HostClass element_class) {
  switch (element_class) {
    case HOST_SINGLE: return "single";
    case HOST_INT8: return "int8";
    case HOST_UINT8: return "uint8";
    case HOST_INT16: return "int16";
    case HOST_UINT16: return "uint16";
    case HOST_INT32: return "int32";
    case HOST_UINT32: return "uint32";
    case HOST_INT64: return "int64";
    case HOST_UINT64: return "uint64";
    default: return "double";
  }
}

// A row of zeros made by Octave's own zeros (called as a builtin, so that no
// function of the user's path can stand in for it). Octave reports its
// failures by exceptions, which reach the gateway.
static mxArray* host_own_value_row(HostClass element_class, std::size_t count) {
  mxArray* arguments[4] = {mxCreateString("zeros"), mxCreateDoubleScalar(1),
                           mxCreateDoubleScalar(static_cast<double>(count)),
                           mxCreateString(host_class_name(element_class))};
  mxArray* row = nullptr;
  int failed = mexCallMATLAB(1, &row, 4, arguments, "builtin");
  for (mxArray* argument : arguments) mxDestroyArray(argument);
  if (failed != 0 || row == nullptr || mxGetNumberOfElements(row) != count) throw std::bad_alloc();
  return row;
}
#endif

void* host_create_typed_row(HostArray** out, HostClass element_class, std::size_t count) {
  mxArray* row = nullptr;
#if defined(HAVE_OCTAVE)
  if (host_copy_after_call(element_class, count) == 0 && count > 0) row = host_own_value_row(element_class, count);
#endif
  if (row == nullptr) row = mxCreateUninitNumericMatrix(1, static_cast<mwSize>(count), host_mx_class(element_class), mxREAL);
  *out = (HostArray*)row;
  return count == 0 ? nullptr : mxGetData(row);
}

std::size_t host_copy_after_call(HostClass element_class, std::size_t count) {
#if defined(HAVE_OCTAVE)
  std::size_t bytes = count * numbers_element_size(element_class);
  return bytes < HOST_OWN_VALUE_BYTES ? bytes : 0;
#else
  (void)element_class;
  (void)count;
  return 0;  // MATLAB's outputs are its own arrays already
#endif
}

void host_create_string(HostArray** out, const char* text) { *out = (HostArray*)mxCreateString(text); }

void host_error_identifier(const std::exception& error, char* buffer, std::size_t capacity) {
  buffer[0] = '\0';
#if defined(HAVE_OCTAVE)
  if (const auto* raised = dynamic_cast<const octave::execution_exception*>(&error)) {
    std::string identifier = raised->identifier();
    std::size_t kept = identifier.size() < capacity - 1 ? identifier.size() : capacity - 1;
    std::memcpy(buffer, identifier.data(), kept);
    buffer[kept] = '\0';
  }
#else
  (void)error;
  (void)capacity;
#endif
}

int host_array_class(const HostArray* array) {
  const mxArray* mx = host_mx(array);
  if (mxIsSparse(mx) || mxIsComplex(mx)) return 0;
  switch (mxGetClassID(mx)) {
    case mxDOUBLE_CLASS: return 1;
    case mxSINGLE_CLASS: return 2;
    case mxINT8_CLASS: return 3;
    case mxUINT8_CLASS: return 4;
    case mxINT16_CLASS: return 5;
    case mxUINT16_CLASS: return 6;
    case mxINT32_CLASS: return 7;
    case mxUINT32_CLASS: return 8;
    case mxINT64_CLASS: return 9;
    case mxUINT64_CLASS: return 10;
    case mxLOGICAL_CLASS: return sizeof(mxLogical) == 1 ? 11 : 0;
    case mxCHAR_CLASS: return 12;
    default: return 0;
  }
}

std::size_t host_char_bytes() { return sizeof(mxChar); }

int host_array_dims(const HostArray* array, std::uint64_t* dims, int capacity) {
  const mxArray* mx = host_mx(array);
  int ndims = static_cast<int>(mxGetNumberOfDimensions(mx));
  const mwSize* size = mxGetDimensions(mx);
  for (int k = 0; k < ndims && k < capacity; ++k) dims[k] = size[k];
  return ndims;
}

void* host_array_data(const HostArray* array) {
  const mxArray* mx = host_mx(array);
  return mxGetNumberOfElements(mx) == 0 ? nullptr : mxGetData(mx);
}

void* host_create_array(HostArray** out, int cls, int ndims, const std::uint64_t* dims) {
  static const mxClassID CLASSES[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,  mxUINT8_CLASS,
                                      mxINT16_CLASS,  mxUINT16_CLASS, mxINT32_CLASS, mxUINT32_CLASS,
                                      mxINT64_CLASS,  mxUINT64_CLASS};
  std::string buffer(sizeof(mwSize) * static_cast<std::size_t>(ndims), '\0');
  mwSize* size = reinterpret_cast<mwSize*>(&buffer[0]);
  for (int k = 0; k < ndims; ++k) size[k] = static_cast<mwSize>(dims[k]);
  mxArray* mx;
  if (cls == 11) {
    mx = mxCreateLogicalArray(static_cast<mwSize>(ndims), size);
  } else if (cls == 12) {
    mx = mxCreateCharArray(static_cast<mwSize>(ndims), size);
  } else {
    mx = mxCreateUninitNumericArray(static_cast<mwSize>(ndims), size, CLASSES[cls - 1], mxREAL);
  }
  *out = (HostArray*)mx;
  return mxGetNumberOfElements(mx) == 0 ? nullptr : mxGetData(mx);
}

void host_print(const char* text) { mexPrintf("%s\n", text); }

void host_register_exit_hook(void (*hook)()) { mexAtExit(hook); }

// The entry point, the one symbol the module exports (KESTREL_EXPORT): the
// build hides all others, and a DLL marked with an export of its own exports
// nothing else, whatever the linker would export by default. Errors are
// raised here, in the outermost frame, once every C++ object of the call is
// gone: the host may leave by a long jump.
KESTREL_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (!gateway_call(nlhs, (HostArray**)plhs, nrhs, (const HostArray* const*)prhs)) return;
  // Errors of the host itself (Octave's allocation errors) already carry the
  // function name that the host prefixes again.
  const char* message = failure_message;
  static const char PREFIX[] = "kestrel: ";
  if (std::strncmp(message, PREFIX, sizeof PREFIX - 1) == 0) message += sizeof PREFIX - 1;
  // The text is passed as an argument, never as the format: it may hold '%'.
  if (failure_identifier[0] == '\0') {
    mexErrMsgTxt(message);
  } else {
    mexErrMsgIdAndTxt(failure_identifier, "%s", message);
  }
}
