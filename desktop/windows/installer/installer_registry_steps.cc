// The installer's registry and integration steps: writing and removing the
// browser's registration, registering it for one protocol, and undoing the
// rest of its integration when it is uninstalled.
#include "desktop/windows/installer/installer_registry_steps.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/scoped_generic.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/windows/installer/association_change_notice.h"
#include "desktop/windows/installer/folder_installation.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/registry_cleanup_guard.h"
#include "desktop/windows/installer/registry_setup_table.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/service/default_browser_registration.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/pe_image.h"
#include "desktop/windows/installer/service/product_name_provider.h"
#include "desktop/windows/installer/service/registry_entry.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/task_scheduler.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/user_admin.h"
#include "desktop/windows/installer/service/wmi_launch_process.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"

namespace installer {

namespace {

// {591209C7-767B-42B2-9FBA-44EE4615F2C7}
constexpr CLSID kApplicationAssociationRegistrationClsid = {
    0x591209c7,
    0x767b,
    0x42b2,
    {0x9f, 0xba, 0x44, 0xee, 0x46, 0x15, 0xf2, 0xc7}};

constexpr wchar_t kStartMenuInternetKey[] = L"Software\\Clients\\StartMenuInternet";
constexpr wchar_t kIeInstallInfoKey[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";
constexpr char kUninstallSurveyUrlName[] = "uninstall_survey";
constexpr char kAutoupdateTaskPrefix[] = "Autoupdate ";

std::atomic<UninstallKeyProbe> g_uninstall_key_probe{nullptr};

LONG ProbeUninstallKey(HKEY root, const std::wstring& key_name) {
  if (UninstallKeyProbe probe = g_uninstall_key_probe.load(std::memory_order_acquire))
    return probe(root, key_name);
  base::win::RegistryKey key;
  return key.Open(root, key_name.c_str(), KEY_READ | KEY_WOW64_32KEY);
}

// Keys that other programs register under: a clean-up never deletes one of
// them, nor a key above one.
std::vector<std::wstring> GetSharedKeys() {
  return {GetUninstallRegistryKey(),
          L"Software\\Classes\\Applications",
          kStartMenuInternetKey,
          L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
          L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
          L"Compatibility Assistant\\Persisted",
          L"Software\\RegisteredApplications"};
}

std::string Describe(const std::wstring& key, const std::wstring& value_name) {
  if (value_name.empty())
    return "default value to key " + base::WideToUTF8(key);
  return "value " + base::WideToUTF8(value_name) + " to key " + base::WideToUTF8(key);
}

// The texts of |entry| with placeholders filled for the log; the row's own
// texts when they cannot be filled.
void ResolveForLog(const RegistryEntry& entry, std::wstring* key, std::wstring* value_name) {
  if (!entry.ResolvePlaceholders(entry.key_path(), key))
    *key = entry.key_path();
  if (!entry.ResolvePlaceholders(entry.value_name(), value_name))
    *value_name = entry.value_name();
}

// How many levels of |key_path| under |root| do not exist: the key itself,
// then its parent, and so on.
int CountMissingKeyLevels(HKEY root, const std::wstring& key_path, REGSAM view) {
  int missing = 0;
  for (std::wstring path = key_path; !path.empty(); ++missing) {
    base::win::RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE | view) == ERROR_SUCCESS)
      break;
    const size_t split = path.rfind(L'\\');
    path = split == std::wstring::npos ? std::wstring() : path.substr(0, split);
  }
  return missing;
}

// Notes in the install-log record of |key_path| that the set-up created
// |levels| levels of it.
void RecordCreatedLevels(InstallLogRegistryKeys* records, const std::wstring& key_path,
                         int levels) {
  const std::string path = base::ToLowerASCII(base::WideToUTF8(key_path));
  for (InstallLogRegistryKey& record : *records) {
    if (base::ToLowerASCII(record.path) == path)
      record.created_levels = std::max(record.created_levels, levels);
  }
}

// Removes the keys of a record that the installation created, from
// |key_path| up, each only while it is empty: what another program put
// there since keeps it. Direct, not through the transaction: it runs when
// nothing of the uninstallation can fail any more, and an empty key is
// nothing to give back.
void RemoveCreatedEmptyKeys(HKEY root, const std::wstring& key_path, int levels, uint32_t view) {
  std::wstring path = key_path;
  for (int level = 0; level < levels; ++level) {
    const size_t split = path.rfind(L'\\');
    if (split == std::wstring::npos)
      return;
    base::win::RegistryKey key;
    // A key removed already (by another record) lets the walk go on up.
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE | view) == ERROR_SUCCESS) {
      if (key.GetValueCount() != 0 || key.GetSubkeyCount() != 0)
        return;
      key.Close();
      base::win::RegistryKey parent;
      LONG result = parent.Open(root, path.substr(0, split).c_str(), KEY_QUERY_VALUE | view);
      if (result == ERROR_SUCCESS)
        result = parent.DeleteEmptyKey(path.c_str() + split + 1);
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        ELOG(WARNING, result) << "Could not delete the emptied key " << base::WideToUTF8(path);
        return;
      }
    }
    path.resize(split);
  }
}

