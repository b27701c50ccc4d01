#include "desktop/windows/installer/installer_registry_steps.h"

#include <sddl.h>
#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_local_alloc.h"
#include "base/win/windows_version.h"
#include "desktop/common/autoupdate/updatechecker/global_storage.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/installer_test_support.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/registry_setup_table.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::win::RegistryKey;

constexpr REGSAM k32 = KEY_WOW64_32KEY;
constexpr REGSAM k64 = KEY_WOW64_64KEY;

std::wstring W(const std::string& text) { return base::UTF8ToWide(text); }

bool KeyExists(HKEY root, const std::wstring& path, REGSAM view = k64) {
  RegistryKey key;
  return key.Open(root, path.c_str(), KEY_READ | view) == ERROR_SUCCESS;
}

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name,
                        REGSAM view = k64) {
  RegistryKey key;
  std::wstring value;
  if (key.Open(root, path.c_str(), KEY_READ | view) != ERROR_SUCCESS ||
      key.ReadValue(name, &value) != ERROR_SUCCESS) {
    return L"<missing>";
  }
  return value;
}

void DeleteTree(HKEY root, const std::wstring& path, REGSAM view) {
  // A key a test locked is opened up again first (its owner may always
  // change its access list).
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | view, &raw) == ERROR_SUCCESS) {
    base::win::ScopedHKey locked(raw);
    PSECURITY_DESCRIPTOR open_descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1,
                                                               &open_descriptor, nullptr)) {
      base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> holder(open_descriptor);
      ::RegSetKeySecurity(locked.Get(), DACL_SECURITY_INFORMATION, holder.Get());
    }
  }
  RegistryKey parent;
  const size_t slash = path.rfind(L'\\');
  if (parent.Open(root, path.substr(0, slash).c_str(), KEY_ALL_ACCESS | view) == ERROR_SUCCESS)
    parent.DeleteKey(path.substr(slash + 1).c_str());
}

void DeleteValueAndEmptyKeys(HKEY root, const std::wstring& path, const std::wstring& name,
                             int empty_levels) {
  for (REGSAM view : {k32, k64}) {
    RegistryKey key;
    if (key.Open(root, path.c_str(), KEY_ALL_ACCESS | view) == ERROR_SUCCESS)
      key.DeleteValue(name.c_str());
    std::wstring current = path;
    for (int i = 0; i < empty_levels; ++i) {
      const size_t slash = current.rfind(L'\\');
      RegistryKey parent;
      if (parent.Open(root, current.substr(0, slash).c_str(), KEY_ALL_ACCESS | view) !=
          ERROR_SUCCESS) {
        break;
      }
      parent.DeleteEmptyKey(current.substr(slash + 1).c_str());
      current = current.substr(0, slash);
    }
  }
}

void WriteSz(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& data,
             REGSAM view = k64) {
  RegistryKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(root, path.c_str(), KEY_ALL_ACCESS | view)) << path;
  ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(name, data.c_str())) << path;
}

// Records what the installer reports and ends the loop when the run ends.
class RunObserver : public InstallerDelegate {
 public:
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int) override {}
  void OnStep() override {}
  void OnError(int id, const std::wstring& text, const std::string& detail) override {
    error_id = id;
    error_text = text;
    error_detail = detail;
  }
  void OnSuccess() override {
    succeeded = true;
    runner->Quit();
  }
  void OnInstallerTerminated(bool) override {
    terminated = true;
    runner->Quit();
  }

  base::LoopRunner* runner = nullptr;
  bool succeeded = false;
  bool terminated = false;
  int error_id = 0;
  std::wstring error_text;
  std::string error_detail;
};

class RegistryStepsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    static int counter = 0;
    const std::string tag =
        "RegSt" + std::to_string(::GetCurrentProcessId()) + "n" + std::to_string(++counter);
    product_ = W(tag);
    exe_ = W(base::ToLowerASCII(tag)) + L".exe";
    const std::string json = R"({"product_name": ")" + tag + R"(", "company_name": ")" + tag +
                             R"(Co", "file_name_base": ")" + base::ToLowerASCII(tag) +
                             R"(", "urls": {"help": "https://help.example/", )"
                             R"("homepage": "https://home.example/", )"
                             R"("download": "https://dl.example/"}})";
    SetProductConfigForTesting(json.c_str());
    folder_ = temp_dir_.GetPath().Append(L"Installed");
    ASSERT_TRUE(base::CreateDirectoryTree(folder_));
    progid_ = product_ + L"Stable";
    smi_ = L"Software\\Clients\\StartMenuInternet\\" + progid_;
    sandbox_ = L"Software\\" + product_ + L"Sandbox";
  }

  void TearDown() override {
    SetUninstallKeyProbeForTesting(nullptr);
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      RemoveProductKeys(root);
    SetProductConfigForTesting(nullptr);
  }

  // Everything the set-up table and the tests may have written for this
  // test's product.
  void RemoveProductKeys(HKEY root) {
    const std::wstring classes = L"Software\\Classes\\";
    for (REGSAM view : {k32, k64}) {
      DeleteTree(root, classes + progid_, view);
      DeleteTree(root, classes + L"Applications\\" + exe_, view);
      DeleteTree(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe_, view);
      DeleteTree(root, smi_, view);
      DeleteTree(root, sandbox_, view);
      DeleteTree(root, classes + L"proto" + product_, view);
      for (const wchar_t* suffix : {L"", L"1", L"2"})
        DeleteTree(root, GetUninstallKeyName(suffix), view);
      // The product's own file type, when this product registered it.
      if (ReadString(root, classes + L".vex", nullptr, view) == progid_ + L".Extension")
        DeleteTree(root, classes + L".vex", view);
    }
    for (const wchar_t* ext :
         {L".vex", L".tavdownload", L".htm", L".html", L".pdf", L".shtml", L".xht", L".xhtml"}) {
      DeleteValueAndEmptyKeys(root, classes + ext + L"\\OpenWithProgIDs", progid_, 2);
    }
    DeleteValueAndEmptyKeys(root, L"Software\\RegisteredApplications", product_ + L" Stable", 0);
    DeleteValueAndEmptyKeys(root,
                            L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
                            L"Compatibility Assistant\\Persisted",
                            Launcher(), 0);
  }

  std::wstring Launcher() const { return folder_.Append(L"Launcher.exe").value(); }

  // Settings of a protocol-handler run over folder_, which holds |log| as
  // an installation of this engine (or, with |old_format|, of the former
  // one), so that the run goes straight to the steps.
  std::unique_ptr<Settings> MakeSettings(const InstallLog& log, bool old_format = false,
                                         const std::wstring& protocol = L"proto") {
    EXPECT_TRUE(log.Save(folder_.Append(old_format ? kTarselInstallLogFileName
                                                   : Installation::kInstallLogFileName)));
    const base::CommandLine command_line = base::CommandLine::FromArgv(
        {L"installer.exe", L"--" + W(kRegisterAsProtocolHandlerSwitch) + L"=" + protocol});
    auto settings =
        std::make_unique<Settings>(command_line, false, false, false, folder_, old_format, false);
    EXPECT_TRUE(test::WaitForSettingsObtained(settings.get()));
    EXPECT_EQ(Settings::kOperationRegisterProtocolHandler, settings->GetOperation());
    return settings;
  }

  // Runs |steps| followed by Succeed through |installer|.
  void RunSteps(Installer* installer, Settings* settings,
                std::vector<void (Installer::*)()> steps) {
    ASSERT_EQ(Settings::kOperationRegisterProtocolHandler, settings->GetOperation());
    installer->SetStepListBinderForTesting(base::Bind(
        [](std::vector<void (Installer::*)()> methods, Installer* target, int32_t) {
          Installer::StepList list;
          for (auto method : methods)
            list.push_back(base::Bind(method, base::Unretained(target)));
          list.push_back(base::Bind(&Installer::Succeed, base::Unretained(target)));
          return list;
        },
        steps));
    base::LoopRunner runner;
    observer_.runner = &runner;
    installer->AddObserver(&observer_);
    installer->Run(settings);
    runner.Run();
    installer->RemoveObserver(&observer_);
  }

  std::wstring UninstallKey(const wchar_t* suffix) const { return GetUninstallKeyName(suffix); }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"RegistrySteps"};
  base::ScopedTempDir temp_dir_;
  base::FilePath folder_;
  std::wstring product_;
  std::wstring exe_;
  std::wstring progid_;
  std::wstring smi_;
  std::wstring sandbox_;
  RunObserver observer_;
};

TEST_F(RegistryStepsTest, SetUpRegistryWritesResolvedRowsAndRecordsThem) {
  // Another installation of this version holds the plain uninstall name.
  RegistryKey taken;
  ASSERT_EQ(ERROR_SUCCESS,
            taken.Create(HKEY_CURRENT_USER, UninstallKey(L"").c_str(), KEY_ALL_ACCESS | k32));
  taken.Close();

  std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
  ASSERT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
  ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;

  const HKEY cu = HKEY_CURRENT_USER;
  const std::wstring uninstall = UninstallKey(L"1");
  const std::wstring quoted = L"\"" + Launcher() + L"\"";
  EXPECT_EQ(product_ + L" Web Document",
            ReadString(cu, L"Software\\Classes\\" + progid_, L"FriendlyTypeName"));
  EXPECT_EQ(quoted + L" -noautoupdate -- \"%1\"",
            ReadString(cu, L"Software\\Classes\\" + progid_ + L"\\shell\\open\\command", nullptr));
  EXPECT_EQ(L"", ReadString(cu, L"Software\\Classes\\" + progid_ + L"\\shell\\open\\ddeexec\\Topic",
                            nullptr));
  EXPECT_EQ(quoted + L" \"%1\"",
            ReadString(cu, L"Software\\Classes\\Applications\\" + exe_ + L"\\shell\\open\\command",
                       nullptr));
  EXPECT_EQ(smi_ + L"\\Capabilities",
            ReadString(cu, L"Software\\RegisteredApplications", (product_ + L" Stable").c_str()));
  EXPECT_EQ(product_ + L" Stable " + W(GetVersionString()),
            ReadString(cu, uninstall, L"DisplayName", k32));
  EXPECT_EQ(folder_.value(), ReadString(cu, uninstall, L"InstallLocation", k32));
  EXPECT_EQ(L"https://help.example/", ReadString(cu, uninstall, L"HelpLink", k32));
  EXPECT_EQ(product_ + L"Co", ReadString(cu, uninstall, L"Publisher", k32));
  RegistryKey entry;
  DWORD no_modify = 0;
  ASSERT_EQ(ERROR_SUCCESS, entry.Open(cu, uninstall.c_str(), KEY_READ | k32));
  EXPECT_EQ(ERROR_SUCCESS, entry.ReadValueDW(L"NoModify", &no_modify));
  EXPECT_EQ(1u, no_modify);
  // The plain name still belongs to the other installation alone.
  EXPECT_EQ(L"<missing>", ReadString(cu, UninstallKey(L""), L"DisplayName", k32));

  // Every value written is recorded, resolved, under the root it went to;
  // only the machine-wide "ddeexec" deletion did not apply.
  const InstallLog& log = std::as_const(installer).install_log();
  EXPECT_TRUE(log.hklm_keys.empty());
  size_t values = 0;
  const InstallLogRegistryKey* uninstall_record = nullptr;
  const InstallLogRegistryKey* applications_record = nullptr;
  for (const InstallLogRegistryKey& record : log.hkcu_keys) {
    EXPECT_EQ(std::string::npos, record.path.find('{')) << record.path;
    for (const InstallLogRegistryValue& value : record.values) {
      EXPECT_EQ(std::wstring::npos, value.name.find(L'{')) << record.path;
      EXPECT_EQ(std::wstring::npos, value.data.find(L'{')) << record.path;
    }
    values += record.values.size();
    if (W(record.path) == uninstall)
      uninstall_record = &record;
    if (W(record.path) == L"Software\\Classes\\Applications\\" + exe_ + L"\\shell\\open\\command")
      applications_record = &record;
  }
  const size_t hidden = base::IsFeatureEnabled(kHideFromProgramsFeature) ? 1 : 0;
  EXPECT_EQ(kRegistrySetUpRowCount - 1 + hidden, values);
  ASSERT_TRUE(uninstall_record);
  EXPECT_EQ(1, uninstall_record->cleanup_depth);
  EXPECT_EQ(11 + hidden, uninstall_record->values.size());
  ASSERT_TRUE(applications_record);
  EXPECT_EQ(4, applications_record->cleanup_depth);
  // Recording ended with the step.
  EXPECT_EQ(nullptr, installer.GetInstallLogRecorder(HKEY_CURRENT_USER));
}

