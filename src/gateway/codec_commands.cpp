// SPDX-License-Identifier: BSD-3-Clause
#include "gateway/codec_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "base/failure.h"
#include "codec/block.h"
#include "codec/container.h"

namespace {

constexpr int32_t MAX_THREADS = 256;

// Predictor names of the predictor option, in Predictor order.
const char* const PREDICTOR_NAMES[PREDICTOR_COUNT] = {"none", "previous", "linear", "med", "plane", "lpc", "stereo"};

// A line of progress; whatever the host's printing throws (an interrupt,
// say) stays here, where the other threads still code: the call finishes.
void codec_report(void* context, uint64_t done, uint64_t total) noexcept {
  char line[96];
  std::snprintf(line, sizeof line, "%s: %llu of %llu blocks", static_cast<const char*>(context),
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
  try {
    host_print(line);
  } catch (...) {
  }
}

// The options of the command string: threads (default: every core),
// predictor (default auto) and progress.
CodecOptions codec_read_options(const CommandCall& call, const char* name) {
  CodecOptions options{PRED_AUTO, 0, {nullptr, nullptr}};
  for (int i = 0; call.options[i] != nullptr; ++i) {
    const char* option = call.options[i];
    if (std::strncmp(option, "threads=", 8) == 0) {
      char* end = nullptr;
      long threads = std::strtol(option + 8, &end, 10);
      if (end == option + 8 || *end != '\0' || threads < 1 || threads > MAX_THREADS) raise_failure(MSG_INVALID_OPTION);
      options.threads = static_cast<int32_t>(threads);
    } else if (std::strncmp(option, "predictor=", 10) == 0) {
      int32_t found = std::strcmp(option + 10, "auto") == 0 ? PRED_AUTO : -2;
      for (int32_t k = 0; k < PREDICTOR_COUNT; ++k) {
        if (std::strcmp(option + 10, PREDICTOR_NAMES[k]) == 0) found = k;
      }
      if (found == -2) raise_failure(MSG_INVALID_OPTION);
      options.predictor = found;
    } else if (std::strcmp(option, "progress") == 0) {
      options.progress = CodecProgress{codec_report, const_cast<char*>(name)};
    } else {
      raise_failure(MSG_INVALID_OPTION);
    }
  }
  if (options.threads == 0) {
    unsigned cores = std::thread::hardware_concurrency();
    options.threads = cores == 0 ? 1 : cores > MAX_THREADS ? MAX_THREADS : static_cast<int32_t>(cores);
  }
  return options;
}

}  // namespace

void command_compress(CommandCall& call) {
  CodecOptions options = codec_read_options(call, "kestrel_compress");
  if (call.nrhs < 2) raise_failure(MSG_FEW_ARGUMENTS);
  const HostArray* x = call.prhs[1];
  CodecArray array{};
  array.cls = host_array_class(x);
  if (array.cls == 0) raise_failure(MSG_UNSUPPORTED_INPUT);
  array.ndims = host_array_dims(x, array.dims, CODEC_MAX_DIMS);
  if (array.ndims > CODEC_MAX_DIMS) raise_failure(MSG_UNSUPPORTED_INPUT);
  array.count = 1;
  for (int32_t k = 0; k < array.ndims; ++k) array.count *= array.dims[k];
  array.element_bytes = array.cls == CODEC_CLASS_CHAR ? static_cast<int32_t>(host_char_bytes()) : 0;
  array.data = host_array_data(x);
  // Written to a buffer of the largest size first, left uninitialised so that
  // the pages the container does not reach are never touched, then copied
  // to a row of its own size.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[codec_bound(array)]);
  uint64_t length = codec_compress(array, options, buffer.get());
  auto* out = static_cast<uint8_t*>(host_create_typed_row(&call.plhs[0], HOST_UINT8, length));
  call.result_kind = RESULT_ARRAY;
  if (length > 0) std::memcpy(out, buffer.get(), length);
}

void command_decompress(CommandCall& call) {
  CodecOptions options = codec_read_options(call, "kestrel_decompress");
  if (call.nrhs < 2) raise_failure(MSG_FEW_ARGUMENTS);
  const HostArray* bytes = call.prhs[1];
  if (host_array_class(bytes) != 4) raise_failure(MSG_NOT_COMPRESSED);
  uint64_t dims[CODEC_MAX_DIMS];
  int ndims = host_array_dims(bytes, dims, CODEC_MAX_DIMS);
  if (ndims != 2 || (dims[0] != 1 && dims[1] != 1 && dims[0] * dims[1] != 0)) raise_failure(MSG_NOT_COMPRESSED);
  const auto* data = static_cast<const uint8_t*>(host_array_data(bytes));
  uint64_t length = dims[0] * dims[1];
  static const uint8_t NONE[1] = {0};
  CodecHeader header;
  codec_read_header(length == 0 ? NONE : data, length, &header);
  CodecArray array{};
  array.cls = header.cls;
  array.ndims = header.ndims;
  for (int32_t k = 0; k < header.ndims; ++k) array.dims[k] = header.dims[k];
  array.count = header.count;
  array.element_bytes = array.cls == CODEC_CLASS_CHAR ? static_cast<int32_t>(host_char_bytes()) : 0;
  array.data = host_create_array(&call.plhs[0], array.cls, array.ndims, array.dims);
  call.result_kind = RESULT_ARRAY;
  codec_decompress(data, header, &array, options);
}
