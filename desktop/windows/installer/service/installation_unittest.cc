#include "desktop/windows/installer/service/installation.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/default_browser_registration.h"
#include "desktop/windows/installer/service/install_log.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::wstring Pid() { return base::UintToString16(GetCurrentProcessId()); }

bool Touch(const base::FilePath& path) { return base::WriteFileBytes(path, "x", 1) == 1; }

void DeleteUserKey(const std::wstring& parent, const std::wstring& name) {
  base::win::RegistryKey key;
  if (key.Open(HKEY_CURRENT_USER, parent.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS)
    key.DeleteKey(name.c_str());
}

bool WriteUserString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  base::win::RegistryKey key(HKEY_CURRENT_USER, path.c_str(), KEY_SET_VALUE);
  return key.Valid() && key.WriteValue(name, value) == ERROR_SUCCESS;
}

class InstallationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    // A product name of this process keeps the ProgId and company key apart
    // from every other test run sharing the registry.
    product_ = "VelmoTest" + base::WideToUTF8(Pid());
    SetProductConfigForTesting(
        ("{\"product_name\": \"" + product_ + "\", \"company_name\": \"" + product_ +
         "Co\", \"file_name_base\": \"velmo\", \"default_profile_path_template\": "
         "\"Velmo\\\\Velmo{InternalStream}\\\\User Data\"}")
            .c_str());
  }
  void TearDown() override {
    // The company key holds what a registration replaced.
    DeleteUserKey(L"Software", base::UTF8ToWide(product_) + L"Co");
    SetProductConfigForTesting(nullptr);
    base::PathRegistry::ClearOverridesForTesting();
    Installation::ResetCurrentForTesting();
  }

  base::FilePath MakeFolder(const wchar_t* name) {
    base::FilePath folder = temp_.GetPath().Append(name);
    EXPECT_TRUE(base::CreateDirectoryTree(folder));
    return folder;
  }

  void WritePrefs(const base::FilePath& folder, const std::string& json) {
    ASSERT_EQ(static_cast<int>(json.size()),
              base::WriteFileBytes(folder.Append(Installation::kInstallerPrefsFileName),
                                   json.data(), static_cast<int>(json.size())));
  }

  base::ScopedTempDir temp_;
  std::string product_;
};

TEST_F(InstallationTest, CurrentInstallationIsFoundBesideOrAboveTheExecutable) {
  const base::FilePath root = MakeFolder(L"install");
  const base::FilePath version = MakeFolder(L"install\\43.0.1.2");
  const base::FilePath bare = MakeFolder(L"bare\\sub");
  ASSERT_TRUE(Touch(root.Append(kLauncherExe)));

  ASSERT_TRUE(base::PathRegistry::Override(base::kPathExeDirectory, root));
  Installation::ResetCurrentForTesting();
  EXPECT_EQ(root, Installation::GetCurrent()->folder());
  EXPECT_EQ(Installation::GetCurrent(), Installation::GetCurrent());

  ASSERT_TRUE(base::PathRegistry::Override(base::kPathExeDirectory, version));
  Installation::ResetCurrentForTesting();
  EXPECT_EQ(root, Installation::GetCurrent()->folder());
  EXPECT_EQ(root.Append(kLauncherExe), Installation::GetCurrent()->GetLauncherPath());

  // Neither the folder nor its parent holds a launcher.
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathExeDirectory, bare));
  Installation::ResetCurrentForTesting();
  EXPECT_TRUE(Installation::GetCurrent()->folder().empty());
  EXPECT_FALSE(Installation::GetCurrent()->IsDefaultHandlerFor(L"http", false));
  EXPECT_FALSE(Installation::GetCurrent()->SetDefaultHandlerFor(L"velmotest", false));
  // Two levels up does not count.
  EXPECT_TRUE(Installation::FindInstallFolder(version.Append(L"deeper")).empty());
}

TEST_F(InstallationTest, CopyOnlyComesFromTheInstallLog) {
  base::win::ScopedComInitializer com;
  ASSERT_TRUE(com.Succeeded());
  const base::FilePath folder = MakeFolder(L"standalone");
  EXPECT_FALSE(Installation(folder).IsCopyOnly());  // No log yet.

  InstallLog log;
  log.copy_only = true;
  EXPECT_TRUE(Installation(folder, log).IsCopyOnly());
  ASSERT_TRUE(log.Save(folder.Append(Installation::kInstallLogFileName)));
  EXPECT_TRUE(Installation(folder).IsCopyOnly());
  log.copy_only = false;
  EXPECT_FALSE(Installation(folder, log).IsCopyOnly());
}

