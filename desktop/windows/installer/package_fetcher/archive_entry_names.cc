#include "desktop/windows/installer/package_fetcher/archive_entry_names.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "base/utf_string_conversions.h"

namespace installer {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The name Windows opens for |name|: one separator, no dots or spaces at
// the end of a component, upper case as the file systems compare it.
std::wstring SameFileKey(std::wstring_view name) {
  std::wstring key;
  key.reserve(name.size());
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end]))
      ++end;
    std::wstring_view component = name.substr(start, end - start);
    while (!component.empty() && (component.back() == L'.' || component.back() == L' '))
      component.remove_suffix(1);
    if (start > 0)
      key += L'\\';
    key += component;
    start = end + 1;
  }
  if (key.empty())
    return key;
  std::wstring upper(key.size(), L'\0');
  const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.data(),
                                     static_cast<int>(key.size()), upper.data(),
                                     static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length <= 0)
    return key;
  upper.resize(static_cast<size_t>(length));
  return upper;
}

void AppendEscape(std::string* out, const char* format, unsigned value) {
  char buffer[8];
  std::snprintf(buffer, sizeof(buffer), format, value);
  *out += buffer;
}

}  // namespace

std::string EscapeEntryName(std::wstring_view name, size_t max_length) {
  const std::wstring_view shown = name.substr(0, std::min(name.size(), max_length));
  std::string out;
  std::wstring run;  // Plain characters not yet converted.
  auto flush = [&] {
    out += base::WideToUTF8(run);
    run.clear();
  };
  for (size_t i = 0; i < shown.size(); ++i) {
    const wchar_t c = shown[i];
    if (c < 0x20 || c == 0x7F) {
      flush();
      AppendEscape(&out, "\\x%02X", c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < shown.size() && shown[i + 1] >= 0xDC00 &&
               shown[i + 1] <= 0xDFFF) {
      run += c;
      run += shown[++i];
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      flush();
      AppendEscape(&out, "\\u%04X", c);
    } else {
      run += c;
    }
  }
  flush();
  if (shown.size() < name.size())
    out += "... (" + std::to_string(name.size()) + " characters)";
  return out;
}

size_t LongestNameComponent(std::wstring_view name) {
  size_t longest = 0;
  size_t current = 0;
  for (wchar_t c : name) {
    current = IsSeparator(c) ? 0 : current + 1;
    longest = std::max(longest, current);
  }
  return longest;
}

bool FindComponentEndingInDotOrSpace(std::wstring_view name, std::wstring_view* component) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end]))
      ++end;
    const std::wstring_view part = name.substr(start, end - start);
    if (!part.empty() && (part.back() == L'.' || part.back() == L' ')) {
      *component = part;
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool FindFileInPlaceOfFolder(const std::vector<std::wstring>& names,
                             const std::vector<bool>& is_folder, size_t* file, size_t* below) {
  // Every folder some entry lies in, as Windows opens it, with the first
  // entry below it.
  std::unordered_map<std::wstring, size_t> folders;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::wstring key = SameFileKey(names[i]);
    for (size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1))
      folders.emplace(key.substr(0, at), i);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (is_folder[i])
      continue;
    const auto found = folders.find(SameFileKey(names[i]));
    if (found != folders.end()) {
      *file = i;
      *below = found->second;
      return true;
    }
  }
  return false;
}

bool FindSameFileNames(const std::vector<std::wstring>& names, size_t* first, size_t* second) {
  std::unordered_map<std::wstring, size_t> seen;
  seen.reserve(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const auto [at, inserted] = seen.emplace(SameFileKey(names[i]), i);
    if (!inserted) {
      *first = at->second;
      *second = i;
      return true;
    }
  }
  return false;
}

}  // namespace installer
