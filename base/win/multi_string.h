// Lists of NUL-terminated strings ended by an empty string ("a\0b\0\0"), as
// REG_MULTI_SZ values and the MUI language functions give them.
#ifndef BASE_WIN_MULTI_STRING_H_
#define BASE_WIN_MULTI_STRING_H_

#include <cstddef>
#include <string>
#include <vector>

namespace base::win {

// Appends the strings of the list in |buffer| (|length| UTF-16 units) to
// |out|. Reading stops at the empty string that ends the list or at the end
// of the buffer, whichever comes first; a last string without its NUL ends at
// the buffer's end. Never reads past |length| units.
void SplitMultiString(const wchar_t* buffer, size_t length, std::vector<std::wstring>* out);

// The list form of |strings|: each followed by a NUL, then one more NUL.
// Empty strings cannot be represented and are skipped.
std::wstring JoinMultiString(const std::vector<std::wstring>& strings);

}  // namespace base::win

#endif  // BASE_WIN_MULTI_STRING_H_
