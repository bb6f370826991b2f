# SPDX-License-Identifier: BSD-3-Clause
# The host layer compiled, never linked, with the core's warnings, for targets
# where no MATLAB or Octave is at hand to link against: once against MATLAB's
# API as tests/support/matlab/mex.h declares it, and once against Octave's own
# mex.h when Octave's headers are installed on the build machine. A call the
# target lacks (a POSIX-only one on Windows) fails the build.
add_library(kestrel_host_matlab OBJECT src/gateway/host_mex.cpp)
target_include_directories(kestrel_host_matlab PRIVATE src tests/support/matlab)
target_compile_options(kestrel_host_matlab PRIVATE ${KESTREL_WARNINGS})

find_program(KESTREL_MKOCTFILE mkoctfile NO_CMAKE_FIND_ROOT_PATH)
if(KESTREL_MKOCTFILE)
  execute_process(COMMAND ${KESTREL_MKOCTFILE} -p OCTINCLUDEDIR
                  OUTPUT_VARIABLE KESTREL_OCTAVE_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(EXISTS "${KESTREL_OCTAVE_INCLUDE}/mex.h")
  add_library(kestrel_host_octave OBJECT src/gateway/host_mex.cpp)
  target_include_directories(kestrel_host_octave PRIVATE src ${KESTREL_OCTAVE_INCLUDE} ${KESTREL_OCTAVE_INCLUDE}/..)
  target_compile_options(kestrel_host_octave PRIVATE ${KESTREL_WARNINGS})
else()
  message(STATUS "Octave's mex.h not found: the host layer is compiled against MATLAB's API only")
endif()
