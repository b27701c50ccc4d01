// Names that come from outside (archive entries, a server's file names) are
// joined to a folder of ours. These checks make sure that the result stays
// inside that folder and names an ordinary file, and say in words what is
// wrong with a name that does not.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_

#include <string>
#include <string_view>

namespace installer {

// The longest name an archive entry may have: the longest path Windows can
// name at all.
inline constexpr size_t kMaxEntryNameLength = 32767;

// What is wrong with a name that is not a safe relative path. When a name
// has several faults, one that leads out of the folder is named first.
enum class NameFault {
  kNone,
  kEmpty,
  kTooLong,           // longer than kMaxEntryNameLength
  kLeavesFolder,      // a drive, a root, a UNC or device path, or ".."
  kControlCharacter,  // below U+0020
  kStream,            // a colon: a stream of a file
  kSeparator,         // "\" or "/" where a plain file name is needed
  kBrokenUtf16,       // half of a surrogate pair
  kEmptyPart,         // two separators together, or one at the end
  kDotsAndSpaces,     // a part made only of dots and spaces, such as "."
  kDeviceName,        // "CON", "aux.txt", "COM1", "LPT9 .log", ...
};

struct NameCheck {
  NameFault fault = NameFault::kNone;
  // Where the fault lies: the offending character, the part of the name,
  // the file before a stream's colon, or the whole name.
  std::wstring_view at;
};

// Checks that |name| is a relative path of one or more components ("\" or
// "/" between them, when |allow_separators|) that can only name something
// below the folder it is joined to: not empty, not longer than
// kMaxEntryNameLength, valid UTF-16, no control characters, no drive letter
// or stream (":"), no leading separator (root, UNC or device path), no
// component that is empty, "..", made only of dots and spaces, or a device
// name ("CON", "nul.txt", "COM1", ...).
NameCheck CheckRelativePath(std::wstring_view name, bool allow_separators);

inline bool IsSafeRelativePath(std::wstring_view name, bool allow_separators) {
  return CheckRelativePath(name, allow_separators).fault == NameFault::kNone;
}

// What is wrong with a name that CheckRelativePath refused, in words for an
// administrator reading the log, written to follow the name: "has a name
// that Windows takes for the device AUX in any folder, not a file". For
// kLeavesFolder it says that the name does not stay inside |folder|.
std::string DescribeNameFault(const NameCheck& check, std::string_view folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_
