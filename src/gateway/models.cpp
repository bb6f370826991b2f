// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/models.h"

#include <cmath>
#include <cstring>

#include "base/failure.h"
#include "base/heap.h"
#include "gateway/numbers.h"
#include "registry/slots.h"

// The whole decimal number behind key in an option, as in 'models=17': at
// most 9 digits and nothing else; -1 when the text is anything else. 0 when
// the option is absent.
static int32_t models_option_value(const CommandCall& call, const char* key, bool* given) {
  const char* option = find_option(call.options, key);
  *given = option != nullptr;
  if (option == nullptr) return 0;
  const char* digits = option + std::strlen(key);
  size_t length = std::strlen(digits);
  if (length == 0 || length > 9) return -1;
  int32_t value = 0;
  for (size_t i = 0; i < length; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    value = value * 10 + (digits[i] - '0');
  }
  return value;
}

// Checks each column of COUNTS, in order: integers 0 or more, totalling
// 1..MAX_FREQUENCY.
static void models_check_counts(const HostNumbers& numbers, size_t rows) {
  double chunk[NUMBERS_CHUNK];
  double total = 0;
  for (size_t start = 0; start < numbers.count; start += NUMBERS_CHUNK) {
    size_t length = numbers_to_doubles(numbers, start, chunk);
    for (size_t i = 0; i < length; ++i) {
      double count = chunk[i];
      if (!(count >= 0) || count != std::floor(count)) raise_failure(MSG_INVALID_MODELS);
      total += count;
      if ((start + i + 1) % rows != 0) continue;
      if (total == 0) raise_failure(MSG_INVALID_MODELS);
      if (total > MAX_FREQUENCY) raise_failure(MSG_MAX_FREQUENCY);
      total = 0;
    }
  }
}

// Reads the options into request; its nsym is already known.
static void models_read_options(const CommandCall& call, ModelRequest* request) {
  bool has_models = false;
  bool has_order = false;
  bool has_increment = false;
  int32_t models = models_option_value(call, "models=", &has_models);
  int32_t order = models_option_value(call, "order=", &has_order);
  int32_t increment = models_option_value(call, "inc=", &has_increment);
  if ((has_models && models < 1) || order < 0 || order > 1) raise_failure(MSG_INVALID_MODELS);
  if (has_increment && (increment < 1 || increment > MAX_FREQUENCY - request->nsym)) {
    raise_failure(MSG_INVALID_MODELS);
  }
  request->order = order;
  request->adaptive = find_option(call.options, "static") != nullptr ? 0 : 1;
  request->increment = has_increment ? increment : 1;
  request->count = has_models ? models : order == 1 ? request->nsym : request->columns > 0 ? request->columns : 1;
  if (request->count < 1 || (order == 1 && request->count != request->nsym)) raise_failure(MSG_INVALID_MODELS);
  int64_t alphabet = request->nsym > 1 ? request->nsym : 1;
  if (alphabet * request->count > BANK_MAX_COUNTS) raise_failure(MSG_TOO_MANY_MODELS);
  if (request->columns > 1 && request->columns != request->count) raise_failure(MSG_INVALID_MODELS);
}

ModelRequest models_read_request(const CommandCall& call) {
  ModelRequest request{0, 1, 0, 1, 1, 0, nullptr};
  if (!host_is_numeric(call.prhs[2])) raise_failure(MSG_EXPECTED_INT);
  if (find_option(call.options, "counts") == nullptr) {
    request.nsym = double_to_int(host_get_scalar(call.prhs[2]));
    models_read_options(call, &request);
    return request;
  }
  HostNumbers numbers = host_numbers(call.prhs[2]);
  std::uint64_t first_dimension = 0;
  host_array_dims(call.prhs[2], &first_dimension, 1);
  size_t rows = numbers.count == 0 ? 0 : static_cast<size_t>(first_dimension);
  if (numbers.element_class == HOST_OTHER || rows == 0 || rows > static_cast<size_t>(MAX_UNIFORM_ALPHABET)) {
    raise_failure(MSG_INVALID_MODELS);
  }
  request.nsym = static_cast<int32_t>(rows);
  size_t columns = numbers.count / rows;
  request.columns = columns > static_cast<size_t>(BANK_MAX_COUNTS) ? -1 : static_cast<int32_t>(columns);
  if (request.columns < 1) raise_failure(MSG_INVALID_MODELS);
  models_read_options(call, &request);
  request.counts = call.prhs[2];
  models_check_counts(numbers, rows);
  return request;
}

void models_open_slot(const ModelRequest& request, int handle, int32_t is_decoder) {
  BankSettings settings{request.nsym, request.count, request.order, nullptr, 0, request.adaptive, request.increment};
  if (request.counts == nullptr) {
    slot_open(handle, settings, is_decoder);
    return;
  }
  HostNumbers numbers = host_numbers(request.counts);
  HeapBlock block{static_cast<unsigned char*>(heap_take(numbers.count * sizeof(int32_t)))};
  if (block.data == nullptr) raise_failure(MSG_MODEL_ALLOCATION);
  auto* counts = reinterpret_cast<int32_t*>(block.data);
  for (size_t start = 0; start < numbers.count; start += NUMBERS_CHUNK) numbers_to_ints(numbers, start, counts + start);
  settings.counts = counts;
  settings.columns = request.columns;
  slot_open(handle, settings, is_decoder);
}

HostNumbers models_read_contexts(const CommandCall& call, const ModelBank* bank, size_t count) {
  if (call.nrhs < 4) return HostNumbers{HOST_OTHER, nullptr, 0};
  if (bank->order == 1) raise_failure(MSG_INVALID_MODELS);
  HostNumbers numbers = host_numbers(call.prhs[3]);
  if (numbers.element_class == HOST_OTHER) raise_failure(MSG_NOT_NUMERIC_ARRAY);
  if (numbers.count != count) raise_failure(MSG_CONTEXT_COUNT);
  int32_t chunk[NUMBERS_CHUNK];
  for (size_t start = 0; start < numbers.count; start += NUMBERS_CHUNK) {
    size_t length = numbers_to_ints(numbers, start, chunk);
    if (bank_find_bad_context(bank, chunk, length) != length) raise_failure(MSG_CONTEXT_OUT_OF_RANGE);
  }
  return numbers;
}
