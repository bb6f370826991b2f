# SPDX-License-Identifier: BSD-3-Clause
# The host machine with clang and LLVM's C++ library (libc++), the standard
# library of macOS; nothing is emulated.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-stdlib=libc++")
