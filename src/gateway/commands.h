// SPDX-License-Identifier: BSD-3-Clause
// The coder commands and the pieces of the frame that concern coders: the
// per-call set-up, the handle argument and the give-back of a coder whose
// creation was cut short. Each handler reads its own arguments from call and
// leaves its answer as the result value or as the first output.
#pragma once

#include "gateway/gateway.h"

// Registers the exit hook on the first call of each load.
void command_setup();

// After a failed call: frees the slot of the creation the call had under way
// (call.creating), with its model and any stream already opened, so that the
// table is as it was. Nothing when no creation was under way.
void command_give_back(const CommandCall& call) noexcept;

void command_new_encoder(CommandCall& call);
void command_new_decoder(CommandCall& call);
void command_bits(CommandCall& call);
void command_done(CommandCall& call);
void command_encode(CommandCall& call);
void command_decode(CommandCall& call);
void command_cleanup(CommandCall& call);
