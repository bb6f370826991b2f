// SPDX-License-Identifier: BSD-3-Clause
// The coder operations of the module, carried out by the straightforward
// coder: linked with the same gateway, slot table and streams instead of the
// fast coder, it makes kestrel_reference.mex, which the Octave tests compare
// with kestrel.mex and the Octave benchmark times beside it. The commands hand over the records of a slot of
// the coder table; the straightforward records live in tables of their own,
// at the same index. The fast model keeps the alphabet size and the
// adaptivity that the commands read.
#include "coder/decoder.h"
#include "coder/encoder.h"
#include "reference/reference_coder.h"
#include "registry/slots.h"

static ReferenceModel reference_models[SLOT_COUNT];      // the model of each slot
static ReferenceEncoder reference_encoders[SLOT_COUNT];  // the encoder of each slot
static ReferenceDecoder reference_decoders[SLOT_COUNT];  // the decoder of each slot

// The index of the slot whose field record is.
template <typename Record>
static int reference_slot(const Record* record, Record CoderSlot::*field) {
  int handle = 0;
  while (handle < SLOT_COUNT - 1 && &(coder_table.slots[handle].*field) != record) ++handle;
  return handle;
}

static ReferenceModel* reference_of(const FrequencyModel* model) {
  return &reference_models[reference_slot(model, &CoderSlot::model)];
}
static ReferenceEncoder* reference_of(const EncoderState* state) {
  return &reference_encoders[reference_slot(state, &CoderSlot::encoder)];
}
static ReferenceDecoder* reference_of(const DecoderState* state) {
  return &reference_decoders[reference_slot(state, &CoderSlot::decoder)];
}

int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  *model = FrequencyModel{};
  ReferenceModel* reference = reference_of(model);
  *reference = ReferenceModel{};
  reference_model_init(reference, nsym, counts, adaptive);
  model->nsym = nsym;
  model->adaptive = adaptive;
  return 0;
}

void model_release(FrequencyModel* model) {
  reference_model_release(reference_of(model));
  model->nsym = 0;
}

int encoder_start(EncoderState* state, const char* path, const char* mode) {
  return reference_encoder_start(reference_of(state), path, mode);
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  return reference_encoder_encode(reference_of(state), reference_of(model), symbol);
}

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  ReferenceEncoder* encoder = reference_of(state);
  ReferenceModel* reference = reference_of(model);
  for (size_t i = 0; i < count; ++i) reference_encoder_encode(encoder, reference, symbols[i]);
}

int64_t encoder_bits_written(const EncoderState* state) { return reference_encoder_bits_written(reference_of(state)); }

int64_t encoder_output_size(const EncoderState* state) {
  const ReferenceEncoder* encoder = reference_of(state);
  if (encoder->stream == nullptr || !encoder->stream->is_memory) return 0;
  int64_t final_bits = (8 - encoder->bits_to_go) + encoder->bits_to_follow + 2;
  return encoder->stream->memory->pos + final_bits / 8 + 1;
}

bool encoder_lost_bytes(const EncoderState*) { return false; }  // the straightforward writer keeps no such mark

void encoder_reserve_finish(EncoderState* state) {
  ReferenceEncoder* encoder = reference_of(state);
  if (encoder->stream == nullptr || !encoder->stream->is_memory) return;
  stream_reserve(encoder->stream, static_cast<int32_t>(encoder_output_size(state) - encoder->stream->memory->pos));
}

void encoder_finish(EncoderState* state, uint8_t** bytes_out, int32_t* length_out) {
  reference_encoder_finish(reference_of(state), bytes_out, length_out);
}

void encoder_close_discarding(EncoderState* state) {
  ReferenceEncoder* encoder = reference_of(state);
  if (encoder->stream != nullptr && encoder->stream->is_memory) {
    stream_close(encoder->stream);
    encoder->stream = nullptr;
    return;
  }
  uint8_t* bytes = nullptr;
  int32_t length = 0;
  reference_encoder_finish(encoder, &bytes, &length);
}

int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory) {
  return reference_decoder_start(reference_of(state), source, count_or_offset, from_memory);
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) {
  return reference_decoder_decode(reference_of(state), reference_of(model));
}

void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  ReferenceDecoder* decoder = reference_of(state);
  ReferenceModel* reference = reference_of(model);
  for (size_t i = 0; i < count; ++i) symbols[i] = reference_decoder_decode(decoder, reference);
}

void decoder_close(DecoderState* state) { reference_decoder_close(reference_of(state)); }
