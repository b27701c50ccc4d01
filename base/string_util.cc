#include "base/string_util.h"

#include <cstdint>

namespace base {

const char kWhitespaceASCII[] = "\t\n\v\f\r ";
const wchar_t kWhitespaceASCII16[] = L"\t\n\v\f\r ";
const wchar_t kWhitespaceWide[] = {0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085,
                                   0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                   0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                   0x2029, 0x202F, 0x205F, 0x3000, 0};

bool IsUnicodeWhitespace(wchar_t c) {
  for (const wchar_t* p = kWhitespaceWide; *p; ++p) {
    if (*p == c)
      return true;
  }
  return false;
}

namespace {

template <typename Char>
std::basic_string<Char> ToLowerT(std::basic_string_view<Char> str) {
  std::basic_string<Char> result(str);
  for (Char& c : result)
    c = ToLowerASCII(c);
  return result;
}

template <typename Char>
std::basic_string<Char> ToUpperT(std::basic_string_view<Char> str) {
  std::basic_string<Char> result(str);
  for (Char& c : result)
    c = ToUpperASCII(c);
  return result;
}

template <typename Char>
using Unsigned = std::conditional_t<sizeof(Char) == 1, uint8_t, uint16_t>;

template <typename Char>
int CompareCaseInsensitiveT(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<Unsigned<Char>>(ToLowerASCII(a[i]));
    auto cb = static_cast<Unsigned<Char>>(ToLowerASCII(b[i]));
    if (ca != cb)
      return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size())
    return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename Char>
bool EqualsCaseInsensitiveT(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerASCII(a[i]) != ToLowerASCII(b[i]))
      return false;
  }
  return true;
}

template <typename Char>
bool StartsWithT(std::basic_string_view<Char> str, std::basic_string_view<Char> prefix,
                 CompareCase case_sensitivity) {
  if (prefix.size() > str.size())
    return false;
  std::basic_string_view<Char> head = str.substr(0, prefix.size());
  if (case_sensitivity == CompareCase::SENSITIVE)
    return head == prefix;
  return EqualsCaseInsensitiveT(head, prefix);
}

template <typename Char>
bool EndsWithT(std::basic_string_view<Char> str, std::basic_string_view<Char> suffix,
               CompareCase case_sensitivity) {
  if (suffix.size() > str.size())
    return false;
  std::basic_string_view<Char> tail = str.substr(str.size() - suffix.size());
  if (case_sensitivity == CompareCase::SENSITIVE)
    return tail == suffix;
  return EqualsCaseInsensitiveT(tail, suffix);
}

template <typename Char>
bool ReplaceCharsT(std::basic_string_view<Char> input, std::basic_string_view<Char> replace_chars,
                   std::basic_string_view<Char> replace_with, std::basic_string<Char>* output) {
  std::basic_string<Char> result;
  result.reserve(input.size());
  bool replaced = false;
  for (Char c : input) {
    if (replace_chars.find(c) != std::basic_string_view<Char>::npos) {
      result.append(replace_with);
      replaced = true;
    } else {
      result.push_back(c);
    }
  }
  *output = std::move(result);
  return replaced;
}

template <typename Char>
void ReplaceSubstringsT(std::basic_string<Char>* str, size_t start_offset,
                        std::basic_string_view<Char> find_this,
                        std::basic_string_view<Char> replace_with, bool all) {
  if (find_this.empty() || start_offset > str->size())
    return;
  // Build the result in one pass so that long texts with many matches stay
  // linear, and so that |find_this| / |replace_with| may view |*str|.
  std::basic_string_view<Char> source(*str);
  size_t pos = source.find(find_this, start_offset);
  if (pos == std::basic_string_view<Char>::npos)
    return;
  std::basic_string<Char> result;
  result.reserve(str->size());
  size_t copied = 0;
  while (pos != std::basic_string_view<Char>::npos) {
    result.append(source.substr(copied, pos - copied));
    result.append(replace_with);
    copied = pos + find_this.size();
    if (!all)
      break;
    pos = source.find(find_this, copied);
  }
  result.append(source.substr(copied));
  *str = std::move(result);
}

template <typename Char>
TrimPositions TrimStringViewT(std::basic_string_view<Char> input,
                              std::basic_string_view<Char> trim_chars, TrimPositions positions,
                              std::basic_string_view<Char>* output) {
  size_t begin = 0;
  size_t end = input.size();
  if (positions & TRIM_LEADING) {
    begin = input.find_first_not_of(trim_chars);
    if (begin == std::basic_string_view<Char>::npos)
      begin = input.size();
  }
  if (positions & TRIM_TRAILING) {
    size_t last = input.find_last_not_of(trim_chars);
    end = last == std::basic_string_view<Char>::npos ? 0 : last + 1;
  }
  int trimmed = TRIM_NONE;
  if (begin > 0)
    trimmed |= TRIM_LEADING;
  if (end < input.size())
    trimmed |= TRIM_TRAILING;
  if (end <= begin) {
    // Everything is trim characters: report each end that was asked for and
    // had something to remove.
    *output = input.substr(0, 0);
    trimmed = input.empty() ? TRIM_NONE : (positions & TRIM_ALL);
  } else {
    *output = input.substr(begin, end - begin);
  }
  return static_cast<TrimPositions>(trimmed);
}

