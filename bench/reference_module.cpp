// SPDX-License-Identifier: BSD-3-Clause
// The coder operations of the module, carried out by the straightforward
// coder: linked with the same gateway, slot table and streams instead of the
// fast coder, it makes kestrel_reference.mex, which the Octave benchmark
// times beside kestrel.mex. Each straightforward record lives in the storage
// of the fast record of its slot, which is larger and equally aligned.
#include <new>

#include "coder/decoder.h"
#include "coder/encoder.h"
#include "reference/reference_coder.h"

static_assert(sizeof(ReferenceModel) <= sizeof(FrequencyModel) && alignof(ReferenceModel) <= alignof(FrequencyModel),
              "a reference model fits in a model's storage");
static_assert(sizeof(ReferenceEncoder) <= sizeof(EncoderState) && alignof(ReferenceEncoder) <= alignof(EncoderState),
              "a reference encoder fits in an encoder's storage");
static_assert(sizeof(ReferenceDecoder) <= sizeof(DecoderState) && alignof(ReferenceDecoder) <= alignof(DecoderState),
              "a reference decoder fits in a decoder's storage");

static ReferenceModel* as_reference(FrequencyModel* model) { return reinterpret_cast<ReferenceModel*>(model); }
static ReferenceEncoder* as_reference(EncoderState* state) { return reinterpret_cast<ReferenceEncoder*>(state); }
static ReferenceDecoder* as_reference(DecoderState* state) { return reinterpret_cast<ReferenceDecoder*>(state); }

int model_init(FrequencyModel* model, int32_t nsym, const int32_t* counts, int32_t adaptive) {
  return reference_model_init(new (model) ReferenceModel{}, nsym, counts, adaptive);
}

void model_release(FrequencyModel* model) { reference_model_release(as_reference(model)); }

int encoder_start(EncoderState* state, const char* path, const char* mode) {
  return reference_encoder_start(as_reference(state), path, mode);
}

int encoder_encode(EncoderState* state, FrequencyModel* model, int32_t symbol) {
  return reference_encoder_encode(as_reference(state), as_reference(model), symbol);
}

int64_t encoder_bits_written(const EncoderState* state) {
  return reference_encoder_bits_written(reinterpret_cast<const ReferenceEncoder*>(state));
}

void encoder_finish(EncoderState* state, uint8_t** bytes_out, int32_t* length_out) {
  reference_encoder_finish(as_reference(state), bytes_out, length_out);
}

int decoder_start(DecoderState* state, const void* source, int64_t count_or_offset, int from_memory) {
  return reference_decoder_start(as_reference(state), source, count_or_offset, from_memory);
}

int32_t decoder_decode(DecoderState* state, FrequencyModel* model) {
  return reference_decoder_decode(as_reference(state), as_reference(model));
}

void decoder_close(DecoderState* state) { reference_decoder_close(as_reference(state)); }

void encoder_encode_symbols(EncoderState* state, FrequencyModel* model, const int32_t* symbols, size_t count) {
  for (size_t i = 0; i < count; ++i) reference_encoder_encode(as_reference(state), as_reference(model), symbols[i]);
}

void decoder_decode_symbols(DecoderState* state, FrequencyModel* model, int32_t* symbols, size_t count) {
  for (size_t i = 0; i < count; ++i) symbols[i] = reference_decoder_decode(as_reference(state), as_reference(model));
}