// One install-log key record with its placeholders resolved, as the
// clean-up works on it.
struct ResolvedRecord {
  HKEY root = nullptr;
  const InstallLogRegistryKey* record = nullptr;
  // The record's key path, and the key its clean-up works on.
  std::wstring path;
  std::wstring key_path;
  uint32_t view = 0;
};

// Clean-up of one install-log key record under |root|. Results of the
// operations are logged only: what cannot be removed stays behind. The
// record's placeholders are resolved before anything is checked, and only
// what |guard| vouches for is removed. False for a damaged record, which is
// passed over; else |resolved| tells what the record named.
bool CleanUpRecord(Transaction* transaction, HKEY root, const InstallLogRegistryKey& record,
                   const InstallerStatus& status, bool launcher_64,
                   const RegistryCleanupGuard& guard, ResolvedRecord* resolved) {
  VLOG(1) << "Cleanup for key " << record.path << " with depth " << record.cleanup_depth;
  const std::wstring path = ResolveOldProductPlaceholders(base::UTF8ToWide(record.path), status);
  std::wstring key_path;
  if (!GetCleanupKeyPath(path, record.cleanup_depth, &key_path)) {
    LOG(WARNING) << "Skipping the damaged install-log record of key " << record.path
                 << " with depth " << record.cleanup_depth;
    return false;
  }
  const bool uninstall_key =
      base::StartsWith(path, GetUninstallRegistryKey(), base::CompareCase::INSENSITIVE_ASCII);
  const uint32_t view = uninstall_key ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  *resolved = ResolvedRecord{root, &record, path, key_path, view};

  // An earlier 64-bit build wrote its uninstall entry into the 64-bit view.
  if (uninstall_key && launcher_64 && guard.MayDeleteKey(root, path, KEY_WOW64_64KEY)) {
    base::win::RegistryKey key;
    std::wstring location;
    if (key.Open(root, path.c_str(), KEY_READ | KEY_WOW64_64KEY) == ERROR_SUCCESS &&
        key.ReadValue(L"InstallLocation", &location) == ERROR_SUCCESS &&
        base::FilePath::CompareEqualIgnoreCase(
            base::FilePath(location).StripTrailingSeparators().value(),
            status.install_folder().StripTrailingSeparators().value())) {
      if (!transaction->Execute(
              std::make_unique<DeleteRegKeyOperation>(root, path, KEY_WOW64_64KEY))) {
        LOG(WARNING) << "Could not delete the 64-bit uninstall key " << record.path;
      }
    }
  }

  if (record.cleanup_depth > 0) {
    if (!guard.MayDeleteKey(root, key_path, view)) {
      LOG(WARNING) << "Skipping the install-log record of key " << record.path << " with depth "
                   << record.cleanup_depth << ": " << base::WideToUTF8(key_path)
                   << " is not a key this product's registry set-up creates";
      return true;
    }
    if (!transaction->Execute(std::make_unique<DeleteRegKeyOperation>(root, key_path, view)))
      LOG(WARNING) << "Could not delete the key " << base::WideToUTF8(key_path);
    return true;
  }
  for (const InstallLogRegistryValue& value : record.values) {
    const std::wstring name = ResolveOldProductPlaceholders(value.name, status);
    if (!guard.MayDeleteValue(root, key_path, name, view)) {
      LOG(WARNING) << "Skipping the install-log record of value " << base::WideToUTF8(name)
                   << " of key " << base::WideToUTF8(key_path)
                   << ": not a value this product's registry set-up writes";
      continue;
    }
    if (!transaction->Execute(std::make_unique<ChangeRegValueOperation>(
            root, key_path, name, nullptr, ChangeRegValueOperation::kDeleteValue, 0, view))) {
      LOG(WARNING) << "Could not delete the value " << base::WideToUTF8(name) << " of key "
                   << base::WideToUTF8(key_path);
    }
  }
  return true;
}

