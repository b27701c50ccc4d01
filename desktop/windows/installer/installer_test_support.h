// Pieces shared by the tests that run a real Installer: a delegate that
// records the installer's reports, the redirection of the current user's
// registry to a key of the test's own, the installation's interruption
// event, settings for a folder, a run to its end and the experiment states.
#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_SUPPORT_H_

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/callback.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/string_number_conversions.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_file_steps.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// The status files that upgrades preserved in the installation at
// |install_folder|.
inline std::vector<base::FilePath> PreservedStatusFiles(const base::FilePath& install_folder) {
  std::vector<base::FilePath> preserved;
  base::DirectoryEnumerator enumerator(install_folder.Append(kOldStatusFolderName), false,
                                       base::DirectoryEnumerator::FILES);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next())
    preserved.push_back(path);
  return preserved;
}

// The built-in product configuration with the major version raised by
// |delta|, while it lives: the version of a newer package.
class ScopedNewerVersion {
 public:
  explicit ScopedNewerVersion(int delta) {
    std::string text = LoadProductConfigResource();
    const std::string plain = "\"major_delta\": 0";
    const size_t at = text.find(plain);
    EXPECT_NE(std::string::npos, at);
    if (at != std::string::npos)
      text.replace(at, plain.size(), "\"major_delta\": " + std::to_string(delta));
    SetProductConfigForTesting(text.c_str());
  }
  ScopedNewerVersion(const ScopedNewerVersion&) = delete;
  ScopedNewerVersion& operator=(const ScopedNewerVersion&) = delete;
  ~ScopedNewerVersion() { SetProductConfigForTesting(nullptr); }
};

// Records the installer's reports as short texts and ends the loop's run at
// the end of the installer's run. Errors, success and termination are always
// recorded; |kinds| chooses which of the other reports are.
class RecordingInstallerDelegate : public InstallerDelegate {
 public:
  enum Kinds : unsigned {
    // "ready", "starting:<0|1>" and "returned".
    kMainProcessReports = 1u << 0,
    // "total:<n>" and "step".
    kStepReports = 1u << 1,
    kAllReports = kMainProcessReports | kStepReports,
  };

  explicit RecordingInstallerDelegate(unsigned kinds = kAllReports) : kinds_(kinds) {}

  void OnInstallFolderReady() override {
    if (kinds_ & kMainProcessReports)
      events.push_back("ready");
  }
  void OnStartingNewMainProcess(bool value) override {
    if (kinds_ & kMainProcessReports)
      events.push_back(std::string("starting:") + (value ? "1" : "0"));
  }
  void OnReturnedToPreviousMainProcess() override {
    if (kinds_ & kMainProcessReports)
      events.push_back("returned");
  }
  void OnTotalSteps(int total_steps) override {
    if (kinds_ & kStepReports)
      events.push_back("total:" + base::NumberToString(total_steps));
  }
  void OnStep() override {
    if (kinds_ & kStepReports)
      events.push_back("step");
  }
  void OnError(int string_id, const std::wstring& text, const std::string& detail) override {
    events.push_back("error:" + base::NumberToString(string_id) + ":" + base::WideToUTF8(text) +
                     ":" + detail);
  }
  void OnSuccess() override {
    events.push_back("success");
    Quit();
  }
  void OnInstallerTerminated(bool success) override {
    events.push_back(std::string("terminated:") + (success ? "1" : "0"));
    Quit();
  }

  std::vector<std::string> events;
  base::LoopRunner* runner = nullptr;

 private:
  void Quit() {
    if (runner)
      runner->Quit();
  }

  const unsigned kinds_;
};

// "<prefix><process id>_<name of the running test>": a registry key name of
// the running test's own.
inline std::wstring TestRegistryKeyName(const std::wstring& prefix) {
  return prefix + base::NumberToString16(static_cast<unsigned>(::GetCurrentProcessId())) + L"_" +
         base::UTF8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

// Redirects HKEY_CURRENT_USER of this process to a fresh key (deleted at the
// end).
class ScopedUserRegistryRedirect {
 public:
  ScopedUserRegistryRedirect() = default;
  // Redirects to the key |name| at once.
  explicit ScopedUserRegistryRedirect(const std::wstring& name) { Start(name); }
  ScopedUserRegistryRedirect(const ScopedUserRegistryRedirect&) = delete;
  ScopedUserRegistryRedirect& operator=(const ScopedUserRegistryRedirect&) = delete;
  ~ScopedUserRegistryRedirect() { Stop(); }

  // Redirects to a fresh key named |name| below Software.
  void Start(const std::wstring& name) {
    path_ = L"Software\\" + name;
    ASSERT_EQ(ERROR_SUCCESS, root_.Create(HKEY_CURRENT_USER, path_.c_str(), KEY_ALL_ACCESS));
    ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, root_.Handle()));
  }

  // Ends the redirection and deletes the key (nothing when not started).
  void Stop() {
    if (path_.empty())
      return;
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    root_.Close();
    base::win::RegistryKey software;
    if (software.Open(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS) == ERROR_SUCCESS)
      software.DeleteKey(path_.substr(wcslen(L"Software\\")).c_str());
    path_.clear();
  }

  const std::wstring& path() const { return path_; }
  // The key the current user's registry goes to.
  const base::win::RegistryKey& root() const { return root_; }

 private:
  std::wstring path_;
  base::win::RegistryKey root_;
};

