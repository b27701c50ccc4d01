#include "desktop/windows/installer/registry_cleanup_guard.h"

#include <string_view>

#include "base/string_util.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/registry_setup_table.h"
#include "desktop/windows/installer/service/registry_names.h"

namespace installer {

namespace {

std::wstring Lower(std::wstring_view text) { return base::ToLowerASCII(std::wstring(text)); }

// |key| without its last |levels| components; empty when it has too few.
std::wstring Ancestor(const std::wstring& key, int levels) {
  std::wstring result = key;
  for (int i = 0; i < levels; ++i) {
    const size_t slash = result.rfind(L'\\');
    if (slash == std::wstring::npos)
      return std::wstring();
    result.resize(slash);
  }
  return result;
}

}  // namespace

RegistryCleanupGuard::RegistryCleanupGuard(const std::vector<RegistryRow>& rows,
                                           PlaceholderResolver* resolver,
                                           const std::vector<TextVariant>& variants,
                                           const base::FilePath& install_folder)
    : install_folder_(install_folder.StripTrailingSeparators()) {
  const TextVariant plain = [](const std::wstring& text) { return text; };
  for (const RegistryRow& row : rows) {
    AddRow(row, resolver, plain);
    for (const TextVariant& variant : variants)
      AddRow(row, resolver, variant);
  }
}

RegistryCleanupGuard::~RegistryCleanupGuard() = default;

void RegistryCleanupGuard::AddRow(const RegistryRow& row, PlaceholderResolver* resolver,
                                  const TextVariant& variant) {
  const std::wstring name_text = row.value_name ? row.value_name : L"";
  const bool writes_value = row.type >= 0;
  if (std::wstring_view(row.key_path) == kUninstallPlaceholderKey) {
    // The key itself is vouched for by its "InstallLocation".
    if (writes_value)
      uninstall_values_.insert(Lower(name_text));
    return;
  }
  RegistryRow spelled = row;
  const std::wstring key_text = variant(row.key_path);
  const std::wstring value_text = variant(name_text);
  spelled.key_path = key_text.c_str();
  spelled.value_name = value_text.c_str();
  const RegistryEntry entry(spelled, resolver);
  std::wstring key;
  std::wstring name;
  // A row that does not resolve (a spelling without some placeholder
  // value) vouches for nothing.
  if (!entry.ResolvePlaceholders(key_text, &key) || !entry.ResolvePlaceholders(value_text, &name) ||
      key.empty()) {
    return;
  }
  if (writes_value)
    values_.insert({Lower(key), Lower(name)});
  if (row.cleanup_depth > 0) {
    const std::wstring tree = Ancestor(key, row.cleanup_depth - 1);
    if (!tree.empty())
      deletable_trees_.insert(Lower(tree));
  }
}

bool RegistryCleanupGuard::IsInDeletableTree(const std::wstring& lower_key) const {
  for (const std::wstring& tree : deletable_trees_) {
    if (lower_key == tree ||
        (lower_key.size() > tree.size() && lower_key.compare(0, tree.size(), tree) == 0 &&
         lower_key[tree.size()] == L'\\')) {
      return true;
    }
  }
  return false;
}

bool RegistryCleanupGuard::IsOwnUninstallKey(HKEY root, const std::wstring& key,
                                             REGSAM view) const {
  const std::wstring parent = Lower(GetUninstallRegistryKey()) + L"\\";
  const std::wstring lower = Lower(key);
  if (lower.size() <= parent.size() || lower.compare(0, parent.size(), parent) != 0 ||
      lower.find(L'\\', parent.size()) != std::wstring::npos) {
    return false;
  }
  base::win::RegistryKey entry;
  std::wstring location;
  if (install_folder_.empty() ||
      entry.Open(root, key.c_str(), KEY_QUERY_VALUE | view) != ERROR_SUCCESS ||
      entry.ReadValue(L"InstallLocation", &location) != ERROR_SUCCESS) {
    return false;
  }
  return base::FilePath::CompareEqualIgnoreCase(
      base::FilePath(location).StripTrailingSeparators().value(), install_folder_.value());
}

bool RegistryCleanupGuard::MayDeleteKey(HKEY root, const std::wstring& key, REGSAM view) const {
  if (key.empty())
    return false;
  return IsOwnUninstallKey(root, key, view) || IsInDeletableTree(Lower(key));
}

bool RegistryCleanupGuard::MayDeleteValue(HKEY root, const std::wstring& key,
                                          const std::wstring& name, REGSAM view) const {
  if (key.empty())
    return false;
  const std::wstring lower_key = Lower(key);
  if (values_.count({lower_key, Lower(name)}) || IsInDeletableTree(lower_key))
    return true;
  return uninstall_values_.count(Lower(name)) != 0 && IsOwnUninstallKey(root, key, view);
}

}  // namespace installer