bool KeyExists(HKEY root, const std::wstring& path, uint32_t view) {
  base::win::RegistryKey key;
  return key.Open(root, path.c_str(), KEY_QUERY_VALUE | view) == ERROR_SUCCESS;
}

// What the clean-up left of the record |resolved| names, as a record for
// the new install log (placeholders resolved): the values still there; a
// tree it did not delete; or the keys the installation created above a
// deleted tree that still stand. Those are kept as a record of the key
// above the tree (so that a tree whose name changes with the version, the
// uninstall entry's, is not carried on from version to version), unless
// that key is too short for a clean-up to work on. False when nothing of
// the record is left.
bool GetLeftoverRecord(const ResolvedRecord& resolved, const InstallerStatus& status,
                       InstallLogRegistryKey* left) {
  const InstallLogRegistryKey& record = *resolved.record;
  *left = InstallLogRegistryKey{
      base::WideToUTF8(resolved.path), record.cleanup_depth, {}, record.created_levels};
  if (record.cleanup_depth > 0) {
    if (KeyExists(resolved.root, resolved.key_path, resolved.view))
      return true;
    const size_t split = resolved.key_path.rfind(L'\\');
    if (record.created_levels <= record.cleanup_depth || split == std::wstring::npos)
      return false;
    const std::wstring parent = resolved.key_path.substr(0, split);
    if (!KeyExists(resolved.root, parent, resolved.view))
      return false;
    if (std::count(parent.begin(), parent.end(), L'\\') >= 2) {
      *left = InstallLogRegistryKey{
          base::WideToUTF8(parent), 0, {}, record.created_levels - record.cleanup_depth};
    }
    return true;
  }
  base::win::RegistryKey key;
  if (key.Open(resolved.root, resolved.key_path.c_str(), KEY_QUERY_VALUE | resolved.view) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (const InstallLogRegistryValue& value : record.values) {
    const std::wstring name = ResolveOldProductPlaceholders(value.name, status);
    if (key.HasValue(name.c_str()))
      left->values.push_back(InstallLogRegistryValue{value.type, name, value.data});
  }
  return !left->values.empty() || record.created_levels > 0;
}

// Adds |record| to |records|: into the record of the same path (compared
// without case), keeping the higher depth and created levels and the values
// of both (|record|'s where a name is in both), or appended.
void MergeRecord(InstallLogRegistryKey record, InstallLogRegistryKeys* records) {
  for (InstallLogRegistryKey& existing : *records) {
    if (!base::FilePath::CompareEqualIgnoreCase(base::UTF8ToWide(existing.path),
                                                base::UTF8ToWide(record.path))) {
      continue;
    }
    existing.cleanup_depth = std::max(existing.cleanup_depth, record.cleanup_depth);
    existing.created_levels = std::max(existing.created_levels, record.created_levels);
    for (InstallLogRegistryValue& value : record.values) {
      auto same =
          std::find_if(existing.values.begin(), existing.values.end(),
                       [&value](const InstallLogRegistryValue& other) {
                         return base::FilePath::CompareEqualIgnoreCase(other.name, value.name);
                       });
      if (same != existing.values.end())
        *same = std::move(value);
      else
        existing.values.push_back(std::move(value));
    }
    return;
  }
  records->push_back(std::move(record));
}

// The keys of |record| that the installation created and that are empty
// now: those of a depth-0 record from the key up, those above the deleted
// tree of a deeper one.
void RemoveCreatedKeysOfRecord(HKEY root, const InstallLogRegistryKey& record,
                               const InstallerStatus& status) {
  if (record.created_levels <= 0)
    return;
  const std::wstring path = ResolveOldProductPlaceholders(base::UTF8ToWide(record.path), status);
  std::wstring key_path;
  if (!GetCleanupKeyPath(path, record.cleanup_depth, &key_path))
    return;
  const bool uninstall_key =
      base::StartsWith(path, GetUninstallRegistryKey(), base::CompareCase::INSENSITIVE_ASCII);
  const uint32_t view = uninstall_key ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  int levels = record.created_levels;
  if (record.cleanup_depth > 0) {
    // The tree at |key_path| went already; above it, what is left of the
    // created levels.
    levels -= record.cleanup_depth;
    const size_t split = key_path.rfind(L'\\');
    if (levels <= 0 || split == std::wstring::npos)
      return;
    key_path.resize(split);
  }
  RemoveCreatedEmptyKeys(root, key_path, levels, view);
}

// Runs Internet Explorer's own "make me the default" command, waiting for it
// to end. False (logged) when there is none or it cannot be started.
bool RunIeReinstallCommand() {
  base::win::RegistryKey key;
  std::wstring command;
  if (key.Open(HKEY_LOCAL_MACHINE, kIeInstallInfoKey, KEY_READ) != ERROR_SUCCESS ||
      key.ReadValue(L"ReinstallCommand", &command) != ERROR_SUCCESS) {
    LOG(WARNING) << "No reinstall command of Internet Explorer";
    return false;
  }
  std::wstring program;
  std::wstring parameters;
  if (!SplitShellCommand(command, &program, &parameters)) {
    LOG(WARNING) << "Unusable reinstall command of Internet Explorer: "
                 << base::WideToUTF8(command);
    return false;
  }

  // A 64-bit process sees the system folder the command names as it is; no
  // file-system redirection stands in the way.
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
  info.lpFile = program.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOW;
  const bool started = ::ShellExecuteExW(&info) != FALSE;
  const DWORD error = ::GetLastError();
  base::win::ScopedHandle process(info.hProcess);
  if (!started) {
    ELOG(WARNING, error) << "Could not start " << base::WideToUTF8(command);
    return false;
  }
  if (process.IsValid())
    ::WaitForSingleObject(process.Get(), INFINITE);
  return true;
}

// Makes Internet Explorer the handler of the web again: the shell's own
// dialog on Windows 8, which lets nobody else set the default, else the
// association registration for IE's file types and protocols.
void ResetDefaultBrowserToIe() {
  if (base::win::GetWindowsVersion() == base::win::VERSION_WIN8) {
    OPENASINFO info = {};
    info.pcszFile = L"http";
    info.oaifInFlags = static_cast<OPEN_AS_INFO_FLAGS>(OAIF_URL_PROTOCOL | OAIF_FORCE_REGISTRATION |
                                                       OAIF_REGISTER_EXT);
    const HRESULT hr = ::SHOpenWithDialog(nullptr, &info);
    if (SUCCEEDED(hr))
      ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    else
      VLOG(1) << "The open-with dialog for http gave " << std::hex << hr;
    return;
  }
  base::win::ComPtr<IApplicationAssociationRegistration> registration;
  const HRESULT hr = registration.CreateInstance(kApplicationAssociationRegistrationClsid,
                                                 __uuidof(IApplicationAssociationRegistration),
                                                 CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    LOG(WARNING) << "No application association registration: " << std::hex << hr;
    return;
  }
  static constexpr wchar_t kIe[] = L"Internet Explorer";
  registration->SetAppAsDefault(kIe, L".htm", AT_FILEEXTENSION);
  registration->SetAppAsDefault(kIe, L".html", AT_FILEEXTENSION);
  registration->SetAppAsDefault(kIe, L"http", AT_URLPROTOCOL);
  registration->SetAppAsDefault(kIe, L"https", AT_URLPROTOCOL);
}

}  // namespace

