// SPDX-License-Identifier: BSD-3-Clause
#include "stream/stream.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>

#include "base/checks.h"
#include "base/failure.h"
#include "base/heap.h"
#include "base/messages.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <wchar.h>
#include <windows.h>  // MultiByteToWideChar, GetFullPathNameW

#define fseeko _fseeki64
#define ftello _ftelli64
#define fstat _fstat64
#define fileno _fileno
#define stat _stat64
#ifndef S_ISDIR
#define S_ISDIR(mode) (((mode)&_S_IFMT) == _S_IFDIR)
#endif
#endif

static ByteStream* stream_take_record() {
  auto* stream = static_cast<ByteStream*>(heap_take(sizeof(ByteStream)));
  if (stream == nullptr) raise_failure(MSG_STREAM_ALLOCATION);
  stream->file = nullptr;
  stream->memory = nullptr;
  stream->is_memory = 0;
  return stream;
}

static ByteStream* stream_open_memory(const uint8_t* bytes, int32_t length) {
  ByteStream* stream = stream_take_record();
  HeapBlock record{reinterpret_cast<unsigned char*>(stream)};  // freed if the buffer cannot be had
  stream->memory = buffer_create(bytes, length);
  stream->is_memory = 1;
  record.data = nullptr;
  return stream;
}

ByteStream* stream_open_memory_writer() { return stream_open_memory(nullptr, 0); }

ByteStream* stream_open_memory_reader(const uint8_t* bytes, int32_t length) {
  return stream_open_memory(bytes, length);
}

// True when an opened file is a directory, which reads as an empty stream.
static bool file_is_directory(FILE* file) {
  struct stat status;
  return fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

#if defined(_WIN32)
// Longest path a file stream opens, in UTF-16 units with its NUL, as given and
// once made absolute: room for the longest name the commands pass (510
// characters, at most 1020 units) and a long current folder before it.
constexpr int STREAM_WIDE_PATH_SIZE = 2048;

// Opens the absolute form of wide (from its current folder) behind "\\?\"
// ("\\?\UNC" for a share): the one form Windows opens past MAX_PATH units.
static FILE* stream_open_long_path(const wchar_t* wide, const wchar_t* mode) {
  wchar_t full[STREAM_WIDE_PATH_SIZE + 8];  // 8 units of room for the prefix
  DWORD length = GetFullPathNameW(wide, STREAM_WIDE_PATH_SIZE, full + 8, nullptr);
  if (length == 0 || length >= STREAM_WIDE_PATH_SIZE) return nullptr;
  bool share = full[8] == L'\\' && full[9] == L'\\';
  wchar_t* start = share ? full + 2 : full + 4;  // "\\?\UNC" replaces the share's first '\'
  wmemcpy(start, share ? L"\\\\?\\UNC" : L"\\\\?\\", share ? 7 : 4);
  return _wfopen(start, mode);
}

// Windows' fopen reads a name in the ANSI code page, but hosts hand over
// UTF-8: the name is converted to UTF-16 and opened with the wide-character
// open. nullptr when path is not UTF-8, is too long, or cannot be opened.
static FILE* stream_fopen(const char* path, const char* mode) {
  wchar_t wide[STREAM_WIDE_PATH_SIZE];
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide, STREAM_WIDE_PATH_SIZE);
  if (units == 0) return nullptr;
  wchar_t wide_mode[4] = {0, 0, 0, 0};  // "wb", "ab" or "rb": ASCII
  for (int i = 0; i < 3 && mode[i] != '\0'; ++i) wide_mode[i] = static_cast<wchar_t>(mode[i]);
  if (units - 1 < MAX_PATH || wcsncmp(wide, L"\\\\?\\", 4) == 0) return _wfopen(wide, wide_mode);
  return stream_open_long_path(wide, wide_mode);
}
#else
// Names are bytes here, passed on as the host gave them.
static FILE* stream_fopen(const char* path, const char* mode) { return std::fopen(path, mode); }
#endif

// True for the modes a file stream opens with: "wb", "ab" or "rb".
[[maybe_unused]] static bool stream_mode_is_known(const char* mode) {
  return std::strcmp(mode, "wb") == 0 || std::strcmp(mode, "ab") == 0 || std::strcmp(mode, "rb") == 0;
}

