# SPDX-License-Identifier: BSD-3-Clause
# kestrel.mex, built by Octave's own mkoctfile --mex from the core sources and
# the host layer with the module's flags (src/module.mk) and -Wall, and the
# help text beside it.
find_program(MKOCTFILE mkoctfile)
if(NOT MKOCTFILE)
  message(STATUS "mkoctfile not found: kestrel.mex is not built")
  return()
endif()

set(KESTREL_MODULE_SOURCES ${KESTREL_CORE_SOURCES} ${KESTREL_HOST_SOURCES})
list(TRANSFORM KESTREL_MODULE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)
set(KESTREL_MEX ${CMAKE_BINARY_DIR}/kestrel.mex)
set(KESTREL_MEX_OBJECTS ${CMAKE_BINARY_DIR}/mex-objects)
file(MAKE_DIRECTORY ${KESTREL_MEX_OBJECTS})

add_custom_command(
  OUTPUT ${KESTREL_MEX}
  COMMAND ${CMAKE_COMMAND} -E env "CXXFLAGS=${KESTREL_CXXFLAGS} -Wall"
          ${MKOCTFILE} --mex -I${CMAKE_SOURCE_DIR}/src -o ${KESTREL_MEX} ${KESTREL_MODULE_SOURCES}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/src/gateway/kestrel.m ${CMAKE_BINARY_DIR}/kestrel.m
  DEPENDS ${KESTREL_MODULE_SOURCES} ${CMAKE_SOURCE_DIR}/src/gateway/kestrel.m
  WORKING_DIRECTORY ${KESTREL_MEX_OBJECTS}
  COMMENT "Building kestrel.mex with mkoctfile --mex"
  VERBATIM)
add_custom_target(kestrel_mex ALL DEPENDS ${KESTREL_MEX})

# The M functions shipped with the module (inst/), beside it as well, with
# the functions only they call in private/.
set(KESTREL_M_FUNCTIONS ${CMAKE_SOURCE_DIR}/inst/kestrel_compress.m ${CMAKE_SOURCE_DIR}/inst/kestrel_decompress.m)
set(KESTREL_M_PRIVATE ${CMAKE_SOURCE_DIR}/inst/private/adler32.m)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/kestrel_compress.m ${CMAKE_BINARY_DIR}/kestrel_decompress.m
         ${CMAKE_BINARY_DIR}/private/adler32.m
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KESTREL_M_FUNCTIONS} ${CMAKE_BINARY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/private
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${KESTREL_M_PRIVATE} ${CMAKE_BINARY_DIR}/private
  DEPENDS ${KESTREL_M_FUNCTIONS} ${KESTREL_M_PRIVATE}
  VERBATIM)
add_custom_target(kestrel_m_functions ALL DEPENDS ${CMAKE_BINARY_DIR}/kestrel_compress.m
                  ${CMAKE_BINARY_DIR}/kestrel_decompress.m ${CMAKE_BINARY_DIR}/private/adler32.m)

# kestrel_reference.mex: the same module over the straightforward coder, for
# the Octave benchmark and the Octave tests (which compare the two through
# the same commands), built with the module's flags so that the two are
# timed alike. Built by default along with the tests.
set(KESTREL_REFERENCE_SOURCES ${KESTREL_MODULE_SOURCES})
list(FILTER KESTREL_REFERENCE_SOURCES EXCLUDE REGEX "src/coder/(model|encoder|decoder)\\.cpp$")
list(APPEND KESTREL_REFERENCE_SOURCES ${CMAKE_SOURCE_DIR}/tests/reference/reference_module.cpp
     ${CMAKE_SOURCE_DIR}/tests/reference/reference_coder.cpp)
set(KESTREL_REFERENCE_MEX ${CMAKE_BINARY_DIR}/kestrel_reference.mex)
set(KESTREL_REFERENCE_OBJECTS ${CMAKE_BINARY_DIR}/mex-reference-objects)
file(MAKE_DIRECTORY ${KESTREL_REFERENCE_OBJECTS})
add_custom_command(
  OUTPUT ${KESTREL_REFERENCE_MEX}
  COMMAND ${CMAKE_COMMAND} -E env "CXXFLAGS=${KESTREL_CXXFLAGS}"
          ${MKOCTFILE} --mex -I${CMAKE_SOURCE_DIR}/src -I${CMAKE_SOURCE_DIR}/tests -o ${KESTREL_REFERENCE_MEX}
          ${KESTREL_REFERENCE_SOURCES}
  DEPENDS ${KESTREL_REFERENCE_SOURCES}
  WORKING_DIRECTORY ${KESTREL_REFERENCE_OBJECTS}
  COMMENT "Building kestrel_reference.mex with mkoctfile --mex"
  VERBATIM)
if(KESTREL_TESTS)
  add_custom_target(kestrel_reference_mex ALL DEPENDS ${KESTREL_REFERENCE_MEX})
else()
  add_custom_target(kestrel_reference_mex DEPENDS ${KESTREL_REFERENCE_MEX})
endif()
