// SPDX-License-Identifier: BSD-3-Clause
// The coder table: SLOT_COUNT slots in static storage, addressed by handle
// (the slot index). Coders persist between calls until closed one by one,
// all at once, or when the host unloads the module.
#pragma once

#include <cstdint>

#include "coder/decoder.h"
#include "coder/encoder.h"
#include "coder/model.h"

// Coders open at once: enough for any sensible session, and small enough that
// the whole table lives in static storage: 512 slots of 584 bytes, 299,008
// bytes (x86-64), most of it the encoder's 264-byte staging area and the
// decoder's 136-byte read-ahead, which every slot holds both of.
constexpr int SLOT_COUNT = 512;

// The handle done accepts for every coder at once.
constexpr int ALL_HANDLES = -42;

struct CoderSlot {
  EncoderState encoder;  // registers and stream of an encoder; meaningful when is_decoder is 0
  DecoderState decoder;  // registers and stream of a decoder; meaningful when is_decoder is 1
  FrequencyModel model;  // the coder's adaptive model
  int32_t is_decoder;    // 1: the slot holds a decoder, 0: an encoder
  int32_t in_use;        // 1 while the slot is taken, 0 when free
};

struct CoderTable {
  CoderSlot slots[SLOT_COUNT];  // slot i has handle i; all free at load
};

extern CoderTable coder_table;

// Takes the lowest free slot and returns its handle, or -1 when all are taken.
int acquire_slot();

// Readies the slot of a handle just taken (acquire_slot) for a new coder:
// no stream yet, a uniform adaptive model of nsym symbols, and an encoder
// (is_decoder 0) or a decoder (1). Raises what model_init raises, leaving the
// slot for slot_give_back.
void slot_open(int handle, int32_t nsym, int32_t is_decoder);

// Gives back the slot of a coder whose creation did not finish: closes the
// stream it may have opened, releases its model and frees the slot. Never
// raises.
void slot_give_back(int handle) noexcept;

// Marks a slot free; nothing else in it is cleared. Raises "Internal error:
// handler out of bounds" for a handle outside 0..SLOT_COUNT-1.
void release_slot(int handle);

// Closes the coder in one slot: finishes an encoder or closes a decoder,
// releases the model and frees the slot. Sets *count to the bytes a memory
// encoder hands back (*bytes: heap block owned by the caller; untouched when
// *count is 0). A free slot is left alone. A memory encoder whose last bytes
// find no room raises "buffer allocation failure" before anything changes:
// the slot stays taken with the encoder as it was, and a later close
// returns every byte. Any other failure ("Could not write file", "buffer
// allocation failure" of an encoder that lost bytes) comes after the slot was
// freed and its stream and model released. Raises "Internal: handler '%d'
// out of bounds to close_encoder" for a handle outside 0..SLOT_COUNT-1.
void close_encoder(int handle, uint8_t** bytes, int32_t* count);

// Closes every slot in increasing handle order. Memory encoders are dropped
// unfinished, their bytes discarded, which takes no memory and cannot fail;
// file encoders are finished. Every slot is closed even when some fail (a
// file that could not be written); the first failure is raised again
// afterwards.
void close_all();