template <typename Char>
std::basic_string<Char> JoinT(const std::vector<std::basic_string_view<Char>>& parts,
                              std::basic_string_view<Char> separator) {
  std::basic_string<Char> result;
  if (parts.empty())
    return result;
  size_t total = separator.size() * (parts.size() - 1);
  for (const auto& part : parts)
    total += part.size();
  result.reserve(total);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i)
      result.append(separator);
    result.append(parts[i]);
  }
  return result;
}

template <typename Char>
std::basic_string<Char> SubstituteT(std::basic_string_view<Char> format,
                                    const std::vector<std::basic_string<Char>>& subst,
                                    std::vector<size_t>* offsets) {
  if (offsets)
    offsets->clear();
  std::basic_string<Char> result;
  result.reserve(format.size());
  for (size_t i = 0; i < format.size(); ++i) {
    Char c = format[i];
    if (c != Char('$') || i + 1 >= format.size()) {
      result.push_back(c);
      continue;
    }
    Char next = format[i + 1];
    if (next == Char('$')) {
      result.push_back(Char('$'));
      ++i;
    } else if (next >= Char('1') && next <= Char('9') &&
               static_cast<size_t>(next - Char('1')) < subst.size()) {
      if (offsets)
        offsets->push_back(result.size());
      result.append(subst[static_cast<size_t>(next - Char('1'))]);
      ++i;
    } else {
      // "$" followed by anything else, or an index past the list: literal.
      // Only the dollar is consumed here, so "$0$1" still substitutes "$1".
      result.push_back(c);
    }
  }
  return result;
}

}  // namespace

std::string ToLowerASCII(std::string_view str) { return ToLowerT(str); }
std::wstring ToLowerASCII(std::wstring_view str) { return ToLowerT(str); }
std::string ToUpperASCII(std::string_view str) { return ToUpperT(str); }
std::wstring ToUpperASCII(std::wstring_view str) { return ToUpperT(str); }

bool IsStringASCII(std::string_view str) {
  for (char c : str) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

bool IsStringASCII16(std::wstring_view str) {
  for (wchar_t c : str) {
    if (static_cast<uint16_t>(c) >= 0x80)
      return false;
  }
  return true;
}

bool EqualsAsciiIgnoreCase(std::wstring_view text, std::string_view lower_ascii) {
  if (text.size() != lower_ascii.size())
    return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (ToLowerASCII(text[i]) != static_cast<wchar_t>(static_cast<unsigned char>(lower_ascii[i])))
      return false;
  }
  return true;
}

bool EqualsCaseInsensitiveASCII(std::string_view a, std::string_view b) {
  return EqualsCaseInsensitiveT(a, b);
}
bool EqualsCaseInsensitiveASCII(std::wstring_view a, std::wstring_view b) {
  return EqualsCaseInsensitiveT(a, b);
}
int CompareCaseInsensitiveASCII(std::string_view a, std::string_view b) {
  return CompareCaseInsensitiveT(a, b);
}
int CompareCaseInsensitiveASCII(std::wstring_view a, std::wstring_view b) {
  return CompareCaseInsensitiveT(a, b);
}

bool StartsWith(std::string_view str, std::string_view prefix, CompareCase case_sensitivity) {
  return StartsWithT(str, prefix, case_sensitivity);
}
bool StartsWith(std::wstring_view str, std::wstring_view prefix, CompareCase case_sensitivity) {
  return StartsWithT(str, prefix, case_sensitivity);
}
bool EndsWith(std::string_view str, std::string_view suffix, CompareCase case_sensitivity) {
  return EndsWithT(str, suffix, case_sensitivity);
}
bool EndsWith(std::wstring_view str, std::wstring_view suffix, CompareCase case_sensitivity) {
  return EndsWithT(str, suffix, case_sensitivity);
}
bool EndsWith16(std::wstring_view str, std::wstring_view suffix, int mode) {
  return EndsWithT(str, suffix,
                   mode == 0 ? CompareCase::SENSITIVE : CompareCase::INSENSITIVE_ASCII);
}

bool ReplaceChars(std::string_view input, std::string_view replace_chars,
                  std::string_view replace_with, std::string* output) {
  return ReplaceCharsT(input, replace_chars, replace_with, output);
}
bool ReplaceChars(std::wstring_view input, std::wstring_view replace_chars,
                  std::wstring_view replace_with, std::wstring* output) {
  return ReplaceCharsT(input, replace_chars, replace_with, output);
}

