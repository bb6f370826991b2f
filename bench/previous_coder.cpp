// SPDX-License-Identifier: BSD-3-Clause
// The fast coder as it stood before the branch-free rewrite, compiled into the
// namespace previous so that the benchmark can time it beside the current
// coder and the straightforward one in the same run. Its files in previous/
// are unchanged copies but for their include paths.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "gateway/failure.h"
#include "gateway/heap.h"
#include "gateway/messages.h"
#include "stream/stream.h"

#include "previous_coder.h"

namespace previous {
#include "previous/constants.cpp"
#include "previous/model.cpp"
#include "previous/encoder.cpp"
#include "previous/decoder.cpp"
}  // namespace previous
