// UTF-8 decoding and encoding of one character, shared by the string
// conversions and the JSON reader and writer so that they all agree on what
// well-formed UTF-8 is.
#ifndef BASE_UTF8_INTERNAL_H_
#define BASE_UTF8_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace base {
namespace utf8_internal {

// Decodes the UTF-8 character at |*index| of |text| (with |*index| below its
// size) and moves |*index| past it. On an ill-formed sequence returns false
// and moves |*index| past its longest well-formed prefix (at least one
// byte), so that each maximal subpart of a bad sequence is met once: no
// overlong forms, no surrogates, nothing past U+10FFFF.
bool DecodeUtf8(std::string_view text, size_t* index, uint32_t* code_point);

// Appends |code_point| (a scalar value) to |out| as UTF-8.
void AppendUtf8(uint32_t code_point, std::string* out);

}  // namespace utf8_internal
}  // namespace base

#endif  // BASE_UTF8_INTERNAL_H_