// A value as the registry holds it: its type and its data (the text of a
// string, the number of a DWORD), or "<missing>".
std::wstring ReadTyped(HKEY root, const std::wstring& path, const wchar_t* name, REGSAM view) {
  RegistryKey key;
  if (key.Open(root, path.c_str(), KEY_READ | view) != ERROR_SUCCESS)
    return L"<missing key>";
  DWORD type = 0;
  DWORD size = 0;
  if (::RegQueryValueExW(key.Handle(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return L"<missing>";
  std::vector<BYTE> data(size + sizeof(wchar_t));
  if (::RegQueryValueExW(key.Handle(), name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return L"<unreadable>";
  std::wstring text = base::NumberToString16(static_cast<unsigned>(type)) + L":";
  if (type == REG_DWORD && size == sizeof(DWORD))
    return text + base::NumberToString16(*reinterpret_cast<const DWORD*>(data.data()));
  if (type == REG_SZ)
    return text + std::wstring(reinterpret_cast<const wchar_t*>(data.data()),
                               wcsnlen(reinterpret_cast<const wchar_t*>(data.data()),
                                       size / sizeof(wchar_t)));
  return text + base::NumberToString16(static_cast<unsigned>(size)) + L" bytes";
}

// Every row of the set-up table of a per-user installation, as the
// registry holds it afterwards, written out here from the product's
// documented registration rather than from the table itself.
TEST_F(RegistryStepsTest, SetUpRegistryWritesEveryRowAsDocumented) {
  std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
  ASSERT_FALSE(settings->IsFlagSet(Settings::ALL_USERS_FLAG));
  ASSERT_GE(base::win::GetWindowsVersion(), base::win::VERSION_VISTA);
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
  ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;

  const std::wstring ps = progid_;
  const std::wstring product_stream = product_ + L" " + W(GetStreamName());
  const std::wstring launcher = folder_.value() + L"\\Launcher.exe";
  const std::wstring quoted = L"\"" + launcher + L"\"";
  const std::wstring classes = L"Software\\Classes\\";
  const std::wstring command = classes + ps + L"\\shell\\open\\command";
  const std::wstring ddeexec = classes + ps + L"\\shell\\open\\ddeexec";
  const std::wstring app_paths =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe_;
  const std::wstring uninstall = UninstallKey(L"");
  const std::wstring sz = L"1:";
  const std::wstring none = L"0:0 bytes";
  struct Row {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
    REGSAM view;
  };
  std::vector<Row> rows = {
      {classes + ps, L"FriendlyTypeName", sz + product_ + L" Web Document", k64},
      {classes + ps, L"URL Protocol", sz, k64},
      {classes + ps + L"\\DefaultIcon", nullptr, sz + launcher + L",0", k64},
      {command, nullptr, sz + quoted + L" -noautoupdate -- \"%1\"", k64},
      {ddeexec, nullptr, sz, k64},
      {ddeexec + L"\\Application", nullptr, sz, k64},
      {ddeexec + L"\\Topic", nullptr, sz, k64},
      {classes + L".vex", nullptr, sz + ps + L".Extension", k64},
  };
  for (const wchar_t* ext :
       {L".vex", L".tavdownload", L".htm", L".html", L".pdf", L".shtml", L".xht", L".xhtml"}) {
    rows.push_back({classes + ext + L"\\OpenWithProgIDs", ps.c_str(), none, k64});
  }
  const std::wstring smi = smi_;
  const std::vector<Row> more = {
      {classes + L"Applications\\" + exe_ + L"\\shell\\open\\command", nullptr,
       sz + quoted + L" \"%1\"", k64},
      {app_paths, nullptr, sz + quoted, k64},
      {app_paths, L"Path", sz + L"\"" + folder_.value() + L"\"", k64},
      {L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
       L"Assistant\\Persisted",
       launcher.c_str(), L"4:32", k64},
      {L"Software\\RegisteredApplications", product_stream.c_str(), sz + smi + L"\\Capabilities",
       k64},
      {smi, nullptr, sz + product_stream, k64},
      {smi + L"\\DefaultIcon", nullptr, sz + launcher + L",0", k64},
      {smi + L"\\InstallInfo", L"ShowIconsCommand", sz + quoted + L" --showicons", k64},
      {smi + L"\\InstallInfo", L"HideIconsCommand", sz + quoted + L" --hideicons", k64},
      {smi + L"\\InstallInfo", L"ReinstallCommand", sz + quoted + L" --makedefaultbrowser", k64},
      {smi + L"\\InstallInfo", L"IconsVisible", L"4:1", k64},
      {smi + L"\\shell\\open\\command", nullptr, sz + quoted, k64},
      {smi + L"\\Capabilities", L"ApplicationDescription", sz + L"Do more on the web", k64},
      {smi + L"\\Capabilities", L"ApplicationIcon", sz + quoted + L",0", k64},
      {smi + L"\\Capabilities", L"ApplicationName", sz + product_stream, k64},
  };
  rows.insert(rows.end(), more.begin(), more.end());
  for (const wchar_t* ext : {L".crx", L".htm", L".html", L".nex", L".tavdownload", L".pdf",
                             L".shtml", L".xht", L".xhtml"}) {
    rows.push_back({smi + L"\\Capabilities\\FileAssociations", ext, sz + ps, k64});
  }
  rows.push_back({smi + L"\\Capabilities\\Startmenu", L"StartMenuInternet", sz + ps, k64});
  for (const wchar_t* scheme : {L"http", L"https", L"ftp", L"mailto"})
    rows.push_back({smi + L"\\Capabilities\\UrlAssociations", scheme, sz + ps, k64});
  const std::wstring version = W(GetVersionString());
  const std::vector<Row> entry = {
      {uninstall, L"DisplayName", sz + product_stream + L" " + version, k32},
      {uninstall, L"DisplayIcon", sz + quoted + L",0", k32},
      {uninstall, L"DisplayVersion", sz + version, k32},
      {uninstall, L"HelpLink", sz + L"https://help.example/", k32},
      {uninstall, L"InstallLocation", sz + folder_.value(), k32},
      {uninstall, L"NoModify", L"4:1", k32},
      {uninstall, L"NoRepair", L"4:1", k32},
      {uninstall, L"Publisher", sz + product_ + L"Co", k32},
      {uninstall, L"UninstallString", sz + quoted + L" /uninstall", k32},
      {uninstall, L"URLInfoAbout", sz + L"https://home.example/", k32},
      {uninstall, L"URLUpdateInfo", sz + L"https://dl.example/", k32},
  };
  rows.insert(rows.end(), entry.begin(), entry.end());
  // Every row but the machine-wide deletion of the DDE key.
  ASSERT_EQ(kRegistrySetUpRowCount - 1, rows.size());
  for (const Row& row : rows) {
    EXPECT_EQ(row.value, ReadTyped(HKEY_CURRENT_USER, row.key, row.name, row.view))
        << row.key << " | " << (row.name ? base::WideToUTF8(row.name) : "(default)");
  }
}

TEST_F(RegistryStepsTest, AllUsersSetUpWritesMachineRowsOnly) {
  std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
  ASSERT_TRUE(settings->SetFlag(Settings::ALL_USERS_FLAG, true));
  // A stale DDE key of an older registration goes.
  const std::wstring ddeexec = L"Software\\Classes\\" + progid_ + L"\\shell\\open\\ddeexec";
  RegistryKey stale;
  ASSERT_EQ(ERROR_SUCCESS,
            stale.Create(HKEY_LOCAL_MACHINE, (ddeexec + L"\\Topic").c_str(), KEY_ALL_ACCESS | k64));
  stale.Close();

  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
  ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;

  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, ddeexec));
  EXPECT_EQ(product_ + L" Web Document",
            ReadString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + progid_, L"FriendlyTypeName"));
  EXPECT_EQ(folder_.value(),
            ReadString(HKEY_LOCAL_MACHINE, UninstallKey(L""), L"InstallLocation", k32));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\" + progid_));
  EXPECT_TRUE(std::as_const(installer).install_log().hkcu_keys.empty());
  for (const InstallLogRegistryKey& record : std::as_const(installer).install_log().hklm_keys)
    EXPECT_EQ(std::string::npos, record.path.find("ddeexec")) << record.path;
}

LONG AlwaysDenied(HKEY, const std::wstring&) { return ERROR_ACCESS_DENIED; }
int g_probes = 0;
LONG CountingDenied(HKEY, const std::wstring&) {
  ++g_probes;
  return ERROR_ACCESS_DENIED;
}
LONG AlwaysFree(HKEY, const std::wstring&) { return ERROR_FILE_NOT_FOUND; }

TEST_F(RegistryStepsTest, UninstallKeySearchTakesUnreadableNamesAsUsedAndEnds) {
  // A name that exists but may not be read is in use too.
  RegistryKey locked;
  ASSERT_EQ(ERROR_SUCCESS,
            locked.Create(HKEY_CURRENT_USER, UninstallKey(L"").c_str(), KEY_ALL_ACCESS | k32));
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;SD;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor(raw);
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(locked.Handle(), DACL_SECURITY_INFORMATION, descriptor.Get()));
  locked.Close();
  std::wstring name;
  ASSERT_TRUE(ChooseUninstallKeyName(HKEY_CURRENT_USER, &name));
  EXPECT_EQ(UninstallKey(L"1"), name);

  // A search that is denied everywhere ends after the bound.
  g_probes = 0;
  SetUninstallKeyProbeForTesting(&CountingDenied);
  EXPECT_FALSE(ChooseUninstallKeyName(HKEY_CURRENT_USER, &name));
  EXPECT_EQ(kMaxUninstallKeySuffix + 1, g_probes);

  // And the step fails the run with nothing written.
  SetUninstallKeyProbeForTesting(&AlwaysDenied);
  std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
  EXPECT_TRUE(observer_.terminated);
  EXPECT_EQ(IDS_ERROR_INSTALL_FAILED, observer_.error_id);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\" + progid_));
}

TEST_F(RegistryStepsTest, FailedUninstallEntryFailsTheRunAndUndoesEverything) {
  // The uninstall key exists but may not be written; the search is told it
  // is free, so the step writes into it and fails there.
  SetUninstallKeyProbeForTesting(&AlwaysFree);
  RegistryKey locked;
  ASSERT_EQ(ERROR_SUCCESS,
            locked.Create(HKEY_CURRENT_USER, UninstallKey(L"").c_str(), KEY_ALL_ACCESS | k32));
  PSECURITY_DESCRIPTOR raw = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;KRSD;;;WD)", SDDL_REVISION_1, &raw, nullptr));
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor(raw);
  ASSERT_EQ(ERROR_SUCCESS,
            ::RegSetKeySecurity(locked.Handle(), DACL_SECURITY_INFORMATION, descriptor.Get()));
  locked.Close();

  std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
  EXPECT_TRUE(observer_.terminated);
  EXPECT_FALSE(observer_.succeeded);
  EXPECT_EQ(IDS_ERROR_INSTALL_FAILED, observer_.error_id);
  EXPECT_EQ(L"", observer_.error_text);
  EXPECT_EQ("Failed writing uninstallation information", observer_.error_detail);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\" + progid_));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, smi_));
  EXPECT_EQ(L"<missing>", ReadString(HKEY_CURRENT_USER, L"Software\\RegisteredApplications",
                                     (product_ + L" Stable").c_str()));
}

