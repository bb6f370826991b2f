// SPDX-License-Identifier: BSD-3-Clause
#include "support/host_fake.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

#include "base/failure.h"
#include "gateway/gateway.h"
#include "base/heap.h"
#include "gateway/numbers.h"

namespace {
void (*registered_hook)() = nullptr;
int registrations = 0;
int rows_to_fail = 0;       // row creations still to fail, set by fake_fail_next_rows
const char* row_error_identifier = FAKE_NOMEM_IDENTIFIER;  // the identifier they fail with
std::vector<std::string> printed;  // lines of host_print not yet taken
bool copies_rows = true;    // rows are copied after the call, set by fake_copy_rows_after_call

// The elements of a numeric row as doubles.
template <typename T>
std::vector<double> fake_row_values(const HostArray& row) {
  std::vector<double> values(row.count);
  const T* elements = reinterpret_cast<const T*>(row.bytes.data());
  for (std::size_t i = 0; i < row.count; ++i) values[i] = static_cast<double>(elements[i]);
  return values;
}

std::vector<double> fake_values(const HostArray& row) {
  switch (row.element_class) {
    case HOST_DOUBLE: return fake_row_values<double>(row);
    case HOST_SINGLE: return fake_row_values<float>(row);
    case HOST_INT8: return fake_row_values<int8_t>(row);
    case HOST_UINT8: return fake_row_values<uint8_t>(row);
    case HOST_INT16: return fake_row_values<int16_t>(row);
    case HOST_UINT16: return fake_row_values<uint16_t>(row);
    case HOST_INT32: return fake_row_values<int32_t>(row);
    case HOST_UINT32: return fake_row_values<uint32_t>(row);
    case HOST_INT64: return fake_row_values<int64_t>(row);
    case HOST_UINT64: return fake_row_values<uint64_t>(row);
    case HOST_OTHER: break;
  }
  return {};
}
}  // namespace

FakeArray fake_text(const std::string& text) {
  FakeArray array(new HostArray{FAKE_CHAR, HOST_UINT8, text.size(), {}, {}, {}});
  array->bytes.assign(text.begin(), text.end());
  return array;
}

FakeArray fake_doubles(const std::vector<double>& values) { return fake_numbers<double>(HOST_DOUBLE, values); }

FakeArray fake_double(double value) { return fake_doubles({value}); }

FakeArray fake_logicals(const std::vector<bool>& values) {
  FakeArray array(new HostArray{FAKE_LOGICAL, HOST_UINT8, values.size(), {}, {}, {}});
  for (bool value : values) array->bytes.push_back(value ? 1 : 0);
  return array;
}

FakeArray fake_other(FakeKind kind) {
  FakeArray array(new HostArray{kind, HOST_DOUBLE, 1, {}, {}, {}});
  array->bytes.resize(sizeof(double) * 2);
  return array;
}

bool host_is_char(const HostArray* array) { return array->kind == FAKE_CHAR; }

bool host_is_numeric(const HostArray* array) {
  return array->kind == FAKE_NUMERIC || array->kind == FAKE_SPARSE || array->kind == FAKE_COMPLEX;
}

// Texts are UTF-8 bytes, as in Octave.
HostText host_get_string(const HostArray* array, char* buffer, std::size_t capacity) {
  std::size_t kept = array->count < capacity - 1 ? array->count : capacity - 1;
  if (kept > 0) std::memcpy(buffer, array->bytes.data(), kept);
  buffer[kept] = '\0';
  const char* text = reinterpret_cast<const char*>(array->bytes.data());
  return HostText{array->count, host_utf8_characters(text, array->count)};
}