TEST_F(InstallationTest, DefaultHandlerFollowsTheRegisteredCommand) {
  const std::wstring protocol = L"velmotest-" + Pid();
  const std::wstring extension = L".velmotest" + Pid();
  const std::wstring progid = GetBrowserProgId();
  const std::wstring other_progid = progid + L"Other";
  const base::FilePath folder = MakeFolder(L"mine");
  const base::FilePath other = MakeFolder(L"other");
  Installation mine(folder);
  Installation stranger(other);

  EXPECT_FALSE(mine.IsDefaultHandlerFor(protocol, false));
  ASSERT_TRUE(mine.SetDefaultHandlerFor(protocol, false));
  EXPECT_TRUE(mine.IsDefaultHandlerFor(protocol, false));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(protocol, true));
  EXPECT_FALSE(stranger.IsDefaultHandlerFor(protocol, false));

  ASSERT_TRUE(mine.SetDefaultHandlerFor(extension, true));
  EXPECT_TRUE(mine.IsDefaultHandlerFor(extension, false));
  EXPECT_FALSE(stranger.IsDefaultHandlerFor(extension, false));
  ASSERT_TRUE(stranger.SetDefaultHandlerFor(extension.substr(1), true));
  EXPECT_TRUE(stranger.IsDefaultHandlerFor(extension, false));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(extension, false));
  EXPECT_FALSE(mine.SetDefaultHandlerFor(extension, false));  // Not a protocol.

  // The browser executable in the folder or in the version subfolder.
  const std::wstring command_key = L"Software\\Classes\\" + protocol + L"\\shell\\open\\command";
  ASSERT_TRUE(
      WriteUserString(command_key, L"", QuoteCommand(folder.Append(L"velmo.exe"), L"\"%1\"")));
  EXPECT_TRUE(mine.IsDefaultHandlerFor(protocol, true));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(protocol, false));
  InstallLog log;
  log.subfolder = base::FilePath(L"43.0.1.2");
  Installation logged(folder, log);
  ASSERT_TRUE(WriteUserString(command_key, L"",
                              folder.Append(L"43.0.1.2").Append(L"velmo.exe").value() + L" %1"));
  EXPECT_TRUE(logged.IsDefaultHandlerFor(protocol, true));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(protocol, true));  // Its log is unknown.

  // A choice the user made wins over the classes; where it can still be
  // removed, registering removes it.
  const std::wstring choice_parent =
      L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\" + protocol;
  ASSERT_TRUE(mine.SetDefaultHandlerFor(protocol, false));
  ASSERT_TRUE(WriteUserString(choice_parent + L"\\UserChoice", L"ProgId", other_progid));
  ASSERT_TRUE(WriteUserString(L"Software\\Classes\\" + other_progid + L"\\shell\\open\\command",
                              L"", QuoteCommand(other.Append(kLauncherExe), L"\"%1\"")));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(protocol, false));
  EXPECT_TRUE(stranger.IsDefaultHandlerFor(protocol, false));
  if (base::win::GetWindowsVersion() < base::win::VERSION_WIN8) {
    ASSERT_TRUE(mine.SetDefaultHandlerFor(protocol, false));
    EXPECT_TRUE(mine.IsDefaultHandlerFor(protocol, false));
  }

  DeleteUserKey(L"Software\\Classes", protocol);
  DeleteUserKey(L"Software\\Classes", extension);
  DeleteUserKey(L"Software\\Classes", progid);
  DeleteUserKey(L"Software\\Classes", other_progid);
  DeleteUserKey(L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations", protocol);
}

