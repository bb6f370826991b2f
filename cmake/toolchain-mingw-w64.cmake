# SPDX-License-Identifier: BSD-3-Clause
# 64-bit Windows with the MinGW-w64 cross compiler. Test programs are linked
# statically (no MinGW DLL needs to sit beside them) and ctest runs them under
# wine, in a wine prefix of the build's own: KESTREL_WINEPREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTREL_TARGET_TRIPLE x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32 model of
# GCC 12 lacks.
set(CMAKE_C_COMPILER ${KESTREL_TARGET_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTREL_TARGET_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTREL_TARGET_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian's wine launcher script complains about a missing 32-bit wine on every
# start; the 64-bit loader behind it is all these programs need.
find_program(KESTREL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(KESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix the tests run in")
# WINEDLLOVERRIDES: no Mono or Gecko installer when the prefix is first made.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEPREFIX=${KESTREL_WINEPREFIX} WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${KESTREL_WINE})
