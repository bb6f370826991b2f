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
#include <string>

#include "mex.h"
#if defined(HAVE_OCTAVE)
#include <octave/quit.h>  // octave::execution_exception, the error Octave throws
#endif

#include "base/platform.h"
#include "gateway/gateway.h"
#include "gateway/host.h"

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

void* host_create_typed_row(HostArray** out, HostClass element_class, std::size_t count) {
  mxArray* row = mxCreateUninitNumericMatrix(1, static_cast<mwSize>(count), host_mx_class(element_class), mxREAL);
  *out = (HostArray*)row;
  return count == 0 ? nullptr : mxGetData(row);
}

// The data block keeps its size; only the elements past count are dropped.
void host_trim_row(HostArray* row, std::size_t count) { mxSetN((mxArray*)row, static_cast<mwSize>(count)); }

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
