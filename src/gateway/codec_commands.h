// SPDX-License-Identifier: BSD-3-Clause
// The commands behind kestrel_compress and kestrel_decompress (version 2):
//   kestrel('compress[:threads=N][:predictor=NAME][:progress]', X) -> uint8 row
//   kestrel('decompress[:threads=N][:progress]', BYTES)             -> the array
// The work runs in codec/ (container.h); these read the host's arrays and
// make the result, on the calling thread only.
#pragma once

#include "gateway/gateway.h"

void command_compress(CommandCall& call);
void command_decompress(CommandCall& call);
