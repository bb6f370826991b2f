# SPDX-License-Identifier: BSD-3-Clause
# Reads the module's source lists and compile flags from src/module.mk, the
# one list that every build route shares, and re-runs the configuration when
# it changes. Sets KESTREL_CORE_SOURCES and KESTREL_HOST_SOURCES (paths
# relative to the source tree) and KESTREL_CXXFLAGS (one string).

set(KESTREL_MODULE_LIST ${CMAKE_SOURCE_DIR}/src/module.mk)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KESTREL_MODULE_LIST})
file(READ ${KESTREL_MODULE_LIST} kestrel_module_text)
string(REPLACE "\\\n" " " kestrel_module_text "${kestrel_module_text}")

# kestrel_module_variable(NAME OUT): the words of the variable NAME, as a list.
function(kestrel_module_variable name out)
  if(NOT kestrel_module_text MATCHES "(^|\n)${name}[ \t]*=([^\n]*)")
    message(FATAL_ERROR "${KESTREL_MODULE_LIST} defines no ${name}")
  endif()
  separate_arguments(words UNIX_COMMAND "${CMAKE_MATCH_2}")
  set(${out} ${words} PARENT_SCOPE)
endfunction()

kestrel_module_variable(KESTREL_CORE_SOURCES KESTREL_CORE_SOURCES)
kestrel_module_variable(KESTREL_HOST_SOURCES KESTREL_HOST_SOURCES)
list(TRANSFORM KESTREL_CORE_SOURCES PREPEND src/)
list(TRANSFORM KESTREL_HOST_SOURCES PREPEND src/)
kestrel_module_variable(KESTREL_CXXFLAGS kestrel_flags)
list(JOIN kestrel_flags " " KESTREL_CXXFLAGS)
