// SPDX-License-Identifier: BSD-3-Clause
// The models a creation asks for and the contexts encode and decode are
// given: options models=K, order=1, counts, static and inc=N, the COUNTS
// matrix in place of the alphabet size, and the CONTEXTS argument. Every
// test here runs before anything is allocated or coded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "coder/bank.h"
#include "gateway/gateway.h"

// A creation's models, checked.
struct ModelRequest {
  int32_t nsym;              // alphabet size: argument 3, or the rows of COUNTS
  int32_t count;             // K: models=K, nsym with order=1, the columns of COUNTS, else 1
  int32_t order;             // 1 with order=1, else 0
  int32_t adaptive;          // 0 with static, else 1
  int32_t increment;         // N of inc=N, else 1
  int32_t columns;           // columns of COUNTS (1 or count), 0 without counts
  const HostArray* counts;   // argument 3 with counts, else nullptr
};

// Reads argument 3 (numeric, else "Atteso int") and the creation's options.
// Raises "invalid models ..." for a K, order or N that is not an integer in
// range, or options that do not fit together (order=1 with K other than
// nsym, COUNTS with neither 1 nor K columns), or a count that is negative,
// fractional or not a number, or a column totalling 0; "arithmetic coder
// model max frequency exceeded" for a column above MAX_FREQUENCY; and "too
// many models ..." when K * nsym exceeds BANK_MAX_COUNTS. A request without
// the new options is today's: nsym from argument 3, one uniform adaptive
// model.
ModelRequest models_read_request(const CommandCall& call);

// Opens the slot of handle (just taken) for an encoder or a decoder
// (is_decoder) with the models request says (see slot_open), reading COUNTS
// again. Raises what slot_open raises, and "arithmetic coder model
// allocation failure" when the counts find no room.
void models_open_slot(const ModelRequest& request, int handle, int32_t is_decoder);

// The contexts of encode or decode: argument 4 when given, for count
// symbols of the coder's bank. Raises "invalid models ..." for contexts
// given to a bank of order 1, "Expected a full real numeric array" for an
// array that cannot be read as numbers, "CONTEXTS must have ..." when it
// does not have count elements and "context out of range" for an element
// outside 0..K-1 (each truncated toward zero). Returns the array's numbers,
// or HOST_OTHER with no data when there are no contexts.
HostNumbers models_read_contexts(const CommandCall& call, const ModelBank* bank, size_t count);
