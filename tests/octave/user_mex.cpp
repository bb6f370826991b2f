// SPDX-License-Identifier: BSD-3-Clause
// A plain C++ MEX file as a user writes one, built with mkoctfile's default
// flags: nothing marks mexFunction as exported, so it loads only if the
// session's CXXFLAGS hide no symbols. Returns the length of a std::string: 7.
#include <string>

#include "mex.h"

void mexFunction(int, mxArray* plhs[], int, const mxArray* []) {
  plhs[0] = mxCreateDoubleScalar(static_cast<double>(std::string("kestrel").size()));
}
