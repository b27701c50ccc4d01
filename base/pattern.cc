#include "base/pattern.h"

#include <cstdint>

namespace base {

namespace {

// Length in units of the character that starts at |text[pos]|.
size_t CharLength(std::string_view text, size_t pos) {
  auto lead = static_cast<unsigned char>(text[pos]);
  size_t length;
  unsigned char second_min = 0x80, second_max = 0xBF;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0)
      second_min = 0xA0;
    else if (lead == 0xED)
      second_max = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0)
      second_min = 0x90;
    else if (lead == 0xF4)
      second_max = 0x8F;
  } else {
    return 1;  // cannot start a sequence: an ill-formed byte of its own
  }
  if (pos + length > text.size())
    return 1;  // truncated sequence: its lead byte counts alone
  for (size_t i = 1; i < length; ++i) {
    auto byte = static_cast<unsigned char>(text[pos + i]);
    unsigned char min = i == 1 ? second_min : 0x80;
    unsigned char max = i == 1 ? second_max : 0xBF;
    if (byte < min || byte > max)
      return 1;  // ill-formed sequence: its lead byte counts alone
  }
  return length;
}

size_t CharLength(std::wstring_view text, size_t pos) {
  auto unit = static_cast<uint16_t>(text[pos]);
  if (unit >= 0xD800 && unit <= 0xDBFF && pos + 1 < text.size()) {
    auto next = static_cast<uint16_t>(text[pos + 1]);
    if (next >= 0xDC00 && next <= 0xDFFF)
      return 2;
  }
  return 1;
}

// Greedy matching with backtracking to the most recent "*" only. When a
// later "*" is reached, the earlier ones never need to be revisited (any
// match found by moving an earlier star can be found by moving the later
// one), so the cost is O(|text| * |pattern|).
template <typename Char>
bool MatchPatternT(std::basic_string_view<Char> text, std::basic_string_view<Char> pattern) {
  constexpr size_t npos = std::basic_string_view<Char>::npos;
  size_t t = 0;
  size_t p = 0;
  size_t star_p = npos;  // position in |pattern| of the last "*" seen
  size_t star_t = 0;     // where in |text| that star's run currently ends
  while (t < text.size()) {
    if (p < pattern.size()) {
      Char pc = pattern[p];
      if (pc == Char('*')) {
        star_p = p++;
        star_t = t;
        continue;
      }
      if (pc == Char('?')) {
        t += CharLength(text, t);
        ++p;
        continue;
      }
      if (pc == text[t]) {
        ++t;
        ++p;
        continue;
      }
    }
    if (star_p == npos)
      return false;
    // Let the last star swallow one more character and retry after it.
    star_t += CharLength(text, star_t);
    t = star_t;
    p = star_p + 1;
  }
  while (p < pattern.size() && pattern[p] == Char('*'))
    ++p;
  return p == pattern.size();
}

}  // namespace

bool MatchPattern(std::string_view text, std::string_view pattern) {
  return MatchPatternT(text, pattern);
}

bool MatchPattern(std::wstring_view text, std::wstring_view pattern) {
  return MatchPatternT(text, pattern);
}

}  // namespace base
