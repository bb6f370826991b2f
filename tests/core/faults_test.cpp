// SPDX-License-Identifier: BSD-3-Clause
// Faults forced into whole calls of kestrel(...): each allocation of a command
// failing in turn, files that cannot be written, opened or positioned, file
// descriptors running out, and unloading with a file that cannot be written.
// Every call goes through the real gateway with the stand-in host.
#if defined(_WIN32)
#include <io.h>
#include <stdlib.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <cstring>
#include <functional>
#include <initializer_list>

#include "coder_support.h"
#include "registry/slots.h"
#include "support/host_fake.h"

namespace {

using Row = std::vector<double>;

// One argument of a call: text, a number or a row of numbers.
struct Arg {
  FakeArray array;
  Arg(const char* text) : array(fake_text(text)) {}
  Arg(const std::string& text) : array(fake_text(text)) {}
  Arg(int value) : array(fake_double(value)) {}
  Arg(const Row& values) : array(fake_doubles(values)) {}
};

FakeResult kestrel(std::initializer_list<Arg> args) {
  std::vector<const HostArray*> arrays;
  for (const Arg& arg : args) arrays.push_back(arg.array.get());
  return fake_call(arrays);
}

// The helpers below make no test assertions, so forked children use them too.
// The handle a creation returned, or -2 when it failed.
int handle_of(const FakeResult& r) { return r.error.empty() && r.values.size() == 1 ? int(r.values[0]) : -2; }

// Symbols 0..255 from a small generator; about one byte each once coded.
Row symbols(int count, uint32_t salt) {
  Row row;
  uint32_t x = salt * 2654435761u + 1;
  for (int i = 0; i < count; ++i) row.push_back((x = x * 1664525u + 1013904223u) >> 24);
  return row;
}

// Codes more symbols and closes the encoder: a memory encoder's bytes, {0}
// for a file encoder, {} when a call failed.
Row finish_encoder(int handle, const Row& more) {
  if (!kestrel({"encode", handle, more}).error.empty()) return {};
  return kestrel({"done", handle}).values;
}
Row encode_memory(const Row& input) { return finish_encoder(handle_of(kestrel({"new_encoder", "", 256})), input); }
bool encode_file(const std::string& path, const Row& input) {
  return finish_encoder(handle_of(kestrel({"new_encoder", path, 256})), input) == Row{0};
}

// Decodes count symbols and closes the decoder; {} when a call failed.
Row finish_decoder(int handle, size_t count) {
  FakeResult result = kestrel({"decode", handle, static_cast<int>(count)});
  return kestrel({"done", handle}).error.empty() ? result.values : Row{};
}
Row decode_memory(const Row& bytes, size_t count) {
  return finish_decoder(handle_of(kestrel({"new_decoder", "", 256, bytes})), count);
}
Row decode_file(const std::string& path, size_t count) {
  return finish_decoder(handle_of(kestrel({"new_decoder", path, 256})), count);
}

std::vector<int> in_use_flags() {
  std::vector<int> flags;
  for (const CoderSlot& slot : coder_table.slots) flags.push_back(slot.in_use);
  return flags;
}
const std::vector<int> ALL_FREE(SLOT_COUNT, 0);

#if defined(_WIN32)
// The C runtime's descriptors that hold a file (Windows has no /proc/self/fd);
// asking about a closed one must not end the process, as the runtime's
// default handler of invalid arguments may.
std::vector<int> open_descriptors() {
  const _invalid_parameter_handler previous =
      _set_invalid_parameter_handler([](const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {});
  std::vector<int> fds;
  for (int fd = 0; fd < 2048; ++fd) {
    if (_get_osfhandle(fd) != -1) fds.push_back(fd);
  }
  _set_invalid_parameter_handler(previous);
  return fds;
}
#else
std::vector<int> open_descriptors() {
  std::vector<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    fds.push_back(std::stoi(entry.path().filename().string()));
  }
  return fds;
}
#endif

#if !defined(_WIN32)
// Checks made in a forked child: the number of the first that failed, 0 if none.
struct ChildChecks {
  int made = 0, first_failed = 0;
  void operator()(bool ok) { ++made; if (!ok && first_failed == 0) first_failed = made; }
};

// Runs body in a forked child and returns its exit code, -1 when it did not
// exit normally. The child leaves with _exit: no handlers, no leak report.
int in_child(const std::function<int()>& body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#endif

class FaultCommands : public testing::Test {
 protected:
  void SetUp() override {
    kestrel({"cleanup"});
    blocks_ = heap_live_blocks();
    descriptors_ = open_descriptors().size();
  }
  void TearDown() override {
    heap_fail_at(0, false);
    kestrel({"cleanup"});
    EXPECT_EQ(blocks_, heap_live_blocks());
    EXPECT_EQ(descriptors_, open_descriptors().size());
  }
  TempDir dir_;
  long blocks_ = 0;
  size_t descriptors_ = 0;
};
class FaultFiles : public FaultCommands {};

const Row SENT = symbols(300, 1), LATER = symbols(200, 2);  // the neighbour encoder's, before and after
const Row HELD = symbols(300, 3);                           // held by the neighbour decoder
const Row SHORT = symbols(1000, 4);                         // coded or decoded by the call under test
const Row LONG = symbols(20000, 5);                         // grows a memory writer six times

struct Scene {
  std::string dir;
  int target = -1;  // the coder the faulted call works on
  Row input;        // bytes for a decoder, or the symbols coded so far
};

// A call whose allocations fail in turn; after it, succeeded or failed checks
// what it left (a failed creation is checked by the test itself).
struct AllocationCase {
  const char* name;
  bool creates, closes_all;  // closes_all: the call closes the neighbours too
  void (*prepare)(Scene&);
  FakeResult (*run)(Scene&);
  void (*succeeded)(Scene&, const FakeResult&);
  void (*failed)(Scene&) = nullptr;  // checks after a failed call, if any
};

void open_several(Scene& s) {
  EXPECT_TRUE(encode_file(s.dir + "/in", SHORT));
  EXPECT_EQ(2, handle_of(kestrel({"new_encoder", s.dir + "/all", 256})));
  EXPECT_EQ(3, handle_of(kestrel({"new_decoder", s.dir + "/in", 256})));
  EXPECT_EQ(4, handle_of(kestrel({"new_encoder", "", 256})));
  for (int handle : {2, 4}) EXPECT_EQ("", kestrel({"encode", handle, SHORT}).error);
}

// Fills a memory writer until done must grow it for its last bytes: the bits
// held back, one bit and its pending opposites, and one more byte.
void fill_memory_writer(Scene& s) {
  s.target = handle_of(kestrel({"new_encoder", "", 256}));
  const EncoderState& encoder = coder_table.slots[s.target].encoder;
  auto room_left = [&] {
    const int64_t last_bytes = encoder.staged + (encoder.gathered_bits + encoder.bits_to_follow + 2 + 8) / 8;
    return encoder.stream->memory->size - encoder.stream->memory->pos >= last_bytes;
  };
  for (size_t i = 0; i < LONG.size() && (s.input.size() < 2000 || room_left()); ++i) {
    s.input.push_back(LONG[i]);
    kestrel({"encode", s.target, Row{LONG[i]}});
  }
  ASSERT_FALSE(room_left());
}

// The bytes of a done decode to the symbols coded; a failed done kept the
// encoder open and unchanged, and done then hands back all its bytes.
void done_decodes(Scene& s, const FakeResult& r) {
  EXPECT_EQ(s.input, decode_memory(r.values, s.input.size()));
  EXPECT_EQ(0, coder_table.slots[s.target].in_use);
}
void done_again_decodes(Scene& s) {
  EXPECT_EQ(1, coder_table.slots[s.target].in_use);
  done_decodes(s, kestrel({"done:uint8", s.target}));
}

void decodes_short(Scene&, const FakeResult& r) { EXPECT_EQ(SHORT, finish_decoder(handle_of(r), SHORT.size())); }

const AllocationCase ALLOCATION_CASES[] = {
    {"new_encoder to memory", true, false, nullptr, [](Scene&) { return kestrel({"new_encoder", "", 256}); },
     [](Scene&, const FakeResult& r) {
       EXPECT_EQ(SHORT, decode_memory(finish_encoder(handle_of(r), SHORT), SHORT.size()));
     }},
    {"new_encoder to a file", true, false, nullptr,
     [](Scene& s) { return kestrel({"new_encoder", s.dir + "/out", 256}); },
     [](Scene& s, const FakeResult& r) {
       EXPECT_EQ(Row{0}, finish_encoder(handle_of(r), SHORT));
       EXPECT_EQ(SHORT, decode_file(s.dir + "/out", SHORT.size()));
     }},
    {"new_decoder from memory", true, false, [](Scene& s) { s.input = encode_memory(SHORT); },
     [](Scene& s) { return kestrel({"new_decoder", "", 256, s.input}); }, decodes_short},
    {"new_decoder from a file", true, false, [](Scene& s) { EXPECT_TRUE(encode_file(s.dir + "/in", SHORT)); },
     [](Scene& s) { return kestrel({"new_decoder", s.dir + "/in", 256}); }, decodes_short},
    {"encode growing a memory writer", false, false,
     [](Scene& s) { s.target = handle_of(kestrel({"new_encoder", "", 256})); },
     [](Scene& s) { return kestrel({"encode", s.target, LONG}); },
     [](Scene& s, const FakeResult&) {
       EXPECT_EQ(LONG, decode_memory(kestrel({"done", s.target}).values, LONG.size()));
     },
     [](Scene& s) {
       if (!encoder_lost_bytes(&coder_table.slots[s.target].encoder)) {  // refused before it began
         EXPECT_EQ(0, encoder_bits_written(&coder_table.slots[s.target].encoder));
         EXPECT_EQ(LONG, decode_memory(finish_encoder(s.target, LONG), LONG.size()));
         return;
       }
       // Bytes were lost midway: the encoder stays failed, and done frees its slot without a row.
       EXPECT_EQ("buffer allocation failure", kestrel({"encode", s.target, Row{1, 2}}).error);
       fake_fail_next_rows(1);
       EXPECT_EQ("buffer allocation failure", kestrel({"done", s.target}).error);
       fake_fail_next_rows(0);
       EXPECT_EQ("invalid handler", kestrel({"done", s.target}).error);
     }},
    {"done on a full memory encoder", false, false, fill_memory_writer,
     [](Scene& s) { return kestrel({"done", s.target}); }, done_decodes, done_again_decodes},
    {"done:uint8 on a full memory encoder", false, false, fill_memory_writer,
     [](Scene& s) { return kestrel({"done:uint8", s.target}); }, done_decodes, done_again_decodes},
    {"done -42 with several coders open", false, true, open_several,
     [](Scene&) { return kestrel({"done", ALL_HANDLES}); },
     [](Scene&, const FakeResult& r) { EXPECT_EQ(Row{0}, r.values); }},
    {"cleanup with several coders open", false, true, open_several, [](Scene&) { return kestrel({"cleanup"}); },
     [](Scene&, const FakeResult& r) { EXPECT_FALSE(r.has_output); }},
};

TEST_F(FaultCommands, EachFailedAllocationIsReportedAndLeavesTableNeighboursAndHeapIntact) {
  const Row held_bytes = encode_memory(HELD);
  Row sent_and_later = SENT;
  sent_and_later.insert(sent_and_later.end(), LATER.begin(), LATER.end());
  for (const AllocationCase& c : ALLOCATION_CASES) {
    for (bool every : {false, true}) {
      long succeeded_at = 0;
      for (long n = 1; n <= 64 && succeeded_at == 0; ++n) {
        SCOPED_TRACE(testing::Message() << c.name << (every ? ": failing all from #" : ": failing #") << n);
        Scene scene{dir_.root.string(), -1, {}};
        // Neighbours opened before the faulted call: a memory encoder and a memory decoder.
        ASSERT_EQ(0, handle_of(kestrel({"new_encoder", "", 256})));
        ASSERT_EQ("", kestrel({"encode", 0, SENT}).error);
        ASSERT_EQ(1, handle_of(kestrel({"new_decoder", "", 256, held_bytes})));
        if (c.prepare) c.prepare(scene);
        const std::vector<int> before = in_use_flags();
        const int next = static_cast<int>(std::find(before.begin(), before.end(), 0) - before.begin());
        const long taken = heap_allocation_count();
        heap_fail_at(n, every);
        const FakeResult result = c.run(scene);
        const bool took_memory = heap_allocation_count() > taken;
        heap_fail_at(0, false);
        if (result.error.empty()) {
          succeeded_at = n;
          if (n == 1) { EXPECT_FALSE(took_memory) << "a call that took memory succeeded without"; }
          if (c.creates) { EXPECT_EQ(next, handle_of(result)); }
          c.succeeded(scene, result);
        } else {
          EXPECT_TRUE(result.error == "buffer allocation failure" || result.error == "stream allocation failure" ||
                      result.error == "arithmetic coder model allocation failure" ||
                      result.error == FAKE_NOMEM_MESSAGE || result.error == "out of memory") << result.error;
          if (c.creates) {
            EXPECT_EQ(before, in_use_flags());
            EXPECT_EQ(next, handle_of(kestrel({"new_encoder", "", 2})));
          }
          if (c.failed) c.failed(scene);
        }
        if (c.closes_all) {
          if (!result.error.empty() && in_use_flags() == before) {  // refused before it closed anything
            EXPECT_EQ("", kestrel({"cleanup"}).error);
          }
          EXPECT_EQ(ALL_FREE, in_use_flags());
          EXPECT_EQ(SHORT, decode_file(scene.dir + "/all", SHORT.size()));  // its file encoder was finished
        } else {
          EXPECT_EQ(sent_and_later, decode_memory(finish_encoder(0, LATER), sent_and_later.size()));
          EXPECT_EQ(HELD, finish_decoder(1, HELD.size()));
        }
        kestrel({"cleanup"});
        EXPECT_EQ(ALL_FREE, in_use_flags());
        EXPECT_EQ(blocks_, heap_live_blocks());
      }
      EXPECT_GE(succeeded_at, 1) << c.name << ": no allocation count let the call succeed";
    }
  }
}

TEST_F(FaultCommands, ARowTheHostCannotCreateReportsTheHostsOwnErrorAndIdentifier) {
  const int decoder = handle_of(kestrel({"new_decoder", "", 4, Row{219, 3}}));
  const FakeResult refused = kestrel({"decode", decoder, static_cast<int>(FAKE_MAX_ROW + 1)});
  EXPECT_EQ(FAKE_NOMEM_MESSAGE, refused.error);
  EXPECT_EQ(FAKE_NOMEM_IDENTIFIER, refused.identifier);
  EXPECT_EQ((Row{0, 1, 2, 3}), finish_decoder(decoder, 4));  // nothing was decoded before the row existed
  const FakeResult module_error = kestrel({"decode", decoder, 1});
  EXPECT_EQ("invalid handler", module_error.error);
  EXPECT_EQ("kestrel:invalidHandle", module_error.identifier);
}

// As the help says of an encoder that lost bytes: "done frees it without a
// result and raises the error; cleanup and unloading close it without an
// error and without memory".
TEST_F(FaultCommands, AnEncoderThatLostBytesIsFreedByDoneAndCleanupWithEveryAllocationFailing) {
  for (const char* way : {"done", "done:uint8", "cleanup", "unload"}) {
    SCOPED_TRACE(way);
    ASSERT_EQ(0, handle_of(kestrel({"new_encoder", "", 256})));
    ASSERT_EQ(1, handle_of(kestrel({"new_encoder", dir_.file("kept"), 256})));
    ASSERT_EQ(2, handle_of(kestrel({"new_encoder", "", 256})));
    EXPECT_EQ("", kestrel({"encode", 1, SHORT}).error);
    heap_limit_bytes(heap_live_bytes() + 4096);  // room for a few blocks, not for LONG's bytes
    for (int handle : {0, 2}) EXPECT_EQ("buffer allocation failure", kestrel({"encode", handle, LONG}).error);
    heap_fail_at(1, true);  // from here on no allocation succeeds, nor any row of the host
    fake_fail_next_rows(1000);
    if (std::string(way) == "unload") {
      EXPECT_NO_THROW(EXPECT_TRUE(fake_unload()));
      EXPECT_EQ(ALL_FREE, in_use_flags());
    } else if (std::string(way) != "cleanup") {
      const FakeResult failed = kestrel({way, 0});
      EXPECT_EQ("buffer allocation failure", failed.error);
      EXPECT_EQ("kestrel:bufferAllocation", failed.identifier);
      EXPECT_EQ(0, coder_table.slots[0].in_use);
      EXPECT_EQ(FAKE_NOMEM_MESSAGE, kestrel({"done", 1}).error);  // no row for its 0: refused before closing
      EXPECT_EQ(1, coder_table.slots[1].in_use);
    }
    EXPECT_EQ("", kestrel({"cleanup"}).error);
    heap_limit_bytes(SIZE_MAX);
    heap_fail_at(0, false);
    fake_fail_next_rows(0);
    EXPECT_EQ(ALL_FREE, in_use_flags());
    EXPECT_EQ(SHORT, decode_file(dir_.file("kept"), SHORT.size()));
    EXPECT_EQ(blocks_, heap_live_blocks());
  }
}

// Memory as under an address-space limit: room bytes free for the module and
// the host's rows alike, the host copying its rows after the call or not.
// As the help says: "done on a memory encoder fails before anything changed
// and the encoder stays open, unchanged: after memory is freed, done returns
// every byte"; "decode fails before anything is decoded: the decoder stays
// where it was, and the same call returns the same symbols once memory is
// free"; "no call fails after it has changed a coder".
TEST_F(FaultCommands, UnderAMemoryLimitDoneAndDecodeFailOnlyBeforeTheyChangeTheCoder) {
  const Row input = symbols(20000, 9);
  const Row bytes = encode_memory(input);
  for (bool copies : {true, false}) {
    fake_copy_rows_after_call(copies);
    for (const char* command : {"done", "done:uint8", "decode", "decode:uint8"}) {
      const bool done = command[1] == 'o';
      const size_t most = 3 * input.size() * (std::strchr(command, ':') != nullptr ? 1 : sizeof(double));
      int failures = 0;
      bool last_failed = false;
      for (size_t room = 0; room <= most; room += most / 40) {
        SCOPED_TRACE(testing::Message() << command << (copies ? ", copied" : "") << " with room " << room);
        const int h = handle_of(done ? kestrel({"new_encoder", "", 256}) : kestrel({"new_decoder", "", 256, bytes}));
        if (done) { EXPECT_EQ("", kestrel({"encode", h, input}).error); }
        if (!done) { EXPECT_EQ(Row(input.begin(), input.begin() + 100), kestrel({"decode", h, 100}).values); }
        const Row bits = done ? kestrel({"bits", h}).values : Row{};
        heap_limit_bytes(heap_live_bytes() + room);
        FakeResult r = done ? kestrel({command, h}) : kestrel({command, h, 19000});
        heap_limit_bytes(SIZE_MAX);
        last_failed = !r.error.empty();
        if (last_failed) {
          ++failures;
          EXPECT_EQ(1, coder_table.slots[h].in_use);
          if (done) { EXPECT_EQ(bits, kestrel({"bits", h}).values); }
          r = done ? kestrel({command, h}) : kestrel({command, h, 19000});
        }
        EXPECT_EQ("", r.error);
        if (done) { EXPECT_EQ(input, decode_memory(r.values, input.size())); }
        if (!done) { EXPECT_EQ(Row(input.begin() + 100, input.begin() + 19100), r.values); }
        kestrel({"cleanup"});
      }
      EXPECT_FALSE(last_failed) << command << ": the largest room must do";
      EXPECT_GT(failures, 2) << command;
    }
  }
  fake_copy_rows_after_call(true);
}

TEST_F(FaultFiles, FileSizeLimitReportsTheLostBytesAndKeepsThoseWritten) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows sets no limit on file sizes (setrlimit)";
#else
  constexpr rlim_t LIMIT = 5000;  // not a multiple of the I/O library's buffer: the last write is partial
  const std::string path = dir_.file("limited");
  const Row input = symbols(20000, 7);
  EXPECT_EQ(0, in_child([&] {
    ChildChecks check;
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{LIMIT, LIMIT};
    check(setrlimit(RLIMIT_FSIZE, &limit) == 0);
    const size_t fds = open_descriptors().size();
    check(handle_of(kestrel({"new_encoder", path, 256})) == 0);
    kestrel({"encode", 0, input});  // lost bytes need only be reported by done
    check(kestrel({"done", 0}).error == "Could not write file");
    check(in_use_flags() == ALL_FREE);
    check(open_descriptors().size() == fds);
    return check.first_failed;
  })) << "number of the first check that failed in the child";
  Bytes expected;
  for (double byte : encode_memory(input)) expected.push_back(static_cast<uint8_t>(static_cast<int>(byte)));
  ASSERT_GT(expected.size(), LIMIT);
  EXPECT_EQ(Bytes(expected.begin(), expected.begin() + LIMIT), read_file(path));
#endif
}

TEST_F(FaultFiles, FilesThatCannotBeOpenedOrPositionedAreRefusedAndTheSlotIsFreeAgain) {
  const std::string dir = dir_.root.string(), missing = dir_.file("no-such-dir/file"), in = dir_.file("in");
  ASSERT_TRUE(encode_file(in, SHORT));
  const std::string past_end = "new_decoder:s=" + std::to_string(std::filesystem::file_size(in) + 1);
  const std::array<std::string, 3> rows[] = {
      {"new_encoder", dir, "Could not open file"},       {"new_encoder:a", dir, "Could not open file"},
      {"new_decoder", dir, "Could not open file"},       {"new_encoder", missing, "Could not open file"},
      {"new_decoder", missing, "Could not open file"},   {"new_decoder", dir_.file("absent"), "Could not open file"},
      {past_end, in, "Unseekable stream"},               {"new_decoder:s=1000000", in, "Unseekable stream"},
      {"new_decoder:s=99999999999999999999", in, "Unseekable stream"}};
  ASSERT_EQ(0, handle_of(kestrel({"new_encoder", "", 256})));
  const std::vector<int> before = in_use_flags();
  for (const auto& [command, path, error] : rows) {
    EXPECT_EQ(error, kestrel({command, path, 256}).error) << command << " " << path;
    EXPECT_EQ(before, in_use_flags()) << command << " " << path;
    EXPECT_EQ(descriptors_, open_descriptors().size()) << command << " " << path;
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(1, handle_of(kestrel({"new_encoder", "", 256})));
}

TEST_F(FaultFiles, ReadOnlyFileIsRefusedForAppendAndTruncateAndKeepsItsContents) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs fork and an unprivileged user for permission bits to hold";
#else
  const std::string path = dir_.file("read-only");
  const Bytes original{1, 2, 3, 250};
  write_file(path, original);
  ASSERT_EQ(0, chmod(path.c_str(), 0444));
  ASSERT_EQ(0, chmod(dir_.root.c_str(), 0755));  // reachable by the unprivileged child
  for (const char* command : {"new_encoder:a", "new_encoder:append", "new_encoder"}) {
    EXPECT_EQ(0, in_child([&] {
      ChildChecks check;
      // Permission bits do not stop root: drop to an unprivileged user first.
      if (geteuid() == 0) check(setgid(65534) == 0 && setuid(65534) == 0);
      check(access(path.c_str(), W_OK) != 0);  // the fault is really there
      const size_t fds = open_descriptors().size();
      check(kestrel({command, path, 256}).error == "Could not open file");
      check(in_use_flags() == ALL_FREE);
      check(open_descriptors().size() == fds);
      return check.first_failed;
    })) << command << ": number of the first check that failed in the child";
    EXPECT_EQ(original, read_file(path)) << command;
  }
#endif
}

TEST_F(FaultFiles, RunningOutOfDescriptorsRefusesOneEncoderAndSparesTheOthers) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows sets no limit on descriptors (setrlimit)";
#else
  EXPECT_EQ(0, in_child([&] {
    ChildChecks check;
    const std::vector<int> fds = open_descriptors();
    rlim_t room = 0;  // the limit bounds descriptor numbers, not their count: leave 8 numbers free
    for (int free = 0; free < 8; ++room) free += std::count(fds.begin(), fds.end(), room) == 0;
    const rlimit limit{room, room};
    check(setrlimit(RLIMIT_NOFILE, &limit) == 0);
    std::vector<std::string> paths;
    FakeResult refused{};
    while (paths.size() < 64 && refused.error.empty()) {
      const std::string path = dir_.file("out" + std::to_string(paths.size()));
      refused = kestrel({"new_encoder", path, 256});
      if (!refused.error.empty()) break;
      check(handle_of(refused) == static_cast<int>(paths.size()));
      check(kestrel({"encode", handle_of(refused), symbols(500, static_cast<uint32_t>(10 + paths.size()))}).error.empty());
      paths.push_back(path);
    }
    check(refused.error == "Could not open file");
    check(paths.size() >= 4);
    check(coder_table.slots[paths.size()].in_use == 0);
    for (size_t i = 0; i < paths.size(); ++i) check(kestrel({"done", static_cast<int>(i)}).values == Row{0});
    for (size_t i = 0; i < paths.size(); ++i) check(decode_file(paths[i], 500) == symbols(500, static_cast<uint32_t>(10 + i)));
    check(in_use_flags() == ALL_FREE);
    check(open_descriptors().size() == fds.size());
    return check.first_failed;
  })) << "number of the first check that failed in the child";
#endif
}