TEST_F(InstallationTest, ProgIdClassesPointAtTheLauncher) {
  const base::FilePath folder = MakeFolder(L"classes");
  const std::wstring progid = GetBrowserProgId();
  EXPECT_EQ(base::UTF8ToWide(product_) + L"Stable", progid);
  ASSERT_TRUE(Installation(folder).RegisterProgIdClasses(false));

  base::win::RegistryKey key;
  std::wstring command;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Open(HKEY_CURRENT_USER,
                     (L"Software\\Classes\\" + progid + L"\\shell\\open\\command").c_str(),
                     KEY_QUERY_VALUE));
  ASSERT_EQ(ERROR_SUCCESS, key.ReadValue(L"", &command));
  EXPECT_EQ(folder.Append(kLauncherExe), GetProgramFromCommand(command));
  EXPECT_NE(std::wstring::npos, command.find(L"\"%1\""));
  ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, L"Software\\Classes\\.html\\OpenWithProgIDs",
                                    KEY_ALL_ACCESS));
  EXPECT_TRUE(key.HasValue(progid.c_str()));
  for (const wchar_t* file_type : kBrowserFileTypes) {
    if (key.Open(HKEY_CURRENT_USER,
                 (std::wstring(L"Software\\Classes\\") + file_type + L"\\OpenWithProgIDs").c_str(),
                 KEY_ALL_ACCESS) == ERROR_SUCCESS)
      key.DeleteValue(progid.c_str());
  }
  DeleteUserKey(L"Software\\Classes", progid);
}

// The value of |name| of HKCU |path|, or empty when there is none.
std::wstring ReadUserString(const std::wstring& path, const wchar_t* name) {
  base::win::RegistryKey key;
  std::wstring value;
  if (key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS)
    value.clear();
  return value;
}

bool UserKeyExists(const std::wstring& path) {
  base::win::RegistryKey key;
  return key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

// An uninstalled browser must not stay the handler of the web: the shell
// would start a launcher that is gone. What another installation registered
// since stays.
TEST_F(InstallationTest, UnregisteringTakesBackOnlyWhatStartsThisInstallation) {
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring http_command = classes + L"http\\shell\\open\\command";
  const std::wstring kept_http = ReadUserString(http_command, L"");
  const bool had_https = UserKeyExists(classes + L"https");
  const std::wstring kept_https = ReadUserString(classes + L"https\\shell\\open\\command", L"");
  const bool had_ftp = UserKeyExists(classes + L"ftp");
  const bool had_http_icon = UserKeyExists(classes + L"http\\DefaultIcon");

  // Another browser that is there, so that the handler goes back to it.
  const base::FilePath other_exe = MakeFolder(L"Other").Append(L"browser.exe");
  ASSERT_EQ(2, base::WriteFileBytes(other_exe, "MZ", 2));
  const std::wstring other_browser = L"\"" + other_exe.value() + L"\" \"%1\"";
  ASSERT_TRUE(WriteUserString(http_command, L"", other_browser));
  const base::FilePath mine_folder = MakeFolder(L"mine");
  Installation mine(mine_folder);
  ASSERT_TRUE(mine.SavePreviousDefaultBrowser(false));
  ASSERT_TRUE(mine.RegisterAsDefaultBrowser(false));
  ASSERT_TRUE(mine.IsDefaultHandlerFor(L"http", false));
  const std::wstring progid = GetBrowserProgId();
  const std::wstring client = L"Software\\Clients\\StartMenuInternet\\" + progid;
  ASSERT_TRUE(UserKeyExists(client));

  ASSERT_TRUE(mine.UnregisterAsDefaultBrowser(false));
  // Each protocol gets back what it held, not the "http" handler's command.
  EXPECT_EQ(other_browser, ReadUserString(http_command, L""));
  EXPECT_EQ(kept_https, ReadUserString(classes + L"https\\shell\\open\\command", L""));
  EXPECT_EQ(had_https, UserKeyExists(classes + L"https"));
  EXPECT_EQ(had_http_icon, UserKeyExists(classes + L"http\\DefaultIcon"));
  EXPECT_FALSE(mine.IsDefaultHandlerFor(L"https", false));
  if (!had_ftp) {
    EXPECT_FALSE(UserKeyExists(classes + L"ftp"));
  }
  EXPECT_FALSE(UserKeyExists(classes + progid));
  EXPECT_FALSE(UserKeyExists(client));
  EXPECT_EQ(L"",
            ReadUserString(L"Software\\RegisteredApplications", GetBrowserDisplayName().c_str()));
  for (const wchar_t* file_type : kBrowserFileTypes) {
    EXPECT_NE(progid, ReadUserString(classes + file_type, L"")) << file_type;
    base::win::RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, (classes + file_type + L"\\OpenWithProgIDs").c_str(),
                 KEY_QUERY_VALUE) == ERROR_SUCCESS) {
      EXPECT_FALSE(key.HasValue(progid.c_str())) << file_type;
    }
  }

  // Another installation took the classes over: this one's uninstallation
  // leaves them, and the file types that point at them.
  const base::FilePath other_folder = MakeFolder(L"other");
  ASSERT_TRUE(Installation(other_folder).RegisterProgIdClasses(false));
  ASSERT_TRUE(mine.UnregisterAsDefaultBrowser(false));
  const std::wstring class_command =
      ReadUserString(classes + progid + L"\\shell\\open\\command", L"");
  EXPECT_EQ(other_folder.Append(kLauncherExe), GetProgramFromCommand(class_command));
  base::win::RegistryKey open_with;
  ASSERT_EQ(ERROR_SUCCESS,
            open_with.Open(HKEY_CURRENT_USER, (classes + L".html\\OpenWithProgIDs").c_str(),
                           KEY_QUERY_VALUE));
  EXPECT_TRUE(open_with.HasValue(progid.c_str()));
  ASSERT_TRUE(Installation(other_folder).UnregisterAsDefaultBrowser(false));
  EXPECT_FALSE(UserKeyExists(classes + progid));

  // The user's own registrations as they were before the test.
  if (kept_http.empty())
    DeleteUserKey(L"Software\\Classes", L"http");
  else
    WriteUserString(http_command, L"", kept_http);
  if (!had_https)
    DeleteUserKey(L"Software\\Classes", L"https");
  DeleteUserKey(L"Software", base::UTF8ToWide(product_) + L"Co");
}

