// Wildcard matching.
#ifndef BASE_PATTERN_H_
#define BASE_PATTERN_H_

#include <string_view>

namespace base {

// True when the whole of |text| matches the whole of |pattern|:
//  - "*" matches any run of characters, the empty run included;
//  - "?" matches exactly one CHARACTER: one UTF-8 sequence for 8-bit text
//    (an ill-formed byte counts as one character of its own), one code point
//    (a surrogate pair, or a lone surrogate) for UTF-16 text;
//  - every other unit matches itself exactly (case-sensitive; there is no
//    escape character).
// Runs in O(|text| * |pattern|) at worst: patterns such as "*a*a*a*a*b" do
// not blow up.
bool MatchPattern(std::string_view text, std::string_view pattern);
bool MatchPattern(std::wstring_view text, std::wstring_view pattern);

}  // namespace base

#endif  // BASE_PATTERN_H_
