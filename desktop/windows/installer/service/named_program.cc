#include "desktop/windows/installer/service/named_program.h"

#include <cstring>
#include <cwctype>
#include <string>

#include "base/logging.h"

namespace installer {

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\..." or "\\server\share\..." (not a device path such as "\\?\").
bool IsAbsolute(std::wstring_view path) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsSeparator(path[2]))
    return true;
  return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'?' &&
         path[2] != L'.';
}

// The folder that must be reachable for an answer about |path|: its drive's
// root, or its share ("\\server\share\"). Empty when there is none.
std::wstring ReachableRoot(std::wstring_view path) {
  if (IsAsciiLetter(path[0]))
    return std::wstring(path.substr(0, 3));
  size_t separators = 0;
  for (size_t i = 2; i < path.size(); ++i) {
    if (IsSeparator(path[i]) && ++separators == 2)
      return std::wstring(path.substr(0, i + 1));
  }
  return std::wstring();
}

// Whether |text| from |at| on starts with ".exe" (any case) that ends a
// word: at the end, or before a blank or an icon index's comma.
bool ExeEndsAt(std::wstring_view text, size_t at) {
  static constexpr std::wstring_view kExe = L".exe";
  if (at + kExe.size() > text.size())
    return false;
  for (size_t i = 0; i < kExe.size(); ++i) {
    if (std::towlower(text[at + i]) != kExe[i])
      return false;
  }
  const size_t end = at + kExe.size();
  return end == text.size() || text[end] == L' ' || text[end] == L',';
}

// Whether |text| is an icon index: an optional minus and digits.
bool IsIconIndex(std::wstring_view text) {
  if (!text.empty() && text[0] == L'-')
    text.remove_prefix(1);
  if (text.empty())
    return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9')
      return false;
  }
  return true;
}

}  // namespace

base::FilePath GetProgramNamedBy(std::wstring_view text) {
  const size_t start = text.find_first_not_of(L' ');
  if (start == std::wstring_view::npos)
    return base::FilePath();
  text.remove_prefix(start);
  std::wstring_view path;
  if (text[0] == L'"') {
    text.remove_prefix(1);
    path = text.substr(0, text.find(L'"'));
  } else {
    for (size_t at = text.find(L'.'); at != std::wstring_view::npos; at = text.find(L'.', at + 1)) {
      if (ExeEndsAt(text, at)) {
        path = text.substr(0, at + 4);
        break;
      }
    }
    if (path.empty()) {
      const size_t comma = text.rfind(L',');
      if (comma != std::wstring_view::npos && IsIconIndex(text.substr(comma + 1)))
        path = text.substr(0, comma);
      else
        path = text.substr(0, text.find(L' '));
    }
  }
  if (!IsAbsolute(path) || path.find(L'%') != std::wstring_view::npos)
    return base::FilePath();
  return base::FilePath(path);
}

bool NamesMissingProgram(std::wstring_view text) {
  const base::FilePath program = GetProgramNamedBy(text);
  if (program.empty())
    return false;
  if (::GetFileAttributesW(program.c_str()) != INVALID_FILE_ATTRIBUTES)
    return false;
  const DWORD error = ::GetLastError();
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
    return false;
  const std::wstring root = ReachableRoot(program.value());
  return !root.empty() && ::GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RegistryValueNamesMissingProgram(DWORD type, const std::vector<uint8_t>& data) {
  if (type != REG_SZ && type != REG_EXPAND_SZ)
    return false;
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  if (!text.empty())
    memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  if (type == REG_EXPAND_SZ) {
    const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::wstring expanded(needed, L'\0');
    const DWORD written =
        needed ? ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed) : 0;
    if (written == 0 || written > needed) {
      // Without the expansion nothing can be told about the program.
      PLOG(WARNING) << "Cannot expand the variables of a registry value";
      return false;
    }
    expanded.resize(written - 1);
    text = std::move(expanded);
  }
  return NamesMissingProgram(text);
}

}  // namespace installer
