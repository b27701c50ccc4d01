// Non-owning views of text. A slice never owns its characters: the text it
// looks at must outlive it.
#ifndef BASE_STRING_SLICE_H_
#define BASE_STRING_SLICE_H_

#include <string_view>

namespace base {

// 8-bit text (UTF-8 or ASCII).
using StringSlice = std::string_view;
// UTF-16 text (wchar_t is 16 bits on Windows).
using StringSlice16 = std::wstring_view;

}  // namespace base

#endif  // BASE_STRING_SLICE_H_