void ReplaceSubstringsAfterOffset(std::string* str, size_t start_offset, std::string_view find_this,
                                  std::string_view replace_with) {
  ReplaceSubstringsT(str, start_offset, find_this, replace_with, true);
}
void ReplaceSubstringsAfterOffset(std::wstring* str, size_t start_offset,
                                  std::wstring_view find_this, std::wstring_view replace_with) {
  ReplaceSubstringsT(str, start_offset, find_this, replace_with, true);
}
void ReplaceFirstSubstringAfterOffset(std::string* str, size_t start_offset,
                                      std::string_view find_this, std::string_view replace_with) {
  ReplaceSubstringsT(str, start_offset, find_this, replace_with, false);
}
void ReplaceFirstSubstringAfterOffset(std::wstring* str, size_t start_offset,
                                      std::wstring_view find_this, std::wstring_view replace_with) {
  ReplaceSubstringsT(str, start_offset, find_this, replace_with, false);
}

TrimPositions TrimString(std::string_view input, std::string_view trim_chars,
                         TrimPositions positions, std::string* output) {
  std::string_view view;
  TrimPositions result = TrimStringViewT(input, trim_chars, positions, &view);
  output->assign(view.data(), view.size());
  return result;
}
TrimPositions TrimString(std::wstring_view input, std::wstring_view trim_chars,
                         TrimPositions positions, std::wstring* output) {
  std::wstring_view view;
  TrimPositions result = TrimStringViewT(input, trim_chars, positions, &view);
  output->assign(view.data(), view.size());
  return result;
}
std::string_view TrimStringView(std::string_view input, std::string_view trim_chars,
                                TrimPositions positions) {
  std::string_view view;
  TrimStringViewT(input, trim_chars, positions, &view);
  return view;
}
std::wstring_view TrimStringView(std::wstring_view input, std::wstring_view trim_chars,
                                 TrimPositions positions) {
  std::wstring_view view;
  TrimStringViewT(input, trim_chars, positions, &view);
  return view;
}

TrimPositions TrimWhitespace(std::wstring_view input, TrimPositions positions,
                             std::wstring* output) {
  return TrimString(input, kWhitespaceWide, positions, output);
}
TrimPositions TrimWhitespace(std::string_view input, TrimPositions positions, std::string* output) {
  return TrimString(input, kWhitespaceASCII, positions, output);
}
std::wstring_view TrimWhitespace(std::wstring_view input, TrimPositions positions) {
  return TrimStringView(input, kWhitespaceWide, positions);
}
std::string_view TrimWhitespace(std::string_view input, TrimPositions positions) {
  return TrimStringView(input, kWhitespaceASCII, positions);
}
TrimPositions TrimWhitespaceASCII(std::string_view input, TrimPositions positions,
                                  std::string* output) {
  return TrimString(input, kWhitespaceASCII, positions, output);
}
TrimPositions TrimWhitespaceASCII(std::wstring_view input, TrimPositions positions,
                                  std::wstring* output) {
  return TrimString(input, kWhitespaceASCII16, positions, output);
}
std::string_view TrimWhitespaceASCII(std::string_view input, TrimPositions positions) {
  return TrimStringView(input, kWhitespaceASCII, positions);
}
std::wstring_view TrimWhitespaceASCII(std::wstring_view input, TrimPositions positions) {
  return TrimStringView(input, kWhitespaceASCII16, positions);
}

std::string JoinString(const std::vector<std::string>& parts, std::string_view separator) {
  return JoinT(std::vector<std::string_view>(parts.begin(), parts.end()), separator);
}
std::wstring JoinString16(const std::vector<std::wstring>& parts, std::wstring_view separator) {
  return JoinT(std::vector<std::wstring_view>(parts.begin(), parts.end()), separator);
}
std::string JoinStringSlices(const std::vector<std::string_view>& parts,
                             std::string_view separator) {
  return JoinT(parts, separator);
}
std::wstring JoinStringSlices16(const std::vector<std::wstring_view>& parts,
                                std::wstring_view separator) {
  return JoinT(parts, separator);
}

std::string SubstitutePlaceholders(std::string_view format, const std::vector<std::string>& subst,
                                   std::vector<size_t>* offsets) {
  return SubstituteT(format, subst, offsets);
}
std::wstring SubstitutePlaceholders16(std::wstring_view format,
                                      const std::vector<std::wstring>& subst,
                                      std::vector<size_t>* offsets) {
  return SubstituteT(format, subst, offsets);
}

char* WriteInto(std::string* str, size_t length_with_null) {
  str->resize(length_with_null ? length_with_null - 1 : 0);
  return str->data();
}
wchar_t* WriteInto(std::wstring* str, size_t length_with_null) {
  str->resize(length_with_null ? length_with_null - 1 : 0);
  return str->data();
}

}  // namespace base