// The event that tells the installation of |install_folder| that it is
// interrupted.
inline base::win::ScopedHandle CreateInterruptedEvent(const base::FilePath& install_folder) {
  return base::win::ScopedHandle(::CreateEventW(
      nullptr, TRUE, FALSE,
      GetKernelObjectName(install_folder, kInstallationInterruptedEventName, true).c_str()));
}

// What a test that runs a real Installer sets up around it: the current
// user's registry redirected to a key of the test's own, the executable's
// folder pointed at the package folder and the installation's interruption
// event.
class ScopedInstallerRunEnvironment {
 public:
  ScopedInstallerRunEnvironment() = default;
  ScopedInstallerRunEnvironment(const ScopedInstallerRunEnvironment&) = delete;
  ScopedInstallerRunEnvironment& operator=(const ScopedInstallerRunEnvironment&) = delete;
  ~ScopedInstallerRunEnvironment() { Stop(); }

  // Redirects the registry to the key TestRegistryKeyName(|registry_prefix|)
  // below Software, the executable's folder to |package_folder| and makes
  // the interruption event of |install_folder|.
  void Start(const std::wstring& registry_prefix, const base::FilePath& install_folder,
             const base::FilePath& package_folder) {
    ASSERT_NO_FATAL_FAILURE(registry_.Start(TestRegistryKeyName(registry_prefix)));
    has_old_exe_dir_ = base::PathRegistry::Get(base::kPathExeDirectory, &old_exe_dir_);
    ASSERT_TRUE(base::PathRegistry::Override(base::kPathExeDirectory, package_folder));
    interrupted_event_ = CreateInterruptedEvent(install_folder);
    ASSERT_TRUE(interrupted_event_.IsValid());
  }

  // Ends the registry redirection and gives the executable's folder back
  // (the interruption event stays until the end).
  void Stop() {
    registry_.Stop();
    if (has_old_exe_dir_)
      base::PathRegistry::Override(base::kPathExeDirectory, old_exe_dir_);
    has_old_exe_dir_ = false;
  }

  const ScopedUserRegistryRedirect& registry() const { return registry_; }
  // Whether the executable's folder had an answer before Start(), and that
  // answer (the test executable's folder).
  bool has_old_exe_dir() const { return has_old_exe_dir_; }
  const base::FilePath& old_exe_dir() const { return old_exe_dir_; }
  const base::win::ScopedHandle& interrupted_event() const { return interrupted_event_; }

 private:
  ScopedUserRegistryRedirect registry_;
  bool has_old_exe_dir_ = false;
  base::FilePath old_exe_dir_;
  base::win::ScopedHandle interrupted_event_;
};

// Runs |installer| over |settings| until |delegate| (whose |runner| it sets
// for the run) quits the loop at the run's end, or 60 s pass. |before_loop|
// runs after Run() has taken the settings and before the first task.
template <typename Delegate>
void RunInstallerToItsEnd(Installer* installer, Settings* settings, Delegate* delegate,
                          base::Closure before_loop = base::Closure()) {
  base::LoopRunner runner;
  delegate->runner = &runner;
  base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(),
                                                  base::TimeSpan::FromSeconds(60));
  installer->Run(settings);
  if (before_loop)
    before_loop.Run();
  runner.Run();
  delegate->runner = nullptr;
}

// Settings of an installation into |install_folder| from |switches|, with
// the folder's status read. An uninstallation starts from the installation
// that holds the running executable; the given folder is chosen explicitly.
inline std::unique_ptr<Settings> MakeFolderSettings(const base::FilePath& install_folder,
                                                    const std::vector<std::wstring>& switches,
                                                    bool uninstall = false, bool silent = false,
                                                    bool autoupdate = false) {
  std::vector<std::wstring> argv = {L"installer.exe"};
  argv.insert(argv.end(), switches.begin(), switches.end());
  auto settings = std::make_unique<Settings>(base::CommandLine::FromArgv(argv), uninstall, silent,
                                             autoupdate, install_folder, false, false);
  EXPECT_TRUE(WaitForSettingsObtained(settings.get()));
  if (uninstall) {
    settings->SetInstallFolder(install_folder);
    EXPECT_TRUE(WaitForSettingsObtained(settings.get()));
  }
  return settings;
}

// Waits until every write queued for |path| on the preferences pool is done,
// so that the file read afterwards is the final one.
inline void FlushPrefsWrites(const base::FilePath& path) {
  base::WaitableEvent done(base::WaitableEvent::ResetPolicy::kManual,
                           base::WaitableEvent::InitialState::kNotSignaled);
  prefs::GetPrefsTaskPool()->GetSequenceForFile(path)->PostTask(
      FROM_HERE,
      base::Bind([](base::WaitableEvent* event) { event->Signal(); }, base::Unretained(&done)));
  done.Wait();
}

// The process-wide experiment states of the installer for one test: those
// of |command_line|, put back to the defaults afterwards.
class ScopedExperiments {
 public:
  explicit ScopedExperiments(const base::CommandLine& command_line) {
    base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
    features->ResetForTesting();
    RegisterInstallerExperiments(*features);
    features->InitializeFromReader(base::CommandLineFeatureReader(command_line));
  }
  ~ScopedExperiments() {
    base::FeatureRegistry* features = base::FeatureRegistry::GetInstance();
    features->ResetForTesting();
    RegisterInstallerExperiments(*features);
  }
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_TEST_SUPPORT_H_
