#include "base/json_string_escape.h"

#include "base/utf8_internal.h"

namespace base {

namespace {

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Appends one character of a JSON string body.
void AppendEscaped(uint32_t code_point, std::string* out) {
  switch (code_point) {
    case '"': out->append("\\\""); return;
    case '\\': out->append("\\\\"); return;
    case '\b': out->append("\\b"); return;
    case '\f': out->append("\\f"); return;
    case '\n': out->append("\\n"); return;
    case '\r': out->append("\\r"); return;
    case '\t': out->append("\\t"); return;
    default: break;
  }
  if (code_point < 0x20) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out->append("\\u00");
    out->push_back(kHex[code_point >> 4]);
    out->push_back(kHex[code_point & 0xF]);
    return;
  }
  utf8_internal::AppendUtf8(code_point, out);
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
    if (!utf8_internal::DecodeUtf8(utf8, &index, &code_point)) {
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
      code_point =
          0x10000 + ((code_point - 0xD800) << 10) + (static_cast<uint16_t>(utf16[i + 1]) - 0xDC00);
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
