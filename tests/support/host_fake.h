// SPDX-License-Identifier: BSD-3-Clause
// A stand-in host for tests: arrays of every class the real hosts offer and a
// call helper that runs the gateway the way mexFunction does, with the error
// returned as text instead of raised.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway/host.h"

enum FakeKind { FAKE_NUMERIC, FAKE_CHAR, FAKE_LOGICAL, FAKE_CELL, FAKE_STRUCT, FAKE_FUNCTION, FAKE_SPARSE, FAKE_COMPLEX };

// The module's heap bytes a row of the stand-in host holds (heap_take), so
// that the heap's test switches fail the host's rows as they fail the
// module's own blocks.
struct FakeCharge {
  void* block = nullptr;  // heap block of the row's size, or nullptr
  FakeCharge() = default;
  FakeCharge(const FakeCharge&) = delete;
  FakeCharge& operator=(const FakeCharge&) = delete;
  ~FakeCharge();
};

struct HostArray {
  FakeKind kind;                     // what the host would call the array
  HostClass element_class;           // element type of numeric, char and logical arrays
  std::size_t count;                 // number of elements
  std::vector<unsigned char> bytes;  // the elements' raw storage
  FakeCharge charge;                 // the heap bytes of a result row; none for arguments
};

using FakeArray = std::unique_ptr<HostArray>;

FakeArray fake_text(const std::string& text);
FakeArray fake_doubles(const std::vector<double>& values);
FakeArray fake_double(double value);
FakeArray fake_logicals(const std::vector<bool>& values);
FakeArray fake_other(FakeKind kind);  // cell, struct, function handle, sparse or complex

// A numeric array of element type T with the given values.
template <typename T>
FakeArray fake_numbers(HostClass element_class, const std::vector<T>& values) {
  FakeArray array(new HostArray{FAKE_NUMERIC, element_class, values.size(), {}, {}});
  array->bytes.resize(values.size() * sizeof(T));
  if (!values.empty()) std::memcpy(array->bytes.data(), values.data(), array->bytes.size());
  return array;
}

// The outcome of one call.
struct FakeResult {
  std::string error;           // empty when the call succeeded
  std::string identifier;      // the error's identifier
  bool has_output;             // plhs[0] was set
  bool is_text;                // plhs[0] is a character row
  std::string text;            // its text, when is_text
  std::vector<double> values;  // its elements as doubles, when a numeric row
  HostClass element_class;     // the row's class, when a numeric row
};

// Runs one call of kestrel(args...) with one output requested.
FakeResult fake_call(const std::vector<const HostArray*>& args);

// One argument written in place in a call: text, a number or a double row.
struct FakeArg {
  FakeArray array;
  FakeArg(const char* text) : array(fake_text(text)) {}
  FakeArg(const std::string& text) : array(fake_text(text)) {}
  FakeArg(int value) : array(fake_double(value)) {}
  FakeArg(const std::vector<double>& values) : array(fake_doubles(values)) {}
};

// Runs kestrel(args...) as fake_call does: fake_kestrel({"decode", h, 5}).
FakeResult fake_kestrel(std::initializer_list<FakeArg> args);

// Runs the registered exit hook, as the host does when it unloads the module;
// returns false when no hook was registered.
bool fake_unload();

// Number of times the exit hook was registered since the process started.
int fake_hook_registrations();

// Outputs at most this many elements of double (as many bytes of any class);
// a larger row fails as a host would, with an error of its own.
constexpr std::size_t FAKE_MAX_ROW = std::size_t(1) << 26;
constexpr std::size_t FAKE_MAX_ROW_BYTES = FAKE_MAX_ROW * sizeof(double);
constexpr const char* FAKE_NOMEM_IDENTIFIER = "Host:nomem";
constexpr const char* FAKE_NOMEM_MESSAGE = "out of memory or dimension too large";

// Makes the next count row creations fail as a row above the limit does,
// whatever their size (0: none), with the given identifier ("" for none, as
// Octave's mxCreate* give their errors).
void fake_fail_next_rows(int count, const char* identifier = FAKE_NOMEM_IDENTIFIER);

// Result rows are made from the module's heap (a heap block of their size),
// so heap_fail_at and heap_limit_bytes fail them too. With copies on (the
// default), the stand-in host copies the row into a value of its own after
// the call, as Octave does with the rows it did not make itself: that copy
// fails, with the host's own error, when the heap has less room than the row
// (heap_limit_bytes) as the call returns; the failed call's output is lost.
void fake_copy_rows_after_call(bool copies);

// An error the stand-in host throws itself, as a real host does.
struct FakeHostError : std::runtime_error {
  std::string identifier;  // the host's own identifier
  FakeHostError(const char* id, const char* message) : std::runtime_error(message), identifier(id) {}
};
