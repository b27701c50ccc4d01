// Splitting text into pieces.
#ifndef BASE_STRING_SPLIT_H_
#define BASE_STRING_SPLIT_H_

#include <string>
#include <string_view>
#include <vector>

namespace base {

enum WhitespaceHandling {
  KEEP_WHITESPACE,
  // Each piece is trimmed of whitespace at both ends before the empty test:
  // ASCII whitespace for 8-bit text, Unicode whitespace (kWhitespaceWide) for
  // UTF-16 text.
  TRIM_WHITESPACE,
};

enum SplitResult {
  // Every piece, empty ones included: "a,,b" gives "a", "", "b"; ",a" gives
  // "", "a".
  SPLIT_WANT_ALL,
  // Empty pieces (after trimming, when asked) are dropped.
  SPLIT_WANT_NONEMPTY,
};

// Splits |input| at every character that occurs in |separators| (each
// character of |separators| is a separator of its own; an empty |separators|
// gives the whole input as one piece). An empty |input| gives an empty list
// in both result modes; otherwise a text with n separators gives n + 1 pieces
// before empty ones are dropped.
std::vector<std::string> SplitString(std::string_view input, std::string_view separators,
                                     WhitespaceHandling whitespace, SplitResult result_type);
std::vector<std::wstring> SplitString16(std::wstring_view input, std::wstring_view separators,
                                        WhitespaceHandling whitespace, SplitResult result_type);

// Like SplitString with the single |separator| character, but the pieces are
// views into |input| (which must outlive them).
std::vector<std::string_view> SplitIntoSlices(std::string_view input, char separator,
                                              WhitespaceHandling whitespace = KEEP_WHITESPACE,
                                              SplitResult result_type = SPLIT_WANT_ALL);
std::vector<std::wstring_view> SplitIntoSlices16(std::wstring_view input, wchar_t separator,
                                                 WhitespaceHandling whitespace = KEEP_WHITESPACE,
                                                 SplitResult result_type = SPLIT_WANT_ALL);

// Splits at every occurrence of the whole |delimiter| text (not its single
// characters), same rules otherwise. An empty |delimiter| gives the whole
// input as one piece.
std::vector<std::string> SplitStringUsingSubstr(std::string_view input, std::string_view delimiter,
                                                WhitespaceHandling whitespace,
                                                SplitResult result_type);

}  // namespace base

#endif  // BASE_STRING_SPLIT_H_
