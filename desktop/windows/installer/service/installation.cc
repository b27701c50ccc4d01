#include "desktop/windows/installer/service/installation.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/json_reader.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/default_browser_registration.h"
#include "desktop/windows/installer/service/registration_journal.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/user_name.h"

namespace installer {

namespace {

constexpr int kStableStream = 4;

std::unique_ptr<Installation> CreateCurrentInstallation() {
  base::FilePath exe_folder;
  if (!base::PathRegistry::Get(base::kPathExeDirectory, &exe_folder)) {
    LOG(ERROR) << "The folder of the running executable is unknown";
    return std::make_unique<Installation>(base::FilePath());
  }
  base::FilePath folder = Installation::FindInstallFolder(exe_folder);
  if (folder.empty())
    LOG(WARNING) << "No installation holds the running executable in " << exe_folder;
  return std::make_unique<Installation>(folder);
}

struct CurrentInstallation {
  CurrentInstallation() : installation(CreateCurrentInstallation()) {}
  std::unique_ptr<Installation> installation;
};

base::LazyInstance<CurrentInstallation> g_current_installation;

HKEY RootFor(bool all_users) { return all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

}  // namespace

// static
Installation* Installation::GetCurrent() { return g_current_installation.Get().installation.get(); }

// static
void Installation::ResetCurrentForTesting() {
  g_current_installation.Get().installation = CreateCurrentInstallation();
}

// static
base::FilePath Installation::FindInstallFolder(const base::FilePath& exe_folder) {
  if (exe_folder.empty())
    return base::FilePath();
  if (base::PathExists(exe_folder.Append(kLauncherExe)))
    return exe_folder;
  // The browser and the installer of a version live in a version subfolder.
  base::FilePath parent = exe_folder.StripTrailingSeparators().DirName();
  if (parent != exe_folder && base::PathExists(parent.Append(kLauncherExe)))
    return parent;
  return base::FilePath();
}

// static
std::wstring Installation::GetInternalStreamName() {
  const int stream = GetBuildStream();
  if (stream == kStableStream)
    return std::wstring();
  return L" " + base::UTF8ToWide(GetChannelName(stream));
}

Installation::Installation(const base::FilePath& folder) : folder_(folder) {}

Installation::Installation(const base::FilePath& folder, const InstallLog& install_log)
    : folder_(folder),
      install_log_(std::make_unique<InstallLog>(install_log)),
      install_log_tried_(true) {}

Installation::~Installation() = default;

base::FilePath Installation::GetLauncherPath() const {
  if (folder_.empty())
    return base::FilePath();
  return folder_.Append(kLauncherExe);
}

bool Installation::EnsureInstallLog() {
  if (install_log_)
    return true;
  if (install_log_tried_)
    return false;  // Logged at the first try.
  install_log_tried_ = true;
  // A folder without a log is no installation of this engine: an answer,
  // not an error.
  const base::FilePath path =
      folder_.empty() ? base::FilePath() : folder_.Append(kInstallLogFileName);
  if (path.empty() || !base::PathExists(path)) {
    VLOG(1) << "No install log in \"" << folder_ << "\"";
    return false;
  }
  auto log = std::make_unique<InstallLog>();
  if (!log->Load(path))
    return false;  // Load logged the cause.
  install_log_ = std::move(log);
  return true;
}

void Installation::EnsurePrefs() {
  if (prefs_read_)
    return;
  prefs_read_ = true;
  if (folder_.empty())
    return;
  const base::FilePath path = folder_.Append(kInstallerPrefsFileName);
  std::string text;
  if (!base::PathExists(path) || !base::ReadFileToString(path, &text)) {
    VLOG(1) << "No installer preferences in " << folder_;
    return;
  }
  std::unique_ptr<base::Value> value = base::JsonReader::Read(text);
  const base::DictValue* prefs = nullptr;
  if (!value || !value->GetAsDictionary(&prefs)) {
    LOG(ERROR) << "The installer preferences " << path << " are not a JSON object";
    return;
  }
  prefs->GetBoolean("single_profile", &single_profile_);
  std::string profile_path;
  if (prefs->GetString("profile_path", &profile_path))
    profile_path_ = base::FilePath::FromUTF8Unsafe(profile_path);
}

bool Installation::IsCopyOnly() {
  if (!EnsureInstallLog())
    return false;
  return install_log_->copy_only;
}

bool Installation::IsDefaultHandlerFor(const std::wstring& name, bool browser_exe) {
  if (folder_.empty()) {
    VLOG(1) << "No install folder: not the handler of " << base::WideToUTF8(name);
    return false;
  }
  std::wstring command;
  if (!GetRegisteredOpenCommand(name, &command, nullptr))
    return false;
  const base::FilePath program = GetProgramFromCommand(command);
  if (!browser_exe)
    return IsSameProgramPath(program, GetLauncherPath());
  const std::wstring exe_name = GetBrowserExeName();
  if (IsSameProgramPath(program, folder_.Append(exe_name)))
    return true;
  // The version subfolder is only known from the install log.
  if (EnsureInstallLog() && !install_log_->subfolder.empty())
    return IsSameProgramPath(program, folder_.Append(install_log_->subfolder).Append(exe_name));
  return false;
}

bool Installation::GetUserDataFolder(base::FilePath* path, bool cut_user_name) {
  EnsurePrefs();
  if (single_profile_) {
    if (folder_.empty()) {
      LOG(ERROR) << "A single-profile installation without an install folder";
      return false;
    }
    *path = folder_.Append(kSingleProfileDataFolder);
    return true;
  }
  if (!profile_path_.empty()) {
    *path = profile_path_;
    return true;
  }

  std::wstring relative = base::UTF8ToWide(GetDefaultProfilePathTemplate());
  if (relative.empty()) {
    LOG(ERROR) << "The product configuration has no default profile path template";
    return false;
  }
  base::ReplaceSubstringsAfterOffset(&relative, 0, kInternalStreamPlaceholder,
                                     GetInternalStreamName());
  if (cut_user_name) {
    relative = base::FilePath(relative).StripTrailingSeparators().value();
    const base::FilePath last = base::FilePath(relative).BaseName();
    if (last.value() == kUserNameComponent)
      relative = base::FilePath(relative).DirName().value();
  }
  if (relative.find(kUserNameComponent) != std::wstring::npos) {
    std::wstring user_name;
    if (!GetCurrentUserName(&user_name)) {
      LOG(ERROR) << "The profile path template names the user, whose name is unknown";
      return false;
    }
    base::ReplaceSubstringsAfterOffset(&relative, 0, kUserNameComponent, user_name);
  }

  base::FilePath app_data;
  if (!base::PathRegistry::Get(base::kPathRoamingAppData, &app_data)) {
    LOG(ERROR) << "The roaming application-data folder is unknown";
    return false;
  }
  *path = app_data.Append(relative);
  return true;
}

base::FilePath Installation::RebaseDefaultPath(const base::FilePath& path) {
  EnsurePrefs();
  if (!profile_path_.empty())
    return path;
  base::FilePath roaming;
  base::FilePath local;
  if (!base::PathRegistry::Get(base::kPathRoamingAppData, &roaming) ||
      !base::PathRegistry::Get(base::kPathLocalAppData, &local)) {
    LOG(ERROR) << "The application-data folders are unknown; " << path << " stays";
    return path;
  }
  base::FilePath rebased = local;
  if (!roaming.AppendRelativePath(path, &rebased))
    return path;
  return rebased;
}

bool Installation::SavePreviousDefaultBrowser(bool all_users) {
  std::wstring command;
  std::wstring progid;
  if (!GetRegisteredOpenCommand(L"http", &command, &progid)) {
    VLOG(1) << "No http handler to keep as the previous default browser";
    return true;
  }
  const base::FilePath program = GetProgramFromCommand(command);
  if (!folder_.empty() && (IsSameProgramPath(program, GetLauncherPath()) ||
                           IsSameProgramPath(program, folder_.Append(GetBrowserExeName())))) {
    VLOG(1) << "This installation already handles http; the previous default browser stays";
    return true;
  }
  const std::wstring company_key = GetCompanyRegistryKey();
  base::win::RegistryKey key;
  LONG result =
      key.Create(RootFor(all_users), company_key.c_str(), KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (result == ERROR_SUCCESS)
    result = key.WriteValue(kPreviousDefaultBrowserValue, command);
  if (result == ERROR_SUCCESS) {
    if (!progid.empty())
      result = key.WriteValue(kPreviousDefaultBrowserProgIdValue, progid);
    else if (key.HasValue(kPreviousDefaultBrowserProgIdValue))
      result = key.DeleteValue(kPreviousDefaultBrowserProgIdValue);
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot keep the previous default browser under "
                        << base::WideToUTF8(company_key);
    return false;
  }
  return true;
}

bool Installation::RegisterAsDefaultBrowser(bool all_users) {
  if (folder_.empty()) {
    LOG(ERROR) << "No install folder to register as the default browser";
    return false;
  }
  const base::FilePath launcher = GetLauncherPath();
  RegistrationJournal journal(RootFor(all_users), folder_);
  bool ok = WriteBrowserProgIdClass(&journal, launcher);
  ok &= WriteStartMenuInternetClient(&journal, launcher);
  for (const wchar_t* protocol : kBrowserProtocols)
    ok &= WriteProtocolHandler(&journal, protocol, launcher);
  for (const wchar_t* file_type : kBrowserFileTypes)
    ok &= WriteFileTypeHandler(&journal, file_type);
  if (!all_users) {
    for (const wchar_t* protocol : kBrowserProtocols)
      ok &= ClearUserChoice(&journal, protocol);
    for (const wchar_t* file_type : kBrowserFileTypes)
      ok &= ClearUserChoice(&journal, file_type);
  }
  NotifyAssociationsChanged();
  if (!ok)
    LOG(ERROR) << "The default browser registration is incomplete";
  return ok;
}

bool Installation::UnregisterAsDefaultBrowser(bool all_users) {
  if (folder_.empty()) {
    LOG(ERROR) << "No install folder to unregister as the default browser";
    return false;
  }
  const HKEY root = RootFor(all_users);
  const std::wstring company_key = GetCompanyRegistryKey();
  std::wstring previous_command;
  {
    base::win::RegistryKey key;
    if (key.Open(root, company_key.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
        key.ReadValue(kPreviousDefaultBrowserValue, &previous_command) != ERROR_SUCCESS)
      previous_command.clear();
  }
  bool ok = RemoveBrowserRegistration(root, GetLauncherPath(), previous_command);
  NotifyAssociationsChanged();
  if (!ok)
    LOG(ERROR) << "The browser's registration with the shell is only partly removed";
  return ok;
}

bool Installation::RegisterProgIdClasses(bool all_users) {
  if (folder_.empty()) {
    LOG(ERROR) << "No install folder to register classes for";
    return false;
  }
  RegistrationJournal journal(RootFor(all_users), folder_);
  bool ok = WriteBrowserProgIdClass(&journal, GetLauncherPath());
  for (const wchar_t* file_type : kBrowserFileTypes)
    ok &= WriteOpenWithProgId(&journal, file_type);
  NotifyAssociationsChanged();
  if (!ok)
    LOG(ERROR) << "The class registration is incomplete";
  return ok;
}

bool Installation::SetDefaultHandlerFor(const std::wstring& name, bool is_extension) {
  if (folder_.empty()) {
    LOG(ERROR) << "No install folder to handle " << base::WideToUTF8(name);
    return false;
  }
  if (name.empty() || name == L".") {
    LOG(ERROR) << "No protocol or file type to handle";
    return false;
  }
  const base::FilePath launcher = GetLauncherPath();
  RegistrationJournal journal(HKEY_CURRENT_USER, folder_);
  std::wstring target = name;
  bool ok;
  if (is_extension) {
    if (target[0] != L'.')
      target.insert(target.begin(), L'.');
    ok = WriteBrowserProgIdClass(&journal, launcher);
    ok &= WriteFileTypeHandler(&journal, target);
  } else {
    if (target[0] == L'.') {
      LOG(ERROR) << "\"" << base::WideToUTF8(name) << "\" is a file type, not a protocol";
      return false;
    }
    ok = WriteProtocolHandler(&journal, target, launcher);
  }
  ok &= ClearUserChoice(&journal, target);
  NotifyAssociationsChanged();
  if (!ok)
    LOG(ERROR) << "Cannot make this installation the handler of " << base::WideToUTF8(target);
  return ok;
}

}  // namespace installer
