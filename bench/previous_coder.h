// SPDX-License-Identifier: BSD-3-Clause
// The coder before the branch-free rewrite, as previous::model_init,
// previous::encoder_encode_symbols and so on; for the benchmark only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stream/stream.h"

namespace previous {
#include "previous/decoder.h"
#include "previous/encoder.h"
}  // namespace previous