void InheritCreatedKeys(const InstallLogRegistryKeys& old_records,
                        InstallLogRegistryKeys* records) {
  std::set<std::string> created;
  for (const InstallLogRegistryKey& old_record : old_records) {
    std::string path = base::ToLowerASCII(old_record.path);
    for (int level = 0; level < old_record.created_levels; ++level) {
      created.insert(path);
      const size_t split = path.rfind('\\');
      if (split == std::string::npos)
        break;
      path.resize(split);
    }
  }
  for (InstallLogRegistryKey& record : *records) {
    // The first key above what the set-up created itself.
    std::string path = base::ToLowerASCII(record.path);
    bool above = true;
    for (int level = 0; level < record.created_levels && above; ++level) {
      const size_t split = path.rfind('\\');
      above = split != std::string::npos;
      path.resize(above ? split : 0);
    }
    while (above && created.count(path)) {
      ++record.created_levels;
      const size_t split = path.rfind('\\');
      above = split != std::string::npos;
      path.resize(above ? split : 0);
    }
  }
}

std::wstring GetUninstallKeyName(const std::wstring& suffix) {
  return GetUninstallRegistryKey() + L"\\" + base::UTF8ToWide(GetProductName()) + L" " +
         base::UTF8ToWide(GetVersionString()) + suffix;
}

