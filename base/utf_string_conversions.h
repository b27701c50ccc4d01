// Conversions between UTF-8 (8-bit strings) and UTF-16 (wide strings).
#ifndef BASE_UTF_STRING_CONVERSIONS_H_
#define BASE_UTF_STRING_CONVERSIONS_H_

#include <string>
#include <string_view>

namespace base {

// Ill-formed input is replaced by U+FFFD; the functions never fail.
std::wstring UTF8ToWide(std::string_view utf8);
std::string WideToUTF8(std::wstring_view wide);
// Through MultiByteToWideChar/WideCharToMultiByte with CP_UTF8; empty input
// gives empty output, as does a failing conversion.
std::wstring SystemUTF8ToWide(std::string_view utf8);
std::string SystemWideToUTF8(std::wstring_view wide);
// Byte by byte / unit by unit; callers pass ASCII.
std::wstring ASCIIToWide(std::string_view ascii);
std::string WideToASCII(std::wstring_view wide);

}  // namespace base

#endif  // BASE_UTF_STRING_CONVERSIONS_H_
