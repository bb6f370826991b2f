// SPDX-License-Identifier: BSD-3-Clause
// The part of MATLAB's C MEX and Matrix API that the host layer uses, declared
// as MATLAB's documentation gives it, so that the host layer's MATLAB branch
// is compiled (never linked) where MATLAB is not installed. Types follow the
// 64-bit API: sizes are size_t, characters UTF-16 units, logicals bool.
#pragma once

#include <cstddef>

typedef struct mxArray_tag mxArray;
typedef std::size_t mwSize;
typedef char16_t mxChar;
typedef bool mxLogical;

typedef enum {
  mxUNKNOWN_CLASS, mxCELL_CLASS, mxSTRUCT_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS, mxVOID_CLASS,
  mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS, mxINT16_CLASS, mxUINT16_CLASS,
  mxINT32_CLASS, mxUINT32_CLASS, mxINT64_CLASS, mxUINT64_CLASS, mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

extern "C" {
bool mxIsChar(const mxArray* array);
bool mxIsNumeric(const mxArray* array);
bool mxIsSparse(const mxArray* array);
bool mxIsComplex(const mxArray* array);
mxClassID mxGetClassID(const mxArray* array);
std::size_t mxGetNumberOfElements(const mxArray* array);
double mxGetScalar(const mxArray* array);
void* mxGetData(const mxArray* array);
int mxGetString(const mxArray* array, char* buffer, mwSize length);
char* mxArrayToString(const mxArray* array);
char* mxArrayToUTF8String(const mxArray* array);
void mxFree(void* block);
void mxDestroyArray(mxArray* array);
mxArray* mxCreateUninitNumericMatrix(std::size_t rows, std::size_t columns, mxClassID class_id,
                                     mxComplexity complexity);
mxArray* mxCreateString(const char* text);
int mexAtExit(void (*hook)(void));
mwSize mxGetNumberOfDimensions(const mxArray* array);
const mwSize* mxGetDimensions(const mxArray* array);
mxArray* mxCreateLogicalArray(mwSize ndim, const mwSize* dims);
mxArray* mxCreateCharArray(mwSize ndim, const mwSize* dims);
mxArray* mxCreateUninitNumericArray(std::size_t ndim, std::size_t* dims, mxClassID classid, mxComplexity complexity);
int mexPrintf(const char* message, ...);
void mexErrMsgTxt(const char* message);
void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...);
void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
}