TEST_F(FaultFiles, UnwritableFileIsReportedWhenClosedAndTheOtherCodersStillClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Row input = symbols(3000, 8);
  ASSERT_TRUE(encode_file(dir_.file("in"), input));
  const std::pair<std::string, int> rows[] = {{"done", 0},       {"done", 20000},  {"done -42", 3000},
                                              {"cleanup", 3000}, {"unload", 3000}, {"unload without memory", 3000}};
  for (const auto& [way, lost] : rows) {
    SCOPED_TRACE(way + " after " + std::to_string(lost) + " symbols");  // lost when closed or while coding
    const std::string path = dir_.file("kept");
    ASSERT_EQ(0, handle_of(kestrel({"new_encoder", "/dev/full", 256})));
    ASSERT_EQ(1, handle_of(kestrel({"new_encoder", path, 256})));
    ASSERT_EQ(2, handle_of(kestrel({"new_encoder", "", 256})));
    ASSERT_EQ(3, handle_of(kestrel({"new_decoder", dir_.file("in"), 256})));
    kestrel({"encode", 0, symbols(lost, 6)});  // lost bytes need only be reported when closed
    for (int handle : {1, 2}) EXPECT_EQ("", kestrel({"encode", handle, input}).error);
    if (way == "done") {
      EXPECT_EQ("Could not write file", kestrel({"done", 0}).error);
      EXPECT_EQ(0, coder_table.slots[0].in_use);
      EXPECT_EQ("", kestrel({"cleanup"}).error);
    }
    if (way == "done -42") { EXPECT_EQ("Could not write file", kestrel({"done", ALL_HANDLES}).error); }
    if (way == "cleanup") { EXPECT_EQ("Could not write file", kestrel({"cleanup"}).error); }
    if (way.rfind("unload", 0) == 0) {
      heap_fail_at(way == "unload" ? 0 : 1, true);  // without memory the memory encoder fails too
      EXPECT_NO_THROW(EXPECT_TRUE(fake_unload()));  // nothing to report to while unloading
      heap_fail_at(0, false);
    }
    EXPECT_EQ(ALL_FREE, in_use_flags());
    EXPECT_EQ(input, decode_file(path, input.size()));
    EXPECT_EQ(descriptors_, open_descriptors().size());
    EXPECT_EQ(blocks_, heap_live_blocks());
  }
}

}  // namespace