TEST_F(RegistryStepsTest, CleanUpRegistryWithDamagedLogStaysInsideTheProductKeys) {
  const HKEY cu = HKEY_CURRENT_USER;
  const std::string sandbox = base::WideToUTF8(sandbox_);
  for (const wchar_t* sub : {L"\\Keep\\Leaf", L"\\Product\\Sub\\Leaf", L"\\Values"}) {
    RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(cu, (sandbox_ + sub).c_str(), KEY_ALL_ACCESS | k64));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Sentinel", L"x"));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"Recorded", L"y"));
  }
  RegistryKey top;
  ASSERT_EQ(ERROR_SUCCESS, top.Create(cu, sandbox_.c_str(), KEY_ALL_ACCESS | k64));
  ASSERT_EQ(ERROR_SUCCESS, top.WriteValue(L"Sentinel", L"x"));
  top.Close();

  // The product's own keys, and a value of another program beside the
  // product's in a shared key.
  const std::wstring progid_key = L"Software\\Classes\\" + progid_;
  ASSERT_NO_FATAL_FAILURE(WriteSz(cu, progid_key, L"FriendlyTypeName", L"doc"));
  ASSERT_NO_FATAL_FAILURE(WriteSz(cu, progid_key + L"\\shell\\open\\command", nullptr, L"cmd"));
  ASSERT_NO_FATAL_FAILURE(
      WriteSz(cu, L"Software\\RegisteredApplications", (product_ + L" Stable").c_str(), L"caps"));
  ASSERT_NO_FATAL_FAILURE(
      WriteSz(cu, L"Software\\RegisteredApplications", (product_ + L"Other").c_str(), L"other"));

  InstallLog log;
  const std::vector<InstallLogRegistryValue> recorded = {{"REG_SZ", L"Recorded", L"y"}};
  log.hkcu_keys = {
      // Damaged: the sandbox itself (2 components), depths
      // beyond the path, empty components, values of a 2-component key.
      {sandbox + "\\Product\\Sub\\Leaf", 4, {}},
      {sandbox + "\\Keep\\Leaf", 5, {}},
      {sandbox + "\\Keep\\Leaf", 9, {}},
      {sandbox + "\\Keep\\Leaf", 1000000, {}},
      {sandbox + "\\\\Keep", 1, {}},
      {"\\" + sandbox + "\\Keep", 2, {}},
      {sandbox, 0, recorded},
      // Well-formed, but not keys or values of the product's registry
      // set-up.
      {sandbox + "\\Product\\Sub\\Leaf", 3, {}},
      {sandbox + "\\Values", 0, recorded},
      {"Software\\RegisteredApplications", 0, {{"REG_SZ", product_ + L"Other", L"other"}}},
      // Sound: the tree one level above the command key, and a value the
      // set-up writes into a shared key.
      {base::WideToUTF8(progid_key) + "\\shell\\open\\command", 2, {}},
      {"Software\\RegisteredApplications", 0, {{"REG_SZ", product_ + L" Stable", L"caps"}}},
  };
  std::unique_ptr<Settings> settings = MakeSettings(log);
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::CleanUpRegistry});
  ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;

  EXPECT_EQ(L"x", ReadString(cu, sandbox_, L"Sentinel"));
  EXPECT_EQ(L"y", ReadString(cu, sandbox_ + L"\\Keep\\Leaf", L"Recorded"));
  EXPECT_EQ(L"y", ReadString(cu, sandbox_ + L"\\Product\\Sub\\Leaf", L"Recorded"));
  EXPECT_EQ(L"y", ReadString(cu, sandbox_ + L"\\Values", L"Recorded"));
  EXPECT_EQ(L"other",
            ReadString(cu, L"Software\\RegisteredApplications", (product_ + L"Other").c_str()));
  EXPECT_TRUE(KeyExists(cu, L"Software"));
  EXPECT_FALSE(KeyExists(cu, progid_key + L"\\shell\\open"));
  EXPECT_EQ(L"doc", ReadString(cu, progid_key, L"FriendlyTypeName"));
  EXPECT_EQ(L"<missing>",
            ReadString(cu, L"Software\\RegisteredApplications", (product_ + L" Stable").c_str()));
  DeleteValueAndEmptyKeys(cu, L"Software\\RegisteredApplications", product_ + L"Other", 0);
}

