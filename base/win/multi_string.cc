#include "base/win/multi_string.h"

#include <string_view>

namespace base::win {

void SplitMultiString(const wchar_t* buffer, size_t length, std::vector<std::wstring>* out) {
  if (!buffer)
    return;
  size_t pos = 0;
  while (pos < length && buffer[pos] != L'\0') {
    size_t end = pos;
    while (end < length && buffer[end] != L'\0')
      ++end;
    out->emplace_back(buffer + pos, end - pos);
    pos = end + 1;
  }
}

std::wstring JoinMultiString(const std::vector<std::wstring>& strings) {
  std::wstring joined;
  for (const std::wstring& s : strings) {
    // A string holding a NUL would split in two when read back; only its
    // first part is kept.
    const size_t length = s.find(L'\0');
    const std::wstring_view first(s.data(), length == std::wstring::npos ? s.size() : length);
    if (first.empty())
      continue;
    joined.append(first);
    joined.push_back(L'\0');
  }
  joined.push_back(L'\0');
  return joined;
}

}  // namespace base::win
