// Entry names of an archive as the extractor checks and reports them: in log
// lines (escaped, since they come from outside), for their length, and for
// names that Windows takes as the same file.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The longest file or folder name the Windows file systems take.
inline constexpr size_t kMaxNameComponentLength = 255;
// The longest paths Windows takes without long-path support, which the
// installer does not declare: a file's below MAX_PATH, a folder's 12 less
// (CreateDirectory keeps room for an 8.3 name below it). An entry that
// cannot be unpacked within them could not be installed either.
inline constexpr size_t kMaxFilePathLength = 259;
inline constexpr size_t kMaxFolderPathLength = 247;
// The most entries a package may hold: a browser package has a few
// thousand files and folders; each entry costs a file or a folder on the
// disk, so a package of far more is made to flood it.
inline constexpr size_t kMaxArchiveEntries = 50000;

// |name| as UTF-8 for a log line: control characters as \xNN, unpaired
// surrogates as \uXXXX, and at most |max_length| characters of the name followed by "..." and its
// length.
std::string EscapeEntryName(std::wstring_view name, size_t max_length = 260);

// The length of the longest component of |name| ("\" or "/" between them).
size_t LongestNameComponent(std::wstring_view name);

// Indices (first, second) of two names of |names| that name the same file
// on Windows: equal ignoring case, with "/" for "\" and without the dots
// and spaces that Windows drops from the end of each component. False when
// every name is distinct.
bool FindSameFileNames(const std::vector<std::wstring>& names, size_t* first, size_t* second);

// The first component of |name| that ends in a dot or a space, which
// Windows drops: a folder of such a name is made without them, and a path
// through it then finds nothing. False when no component does.
bool FindComponentEndingInDotOrSpace(std::wstring_view name, std::wstring_view* component);

// Indices (file, below) of a file entry and of an entry below a folder of
// the same name: Windows cannot hold both. |is_folder| tells which names are
// folders. False when no file stands where a folder is needed.
bool FindFileInPlaceOfFolder(const std::vector<std::wstring>& names,
                             const std::vector<bool>& is_folder, size_t* file, size_t* below);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_ENTRY_NAMES_H_
