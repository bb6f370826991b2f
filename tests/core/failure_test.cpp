// SPDX-License-Identifier: BSD-3-Clause
// The failure channel: message texts and their length limit, and every
// allocation failure forced through the heap switch, with nothing leaked once
// the caller releases what it owns.
#include <cstring>
#include <set>

#include "coder_support.h"
#include "gateway/gateway.h"
#include "support/host_fake.h"

namespace {

// Runs op with the nth allocation from now failing (and every later one when
// every is set); returns the raised message or "".
template <typename Op>
std::string with_failing_allocation(long n, bool every, Op&& op) {
  heap_fail_at(n, every);
  std::string message = failure_of(op);
  heap_fail_at(0, false);
  return message;
}

TEST(FailureChannel, CarriesItsMessageAndCutsItsTextToTheBuffer) {
  EXPECT_EQ("invalid handler", failure_of([] { raise_failure(MSG_INVALID_HANDLE); }));
  EXPECT_EQ("Internal: handler '-7' out of bounds to close_encoder",
            failure_of([] { raise_failure_with_int(MSG_CLOSE_OUT_OF_BOUNDS, -7); }));
  char text[8];
  failure_text(Failure{MSG_INVALID_HANDLE, 0}, text, sizeof text);
  EXPECT_STREQ("invalid", text);
}

TEST(FailureChannel, TheFrameReportsEachCallsOwnErrorAndNothingOfAnEarlierOne) {
  EXPECT_EQ("Unrecognized command", fake_kestrel({"no_such_command"}).error);
  const FakeResult few = fake_call({});
  EXPECT_EQ((std::pair<std::string, std::string>{"pochi parametri", "kestrel:fewArguments"}),
            std::pair(few.error, few.identifier));
  const std::string rest(failure_message + 15, FAILURE_MESSAGE_SIZE - 15);
  EXPECT_EQ(std::string(rest.size(), '\0'), rest);
}

TEST(FailureChannel, EveryMessageHasItsOwnIdentifierInComponentMnemonicForm) {
  std::set<std::string> identifiers, texts;
  for (const Message& message : MESSAGES) {
    ASSERT_NE(nullptr, message.identifier);
    ASSERT_NE(nullptr, message.text);
    const std::string identifier = message.identifier;
    EXPECT_EQ(0u, identifier.rfind("kestrel:", 0)) << identifier;
    EXPECT_GT(identifier.size(), 8u);
    EXPECT_EQ(std::string::npos, identifier.find_first_not_of(
                                     "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789:", 8))
        << identifier;
    EXPECT_TRUE(identifiers.insert(identifier).second) << identifier;
    EXPECT_TRUE(texts.insert(message.text).second) << message.text;
  }
}

TEST(AllocationFailure, OpeningAMemoryStreamOrCoderNamesTheRecordThatFailed) {
  const std::string expected[] = {"stream allocation failure", "buffer allocation failure",
                                  "buffer allocation failure", ""};  // record, buffer record, block, none
  const Bytes source{0xDB, 0x03};
  for (long n = 1; n <= 4; ++n) {
    SCOPED_TRACE(n);
    const long live = heap_live_blocks();
    ByteStream *writer = nullptr, *reader = nullptr;
    EXPECT_EQ(expected[n - 1], with_failing_allocation(n, false, [&] {
                writer = stream_open_memory_writer();
              }));
    EXPECT_EQ(expected[n - 1], with_failing_allocation(n, false, [&] {
                reader = stream_open_memory_reader(source.data(), 2);
              }));
    stream_close(writer);
    stream_close(reader);
    EncoderState encoder;
    std::memset(&encoder, 0x5A, sizeof encoder);
    EXPECT_EQ(expected[n - 1], with_failing_allocation(n, false, [&] { encoder_start(&encoder, "", "w"); }));
    if (n < 4) {
      EXPECT_EQ((std::pair{0x5A5A5A5A, 0x5A5A5A5A5A5A5A5A}), std::pair(encoder.low, encoder.bits_flushed));
    }
    if (n == 4) stream_close(encoder.stream);
    DecoderState decoder{};
    EXPECT_EQ(expected[n - 1], with_failing_allocation(n, false, [&] {
                decoder_start(&decoder, source.data(), 2, 1);
              }));
    decoder_close(&decoder);
    EXPECT_EQ(live, heap_live_blocks());
  }
}

TEST(AllocationFailure, ModelTablesThatFailAreReportedAndFreedOnRelease) {
  const long before = heap_allocation_count();
  FrequencyModel model{};
  model_init(&model, 300, nullptr, 1);
  const long allocations = heap_allocation_count() - before;
  model_release(&model);
  ASSERT_GT(allocations, 0);
  for (long n = 1; n <= allocations + 1; ++n) {
    const long live = heap_live_blocks();
    EXPECT_EQ(n <= allocations ? "arithmetic coder model allocation failure" : "",
              with_failing_allocation(n, false, [&] { model_init(&model, 300, nullptr, 1); }));
    model_release(&model);
    EXPECT_EQ(live, heap_live_blocks()) << n;
  }
}

TEST(AllocationFailure, EncoderWhoseBufferCannotGrowKeepsItsBytesAndStaysFailed) {
  const long live = heap_live_blocks();
  FrequencyModel model{};
  model_init(&model, 256, nullptr, 1);
  EncoderState encoder{};
  encoder_start(&encoder, "", "w");
  int32_t symbol = 0;
  while (encoder.stream->memory->size == 0) encoder_encode(&encoder, &model, symbol++ * 89 % 256);
  const ByteBuffer* buffer = encoder.stream->memory;
  EXPECT_EQ("buffer allocation failure", with_failing_allocation(1, true, [&] {
              for (int i = 0; i < 100000; ++i) encoder_encode(&encoder, &model, symbol++ * 89 % 256);
            }));
  ASSERT_EQ(1024, buffer->size);
  const int32_t pos = buffer->pos;
  const Bytes written(buffer->data, buffer->data + pos);
  int32_t count = 0;
  EXPECT_EQ("buffer allocation failure", with_failing_allocation(1, false, [&] {
              stream_contents(encoder.stream, &count);
            }));
  EXPECT_EQ(pos, buffer->pos);
  EXPECT_EQ(written, Bytes(buffer->data, buffer->data + pos));
  // Bytes were lost midway: the encoder refuses to go on or to hand back a
  // stream that would not decode, and still closes cleanly.
  EXPECT_EQ("buffer allocation failure", failure_of([&] { encoder_encode(&encoder, &model, 1); }));
  uint8_t* bytes = nullptr;
  EXPECT_EQ("buffer allocation failure", failure_of([&] { encoder_finish(&encoder, &bytes, &count); }));
  EXPECT_EQ(nullptr, encoder.stream);
  EXPECT_EQ(nullptr, bytes);
  model_release(&model);
  EXPECT_EQ(live, heap_live_blocks());
}

TEST(AllocationFailure, FinishingAnEncoderClosesItsStreamEvenWhenItFails) {
  for (long n = 1; n <= 2; ++n) {  // 1: room for the last byte, 2: trimming the block handed back, which may fail
    const long live = heap_live_blocks();
    EncoderState encoder{};
    encoder_start(&encoder, "", "w");
    uint8_t* bytes = nullptr;
    int32_t count = -1;
    EXPECT_EQ(n < 2 ? "buffer allocation failure" : "",
              with_failing_allocation(n, false, [&] { encoder_finish(&encoder, &bytes, &count); }));
    EXPECT_EQ(nullptr, encoder.stream);
    if (n == 2) { EXPECT_EQ((Bytes{0x02}), take_bytes(bytes, count)); }
    EXPECT_EQ(live, heap_live_blocks()) << n;
  }
  if (!std::filesystem::exists("/dev/full")) return;
  const long live = heap_live_blocks();
  EncoderState encoder{};
  encoder_start(&encoder, "/dev/full", "w");
  EXPECT_EQ("Could not write file", failure_of([&] { finish(&encoder); }));
  EXPECT_EQ(live, heap_live_blocks());
}

}  // namespace
