// SPDX-License-Identifier: BSD-3-Clause
// Banks of models through the module's coder and through the straightforward
// one of tests/reference, side by side: arbitrary alphabets, numbers of
// models, order 1, counts with zeros, static models and increments, symbols
// and contexts coded in the same calls. The bytes, the bit count after every
// call, every refusal of a symbol whose count is 0 and every decoded symbol
// must be the same.
//
// Input: every choice is drawn from the end by the producer (the alphabet
// size, order 1, static, the source of counts, the number of models, the
// increment, the lengths of the calls, then each count as a number 0..7);
// the front holds, per symbol, its byte(s) and, unless order 1, a context
// byte.
#include <algorithm>
#include <functional>

#include "coder/decoder.h"
#include "coder/encoder.h"
#include "fuzz_producer.h"
#include "fuzz_support.h"

namespace {

// Work per input: the straightforward model costs O(nsym) a symbol and a
// halving, and each model it makes costs nsym.
constexpr int64_t BUDGET = int64_t(1) << 18;

struct Piece {
  size_t start;   // first symbol of the call
  size_t length;  // symbols it coded
};

std::string failure_of_call(const std::function<void()>& f) {
  try {
    f();
  } catch (const Failure& failure) {
    return message_text(failure.id);
  }
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzProducer in = producer_make(data, size);
  const bool wide = producer_flag(&in);
  const int32_t nsym = static_cast<int32_t>(wide ? producer_number(&in, 1, 4096) : producer_number(&in, 1, 64));
  const int32_t order = producer_flag(&in) ? 1 : 0;
  const int32_t adaptive = producer_flag(&in) ? 0 : 1;
  const int kind = static_cast<int>(producer_number(&in, 0, 2));
  const bool many = producer_flag(&in);
  const int32_t models = order ? nsym : static_cast<int32_t>(producer_number(&in, 1, many ? 400 : 32));
  const bool any_increment = producer_flag(&in);
  const int32_t increment =
      static_cast<int32_t>(producer_number(&in, 1, any_increment ? static_cast<uint32_t>(MAX_FREQUENCY - nsym) : 32));
  if (int64_t{models} * nsym > BANK_MAX_COUNTS || int64_t{models} * nsym > BUDGET) return 0;
  std::vector<uint32_t> chunks(producer_number(&in, 1, 8));
  for (uint32_t& chunk : chunks) chunk = producer_number(&in, 0, 255);
  const int32_t columns = kind == 0 ? 0 : kind == 1 ? 1 : models;
  std::vector<int32_t> counts(static_cast<size_t>(columns) * nsym);
  for (int32_t k = 0; k < columns; ++k) {
    int32_t* column = counts.data() + static_cast<size_t>(k) * nsym;
    int32_t total = 0;
    for (int32_t s = 0; s < nsym; ++s) total += column[s] = static_cast<int32_t>(producer_number(&in, 0, 7));
    if (total == 0) column[0] = 1;
    while (total > MAX_FREQUENCY) {
      total = 0;
      for (int32_t s = 0; s < nsym; ++s) total += column[s] = (column[s] + 1) / 2;
    }
  }
  std::vector<int32_t> symbols;
  std::vector<int32_t> contexts;
  int64_t work = 0;
  while (producer_left(&in) > 0 && work < BUDGET) {
    uint32_t value = producer_front_byte(&in);
    if (nsym > 256) value |= uint32_t{producer_front_byte(&in)} << 8;
    symbols.push_back(static_cast<int32_t>(value % static_cast<uint32_t>(nsym)));
    if (!order) contexts.push_back(producer_front_byte(&in) % models);
    work += nsym + 32 + 2 * nsym * increment / (MAX_FREQUENCY + 1 - nsym);
  }
  const int32_t* given = counts.empty() ? nullptr : counts.data();

  // Encoding, in calls of the chunks' lengths; a refused symbol ends its
  // call early, and the next call starts behind it.
  ModelBank bank{};
  ReferenceBank reference_bank{};
  bank_init(&bank, nsym, models, order, given, columns, adaptive, increment);
  reference_bank_init(&reference_bank, nsym, models, order, given, columns, adaptive, increment);
  EncoderState encoder{};
  ReferenceEncoder reference{};
  encoder_start(&encoder, "", "w");
  reference_encoder_start(&reference, "", "w");
  std::vector<Piece> pieces;
  std::vector<int32_t> coded, coded_contexts;
  for (size_t start = 0, c = 0; start < symbols.size(); ++c) {
    const size_t length = std::min<size_t>(symbols.size() - start, 1 + chunks[c % chunks.size()] * 20);
    const int32_t* call_contexts = order ? nullptr : contexts.data() + start;
    const std::string fast = failure_of_call(
        [&] { encoder_encode_bank(&encoder, &bank, symbols.data() + start, call_contexts, length); });
    std::string slow;
    size_t done = 0;
    for (; done < length && slow.empty(); ++done) {
      ReferenceModel* model = reference_bank_model(&reference_bank, order ? 0 : contexts[start + done]);
      slow = failure_of_call([&] { reference_encoder_encode(&reference, model, symbols[start + done]); });
      if (slow.empty()) reference_bank_coded(&reference_bank, symbols[start + done]);
    }
    if (!slow.empty()) --done;
    FUZZ_CHECK(fast == slow, "encode refusal '" + fast + "' against '" + slow + "'");
    FUZZ_CHECK(encoder_bits_written(&encoder) == reference.bits_written, "bit count");
    pieces.push_back(Piece{coded.size(), done});
    coded.insert(coded.end(), symbols.begin() + start, symbols.begin() + start + done);
    if (!order) coded_contexts.insert(coded_contexts.end(), contexts.begin() + start, contexts.begin() + start + done);
    start += done + (slow.empty() ? 0 : 1);
  }
  uint8_t* bytes = nullptr;
  uint8_t* reference_bytes = nullptr;
  int32_t count = 0, reference_count = 0;
  encoder_finish(&encoder, &bytes, &count);
  reference_encoder_finish(&reference, &reference_bytes, &reference_count);
  const std::vector<uint8_t> stream(bytes, bytes + count);
  FUZZ_CHECK(stream == std::vector<uint8_t>(reference_bytes, reference_bytes + reference_count), "bytes differ");
  heap_free(bytes);
  heap_free(reference_bytes);
  bank_release(&bank);
  reference_bank_release(&reference_bank);

  // Decoding, in the calls that coded the symbols.
  bank_init(&bank, nsym, models, order, given, columns, adaptive, increment);
  reference_bank_init(&reference_bank, nsym, models, order, given, columns, adaptive, increment);
  DecoderState decoder{};
  ReferenceDecoder reference_decoder{};
  decoder_start(&decoder, stream.data(), static_cast<int64_t>(stream.size()), 1);
  reference_decoder_start(&reference_decoder, stream.data(), static_cast<int64_t>(stream.size()), 1);
  std::vector<int32_t> decoded(coded.size());
  for (const Piece& piece : pieces) {
    decoder_decode_bank(&decoder, &bank, decoded.data() + piece.start,
                        order ? nullptr : coded_contexts.data() + piece.start, piece.length);
    for (size_t i = piece.start; i < piece.start + piece.length; ++i) {
      ReferenceModel* model = reference_bank_model(&reference_bank, order ? 0 : coded_contexts[i]);
      const int32_t s = reference_decoder_decode(&reference_decoder, model);
      reference_bank_coded(&reference_bank, s);
      FUZZ_CHECK(s == decoded[i] && s == coded[i], "symbol " + std::to_string(i));
    }
  }
  decoder_close(&decoder);
  reference_decoder_close(&reference_decoder);
  bank_release(&bank);
  reference_bank_release(&reference_bank);
  return 0;
}
