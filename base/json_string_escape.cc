#include "base/json_string_escape.h"

namespace base {

namespace json_internal {

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

}  // namespace json_internal

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Appends one character of a JSON string body.
void AppendEscaped(uint32_t code_point, std::string* out) {
  switch (code_point) {
    case '"':
      out->append("\\\"");
      return;
    case '\\':
      out->append("\\\\");
      return;
    case '\b':
      out->append("\\b");
      return;
    case '\f':
      out->append("\\f");
      return;
    case '\n':
      out->append("\\n");
      return;
    case '\r':
      out->append("\\r");
      return;
    case '\t':
      out->append("\\t");
      return;
    default:
      break;
  }
  if (code_point < 0x20) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out->append("\\u00");
    out->push_back(kHex[code_point >> 4]);
    out->push_back(kHex[code_point & 0xF]);
    return;
  }
  json_internal::AppendUtf8(code_point, out);
}

}  // namespace

bool EscapeJsonString(std::string_view utf8, bool put_in_quotes, std::string* out) {
  bool well_formed = true;
  out->reserve(out->size() + utf8.size() + (put_in_quotes ? 2 : 0));
  if (put_in_quotes)
    out->push_back('"');
  size_t index = 0;
  while (index < utf8.size()) {
    uint32_t code_point = 0;
    if (!json_internal::DecodeUtf8(utf8, &index, &code_point)) {
      well_formed = false;
      code_point = kReplacementCharacter;
    }
    AppendEscaped(code_point, out);
  }
  if (put_in_quotes)
    out->push_back('"');
  return well_formed;
}

bool EscapeJsonString(std::wstring_view utf16, bool put_in_quotes, std::string* out) {
  bool well_formed = true;
  out->reserve(out->size() + utf16.size() + (put_in_quotes ? 2 : 0));
  if (put_in_quotes)
    out->push_back('"');
  for (size_t i = 0; i < utf16.size(); ++i) {
    uint32_t code_point = static_cast<uint16_t>(utf16[i]);
    if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 1 < utf16.size() &&
        static_cast<uint16_t>(utf16[i + 1]) >= 0xDC00 &&
        static_cast<uint16_t>(utf16[i + 1]) <= 0xDFFF) {
      code_point = 0x10000 + ((code_point - 0xD800) << 10) +
                   (static_cast<uint16_t>(utf16[i + 1]) - 0xDC00);
      ++i;
    } else if (code_point >= 0xD800 && code_point <= 0xDFFF) {
      well_formed = false;
      code_point = kReplacementCharacter;
    }
    AppendEscaped(code_point, out);
  }
  if (put_in_quotes)
    out->push_back('"');
  return well_formed;
}

}  // namespace base