// Every key of |root| below |path|, as paths.
void CollectKeys(HKEY root, const std::wstring& path, std::set<std::wstring>* keys) {
  std::vector<std::wstring> names;
  for (base::win::RegistryKeyIterator it(root, path.c_str()); it.Valid(); ++it)
    names.push_back(it.Name());
  for (const std::wstring& name : names) {
    const std::wstring child = path.empty() ? name : path + L"\\" + name;
    keys->insert(child);
    CollectKeys(root, child, keys);
  }
}

// An installation's registry set-up and the uninstallation's clean-up leave
// the registry as it was: the keys the set-up created go again (shared
// parents too, once every record is done), while a key that was there
// before, empty or not, stays.
TEST_F(RegistryStepsTest, CleanUpRemovesTheKeysTheSetUpCreated) {
  // The emulator's shell writes its folder keys into the user's registry at
  // the process's first folder look-up: that must not happen inside the
  // redirect, where it would count as keys the set-up made.
  MakeSettings(InstallLog());
  test::ScopedUserRegistryRedirect redirect(test::TestRegistryKeyName(L"RegStCreated"));
  const HKEY cu = HKEY_CURRENT_USER;
  RegistryKey existing;
  ASSERT_EQ(ERROR_SUCCESS,
            existing.Create(cu, L"Software\\RegisteredApplications", KEY_ALL_ACCESS | k64));
  existing.Close();
  ASSERT_NO_FATAL_FAILURE(WriteSz(cu, L"Software\\Classes\\.htm", nullptr, L"OtherHTML"));
  std::set<std::wstring> before;
  CollectKeys(cu, L"", &before);

  InstallLog installed;
  {
    std::unique_ptr<Settings> settings = MakeSettings(InstallLog());
    Installer installer;
    RunSteps(&installer, settings.get(), {&Installer::SetUpRegistry});
    ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;
    installed = std::as_const(installer).install_log();
  }
  const std::wstring app_paths =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + exe_;
  EXPECT_TRUE(KeyExists(cu, app_paths));
  int app_paths_levels = -1;
  int registered_levels = -1;
  for (const InstallLogRegistryKey& record : installed.hkcu_keys) {
    if (W(record.path) == app_paths)
      app_paths_levels = record.created_levels;
    if (W(record.path) == L"Software\\RegisteredApplications")
      registered_levels = record.created_levels;
  }
  // "Software" was there; Microsoft, Windows, CurrentVersion, App Paths
  // and the key itself were not.
  EXPECT_EQ(5, app_paths_levels);
  EXPECT_EQ(0, registered_levels);

  observer_.succeeded = false;
  std::unique_ptr<Settings> settings = MakeSettings(installed);
  Installer installer;
  RunSteps(&installer, settings.get(), {&Installer::CleanUpRegistry});
  ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;
  // What the uninstallation's last step does once nothing can fail.
  RemoveCreatedRegistryKeys(settings->GetStatus());
  std::set<std::wstring> after;
  CollectKeys(cu, L"", &after);
  EXPECT_EQ(before, after);
}

