#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"

#include <cwctype>

namespace installer {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i]))
      return false;
  }
  return true;
}

// Windows opens a device for these names whatever folder they are in, with
// any extension and with trailing dots or spaces.
bool IsDeviceName(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ')
    stem.remove_suffix(1);
  static constexpr std::wstring_view kDevices[] = {L"CON", L"PRN",    L"AUX",
                                                   L"NUL", L"CONIN$", L"CONOUT$"};
  for (std::wstring_view device : kDevices) {
    if (EqualsIgnoreAsciiCase(stem, device))
      return true;
  }
  if (stem.size() == 4 && (EqualsIgnoreAsciiCase(stem.substr(0, 3), L"COM") ||
                           EqualsIgnoreAsciiCase(stem.substr(0, 3), L"LPT"))) {
    const wchar_t digit = stem[3];
    // The superscript digits name the same ports.
    return (digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

bool IsSafeComponent(std::wstring_view component) {
  if (component.empty())
    return false;
  bool only_dots_and_spaces = true;
  for (wchar_t c : component) {
    if (c != L'.' && c != L' ')
      only_dots_and_spaces = false;
  }
  return !only_dots_and_spaces && !IsDeviceName(component);
}

}  // namespace

bool IsSafeRelativePath(std::wstring_view name, bool allow_separators) {
  if (name.empty() || name.size() > kMaxEntryNameLength)
    return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c < 0x20 || c == L':')
      return false;
    if (!allow_separators && IsSeparator(c))
      return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      // A high surrogate needs a low one right after it.
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end]))
      ++end;
    if (!IsSafeComponent(name.substr(start, end - start)))
      return false;
    start = end + 1;
  }
  return true;
}

}  // namespace installer