void SetUninstallKeyProbeForTesting(UninstallKeyProbe probe) {
  g_uninstall_key_probe.store(probe, std::memory_order_release);
}

bool ChooseUninstallKeyName(HKEY root, std::wstring* key_name) {
  for (int suffix = 0; suffix <= kMaxUninstallKeySuffix; ++suffix) {
    const std::wstring name =
        GetUninstallKeyName(suffix == 0 ? std::wstring() : base::NumberToString16(suffix));
    const LONG result = ProbeUninstallKey(root, name);
    if (result == ERROR_FILE_NOT_FOUND) {
      *key_name = name;
      return true;
    }
    if (result != ERROR_SUCCESS)
      VLOG(1) << "Uninstall key " << base::WideToUTF8(name) << " is taken: error " << result;
  }
  LOG(ERROR) << "No free uninstall key name among " << kMaxUninstallKeySuffix + 1 << " names";
  return false;
}

std::wstring GetOldProductTypeName(int old_product_type) {
  switch (old_product_type) {
    case 0: return std::wstring();
    case 1: return L"Next";
    case 2: return L"Labs";
    default: return L"Invalid";
  }
}

std::wstring ResolveOldProductPlaceholders(const std::wstring& text,
                                           const InstallerStatus& status) {
  if (!status.tarsel_installation())
    return text;
  // A defaults file without a product type counts as the plain product.
  const int type = status.old_product_type() < 0 ? 0 : status.old_product_type();
  const std::wstring name = GetOldProductTypeName(type);
  std::wstring result = text;
  static constexpr std::wstring_view kProduct = L"{Product}";
  static constexpr std::wstring_view kSpProduct = L"{SPProduct}";
  size_t pos = result.find(kProduct);
  if (pos != std::wstring::npos)
    result.replace(pos, kProduct.size(), name);
  pos = result.find(kSpProduct);
  if (pos != std::wstring::npos)
    result.replace(pos, kSpProduct.size(), L" " + name);
  return result;
}