// True when a stream is one of the two kinds, with the one pointer it uses.
[[maybe_unused]] static bool stream_is_sound(const ByteStream* stream) {
  return stream->is_memory == 1 ? stream->memory != nullptr && stream->file == nullptr
                                : stream->is_memory == 0 && stream->file != nullptr && stream->memory == nullptr;
}

ByteStream* stream_open_file(const char* path, const char* mode) {
  KESTREL_ASSERT(stream_mode_is_known(mode));
  ByteStream* stream = stream_take_record();
  FILE* file = stream_fopen(path, mode);
  if (file != nullptr && file_is_directory(file)) {
    std::fclose(file);
    file = nullptr;
  }
  if (file == nullptr) {
    heap_free(stream);
    raise_failure(MSG_OPEN_FILE);
  }
  stream->file = file;
  return stream;
}

int stream_put_byte(ByteStream* stream, int byte) {
  KESTREL_ASSERT(stream_is_sound(stream));
  if (stream->is_memory) return buffer_put(stream->memory, byte);
  int written = std::putc(byte & 0xFF, stream->file);
  return written == EOF ? -1 : written;
}

int stream_put_bytes(ByteStream* stream, const uint8_t* bytes, int32_t count) {
  KESTREL_ASSERT(stream_is_sound(stream) && count >= 0);
  if (stream->is_memory) {
    buffer_put_bytes(stream->memory, bytes, count);
    return 0;
  }
  size_t written = std::fwrite(bytes, 1, static_cast<size_t>(count), stream->file);
  return written == static_cast<size_t>(count) ? 0 : -1;
}

int32_t stream_get_bytes(ByteStream* stream, uint8_t* bytes, int32_t count) {
  KESTREL_ASSERT(stream_is_sound(stream) && count >= 0);
  if (stream->is_memory) {
    buffer_get_bytes(stream->memory, bytes, count);
    return count;
  }
  return static_cast<int32_t>(std::fread(bytes, 1, static_cast<size_t>(count), stream->file));
}

int stream_get_byte(ByteStream* stream) {
  KESTREL_ASSERT(stream_is_sound(stream));
  if (stream->is_memory) return buffer_get(stream->memory);
  return std::getc(stream->file);
}

// Positions a file at offset from the start, refusing targets past its end.
static int stream_seek_file_start(FILE* file, int64_t offset) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  int64_t size = ftello(file);
  if (size < 0 || offset > size) return -1;
  return fseeko(file, offset < 0 ? 0 : offset, SEEK_SET);
}

int stream_seek(ByteStream* stream, int64_t offset, int whence) {
  KESTREL_ASSERT(stream_is_sound(stream) && (whence == 0 || whence == 1));
  if (stream->is_memory) return buffer_seek(stream->memory, offset, whence);
  if (whence == 0) return stream_seek_file_start(stream->file, offset);
  return fseeko(stream->file, offset, SEEK_CUR);
}

void stream_reserve(ByteStream* stream, int32_t count) {
  KESTREL_ASSERT(stream_is_sound(stream) && count >= 0);
  if (stream->is_memory) buffer_reserve(stream->memory, count);
}

uint8_t* stream_contents(const ByteStream* stream, int32_t* count) {
  KESTREL_ASSERT(stream_is_sound(stream));
  *count = 0;
  if (!stream->is_memory) return nullptr;
  return buffer_copy_out(stream->memory, count);
}

uint8_t* stream_take_contents(ByteStream* stream, int32_t* count) {
  KESTREL_ASSERT(stream_is_sound(stream));
  *count = 0;
  if (!stream->is_memory) return nullptr;
  return buffer_take_out(stream->memory, count);
}

int stream_close(ByteStream* stream) {
  if (stream == nullptr) return 0;
  KESTREL_ASSERT(stream_is_sound(stream));
  int result = 0;
  if (stream->is_memory) {
    buffer_release(stream->memory);
  } else {
    bool failed = std::fflush(stream->file) != 0 || std::ferror(stream->file) != 0;
    if (std::fclose(stream->file) != 0) failed = true;
    result = failed ? -1 : 0;
  }
  heap_free(stream);
  return result;
}
