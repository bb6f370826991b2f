# SPDX-License-Identifier: BSD-3-Clause
# 64-bit ARM Linux with Debian's cross compiler; ctest runs the test programs
# under qemu-user, which finds the ARM C and C++ libraries under the cross
# root given with -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(KESTREL_TARGET_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${KESTREL_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KESTREL_TARGET_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTREL_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(KESTREL_QEMU NAMES qemu-aarch64 qemu-aarch64-static NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTREL_QEMU} -L /usr/${KESTREL_TARGET_TRIPLE})