bool GetCleanupKeyPath(const std::wstring& path, int cleanup_depth, std::wstring* key_path) {
  const std::vector<std::wstring> components =
      base::SplitString16(path, L"\\", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  for (const std::wstring& component : components) {
    if (component.empty()) {
      LOG(WARNING) << "Empty component in the key path " << base::WideToUTF8(path);
      return false;
    }
  }
  const int count = static_cast<int>(components.size());
  if (cleanup_depth < 0 || cleanup_depth > count) {
    LOG(WARNING) << "Cleanup depth " << cleanup_depth << " does not fit the key path "
                 << base::WideToUTF8(path);
    return false;
  }
  // A record of depth 0 deletes only its values: the keys other programs
  // register under are where such values belong.
  if (cleanup_depth == 0) {
    for (const std::wstring& shared : GetSharedKeys()) {
      if (base::EqualsCaseInsensitiveASCII(path, shared)) {
        *key_path = path;
        return true;
      }
    }
  }
  const int kept = cleanup_depth > 0 ? count - (cleanup_depth - 1) : count;
  if (kept < 3) {
    LOG(WARNING) << "Cleanup depth " << cleanup_depth << " of " << base::WideToUTF8(path)
                 << " reaches a key of fewer than 3 components";
    return false;
  }
  std::wstring result;
  for (int i = 0; i < kept; ++i) {
    if (i)
      result += L'\\';
    result += components[i];
  }
  for (const std::wstring& shared : GetSharedKeys()) {
    if (base::EqualsCaseInsensitiveASCII(result, shared) ||
        base::StartsWith(shared, result + L"\\", base::CompareCase::INSENSITIVE_ASCII)) {
      LOG(WARNING) << "Cleanup of " << base::WideToUTF8(path) << " with depth " << cleanup_depth
                   << " would reach the shared key " << base::WideToUTF8(shared);
      return false;
    }
  }
  *key_path = std::move(result);
  return true;
}

bool SplitShellCommand(const std::wstring& command, std::wstring* program,
                       std::wstring* parameters) {
  if (command.empty())
    return false;
  if (command[0] == L'"') {
    const size_t close = command.find(L'"', 1);
    if (close == std::wstring::npos)
      return false;
    *program = command.substr(1, close - 1);
    *parameters = close + 2 <= command.size() ? command.substr(close + 2) : std::wstring();
  } else {
    const size_t blank = command.find(L' ');
    *program = command.substr(0, blank);
    *parameters = blank == std::wstring::npos ? std::wstring() : command.substr(blank + 1);
  }
  return !program->empty();
}

std::string ReadUninstallSurveyId(autoupdate::GlobalStorage* storage,
                                  const base::FilePath& user_data) {
  storage->Init(user_data);
  std::string uuid;
  const int32_t result = storage->GetValue("UUID", &uuid);
  if (result != autoupdate::GlobalStorage::kSuccess) {
    // The survey goes on without the id; the storage logged what failed.
    VLOG(1) << "The update checker's id is not readable now (" << result << ")";
    uuid.clear();
  }
  return uuid;
}

std::wstring BuildUninstallSurveyUrl(bool silent, const std::string* uuid,
                                     const std::string& welcome_url) {
  std::string url = GetProductUrl(kUninstallSurveyUrlName);
  if (url.empty() || silent)
    return std::wstring();
  url += "?version=" + GetVersionString();
  if (uuid)
    url += "&uuid=" + *uuid;
  const std::vector<std::string> pieces =
      base::SplitString(welcome_url, "?", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (pieces.size() == 2)
    url += "&" + pieces[1];
  return base::UTF8ToWide(url);
}

void UpdateFirewallRules(const base::FilePath& executable, bool remove) {
  std::unique_ptr<FirewallManager> manager =
      FirewallManager::Create(ProductNameProvider::GetInstance(), executable);
  if (!manager) {
    LOG(ERROR) << "Failed creating a FirewallManager.";
    return;
  }
  if (remove) {
    manager->RemoveAllRules();
    return;
  }
  if (!manager->AddMdnsRule())
    LOG(ERROR) << "Failed creating a firewall rules.";
}

void DeleteAutoupdateTask(std::string* app_id) {
  const std::string id = std::move(*app_id);
  app_id->clear();
  std::unique_ptr<TaskScheduler> scheduler = TaskScheduler::Create();
  if (!scheduler || !scheduler->Init())
    return;
  scheduler->DeleteStaleTasks();
  scheduler->DeleteTask(base::UTF8ToWide(kAutoupdateTaskPrefix + id));
}

void Installer::SetUpRegistry() {
  Settings* settings = settings_;
  if (settings->IsFlagSet(Settings::COPY_ONLY)) {
    ScheduleNextStep();
    return;
  }
  LOG(INFO) << "Setting up the registry";
  const HKEY root =
      settings->IsFlagSet(Settings::ALL_USERS_FLAG) ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;

  std::wstring uninstall_key;
  if (!ChooseUninstallKeyName(root, &uninstall_key)) {
    Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "No free uninstall key name for this version");
    return;
  }
  registry_key_name_ = uninstall_key;
  VLOG(1) << "Uninstall key: " << base::WideToUTF8(uninstall_key);

  InstallLogRegistryKeys* records = install_log_.GetRegistryKeys(root);
  install_log_recording_ = true;
  for (const RegistryRow& row :
       GetRegistrySetUpRows(base::IsFeatureEnabled(kHideFromProgramsFeature))) {
    const RegistryEntry entry(row, this);
    std::wstring key;
    std::wstring value_name;
    ResolveForLog(entry, &key, &value_name);
    // The install log is to hold what was written: a row passed over takes
    // its record back out.
    const InstallLogRegistryKeys records_before = *records;
    std::unique_ptr<Operation> operation;
    bool ok = entry.CreateOperation(root, &operation);
    if (ok && !operation) {
      VLOG(2) << "Skipping inapplicable operation: " << Describe(key, value_name);
      continue;
    }
    if (ok) {
      VLOG(1) << "Writing " << Describe(key, value_name);
      const REGSAM view = row.view_flags & (KEY_WOW64_32KEY | KEY_WOW64_64KEY);
      const int missing = CountMissingKeyLevels(root, key, view);
      ok = transaction_.Execute(std::move(operation));
      if (ok && missing > 0)
        RecordCreatedLevels(records, key, missing);
    }
    if (ok)
      continue;
    if (std::wstring_view(row.key_path) == kUninstallPlaceholderKey) {
      install_log_recording_ = false;
      Fail(IDS_ERROR_INSTALL_FAILED, std::wstring(), "Failed writing uninstallation information");
      return;
    }
    LOG(WARNING) << "Passing over the failed writing of " << Describe(key, value_name);
    *records = records_before;
  }
  install_log_recording_ = false;
  // Keys an earlier version created and its clean-up left (the
  // default-browser registration still had values in them, or they hold
  // the parents of a key the clean-up took) stay this installation's to
  // remove.
  InheritCreatedKeys(*settings->GetStatus().GetRegistryKeys(root), records);
  ScheduleNextStep();
}

void Installer::CleanUpRegistry() {
  LOG(INFO) << "Cleaning up registry";
  const InstallerStatus& status = settings_->GetStatus();
  bool not_x86 = false;
  const base::FilePath launcher = status.install_folder().Append(kLauncherFileName);
  const bool launcher_64 = base::PathExists(launcher) && IsPeImage(launcher, &not_x86) && not_x86;
  // Every row an earlier run may have written, the hiding row included.
  std::vector<RegistryCleanupGuard::TextVariant> variants;
  if (status.tarsel_installation()) {
    variants.push_back([&status](const std::wstring& text) {
      return ResolveOldProductPlaceholders(text, status);
    });
  }
  const RegistryCleanupGuard guard(GetRegistrySetUpRows(/*hide_from_programs=*/true), this,
                                   variants, status.install_folder());
  std::vector<ResolvedRecord> cleaned;
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const InstallLogRegistryKeys* records = status.GetRegistryKeys(root);
    for (const InstallLogRegistryKey& record : *records) {
      ResolvedRecord resolved;
      if (CleanUpRecord(&transaction_, root, record, status, launcher_64, guard, &resolved))
        cleaned.push_back(std::move(resolved));
    }
  }
  // The upgrade's install log replaces the old one, so what this clean-up
  // left stays recorded in it, under either root: values it could not
  // delete, and keys an earlier generation created (the set-up below may
  // write them again, or, registering under the other root, never). The
  // uninstallation then removes everything that any generation made. The
  // set-up records its own writes into the same lists.
  if (settings_->GetOperation() == Settings::kOperationUpgrade) {
    for (const ResolvedRecord& resolved : cleaned) {
      InstallLogRegistryKey left;
      if (!GetLeftoverRecord(resolved, status, &left))
        continue;
      VLOG(1) << "Keeping the record of key " << left.path << " in the new install log";
      MergeRecord(std::move(left), install_log_.GetRegistryKeys(resolved.root));
    }
  }
  ScheduleNextStep();
}

