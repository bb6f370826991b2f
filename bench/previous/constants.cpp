// SPDX-License-Identifier: BSD-3-Clause
#include "constants.h"

#if defined(__SIZEOF_INT128__)
static constexpr std::array<uint64_t, MAX_FREQUENCY + 1> code_make_reciprocals() {
  std::array<uint64_t, MAX_FREQUENCY + 1> reciprocals{};
  for (uint64_t d = 1; d <= MAX_FREQUENCY; ++d) reciprocals[d] = ((uint64_t{1} << 44) + d - 1) / d;
  return reciprocals;
}

const std::array<uint64_t, MAX_FREQUENCY + 1> CODE_RECIPROCALS = code_make_reciprocals();
#endif
