#include "desktop/windows/installer/package_fetcher/safe_relative_path.h"

#include <cwctype>

#include "desktop/windows/installer/package_fetcher/archive_entry_names.h"

namespace installer {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool EqualsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i]))
      return false;
  }
  return true;
}

// The part of |component| that Windows reads a device name from: before
// the first dot, without the spaces before it.
std::wstring_view DeviceStem(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ')
    stem.remove_suffix(1);
  return stem;
}

// Windows opens a device for these names whatever folder they are in, with
// any extension and with trailing dots or spaces.
bool IsDeviceName(std::wstring_view component) {
  const std::wstring_view stem = DeviceStem(component);
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

bool IsOnlyDotsAndSpaces(std::wstring_view component) {
  for (wchar_t c : component) {
    if (c != L'.' && c != L' ')
      return false;
  }
  return true;
}

// Calls |visit| with each component of |name| ("\" or "/" between them)
// until it returns true; that component, or an empty view at the end.
template <typename Visit>
std::wstring_view FindComponent(std::wstring_view name, Visit visit) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end]))
      ++end;
    const std::wstring_view component = name.substr(start, end - start);
    if (visit(component))
      return component;
    start = end + 1;
  }
  return std::wstring_view();
}

}  // namespace

NameCheck CheckRelativePath(std::wstring_view name, bool allow_separators) {
  if (name.empty())
    return {NameFault::kEmpty, name};
  if (name.size() > kMaxEntryNameLength)
    return {NameFault::kTooLong, name};
  // A root, a UNC or device path, or a drive ("C:\x", "C:x").
  if (IsSeparator(name[0]) || (name.size() >= 2 && name[1] == L':' && IsAsciiLetter(name[0])))
    return {NameFault::kLeavesFolder, name};
  // Windows takes only ".." itself for the folder above: "...", ".. " and
  // the like name no folder (they are refused below all the same).
  bool leaves = false;
  const std::wstring_view parent = FindComponent(name, [&leaves](std::wstring_view component) {
    leaves = component == L"..";
    return leaves;
  });
  if (leaves)
    return {NameFault::kLeavesFolder, parent};

  size_t component_start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c < 0x20)
      return {NameFault::kControlCharacter, name.substr(i, 1)};
    if (c == L':')
      return {NameFault::kStream, name.substr(component_start, i - component_start)};
    if (IsSeparator(c)) {
      if (!allow_separators)
        return {NameFault::kSeparator, name.substr(i, 1)};
      component_start = i + 1;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      // A high surrogate needs a low one right after it.
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF)
        return {NameFault::kBrokenUtf16, name.substr(i, 1)};
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return {NameFault::kBrokenUtf16, name.substr(i, 1)};
    }
  }
  NameFault fault = NameFault::kNone;
  const std::wstring_view part = FindComponent(name, [&fault](std::wstring_view component) {
    if (component.empty())
      fault = NameFault::kEmptyPart;
    else if (IsOnlyDotsAndSpaces(component))
      fault = NameFault::kDotsAndSpaces;
    else if (IsDeviceName(component))
      fault = NameFault::kDeviceName;
    return fault != NameFault::kNone;
  });
  return {fault, fault == NameFault::kNone ? std::wstring_view() : part};
}

std::string DescribeNameFault(const NameCheck& check, std::string_view folder) {
  switch (check.fault) {
    case NameFault::kNone: return std::string();
    case NameFault::kEmpty: return "has an empty name";
    case NameFault::kTooLong:
      return "has a name of " + std::to_string(check.at.size()) +
             " characters, longer than any Windows path (at most " +
             std::to_string(kMaxEntryNameLength) + ")";
    case NameFault::kLeavesFolder:
      return "has a name that does not stay inside " + std::string(folder);
    case NameFault::kControlCharacter:
      return "has a control character (" + EscapeEntryName(check.at) +
             ") in its name, which no Windows file name may hold";
    case NameFault::kStream:
      return "has a colon in its name, which Windows takes for a stream of the file \"" +
             EscapeEntryName(check.at) + "\", not a file of its own";
    case NameFault::kSeparator:
      return "has a folder separator in its name, where a plain file name is needed";
    case NameFault::kBrokenUtf16:
      return "has a name that is not valid UTF-16: " + EscapeEntryName(check.at) +
             " is half of a surrogate pair";
    case NameFault::kEmptyPart:
      return "has a name with an empty part (two separators together, or one at its end)";
    case NameFault::kDotsAndSpaces:
      return "has a name with a part made only of dots and spaces (\"" + EscapeEntryName(check.at) +
             "\"), which Windows does not keep as a name";
    case NameFault::kDeviceName: {
      std::wstring device(DeviceStem(check.at));
      for (wchar_t& c : device) {
        if (c >= L'a' && c <= L'z')
          c = static_cast<wchar_t>(c - L'a' + L'A');
      }
      return "has a name that Windows takes for the device " + EscapeEntryName(device) +
             " in any folder, not a file";
    }
  }
  return std::string();
}

}  // namespace installer
