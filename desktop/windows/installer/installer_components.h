// Add-on components that come with their own installer programs: the list
// the front end passes in the switch "components", and where a component's
// installer program is.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_COMPONENTS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_COMPONENTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// An installer program is named after its component, with this ending.
inline constexpr wchar_t kComponentInstallerSuffix[] = L"_installer.exe";

// One entry of the switch "components".
struct ComponentEntry {
  // The whole entry as given (trimmed), for the log.
  std::wstring text;
  // The component's name.
  std::wstring name;
  // The folder of its installer, relative to the parent of the unpacked
  // package's folder. Empty when the entry names none.
  std::wstring folder;

  // An entry without a name or without a folder names no installer that
  // may run: the installer would be looked for where the package was
  // downloaded, among files anyone could have put there.
  bool IsComplete() const { return !name.empty() && !folder.empty(); }
};

// Splits the value of the switch "components": entries separated by "|",
// each a name and a folder separated by ":". Whitespace around entries and
// parts is trimmed and empty entries are dropped; an entry whose name or
// folder is empty is given as it is (see ComponentEntry::IsComplete).
std::vector<ComponentEntry> ParseComponentsSwitch(std::wstring_view value);

// The installer program of component |name| in |folder|: the name followed
// by "_installer.exe". The component "suite" may also come as its former
// name "assistant": when the first file does not exist, that one is given.
// With |rewritten| (may be null) set when that happened.
base::FilePath GetComponentInstallerPath(const base::FilePath& folder, std::wstring_view name,
                                         bool* rewritten);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_COMPONENTS_H_