TEST_F(InstallationTest, UserDataFolderOfEachKindOfInstallation) {
  const base::FilePath roaming = MakeFolder(L"roaming");
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathRoamingAppData, roaming));
  const base::FilePath folder = MakeFolder(L"profiles");
  base::FilePath path;

  ASSERT_TRUE(Installation(folder).GetUserDataFolder(&path, false));
  const std::wstring stream = Installation::GetInternalStreamName();
  EXPECT_EQ(roaming.Append(L"Velmo\\Velmo" + stream + L"\\User Data"), path);
  if (GetBuildStream() == 4) {
    EXPECT_EQ(L"", stream);
  }

  // A trailing user-name component: replaced, or cut off on request.
  SetProductConfigForTesting(
      R"({"default_profile_path_template": "Co\\Prod{InternalStream}\\<USERNAME>"})");
  ASSERT_TRUE(Installation(folder).GetUserDataFolder(&path, true));
  EXPECT_EQ(roaming.Append(L"Co\\Prod" + stream), path);
  ASSERT_TRUE(Installation(folder).GetUserDataFolder(&path, false));
  EXPECT_EQ(roaming.Append(L"Co\\Prod" + stream), path.DirName());
  EXPECT_FALSE(path.BaseName().empty());
  EXPECT_NE(Installation::kUserNameComponent, path.BaseName().value());

  SetProductConfigForTesting("{}");
  EXPECT_FALSE(Installation(folder).GetUserDataFolder(&path, false));

  WritePrefs(folder, R"({"single_profile": true, "profile_path": "D:\\elsewhere"})");
  ASSERT_TRUE(Installation(folder).GetUserDataFolder(&path, true));
  EXPECT_EQ(folder.Append(L"data"), path);
  WritePrefs(folder, R"({"single_profile": false, "profile_path": "D:\\elsewhere"})");
  ASSERT_TRUE(Installation(folder).GetUserDataFolder(&path, true));
  EXPECT_EQ(base::FilePath(L"D:\\elsewhere"), path);
}

TEST_F(InstallationTest, RebaseMovesRoamingPathsOnly) {
  const base::FilePath roaming = MakeFolder(L"Roaming");
  const base::FilePath local = MakeFolder(L"Local");
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathRoamingAppData, roaming));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathLocalAppData, local));
  const base::FilePath folder = MakeFolder(L"rebase");
  Installation installation(folder);

  EXPECT_EQ(local.Append(L"Velmo\\User Data"),
            installation.RebaseDefaultPath(roaming.Append(L"Velmo\\User Data")));
  const base::FilePath outside = temp_.GetPath().Append(L"RoamingX\\Velmo");
  EXPECT_EQ(outside, installation.RebaseDefaultPath(outside));
  EXPECT_EQ(local.Append(L"Velmo"), installation.RebaseDefaultPath(local.Append(L"Velmo")));

  WritePrefs(folder, R"({"profile_path": "C:\\chosen"})");
  const base::FilePath below = roaming.Append(L"Velmo");
  EXPECT_EQ(below, Installation(folder).RebaseDefaultPath(below));
}

}  // namespace
}  // namespace installer
