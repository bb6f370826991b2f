// SPDX-License-Identifier: BSD-3-Clause
#include "registry/slots.h"

#include "base/checks.h"
#include "base/failure.h"
#include "base/messages.h"

CoderTable coder_table;

int acquire_slot() {
  for (int handle = 0; handle < SLOT_COUNT; ++handle) {
    if (coder_table.slots[handle].in_use == 0) {
      coder_table.slots[handle].in_use = 1;
      return handle;
    }
  }
  return -1;
}

void release_slot(int handle) {
  if (handle < 0 || handle >= SLOT_COUNT) raise_failure(MSG_RELEASE_OUT_OF_BOUNDS);
  coder_table.slots[handle].in_use = 0;
}

void slot_open(int handle, int32_t nsym, int32_t is_decoder) {
  KESTREL_ASSERT(handle >= 0 && handle < SLOT_COUNT && coder_table.slots[handle].in_use == 1);
  KESTREL_ASSERT(is_decoder == 0 || is_decoder == 1);
  CoderSlot* slot = &coder_table.slots[handle];
  slot->encoder.stream = nullptr;
  slot->decoder.stream = nullptr;
  model_init(&slot->model, nsym, nullptr, 1);
  slot->is_decoder = is_decoder;
}

void slot_give_back(int handle) noexcept {
  KESTREL_ASSERT(handle >= 0 && handle < SLOT_COUNT && coder_table.slots[handle].in_use == 1);
  CoderSlot* slot = &coder_table.slots[handle];
  stream_close(slot->encoder.stream);
  slot->encoder.stream = nullptr;
  decoder_close(&slot->decoder);
  model_release(&slot->model);
  slot->in_use = 0;
}

// Releases a slot's model and frees the slot when closing it ends, whether
// closing raised or not.
struct SlotRelease {
  CoderSlot* slot;  // a taken slot being closed
  ~SlotRelease() {
    model_release(&slot->model);
    slot->in_use = 0;
  }
};

// Ends the coder of a taken slot; its stream is closed whatever happens.
static void slot_close_coder(CoderSlot* slot, uint8_t** bytes, int32_t* count) {
  KESTREL_ASSERT(slot->is_decoder == 0 || slot->is_decoder == 1);
  if (slot->is_decoder == 0) {
    encoder_finish(&slot->encoder, bytes, count);
  } else {
    decoder_close(&slot->decoder);
  }
}

void close_encoder(int handle, uint8_t** bytes, int32_t* count) {
  *count = 0;
  if (handle < 0 || handle >= SLOT_COUNT) raise_failure_with_int(MSG_CLOSE_OUT_OF_BOUNDS, handle);
  CoderSlot* slot = &coder_table.slots[handle];
  if (slot->in_use == 0) return;
  if (slot->is_decoder == 0) encoder_reserve_finish(&slot->encoder);  // raises with the slot as it was
  SlotRelease release{slot};
  slot_close_coder(slot, bytes, count);
}

// Closes the coder of one slot whose output nobody takes: a memory encoder
// is dropped unfinished (which cannot fail), anything else closed as
// close_encoder does.
static void close_discarding(int handle) {
  CoderSlot* slot = &coder_table.slots[handle];
  if (slot->in_use == 0) return;
  SlotRelease release{slot};
  if (slot->is_decoder == 0) {
    encoder_close_discarding(&slot->encoder);
  } else {
    decoder_close(&slot->decoder);
  }
}

void close_all() {
  bool failed = false;
  Failure first{};
  for (int handle = 0; handle < SLOT_COUNT; ++handle) {
    try {
      close_discarding(handle);
    } catch (const Failure& failure) {
      if (!failed) first = failure;
      failed = true;
    }
  }
  if (failed) throw first;
}