// The records of the former engine hold product placeholders, resolved
// before anything is checked: its keys of the set-up table go, while a
// record that resolves to a shared key ("Software\Classes\{Product}" of the
// plain product type is "Software\Classes\") is refused.
TEST_F(RegistryStepsTest, CleanUpOfFormerEngineResolvesItsProductType) {
  const HKEY cu = HKEY_CURRENT_USER;
  for (const char* type : {"2", "0"}) {
    SCOPED_TRACE(type);
    test::ScopedUserRegistryRedirect redirect(
        test::TestRegistryKeyName(L"RegistryStepsOld" + W(type) + L"_"));
    const std::wstring name = W(type) == L"2" ? L"Labs" : L"";
    ASSERT_NO_FATAL_FAILURE(
        WriteSz(cu, L"Software\\Classes\\" + name + L"Stable\\shell", nullptr, L"old"));
    ASSERT_NO_FATAL_FAILURE(WriteSz(cu, L"Software\\Classes\\Labs\\Keep", nullptr, L"k"));
    ASSERT_NO_FATAL_FAILURE(WriteSz(cu, L"Software\\Classes\\.txt", nullptr, L"txtfile"));
    ASSERT_NO_FATAL_FAILURE(
        WriteSz(cu, L"Software\\RegisteredApplications", (name + L" Stable").c_str(), L"v"));
    ASSERT_NO_FATAL_FAILURE(WriteSz(cu, L"Software\\RegisteredApplications", L"Velmo", L"v"));
    const std::string ini = std::string("[System]\r\nVelmo Product=") + type + "\r\n";
    ASSERT_EQ(static_cast<int>(ini.size()),
              base::WriteFileBytes(folder_.Append(kOldPrefsDefaultFileName), ini.data(),
                                   static_cast<int>(ini.size())));
    InstallLog log;
    log.hkcu_keys = {{"Software\\Classes\\{Product}", 1, {}},
                     {"Software\\Classes\\{Product}Stable", 1, {}},
                     {"Software\\RegisteredApplications",
                      0,
                      {{"REG_SZ", L"{Product} Stable", L"v"}, {"REG_SZ", L"Velmo", L"v"}}}};
    std::unique_ptr<Settings> settings = MakeSettings(log, /*old_format=*/true);
    ASSERT_TRUE(settings->GetStatus().tarsel_installation());
    EXPECT_EQ(
        L"A " + name + L" " + name + L" {Product}",
        ResolveOldProductPlaceholders(L"A{SPProduct} {Product} {Product}", settings->GetStatus()));
    observer_ = RunObserver();
    Installer installer;
    RunSteps(&installer, settings.get(), {&Installer::CleanUpRegistry});
    ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;
    EXPECT_FALSE(KeyExists(cu, L"Software\\Classes\\" + name + L"Stable"));
    EXPECT_EQ(L"<missing>",
              ReadString(cu, L"Software\\RegisteredApplications", (name + L" Stable").c_str()));
    EXPECT_EQ(L"v", ReadString(cu, L"Software\\RegisteredApplications", L"Velmo"));
    EXPECT_EQ(L"k", ReadString(cu, L"Software\\Classes\\Labs\\Keep", nullptr));
    EXPECT_EQ(L"txtfile", ReadString(cu, L"Software\\Classes\\.txt", nullptr));
  }
}