void Installer::RegisterAsProtocolHandler() {
  const InstallerStatus& status = settings_->GetStatus();
  const std::wstring protocol =
      settings_->command_line().GetSwitchValueNative(kRegisterAsProtocolHandlerSwitch);
  if (!status.existing_installation()) {
    VLOG(1) << "No installation to register as protocol handler";
  } else if (protocol.empty()) {
    LOG(WARNING) << "No protocol to register the browser for";
  } else {
    const std::string client = GetProductName() + GetStreamName();
    const std::string key_path =
        "SOFTWARE\\Clients\\StartMenuInternet\\" + client + "\\Capabilities\\URLAssociations";
    // Only an installation that registered its client machine-wide has this
    // key to add the protocol to.
    bool recorded = false;
    for (const InstallLogRegistryKey& record : status.hklm_keys)
      recorded |= base::ToLowerASCII(record.path) == base::ToLowerASCII(key_path);
    if (!recorded) {
      VLOG(1) << "The installation did not register " << key_path;
    } else {
      base::win::RegistryKey key;
      const LONG result = key.Create(HKEY_LOCAL_MACHINE, base::UTF8ToWide(key_path).c_str(),
                                     KEY_SET_VALUE | KEY_QUERY_VALUE);
      if (result == ERROR_SUCCESS &&
          key.WriteValue(protocol.c_str(), base::UTF8ToWide(client)) == ERROR_SUCCESS) {
        FolderInstallation installation(status.install_folder(), status);
        installation.SetDefaultHandlerFor(protocol, /*is_extension=*/false);
      } else {
        LOG(WARNING) << "Could not add the protocol " << base::WideToUTF8(protocol) << " to "
                     << key_path;
      }
    }
  }
  ScheduleNextStep();
}

