// SPDX-License-Identifier: BSD-3-Clause
// The coder table: taking and reusing slots, closing one coder or all of
// them, and the bounds checks. The table is global: every test starts and
// ends with it empty.
#include <cstring>
#include <memory>

#include "coder_support.h"
#include "registry/slots.h"

namespace {

class Slots : public testing::Test {
 protected:
  void SetUp() override {
    close_all();
    live_ = heap_live_blocks();
  }
  void TearDown() override {
    heap_fail_at(0, false);
    failure_of(close_all);
    EXPECT_EQ(live_, heap_live_blocks());
  }
  // Opens a coder with a uniform model in the lowest free slot: an encoder
  // into path (memory when empty) fed with symbols, or a decoder over bytes.
  static int open_encoder(int32_t nsym, const Symbols& symbols = {}, const std::string& path = "") {
    CoderSlot& slot = take_slot(nsym, 0);
    EXPECT_EQ(0, encoder_start(&slot.encoder, path.c_str(), "a"));
    for (int32_t s : symbols) encoder_encode(&slot.encoder, &slot.model, s);
    return static_cast<int>(&slot - coder_table.slots);
  }
  static int open_decoder(int32_t nsym, const Bytes& bytes) {
    CoderSlot& slot = take_slot(nsym, 1);
    decoder_start(&slot.decoder, bytes.data(), static_cast<int64_t>(bytes.size()), 1);
    return static_cast<int>(&slot - coder_table.slots);
  }
  static CoderSlot& take_slot(int32_t nsym, int32_t is_decoder) {
    CoderSlot& slot = coder_table.slots[acquire_slot()];
    model_init(&slot.model, nsym, nullptr, 1);
    slot.is_decoder = is_decoder;
    return slot;
  }
  // Closes a slot and returns the bytes it hands back; bytes stay untouched when there are none.
  static Bytes close(int handle) {
    uint8_t sentinel = 0;
    uint8_t* bytes = &sentinel;
    int32_t count = 99;
    close_encoder(handle, &bytes, &count);
    if (count == 0) { EXPECT_EQ(&sentinel, bytes); }
    return count == 0 ? Bytes() : take_bytes(bytes, count);
  }
  static bool in_use(int handle) { return coder_table.slots[handle].in_use != 0; }
  static bool table_is_free() {
    return std::none_of(std::begin(coder_table.slots), std::end(coder_table.slots),
                        [](const CoderSlot& slot) { return slot.in_use != 0; });
  }
  long live_ = 0;
};

TEST_F(Slots, LowestFreeSlotIsTakenAndReused) {
  EXPECT_EQ(0, open_encoder(2));
  EXPECT_EQ(1, open_decoder(2, {0x05}));
  EXPECT_EQ(2, open_encoder(2));
  EXPECT_EQ((Bytes{0x02}), close(0));
  EXPECT_EQ(Bytes(), close(1));
  EXPECT_FALSE(in_use(0) || in_use(1));
  EXPECT_EQ(0, acquire_slot());
  EXPECT_EQ(1, acquire_slot());
  EXPECT_EQ(3, acquire_slot());
  for (int handle : {0, 1, 3}) release_slot(handle);
}

TEST_F(Slots, FullTableRefusesAndStaysUnchanged) {
  for (int i = 0; i < SLOT_COUNT; ++i) ASSERT_EQ(i, acquire_slot());
  auto before = std::make_unique<CoderTable>();
  std::memcpy(before.get(), &coder_table, sizeof coder_table);
  EXPECT_EQ(-1, acquire_slot());
  EXPECT_EQ(0, std::memcmp(before.get(), &coder_table, sizeof coder_table));
  release_slot(300);
  EXPECT_EQ(300, acquire_slot());
  for (int i = 0; i < SLOT_COUNT; ++i) release_slot(i);
}

TEST_F(Slots, ClosingHandsBackAMemoryEncodersBytesOnceAndLeavesFilesComplete) {
  auto before = std::make_unique<CoderTable>();
  std::memcpy(before.get(), &coder_table, sizeof coder_table);
  EXPECT_EQ(Bytes(), close(5));  // a free slot is left alone
  EXPECT_EQ(0, std::memcmp(before.get(), &coder_table, sizeof coder_table));
  TempDir dir;
  const int memory = open_encoder(256, {97, 98, 99});
  const int file = open_encoder(4, {0, 1, 2, 3}, dir.file("out"));
  EXPECT_EQ((Bytes{0x79, 0x39, 0xBF, 0x01}), close(memory));
  EXPECT_FALSE(in_use(memory));
  EXPECT_EQ(0, coder_table.slots[memory].model.nsym);
  EXPECT_EQ(Bytes(), close(memory));
  EXPECT_EQ(Bytes(), close(file));
  EXPECT_FALSE(in_use(file));
  EXPECT_EQ((Bytes{0xDB, 0x03}), read_file(dir.file("out")));
  EXPECT_EQ((Symbols{0, 1, 2, 3}), decode_file(4, dir.file("out"), 0, 4).symbols);
}

TEST_F(Slots, CloseAllClosesEverySlotInIncreasingOrder) {
  close_all();  // nothing open: nothing changes
  EXPECT_TRUE(table_is_free());
  TempDir dir;
  const std::string path = dir.file("shared");
  // Three encoders append to one file; their bytes land there as they are closed.
  EXPECT_EQ(0, open_encoder(2, {0}, path));
  EXPECT_EQ(1, open_encoder(256, {97, 98, 99}));
  EXPECT_EQ(2, open_encoder(2, {1}, path));
  EXPECT_EQ(3, open_decoder(3, {0x03}));
  EXPECT_EQ(4, open_encoder(2, {}, path));
  close_all();
  EXPECT_TRUE(table_is_free());
  EXPECT_EQ((Bytes{0x05, 0x04, 0x02}), read_file(path));
}

TEST_F(Slots, HandlesOutsideTheTableAreRefused) {
  for (int handle : {-1, SLOT_COUNT, ALL_HANDLES}) {
    EXPECT_EQ("Internal error: handler out of bounds", failure_of([&] { release_slot(handle); }));
  }
  for (int handle : {SLOT_COUNT, -1, INT32_MIN}) {
    uint8_t* bytes = nullptr;
    int32_t count = 7;
    EXPECT_EQ("Internal: handler '" + std::to_string(handle) + "' out of bounds to close_encoder",
              failure_of([&] { close_encoder(handle, &bytes, &count); }));
    EXPECT_EQ(0, count);
  }
}

TEST_F(Slots, NoRoomForAMemoryEncodersLastBytesKeepsItsSlotAndClosingAllTakesNoMemory) {
  const Symbols symbols = {0, 1, 2, 3, 4, 0, 1};
  const int handle = open_encoder(5, symbols);
  heap_fail_at(1, false);  // the room for the last bytes
  EXPECT_EQ("buffer allocation failure", failure_of([&] { close(handle); }));
  heap_fail_at(0, false);
  EXPECT_TRUE(in_use(handle));
  heap_fail_at(2, false);  // trimming the block handed back, which may fail
  const Bytes bytes = close(handle);
  EXPECT_EQ(symbols, decode_memory(5, bytes, symbols.size()).symbols);
  heap_fail_at(0, false);
  EXPECT_FALSE(in_use(handle));
  EXPECT_EQ(live_, heap_live_blocks());
  open_encoder(2, {1, 0});
  open_decoder(2, {});
  open_encoder(2);
  heap_fail_at(1, true);
  EXPECT_EQ("", failure_of(close_all));  // memory encoders are dropped unfinished
  heap_fail_at(0, false);
  EXPECT_TRUE(table_is_free());
  EXPECT_EQ(live_, heap_live_blocks());
}

}  // namespace
