#include "base/string_printf.h"

#include <cstdio>
#include <cwchar>
#include <vector>

namespace base {

namespace {

// Returns what vsnprintf/vswprintf return for this width: under mingw's C99
// stdio (__USE_MINGW_ANSI_STDIO=1) the would-be length on truncation, a
// negative value on a format or encoding error.
inline int VPrintf(char* buffer, size_t size, const char* format, va_list ap) {
  return vsnprintf(buffer, size, format, ap);
}
inline int VPrintf(wchar_t* buffer, size_t size, const wchar_t* format, va_list ap) {
  return vswprintf(buffer, size, format, ap);
}

// Largest buffer tried when the C library reports truncation with a negative
// result instead of the would-be length (the Microsoft convention): the
// buffer is doubled until the text fits or this size is passed.
constexpr size_t kMaxBlindBuffer = 32 * 1024 * 1024;

template <typename Char>
void AppendFormatT(std::basic_string<Char>* dst, const Char* format, va_list ap) {
  Char stack_buffer[1024];
  va_list ap_copy;
  va_copy(ap_copy, ap);
  int result = VPrintf(stack_buffer, sizeof(stack_buffer) / sizeof(Char), format, ap_copy);
  va_end(ap_copy);
  if (result >= 0 && static_cast<size_t>(result) < sizeof(stack_buffer) / sizeof(Char)) {
    dst->append(stack_buffer, static_cast<size_t>(result));
    return;
  }

  size_t size = sizeof(stack_buffer) / sizeof(Char);
  // A bounded number of attempts: a would-be length is exact, so one more
  // try suffices; blind doubling ends at kMaxBlindBuffer.
  for (int attempt = 0; attempt < 32; ++attempt) {
    if (result >= 0) {
      size = static_cast<size_t>(result) + 1;  // exact size known
    } else {
      // The wide functions may report truncation with -1; only a format
      // error would keep it negative at any size.
      if (sizeof(Char) == 1 || size >= kMaxBlindBuffer)
        return;
      size *= 2;
    }
    std::vector<Char> buffer(size);
    va_copy(ap_copy, ap);
    result = VPrintf(buffer.data(), size, format, ap_copy);
    va_end(ap_copy);
    if (result >= 0 && static_cast<size_t>(result) < size) {
      dst->append(buffer.data(), static_cast<size_t>(result));
      return;
    }
  }
}

}  // namespace

std::string FormatString(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result;
  AppendFormatT(&result, format, ap);
  va_end(ap);
  return result;
}

std::wstring FormatString16(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::wstring result;
  AppendFormatT(&result, format, ap);
  va_end(ap);
  return result;
}

std::string FormatStringV(const char* format, va_list ap) {
  std::string result;
  AppendFormatT(&result, format, ap);
  return result;
}

std::wstring FormatString16V(const wchar_t* format, va_list ap) {
  std::wstring result;
  AppendFormatT(&result, format, ap);
  return result;
}

void AppendFormat(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  AppendFormatT(dst, format, ap);
  va_end(ap);
}

void AppendFormat(std::wstring* dst, const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  AppendFormatT(dst, format, ap);
  va_end(ap);
}

void AppendFormatV(std::string* dst, const char* format, va_list ap) {
  AppendFormatT(dst, format, ap);
}

void AppendFormatV(std::wstring* dst, const wchar_t* format, va_list ap) {
  AppendFormatT(dst, format, ap);
}

}  // namespace base
