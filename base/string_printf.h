// printf-style formatting into std::string / std::wstring.
//
// The project builds with __USE_MINGW_ANSI_STDIO=1, so mingw's C99 printf
// family is used (the 8-bit formats follow C99/gnu_printf: "%lld", "%zu",
// "%llu", "%a" work). In the WIDE formats of FormatString16 and friends:
//   "%s"  takes a NARROW (const char*) string,
//   "%ls" takes a wide (const wchar_t*) string,
//   "%c" a char (int), "%lc" a wchar_t.
// Always write "%ls" for a wide argument, e.g.
//   FormatString16(L"%ls: %d", name.c_str(), count).
// GCC does not type-check wide formats, so this is on the caller.
//
// A format error (vsnprintf/vswprintf reporting a negative result, e.g. an
// unrepresentable character) gives an empty result / appends nothing.
#ifndef BASE_STRING_PRINTF_H_
#define BASE_STRING_PRINTF_H_

#include <cstdarg>
#include <string>

#define BASE_PRINTF_FORMAT(format_index, first_arg) \
  __attribute__((format(gnu_printf, format_index, first_arg)))

namespace base {

std::string FormatString(const char* format, ...) BASE_PRINTF_FORMAT(1, 2);
std::wstring FormatString16(const wchar_t* format, ...);

std::string FormatStringV(const char* format, va_list ap) BASE_PRINTF_FORMAT(1, 0);
std::wstring FormatString16V(const wchar_t* format, va_list ap);

// Appends the formatted text to |dst|.
void AppendFormat(std::string* dst, const char* format, ...) BASE_PRINTF_FORMAT(2, 3);
void AppendFormat(std::wstring* dst, const wchar_t* format, ...);
void AppendFormatV(std::string* dst, const char* format, va_list ap) BASE_PRINTF_FORMAT(2, 0);
void AppendFormatV(std::wstring* dst, const wchar_t* format, va_list ap);

}  // namespace base

#endif  // BASE_STRING_PRINTF_H_
