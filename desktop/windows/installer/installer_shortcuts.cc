#include "desktop/windows/installer/installer_shortcuts.h"

#include <memory>
#include <string>
#include <vector>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

namespace installer {

namespace {

constexpr wchar_t kMessageCenterShortcutPattern[] = L"Velmo*Duradur Uzever.lnk";

}  // namespace

std::wstring GetShortcutName(bool with_version) {
  // The configuration is UTF-8 text; a product name outside ASCII must keep
  // its characters in the file name.
  std::string name = GetVisibleProductName();
  if (with_version)
    name += " " + base::NumberToString(GetMajorVersion());
  name += GetShortcutSuffix();
  name += ".lnk";
  return base::UTF8ToWide(name);
}

ShortcutNaming GetShortcutNaming(const std::vector<base::FilePath>& recorded_paths) {
  const std::wstring plain = base::FilePath(GetShortcutName(false)).RemoveExtension().value();
  ShortcutNaming naming;
  for (const base::FilePath& path : recorded_paths) {
    if (path.empty())
      continue;
    const std::wstring stem = path.RemoveExtension().BaseName().value();
    if (!stem.empty() && base::IsAsciiDigit(stem.back())) {
      naming.use_version = true;
      naming.rename = true;
      break;
    }
    if (!base::FilePath::CompareEqualIgnoreCase(stem, plain))
      naming.rename = true;
  }
  return naming;
}

bool CreateShortcuts(Installer* installer, std::vector<ShortcutDestination>* destinations, bool pin,
                     bool* use_version, const base::FilePath& target) {
  base::win::ShortcutSpec spec;
  spec.set_target(target);
  spec.set_working_directory(target.DirName());
  spec.set_app_id(kShortcutAppIdPrefix + base::UTF8ToWide(installer->install_log()->app_id));

  if (!*use_version) {
    const std::wstring plain = GetShortcutName(false);
    for (const ShortcutDestination& destination : *destinations) {
      if (base::PathExists(destination.folder.Append(plain))) {
        VLOG(1) << "Using version in shortcut name to avoid collision";
        *use_version = true;
        break;
      }
    }
  }
  const std::wstring name = GetShortcutName(*use_version);
  VLOG(1) << "Using shortcut name " << name;
  VLOG(1) << "Creating master shortcut";

  base::FilePath own_folder;
  if (!base::PathRegistry::Get(base::kPathExeDirectory, &own_folder)) {
    LOG(ERROR) << "Failed to create shortcut at the running executable's folder: it is unknown";
    destinations->clear();
    return false;
  }
  const base::FilePath master = own_folder.Append(name);
  VLOG(1) << "Creating master shortcut at " << master;
  if (!base::win::WriteShortcut(master, spec, base::win::kShortcutCreateAlways)) {
    LOG(ERROR) << "Failed to create shortcut at " << master;
    destinations->clear();
    return false;
  }

  if (pin && base::win::TaskbarPinningSupported()) {
    VLOG(1) << "Pinning master shortcut";
    if (base::win::PinShortcutToTaskbar(master))
      installer->install_log()->pinned = true;
    else
      LOG(ERROR) << "Failed pinning " << master;
  }

  for (const ShortcutDestination& destination : *destinations) {
    const base::FilePath copy = destination.folder.Append(name);
    if (installer->transaction()->Execute(std::make_unique<CopyFileOperation>(master, copy))) {
      if (destination.record)
        *destination.record = copy;
    } else {
      LOG(WARNING) << "Could not copy the shortcut to " << copy;
    }
  }
  destinations->clear();
  return true;
}

void RemoveMessageCenterShortcuts() {
  base::FilePath start_menu;
  if (!base::PathRegistry::Get(base::kPathStartMenu, &start_menu)) {
    VLOG(1) << "No start-menu folder to remove message center shortcuts from";
    return;
  }
  // Listed first: the search is not disturbed by its own deletions.
  std::vector<base::FilePath> shortcuts;
  {
    base::DirectoryEnumerator enumerator(start_menu, false, base::DirectoryEnumerator::FILES,
                                         kMessageCenterShortcutPattern);
    for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next())
      shortcuts.push_back(path);
  }
  for (const base::FilePath& shortcut : shortcuts) {
    VLOG(1) << "Removing message center shortcut " << shortcut;
    if (!base::DeletePath(shortcut, false))
      LOG(WARNING) << "Could not remove the message center shortcut " << shortcut;
  }
}

}  // namespace installer
