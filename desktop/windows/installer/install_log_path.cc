#include "desktop/windows/installer/install_log_path.h"

#include <string_view>

#include "base/logging.h"

namespace installer {

namespace {

bool IsForbiddenNameCharacter(wchar_t c) {
  return c < 0x20 || std::wstring_view(L"<>:\"|?*/").find(c) != std::wstring_view::npos;
}

}  // namespace

bool IsPlainRelativePath(const base::FilePath& entry) {
  const std::wstring& text = entry.value();
  if (text.empty() || entry.IsAbsolute() || base::FilePath::IsSeparator(text.front()))
    return false;
  // Every component is checked on its own: empty ones ("a\\b", a trailing
  // "\") and the dot names would let the joined path mean something else.
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\\', start);
    if (end == std::wstring::npos)
      end = text.size();
    const std::wstring_view component(text.data() + start, end - start);
    if (component.empty() || component == L"." || component == L"..")
      return false;
    // Windows drops trailing dots and blanks from a name: "..." and ".. "
    // walk up as well.
    if (component.find_first_not_of(L". ") == std::wstring_view::npos)
      return false;
    for (wchar_t c : component) {
      if (IsForbiddenNameCharacter(c))
        return false;
    }
    start = end + 1;
  }
  return true;
}

bool IsUsableVersionSubfolder(const base::FilePath& subfolder) {
  if (subfolder.empty() || IsPlainRelativePath(subfolder))
    return true;
  LOG(ERROR) << "Install log: refusing the version subfolder \"" << subfolder
             << "\": not a plain folder name below the install folder";
  return false;
}

bool ResolveInstallLogPath(const base::FilePath& install_folder, const base::FilePath& subfolder,
                           const base::FilePath& entry, base::FilePath* path) {
  if (!IsUsableVersionSubfolder(subfolder))
    return false;
  if (!IsPlainRelativePath(entry)) {
    LOG(ERROR) << "Install log: refusing the entry \"" << entry
               << "\": not a plain path below the install folder";
    return false;
  }
  base::FilePath resolved = install_folder;
  if (!subfolder.empty())
    resolved = resolved.Append(subfolder);
  resolved = resolved.Append(entry);
  // The checks above already keep the path inside; this one holds whatever
  // they miss.
  if (install_folder.empty() || !install_folder.IsParent(resolved)) {
    LOG(ERROR) << "Install log: refusing the entry \"" << entry << "\": " << resolved
               << " does not lie below " << install_folder;
    return false;
  }
  *path = std::move(resolved);
  return true;
}

}  // namespace installer
