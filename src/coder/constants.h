// SPDX-License-Identifier: BSD-3-Clause
// Constants shared by the encoder, the decoder and the model.
#pragma once

#include <cstdint>

// Code registers are 16 bits wide: with counts below CODE_QUARTER every
// product of a range (at most 0x10000) and a count fits in 32 signed bits.
constexpr int32_t CODE_BITS = 16;
constexpr int32_t CODE_TOP = (1 << CODE_BITS) - 1;     // largest code value, the initial high
constexpr int32_t CODE_HALF = CODE_TOP / 2 + 1;        // 0x8000: bits on which low and high agree are settled
constexpr int32_t CODE_QUARTER = CODE_HALF / 2;        // 0x4000: an interval wider than this never vanishes
constexpr int32_t CODE_THREE_QUARTERS = CODE_HALF + CODE_QUARTER;  // 0xC000

// Largest model total: kept below CODE_QUARTER so that every symbol with a
// nonzero count keeps a nonempty share of the narrowest interval.
constexpr int32_t MAX_FREQUENCY = CODE_QUARTER - 1;  // 16383

// Largest uniform alphabet: after a halving its total is at most
// (MAX_FREQUENCY + nsym) / 2, and the count that follows must stay within
// MAX_FREQUENCY.
constexpr int32_t MAX_UNIFORM_ALPHABET = MAX_FREQUENCY - 1;  // 16382

// End-of-file reads a file-fed decoder tolerates: 14 reads give 112 one bits,
// more than the final bits of any stream need to settle its last symbols.
constexpr int32_t MAX_GARBAGE_READS = 14;