void Installer::RestoreDefaultBrowserAndShowSurvey(const base::FilePath& install_folder) {
  Settings* settings = settings_;
  const InstallerStatus& status = settings->GetStatus();
  // The text of the change cannot travel in a notification message; the
  // timed send runs on the thread pool, and the back end waits for it before
  // it exits.
  AnnounceAssociationChange();
  if (settings->IsFlagSet(Settings::COPY_ONLY))
    return;

  VLOG(1) << "Attempting to reset the default browser to IE.";
  if (status.is_http_handler() && base::win::GetWindowsVersion() >= base::win::VERSION_VISTA) {
    if (!settings->IsFlagSet(Settings::ALL_USERS_FLAG) || RunIeReinstallCommand())
      ResetDefaultBrowserToIe();
  }
  // Whatever the reset did (where the association interface is missing it
  // does nothing), the browser's own classes and handlers would go on
  // starting a launcher that the uninstallation deletes.
  {
    FolderInstallation installation(install_folder, status);
    installation.UnregisterAsDefaultBrowser(/*all_users=*/false);
    if (settings->IsFlagSet(Settings::ALL_USERS_FLAG))
      installation.UnregisterAsDefaultBrowser(/*all_users=*/true);
  }

  if (IsUserAdmin(/*linked_token=*/false)) {
    UpdateFirewallRules(install_folder.Append(status.subfolder).Append(GetBrowserExeName()),
                        /*remove=*/true);
  }

  std::string uuid;
  bool uuid_known = false;
  base::FilePath user_data;
  const bool silent = settings->command_line().HasSwitch(kSilentSwitch);
  if (!silent && !GetProductUrl(kUninstallSurveyUrlName).empty()) {
    FolderInstallation installation(install_folder, status);
    if (installation.GetUserDataFolder(&user_data, /*cut_user_name=*/false)) {
      uuid = ReadUninstallSurveyId(autoupdate::GlobalStorage::GetInstance(), user_data);
      uuid_known = true;
    }
  }
  const std::wstring url =
      BuildUninstallSurveyUrl(silent, uuid_known ? &uuid : nullptr, status.welcome_url());
  if (url.empty())
    return;
  VLOG(1) << "Trying to display the uninstall survey";
  base::FilePath program_files;
  if (!base::PathRegistry::Get(base::kPathProgramFiles, &program_files)) {
    LOG(WARNING) << "No program files folder to start the uninstall survey from";
    return;
  }
  std::wstring command = QuoteCommand(
      program_files.Append(L"Internet Explorer").Append(L"iexplore.exe"), std::wstring());
  if (base::win::GetWindowsVersion() >= base::win::VERSION_WIN8)
    command += L" -private";
  command += L" " + url;
  DWORD process_id = 0;
  if (!WmiLaunchProcess(command, &process_id))
    LOG(WARNING) << "Could not open the uninstall survey";
}

void RemoveCreatedRegistryKeys(const InstallerStatus& status) {
  // The last created first, as the set-up made them in record order (a
  // record's created parents may hold a later record's keys).
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    const InstallLogRegistryKeys& records = *status.GetRegistryKeys(root);
    for (auto it = records.rbegin(); it != records.rend(); ++it)
      RemoveCreatedKeysOfRecord(root, *it, status);
  }
}

}  // namespace installer
