#include "base/utf_string_conversions.h"

#include <windows.h>

#include <climits>
#include <cstdint>

namespace base {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Decodes one UTF-8 character at |data[*pos]| (with |*pos| < |size|) and
// advances |*pos|. Ill-formed input follows the Unicode "maximal subpart"
// practice: each maximal subpart of an ill-formed sequence gives one
// U+FFFD, and a byte that cannot start a sequence (0x80..0xC1, 0xF5..0xFF)
// gives one U+FFFD on its own. Overlong forms, surrogates (ED A0..BF) and
// values above U+10FFFF are excluded through the ranges of the second byte.
uint32_t DecodeUTF8(const unsigned char* data, size_t size, size_t* pos) {
  unsigned char lead = data[*pos];
  ++*pos;
  if (lead < 0x80)
    return lead;

  int trail_count;
  uint32_t code_point;
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail_count = 1;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail_count = 2;
    code_point = lead & 0x0F;
    if (lead == 0xE0)
      second_min = 0xA0;  // no overlong three-byte forms
    else if (lead == 0xED)
      second_max = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail_count = 3;
    code_point = lead & 0x07;
    if (lead == 0xF0)
      second_min = 0x90;  // no overlong four-byte forms
    else if (lead == 0xF4)
      second_max = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacementCharacter;
  }

  for (int i = 0; i < trail_count; ++i) {
    if (*pos >= size)
      return kReplacementCharacter;  // truncated: the subpart read so far
    unsigned char byte = data[*pos];
    unsigned char min = i == 0 ? second_min : 0x80;
    unsigned char max = i == 0 ? second_max : 0xBF;
    if (byte < min || byte > max)
      return kReplacementCharacter;  // |byte| starts the next character
    code_point = (code_point << 6) | (byte & 0x3F);
    ++*pos;
  }
  return code_point;
}

void AppendUTF16(uint32_t code_point, std::wstring* out) {
  if (code_point < 0x10000) {
    out->push_back(static_cast<wchar_t>(code_point));
  } else {
    code_point -= 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
  }
}

void AppendUTF8(uint32_t code_point, std::string* out) {
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
    AppendUTF16(DecodeUTF8(data, utf8.size(), &pos), &result);
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
          AppendUTF8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &result);
          ++i;
          continue;
        }
      }
      AppendUTF8(kReplacementCharacter, &result);  // lone high surrogate
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      AppendUTF8(kReplacementCharacter, &result);  // lone low surrogate
    } else {
      AppendUTF8(unit, &result);
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
