// RegistryCleanupGuard: which registry keys and values the clean-up of an
// installation may remove.
//
// The clean-up reads its key records from the install log, which anyone who
// can write the install folder can change. So a record is only trusted as
// far as the registry set-up table of this product vouches for it: a key may
// be deleted when the table's clean-up depth for one of its rows deletes that
// key (or a key below it), and a single value may be deleted when the table
// writes it (or it lies in such a key). The uninstall entry's name holds a
// version and a number, so an uninstall key qualifies when it is a direct
// child of the uninstall parent key and its "InstallLocation" names the
// installation's folder.
//
// Rows are resolved with the installer's own placeholders; for an
// installation of the former engine the table is also taken with the product
// placeholders as that engine resolved them, so its records of the same keys
// still qualify.
#ifndef DESKTOP_WINDOWS_INSTALLER_REGISTRY_CLEANUP_GUARD_H_
#define DESKTOP_WINDOWS_INSTALLER_REGISTRY_CLEANUP_GUARD_H_

#include <windows.h>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/service/registry_entry.h"

namespace installer {

class PlaceholderResolver;

class RegistryCleanupGuard {
 public:
  // Rewrites a row's text before its placeholders are resolved.
  using TextVariant = std::function<std::wstring(const std::wstring&)>;

  // |rows| is the set-up table (every row that a run of this product may
  // have written); |resolver| fills their placeholders; |variants| are
  // further spellings of the table (each applied to a row's texts before
  // resolving); |install_folder| is the installation's folder.
  RegistryCleanupGuard(const std::vector<RegistryRow>& rows, PlaceholderResolver* resolver,
                       const std::vector<TextVariant>& variants,
                       const base::FilePath& install_folder);
  RegistryCleanupGuard(const RegistryCleanupGuard&) = delete;
  RegistryCleanupGuard& operator=(const RegistryCleanupGuard&) = delete;
  ~RegistryCleanupGuard();

  // Whether the tree of |key| under |root| in |view| belongs to this
  // product. Not logged.
  bool MayDeleteKey(HKEY root, const std::wstring& key, REGSAM view) const;
  // Whether the value |name| of |key| belongs to this product. Not logged.
  bool MayDeleteValue(HKEY root, const std::wstring& key, const std::wstring& name,
                      REGSAM view) const;

 private:
  void AddRow(const RegistryRow& row, PlaceholderResolver* resolver, const TextVariant& variant);
  // A direct child of the uninstall parent whose "InstallLocation" is the
  // installation's folder.
  bool IsOwnUninstallKey(HKEY root, const std::wstring& key, REGSAM view) const;
  // |key| is one of the deletable trees or lies in one.
  bool IsInDeletableTree(const std::wstring& lower_key) const;

  const base::FilePath install_folder_;
  // Lower-case key paths whose trees the table's clean-up depths delete.
  std::set<std::wstring> deletable_trees_;
  // Lower-case key path and value name of every value the table writes.
  std::set<std::pair<std::wstring, std::wstring>> values_;
  // Lower-case names of the values of the uninstall entry.
  std::set<std::wstring> uninstall_values_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_REGISTRY_CLEANUP_GUARD_H_
