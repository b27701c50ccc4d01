// Text as a JSON string literal.
#ifndef BASE_JSON_STRING_ESCAPE_H_
#define BASE_JSON_STRING_ESCAPE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {

// Appends |utf8| to |out| as the body of a JSON string literal, between
// double quotes when |put_in_quotes|. '"' and '\\' are escaped, control
// characters take the short escapes \b \f \n \r \t or else "\u%04X"; every
// other character is copied as UTF-8.
// Returns false when |utf8| is not well-formed UTF-8; each ill-formed
// sequence is then written as U+FFFD, so |out| still holds valid JSON.
bool EscapeJsonString(std::string_view utf8, bool put_in_quotes, std::string* out);

// The same for UTF-16 text, written as UTF-8. Returns false when |utf16|
// holds a lone surrogate (written as U+FFFD).
bool EscapeJsonString(std::wstring_view utf16, bool put_in_quotes, std::string* out);

}  // namespace base

#endif  // BASE_JSON_STRING_ESCAPE_H_