double host_get_scalar(const HostArray* array) {
  if (array->count == 0) return std::numeric_limits<double>::quiet_NaN();
  HostNumbers numbers{array->element_class, array->bytes.data(), 1};
  switch (numbers.element_class) {
    case HOST_DOUBLE: return *static_cast<const double*>(numbers.data);
    case HOST_SINGLE: return *static_cast<const float*>(numbers.data);
    case HOST_INT8: return *static_cast<const int8_t*>(numbers.data);
    case HOST_UINT8: return *static_cast<const uint8_t*>(numbers.data);
    case HOST_INT16: return *static_cast<const int16_t*>(numbers.data);
    case HOST_UINT16: return *static_cast<const uint16_t*>(numbers.data);
    case HOST_INT32: return *static_cast<const int32_t*>(numbers.data);
    case HOST_UINT32: return *static_cast<const uint32_t*>(numbers.data);
    case HOST_INT64: return static_cast<double>(*static_cast<const int64_t*>(numbers.data));
    case HOST_UINT64: return static_cast<double>(*static_cast<const uint64_t*>(numbers.data));
    case HOST_OTHER: break;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

FakeArray fake_matrix(std::size_t rows, const std::vector<double>& values) {
  FakeArray array = fake_doubles(values);
  array->dims = {rows, rows == 0 ? 0 : values.size() / rows};
  return array;
}

HostNumbers host_numbers(const HostArray* array) {
  bool readable = array->kind == FAKE_NUMERIC || array->kind == FAKE_CHAR || array->kind == FAKE_LOGICAL;
  if (!readable) return HostNumbers{HOST_OTHER, nullptr, 0};
  return HostNumbers{array->element_class, array->count == 0 ? nullptr : array->bytes.data(), array->count};
}

FakeCharge::~FakeCharge() { heap_free(block); }

void* host_create_typed_row(HostArray** out, HostClass element_class, std::size_t count) {
  const std::size_t size = numbers_element_size(element_class);
  void* charge = nullptr;
  if (rows_to_fail > 0) {
    --rows_to_fail;
    throw FakeHostError(row_error_identifier, FAKE_NOMEM_MESSAGE);
  }
  if (size == 0 || count > FAKE_MAX_ROW_BYTES / size || (charge = heap_take(count * size)) == nullptr) {
    throw FakeHostError(FAKE_NOMEM_IDENTIFIER, FAKE_NOMEM_MESSAGE);
  }
  auto* row = new HostArray{FAKE_NUMERIC, element_class, count, {}, {}, {}};
  row->charge.block = charge;
  row->bytes.resize(count * size);
  *out = row;
  return count == 0 ? nullptr : row->bytes.data();
}

double* host_create_row(HostArray** out, std::size_t count) {
  return static_cast<double*>(host_create_typed_row(out, HOST_DOUBLE, count));
}

double* host_row_data(HostArray* row) { return reinterpret_cast<double*>(row->bytes.data()); }

void host_destroy_row(HostArray* row) { delete row; }

std::size_t host_copy_after_call(HostClass element_class, std::size_t count) {
  return copies_rows ? count * numbers_element_size(element_class) : 0;
}

void fake_fail_next_rows(int count, const char* identifier) {
  rows_to_fail = count;
  row_error_identifier = identifier;
}

void fake_copy_rows_after_call(bool copies) { copies_rows = copies; }

void host_create_string(HostArray** out, const char* text) { *out = fake_text(text).release(); }

void host_error_identifier(const std::exception& error, char* buffer, std::size_t capacity) {
  const auto* raised = dynamic_cast<const FakeHostError*>(&error);
  std::snprintf(buffer, capacity, "%s", raised != nullptr ? raised->identifier.c_str() : "");
}

void host_register_exit_hook(void (*hook)()) {
  registered_hook = hook;
  ++registrations;
}

int host_array_class(const HostArray* array) {
  if (array->kind == FAKE_LOGICAL) return 11;
  if (array->kind == FAKE_CHAR) return 12;
  if (array->kind != FAKE_NUMERIC) return 0;
  return static_cast<int>(array->element_class) + 1;  // HOST_DOUBLE .. HOST_UINT64 are in the container's order
}

std::size_t host_char_bytes() { return 1; }

int host_array_dims(const HostArray* array, std::uint64_t* dims, int capacity) {
  std::vector<std::uint64_t> size = array->dims;
  if (size.empty()) size = {1, array->count};
  for (int k = 0; k < static_cast<int>(size.size()) && k < capacity; ++k) dims[k] = size[k];
  return static_cast<int>(size.size());
}

void* host_array_data(const HostArray* array) {
  return array->count == 0 ? nullptr : const_cast<unsigned char*>(array->bytes.data());
}

void* host_create_array(HostArray** out, int cls, int ndims, const std::uint64_t* dims) {
  static const FakeKind KINDS[] = {FAKE_NUMERIC, FAKE_LOGICAL, FAKE_CHAR};
  HostClass element = cls <= 10 ? static_cast<HostClass>(cls - 1) : HOST_UINT8;
  std::size_t count = 1;
  for (int k = 0; k < ndims; ++k) count *= static_cast<std::size_t>(dims[k]);
  std::size_t size = numbers_element_size(element);
  if (rows_to_fail > 0 || count > FAKE_MAX_ROW_BYTES / size) {
    rows_to_fail = rows_to_fail > 0 ? rows_to_fail - 1 : 0;
    throw FakeHostError(FAKE_NOMEM_IDENTIFIER, FAKE_NOMEM_MESSAGE);
  }
  auto* array = new HostArray{KINDS[cls <= 10 ? 0 : cls - 10], element, count, {}, {}, {dims, dims + ndims}};
  array->bytes.resize(count * size);
  *out = array;
  return count == 0 ? nullptr : array->bytes.data();
}

void host_print(const char* text) { printed.emplace_back(text); }

std::vector<std::string> fake_take_printed() {
  std::vector<std::string> lines;
  lines.swap(printed);
  return lines;
}

FakeArray fake_call_output(const std::vector<const HostArray*>& args, FakeResult* result) {
  HostArray* outputs[1] = {nullptr};
  bool failed = gateway_call(1, outputs, static_cast<int>(args.size()), args.data());
  *result = FakeResult{failed ? failure_message : "", failed ? failure_identifier : "", outputs[0] != nullptr,
                       false, "", {}, HOST_OTHER};
  FakeArray output(outputs[0]);
  if (failed) output.reset();
  return output;
}

FakeResult fake_call(const std::vector<const HostArray*>& args) {
  HostArray* outputs[1] = {nullptr};
  bool failed = gateway_call(1, outputs, static_cast<int>(args.size()), args.data());
  FakeResult result{failed ? failure_message : "", failed ? failure_identifier : "", outputs[0] != nullptr,
                    false, "", {}, HOST_OTHER};
  FakeArray output(outputs[0]);  // the host discards outputs of a failed call
  if (failed || !output) return result;
  const bool copied_row = copies_rows && output->charge.block != nullptr;
  if (copied_row && heap_room() < output->bytes.size()) {  // the host's copy, made after the call
    return FakeResult{FAKE_NOMEM_MESSAGE, FAKE_NOMEM_IDENTIFIER, false, false, "", {}, HOST_OTHER};
  }
  if (output->kind == FAKE_CHAR) {
    result.is_text = true;
    result.text.assign(output->bytes.begin(), output->bytes.end());
  } else {
    result.values = fake_values(*output);
    result.element_class = output->element_class;
  }
  return result;
}

FakeResult fake_kestrel(std::initializer_list<FakeArg> args) {
  std::vector<const HostArray*> arrays;
  for (const FakeArg& arg : args) arrays.push_back(arg.array.get());
  return fake_call(arrays);
}

bool fake_unload() {
  if (registered_hook == nullptr) return false;
  registered_hook();
  return true;
}

int fake_hook_registrations() { return registrations; }
