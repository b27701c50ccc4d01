#include "base/utf_string_conversions.h"

#include <windows.h>

#include <climits>
#include <cstdint>

#include "base/utf8_internal.h"

namespace base {

namespace utf8_internal {

bool DecodeUtf8(std::string_view text, size_t* index, uint32_t* code_point) {
  const size_t start = *index;
  const uint8_t lead = static_cast<uint8_t>(text[start]);
  *index = start + 1;
  if (lead < 0x80) {
    *code_point = lead;
    return true;
  }

  // Number of continuation bytes and the range allowed for the first one
  // (narrower than 80..BF where overlong forms, surrogates or values past
  // U+10FFFF would otherwise slip in).
  size_t trail = 0;
  uint8_t first_min = 0x80;
  uint8_t first_max = 0xBF;
  uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0F;
    if (lead == 0xE0)
      first_min = 0xA0;
    else if (lead == 0xED)
      first_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07;
    if (lead == 0xF0)
      first_min = 0x90;
    else if (lead == 0xF4)
      first_max = 0x8F;
  } else {
    return false;  // A continuation byte, C0/C1 or F5..FF.
  }

  for (size_t i = 0; i < trail; ++i) {
    if (start + 1 + i >= text.size())
      return false;  // Truncated; |*index| is past the valid prefix.
    const uint8_t byte = static_cast<uint8_t>(text[start + 1 + i]);
    const uint8_t min = i == 0 ? first_min : 0x80;
    const uint8_t max = i == 0 ? first_max : 0xBF;
    if (byte < min || byte > max)
      return false;
    value = (value << 6) | (byte & 0x3F);
    *index = start + 2 + i;
  }
  *code_point = value;
  return true;
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace utf8_internal

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

void AppendUTF16(uint32_t code_point, std::wstring* out) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<wchar_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

}  // namespace

std::wstring UTF8ToWide(std::string_view utf8) {
  std::wstring result;
  result.reserve(utf8.size());
  const auto* data = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t pos = 0;
  while (pos < utf8.size()) {
    // Fast path for runs of ASCII.
    if (data[pos] < 0x80) {
      result.push_back(static_cast<wchar_t>(data[pos]));
      ++pos;
      continue;
    }
    // Each maximal subpart of an ill-formed sequence gives one U+FFFD.
    uint32_t code_point;
    if (!utf8_internal::DecodeUtf8(utf8, &pos, &code_point))
      code_point = kReplacementCharacter;
    AppendUTF16(code_point, &result);
  }
  return result;
}

std::string WideToUTF8(std::wstring_view wide) {
  std::string result;
  result.reserve(wide.size() + wide.size() / 2);
  for (size_t i = 0; i < wide.size(); ++i) {
    uint32_t unit = static_cast<uint16_t>(wide[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 < wide.size()) {
        uint32_t next = static_cast<uint16_t>(wide[i + 1]);
        if (next >= 0xDC00 && next <= 0xDFFF) {
          utf8_internal::AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &result);
          ++i;
          continue;
        }
      }
      utf8_internal::AppendUtf8(kReplacementCharacter, &result);  // lone high surrogate
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      utf8_internal::AppendUtf8(kReplacementCharacter, &result);  // lone low surrogate
    } else {
      utf8_internal::AppendUtf8(unit, &result);
    }
  }
  return result;
}

std::wstring SystemUTF8ToWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<size_t>(INT_MAX))
    return std::wstring();
  int in_size = static_cast<int>(utf8.size());
  int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in_size, nullptr, 0);
  if (needed <= 0)
    return std::wstring();
  std::wstring result(static_cast<size_t>(needed), L'\0');
  int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in_size, result.data(), needed);
  if (written <= 0)
    return std::wstring();
  result.resize(static_cast<size_t>(written));
  return result;
}

std::string SystemWideToUTF8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX))
    return std::string();
  int in_size = static_cast<int>(wide.size());
  int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), in_size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0)
    return std::string();
  std::string result(static_cast<size_t>(needed), '\0');
  int written = WideCharToMultiByte(CP_UTF8, 0, wide.data(), in_size, result.data(), needed,
                                    nullptr, nullptr);
  if (written <= 0)
    return std::string();
  result.resize(static_cast<size_t>(written));
  return result;
}

std::wstring ASCIIToWide(std::string_view ascii) {
  std::wstring result;
  result.reserve(ascii.size());
  for (char c : ascii)
    result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return result;
}

std::string WideToASCII(std::wstring_view wide) {
  std::string result;
  result.reserve(wide.size());
  for (wchar_t c : wide)
    result.push_back(static_cast<char>(c));
  return result;
}

}  // namespace base