TEST_F(RegistryStepsTest, ProtocolIsRegisteredOnlyForMachineWideClients) {
  const std::wstring protocol = L"proto" + product_;
  const std::wstring associations =
      L"SOFTWARE\\Clients\\StartMenuInternet\\" + progid_ + L"\\Capabilities\\URLAssociations";
  // A per-user installation: nothing is written.
  {
    InstallLog log;
    log.hkcu_keys = {{base::WideToUTF8(associations), 1, {{"REG_SZ", L"http", progid_}}}};
    std::unique_ptr<Settings> settings = MakeSettings(log, false, protocol);
    Installer installer;
    RunSteps(&installer, settings.get(), {&Installer::RegisterAsProtocolHandler});
    ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, smi_));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\" + protocol));
  }
  observer_.succeeded = false;
  {
    InstallLog log;
    log.hklm_keys = {
        {base::ToLowerASCII(base::WideToUTF8(associations)), 1, {{"REG_SZ", L"http", progid_}}}};
    std::unique_ptr<Settings> settings = MakeSettings(log, false, protocol);
    Installer installer;
    RunSteps(&installer, settings.get(), {&Installer::RegisterAsProtocolHandler});
    ASSERT_TRUE(observer_.succeeded) << observer_.error_detail;
    EXPECT_EQ(progid_, ReadString(HKEY_LOCAL_MACHINE, associations, protocol.c_str()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\" + protocol));
  }
}

TEST(RegistryStepsHelpersTest, CleanupKeyPath) {
  std::wstring key;
  EXPECT_TRUE(GetCleanupKeyPath(L"Software\\Classes\\Applications\\velmo.exe\\shell\\open\\command",
                                4, &key));
  EXPECT_EQ(L"Software\\Classes\\Applications\\velmo.exe", key);
  EXPECT_TRUE(GetCleanupKeyPath(L"Software\\Classes\\VelmoStable", 0, &key));
  EXPECT_EQ(L"Software\\Classes\\VelmoStable", key);
  EXPECT_TRUE(GetCleanupKeyPath(GetUninstallRegistryKey() + L"\\Velmo 1.0", 1, &key));
  EXPECT_EQ(GetUninstallRegistryKey() + L"\\Velmo 1.0", key);
  // Values under the keys other programs register under are removed one by
  // one.
  EXPECT_TRUE(GetCleanupKeyPath(L"Software\\RegisteredApplications", 0, &key));
  EXPECT_EQ(L"Software\\RegisteredApplications", key);
  // Three components are the least a clean-up may reach.
  EXPECT_TRUE(GetCleanupKeyPath(L"Software\\Velmo\\Stable\\Data", 2, &key));
  EXPECT_EQ(L"Software\\Velmo\\Stable", key);

  const struct {
    const wchar_t* path;
    int depth;
  } refused[] = {
      {L"Software\\Classes\\VelmoStable", 2},  // "Software\Classes"
      {L"Software\\Classes\\VelmoStable", 4},  // beyond the path
      {L"Software\\Classes\\VelmoStable", -1},
      {L"Software\\Classes", 0},
      {L"Software", 1},
      {L"", 0},
      {L"Software\\\\Classes\\VelmoStable", 1},
      {L"Software\\Classes\\VelmoStable\\", 1},
      {L"Software\\Classes\\Applications\\velmo.exe", 2},
      {L"SOFTWARE\\Clients\\StartMenuInternet\\VelmoStable", 2},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmo 1.0", 2},
      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmo 1.0", 4},
      // Two components, neither shared nor above a shared key: only the
      // floor of three components keeps these from being deleted whole.
      {L"Software\\Velmo\\Stable", 2},
      {L"Velmo\\Stable\\Data\\Cache", 3},
  };
  for (const auto& entry : refused)
    EXPECT_FALSE(GetCleanupKeyPath(entry.path, entry.depth, &key)) << entry.path << entry.depth;
}

// An upgrade's set-up finds the keys above its records there, created by
// the installation it replaces: they stay the installation's to remove, also
// above an uninstall entry whose name changed with the version, but never a
// key the installation found.
TEST(RegistryStepsHelpersTest, UpgradeInheritsTheKeysTheInstallationCreated) {
  const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  auto record = [](const std::string& path, int created_levels) {
    InstallLogRegistryKey key;
    key.path = path;
    key.created_levels = created_levels;
    return key;
  };
  const InstallLogRegistryKeys old_records = {record(uninstall + "\\Velmo 1.0", 2),
                                              record("Software\\Clients\\Velmo\\Open", 2),
                                              record("Software\\RegisteredApplications", 0)};
  InstallLogRegistryKeys records = {record(uninstall + "\\Velmo 2.0", 1),
                                    record("SOFTWARE\\Clients\\Velmo\\Open", 0),
                                    record("Software\\Clients\\Velmo\\Open\\Other", 1),
                                    record("Software\\RegisteredApplications", 0)};
  InheritCreatedKeys(old_records, &records);
  std::vector<int> levels;
  for (const InstallLogRegistryKey& key : records)
    levels.push_back(key.created_levels);
  EXPECT_EQ((std::vector<int>{2, 2, 3, 0}), levels);
}

TEST(RegistryStepsHelpersTest, ShellCommandSurveyAndNames) {
  std::wstring program;
  std::wstring parameters;
  ASSERT_TRUE(SplitShellCommand(L"\"C:\\Program Files\\ie.exe\" -a -b", &program, &parameters));
  EXPECT_EQ(L"C:\\Program Files\\ie.exe", program);
  EXPECT_EQ(L"-a -b", parameters);
  ASSERT_TRUE(SplitShellCommand(L"C:\\ie.exe -reinstall x", &program, &parameters));
  EXPECT_EQ(L"C:\\ie.exe", program);
  EXPECT_EQ(L"-reinstall x", parameters);
  ASSERT_TRUE(SplitShellCommand(L"\"C:\\ie.exe\"", &program, &parameters));
  EXPECT_EQ(L"", parameters);
  EXPECT_FALSE(SplitShellCommand(L"\"C:\\ie.exe", &program, &parameters));
  EXPECT_FALSE(SplitShellCommand(L"", &program, &parameters));

  EXPECT_EQ(L"", GetOldProductTypeName(0));
  EXPECT_EQ(L"Next", GetOldProductTypeName(1));
  EXPECT_EQ(L"Labs", GetOldProductTypeName(2));
  EXPECT_EQ(L"Invalid", GetOldProductTypeName(3));

  SetProductConfigForTesting(
      R"({"product_name": "Tst", "urls": {"uninstall_survey": "https://s.example/u"}})");
  const std::wstring version = base::UTF8ToWide(GetVersionString());
  EXPECT_EQ(GetUninstallRegistryKey() + L"\\Tst " + version + L"7", GetUninstallKeyName(L"7"));
  const std::string id = "ab-1";
  const std::string no_id;
  EXPECT_EQ(L"https://s.example/u?version=" + version + L"&uuid=ab-1&src=x&y=z",
            BuildUninstallSurveyUrl(false, &id, "https://w.example/?src=x&y=z"));
  // A known user-data folder without an id still gives the empty id.
  EXPECT_EQ(L"https://s.example/u?version=" + version + L"&uuid=",
            BuildUninstallSurveyUrl(false, &no_id, "https://w.example/a?b?c"));
  EXPECT_EQ(L"https://s.example/u?version=" + version,
            BuildUninstallSurveyUrl(false, nullptr, "https://w.example/a?b?c"));
  EXPECT_EQ(L"", BuildUninstallSurveyUrl(true, &id, ""));
  SetProductConfigForTesting(R"({"product_name": "Tst"})");
  EXPECT_EQ(L"", BuildUninstallSurveyUrl(false, &id, ""));
  SetProductConfigForTesting(nullptr);
}

// The survey's id comes from the update checker's global storage over the
// user-data folder: a value still in that folder's fallback file counts, and
// so does one only in the company key.
TEST_F(RegistryStepsTest, UninstallSurveyIdFromTheGlobalStorage) {
  const base::FilePath user_data = temp_dir_.GetPath().Append(L"User Data");
  ASSERT_TRUE(base::CreateDirectoryTree(user_data));
  const std::string fallback = "{\"GS\": {\"UUID\": \"from-file\"}}";
  ASSERT_EQ(static_cast<int>(fallback.size()),
            base::WriteFileBytes(user_data.Append(autoupdate::GlobalStorage::kFallbackFileName),
                                 fallback.data(), static_cast<int>(fallback.size())));
  const std::wstring company_key = L"Software\\" + product_ + L"Co";
  {
    autoupdate::GlobalStorage storage(/*copy_only=*/false);
    ASSERT_EQ(company_key, storage.key_path());
    EXPECT_EQ("from-file", ReadUninstallSurveyId(&storage, user_data));
  }
  {
    autoupdate::GlobalStorage storage(/*copy_only=*/false);
    ASSERT_TRUE(
        base::DeletePath(user_data.Append(autoupdate::GlobalStorage::kFallbackFileName), false));
    RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, company_key.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, key.WriteValue(L"UUID", L"from-key"));
    EXPECT_EQ("from-key", ReadUninstallSurveyId(&storage, user_data));
    ASSERT_EQ(ERROR_SUCCESS, key.DeleteValue(L"UUID"));
    EXPECT_EQ("", ReadUninstallSurveyId(&storage, user_data));
  }
  DeleteTree(HKEY_CURRENT_USER, company_key, k64);
}

}  // namespace
}  // namespace installer
