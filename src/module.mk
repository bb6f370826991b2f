# SPDX-License-Identifier: BSD-3-Clause
# The module's source files, relative to src/, and the flags it is compiled
# with: the one list that CMake, src/Makefile and build_kestrel.m all build
# from. Keep each variable in the form NAME = words, continued by a trailing
# backslash: CMake and build_kestrel.m read it with a plain parser.

# The core: builds and is tested with no MATLAB or Octave present.
KESTREL_CORE_SOURCES = \
  base/failure.cpp \
  base/platform.cpp \
  base/heap.cpp \
  base/messages.cpp \
  gateway/gateway.cpp \
  gateway/commands.cpp \
  gateway/numbers.cpp \
  registry/slots.cpp \
  stream/buffer.cpp \
  stream/stream.cpp \
  coder/bits.cpp \
  coder/model.cpp \
  coder/encoder.cpp \
  coder/decoder.cpp

# The host layer: the only code that includes mex.h.
KESTREL_HOST_SOURCES = \
  gateway/host_mex.cpp

# Optimisation, language and visibility flags of the module, in GCC and Clang
# syntax, given to the compiler in place of the host's default CXXFLAGS.
KESTREL_CXXFLAGS = -O2 -std=c++17 -fvisibility=hidden -DNDEBUG
