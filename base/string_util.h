// Small text utilities for 8-bit (UTF-8/ASCII) and UTF-16 (std::wstring)
// text. "ASCII case-insensitive" means that only A-Z and a-z are folded; every
// other character (including non-ASCII letters) must match exactly.
#ifndef BASE_STRING_UTIL_H_
#define BASE_STRING_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace base {

// ---------------------------------------------------------------------------
// Characters.

constexpr char ToLowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}
constexpr wchar_t ToLowerASCII(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}
constexpr char ToUpperASCII(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}
constexpr wchar_t ToUpperASCII(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - (L'a' - L'A')) : c;
}

// ASCII whitespace: tab, line feed, vertical tab, form feed, carriage return
// and space.
constexpr bool IsAsciiWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
constexpr bool IsAsciiWhitespace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}
// Unicode White_Space characters of the BMP: the ASCII ones and U+0085,
// U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool IsUnicodeWhitespace(wchar_t c);

constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
constexpr bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiAlpha(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
constexpr bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr bool IsHexDigit(wchar_t c) {
  return IsAsciiDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Whitespace sets, for use as separators or trim sets.
extern const char kWhitespaceASCII[];       // "\t\n\v\f\r "
extern const wchar_t kWhitespaceASCII16[];  // L"\t\n\v\f\r "
extern const wchar_t kWhitespaceWide[];     // the Unicode set of IsUnicodeWhitespace

// ---------------------------------------------------------------------------
// Case and classification of whole texts.

// A copy with A-Z lowered (upper-cased) and every other unit unchanged.
std::string ToLowerASCII(std::string_view str);
std::wstring ToLowerASCII(std::wstring_view str);
std::string ToUpperASCII(std::string_view str);
std::wstring ToUpperASCII(std::wstring_view str);

// True when every unit is below 0x80 (the empty text is ASCII).
bool IsStringASCII(std::string_view str);
bool IsStringASCII16(std::wstring_view str);
inline bool IsStringASCII(std::wstring_view str) { return IsStringASCII16(str); }

// True when |text| (UTF-16) equals |lower_ascii| once the A-Z of |text| are
// lowered. |lower_ascii| is expected to be all lower-case ASCII: an upper-case
// letter in it never matches. Example: (L"Yes", "yes") is true, (L"yes",
// "YES") is false.
bool EqualsAsciiIgnoreCase(std::wstring_view text, std::string_view lower_ascii);

// Both texts compared with A-Z folded on both sides (true for ("AbC", "aBc")).
bool EqualsCaseInsensitiveASCII(std::string_view a, std::string_view b);
bool EqualsCaseInsensitiveASCII(std::wstring_view a, std::wstring_view b);

// Three-way comparison with A-Z folded (negative, 0, positive), comparing
// the folded units as unsigned values.
int CompareCaseInsensitiveASCII(std::string_view a, std::string_view b);
int CompareCaseInsensitiveASCII(std::wstring_view a, std::wstring_view b);

// ---------------------------------------------------------------------------
// Prefixes and suffixes.

enum class CompareCase {
  SENSITIVE,
  INSENSITIVE_ASCII,
};

// The empty prefix/suffix always matches.
bool StartsWith(std::string_view str, std::string_view prefix,
                CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool StartsWith(std::wstring_view str, std::wstring_view prefix,
                CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool EndsWith(std::string_view str, std::string_view suffix,
              CompareCase case_sensitivity = CompareCase::SENSITIVE);
bool EndsWith(std::wstring_view str, std::wstring_view suffix,
              CompareCase case_sensitivity = CompareCase::SENSITIVE);

// |mode| 0: exact comparison; any other value: ASCII case-insensitive.
bool EndsWith16(std::wstring_view str, std::wstring_view suffix, int mode);

// ---------------------------------------------------------------------------
// Replacing.

// Writes |input| to |output| with every character that occurs in
// |replace_chars| replaced by the whole of |replace_with| (which may be empty,
// removing those characters). True when at least one character was replaced.
// |input| may view |output|'s own text (ReplaceChars(*out, ..., out) works).
bool ReplaceChars(std::string_view input, std::string_view replace_chars,
                  std::string_view replace_with, std::string* output);
bool ReplaceChars(std::wstring_view input, std::wstring_view replace_chars,
                  std::wstring_view replace_with, std::wstring* output);

// Replaces every non-overlapping occurrence of |find_this| at or after
// |start_offset| in |str|, scanning left to right; replaced text is never
// scanned again. An empty |find_this| or an offset past the end does nothing.
void ReplaceSubstringsAfterOffset(std::string* str, size_t start_offset, std::string_view find_this,
                                  std::string_view replace_with);
void ReplaceSubstringsAfterOffset(std::wstring* str, size_t start_offset,
                                  std::wstring_view find_this, std::wstring_view replace_with);
// Only the first occurrence at or after |start_offset|.
void ReplaceFirstSubstringAfterOffset(std::string* str, size_t start_offset,
                                      std::string_view find_this, std::string_view replace_with);
void ReplaceFirstSubstringAfterOffset(std::wstring* str, size_t start_offset,
                                      std::wstring_view find_this, std::wstring_view replace_with);

// ---------------------------------------------------------------------------
// Trimming.

enum TrimPositions {
  TRIM_NONE = 0,
  TRIM_LEADING = 1 << 0,
  TRIM_TRAILING = 1 << 1,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

// Removes the characters of |trim_chars| from the chosen ends. The result
// tells which ends had something removed (TRIM_NONE when nothing was).
TrimPositions TrimString(std::string_view input, std::string_view trim_chars,
                         TrimPositions positions, std::string* output);
TrimPositions TrimString(std::wstring_view input, std::wstring_view trim_chars,
                         TrimPositions positions, std::wstring* output);
std::string_view TrimStringView(std::string_view input, std::string_view trim_chars,
                                TrimPositions positions);
std::wstring_view TrimStringView(std::wstring_view input, std::wstring_view trim_chars,
                                 TrimPositions positions);

// TrimWhitespace: wide text trims the Unicode whitespace of kWhitespaceWide;
// 8-bit text trims ASCII whitespace only (non-ASCII UTF-8 is never touched).
// TrimWhitespaceASCII trims ASCII whitespace only, for both widths.
// The forms with an output return which ends were trimmed; the forms without
// return a view into |input|.
TrimPositions TrimWhitespace(std::wstring_view input, TrimPositions positions,
                             std::wstring* output);
TrimPositions TrimWhitespace(std::string_view input, TrimPositions positions, std::string* output);
std::wstring_view TrimWhitespace(std::wstring_view input, TrimPositions positions);
std::string_view TrimWhitespace(std::string_view input, TrimPositions positions);

TrimPositions TrimWhitespaceASCII(std::string_view input, TrimPositions positions,
                                  std::string* output);
TrimPositions TrimWhitespaceASCII(std::wstring_view input, TrimPositions positions,
                                  std::wstring* output);
std::string_view TrimWhitespaceASCII(std::string_view input, TrimPositions positions);
std::wstring_view TrimWhitespaceASCII(std::wstring_view input, TrimPositions positions);

// ---------------------------------------------------------------------------
// Joining.

// The parts with |separator| between neighbours; an empty list gives "".
std::string JoinString(const std::vector<std::string>& parts, std::string_view separator);
std::wstring JoinString16(const std::vector<std::wstring>& parts, std::wstring_view separator);
// Same for views.
std::string JoinStringSlices(const std::vector<std::string_view>& parts,
                             std::string_view separator);
std::wstring JoinStringSlices16(const std::vector<std::wstring_view>& parts,
                                std::wstring_view separator);

// ---------------------------------------------------------------------------
// Placeholders.

// Scans |format| from left to right:
//  - "$$" gives one "$" (and both dollars are consumed: "$$1" gives "$1");
//  - "$1" to "$9" give subst[0] to subst[8]; the substituted text is never
//    scanned again;
//  - "$n" with n past the end of |subst| is kept literally ("$n");
//  - "$" followed by anything else ("$0", "$a", or the end of the text) is
//    kept literally.
// When |offsets| is given it is cleared and receives, for each substitution
// made, the offset of the substituted text in the result, in the order in
// which the placeholders occur in |format|.
std::string SubstitutePlaceholders(std::string_view format, const std::vector<std::string>& subst,
                                   std::vector<size_t>* offsets = nullptr);
std::wstring SubstitutePlaceholders16(std::wstring_view format,
                                      const std::vector<std::wstring>& subst,
                                      std::vector<size_t>* offsets = nullptr);

// ---------------------------------------------------------------------------
// Misc.

// A pointer to the first character of |str|'s buffer, made |length_with_null|
// - 1 characters long first; for functions that write into a buffer. The
// caller resizes the string to the real length afterwards.
char* WriteInto(std::string* str, size_t length_with_null);
wchar_t* WriteInto(std::wstring* str, size_t length_with_null);

}  // namespace base

#endif  // BASE_STRING_UTIL_H_
