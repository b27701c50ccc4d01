// Names that come from outside (archive entries, a server's file names) are
// joined to a folder of ours. These checks make sure that the result stays
// inside that folder and names an ordinary file.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_

#include <string_view>

namespace installer {

// The longest name an archive entry may have: the longest path Windows can
// name at all.
inline constexpr size_t kMaxEntryNameLength = 32767;

// True when |name| is a relative path of one or more components ("\" or "/"
// between them, when |allow_separators|) that can only name something below
// the folder it is joined to: not empty, not longer than kMaxEntryNameLength,
// valid UTF-16, no control characters, no drive letter or stream (":"), no
// leading separator (root, UNC or device path), no component that is empty,
// "..", made only of dots and spaces, or a device name ("CON", "nul.txt",
// "COM1", ...).
bool IsSafeRelativePath(std::wstring_view name, bool allow_separators);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_SAFE_RELATIVE_PATH_H_
