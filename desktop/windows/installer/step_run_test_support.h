// Helpers of the step tests: a real installer run over an install folder of
// the test's own, with the user's registry, the package folder and the
// shell folders (desktops, start menus, Quick Launch, roaming application
// data) redirected into the test's temporary folder, and with a step list of
// the test's choice.
#ifndef DESKTOP_WINDOWS_INSTALLER_STEP_RUN_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_STEP_RUN_TEST_SUPPORT_H_

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"
#include "desktop/windows/installer/installer_test_support.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// Remembers how the run ended and ends the loop's run then.
class StepRunDelegate : public InstallerDelegate {
 public:
  void OnInstallFolderReady() override {}
  void OnStartingNewMainProcess(bool) override {}
  void OnReturnedToPreviousMainProcess() override {}
  void OnTotalSteps(int) override {}
  void OnStep() override {}
  void OnError(int, const std::wstring&, const std::string& detail) override {
    errors.push_back(detail);
  }
  void OnSuccess() override {
    succeeded = true;
    Quit();
  }
  void OnInstallerTerminated(bool) override {
    terminated = true;
    Quit();
  }

  std::vector<std::string> errors;
  bool succeeded = false;
  bool terminated = false;
  base::LoopRunner* runner = nullptr;

 private:
  void Quit() {
    if (runner)
      runner->Quit();
  }
};

class StepRunTest : public ::testing::Test {
 protected:
  // What follows the steps under test: success, or a failure that rolls
  // everything back.
  enum Ending { kSucceed, kFail };

  struct SavedPath {
    int key;
    base::FilePath path;
  };

  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    const base::FilePath root = temp_dir_.GetPath();
    install_folder_ = root.Append(L"Velmo Test");
    package_folder_ = root.Append(L"package");
    user_desktop_ = root.Append(L"Desktop");
    common_desktop_ = root.Append(L"Common Desktop");
    start_menu_ = root.Append(L"Start Menu\\Programs");
    common_start_menu_ = root.Append(L"Common Start Menu\\Programs");
    roaming_ = root.Append(L"Roaming");
    quick_launch_ = roaming_.Append(L"Microsoft\\Internet Explorer\\Quick Launch");
    pins_folder_ = quick_launch_.Append(L"User Pinned\\TaskBar");
    local_app_data_ = root.Append(L"Local");
    // Where the runs keep their transaction journals, in folders of the
    // installer's own that go again with the last journal.
    for (const base::FilePath& folder :
         {package_folder_, user_desktop_, common_desktop_, start_menu_, common_start_menu_,
          quick_launch_, local_app_data_}) {
      ASSERT_TRUE(base::CreateDirectoryTree(folder));
    }
    const std::string files_list = "velmo.dll\r\n";
    ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName), files_list));

    // Every old answer is taken before the first override: some keys are
    // derived from others.
    const SavedPath redirects[] = {{base::kPathExeDirectory, package_folder_},
                                   {base::kPathUserDesktop, user_desktop_},
                                   {base::kPathCommonDesktop, common_desktop_},
                                   {base::kPathStartMenu, start_menu_},
                                   {base::kPathCommonStartMenu, common_start_menu_},
                                   {base::kPathRoamingAppData, roaming_},
                                   {base::kPathQuickLaunch, quick_launch_},
                                   {base::kPathLocalAppData, local_app_data_}};
    for (const SavedPath& redirect : redirects) {
      base::FilePath old;
      if (base::PathRegistry::Get(redirect.key, &old))
        saved_paths_.push_back({redirect.key, old});
    }
    for (const SavedPath& redirect : redirects)
      ASSERT_TRUE(base::PathRegistry::Override(redirect.key, redirect.path));

    // The current user's registry goes to a key of the test's own.
    ASSERT_NO_FATAL_FAILURE(registry_.Start(TestRegistryKeyName(L"VelmoStepTest_")));

    interrupted_event_ = CreateInterruptedEvent(install_folder_);
    ASSERT_TRUE(interrupted_event_.IsValid());
  }

  void TearDown() override {
    installer_.reset();
    settings_.reset();
    registry_.Stop();
    for (auto it = saved_paths_.rbegin(); it != saved_paths_.rend(); ++it)
      base::PathRegistry::Override(it->key, it->path);
  }

  static bool WriteText(const base::FilePath& path, const std::string& text) {
    return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
           static_cast<int>(text.size());
  }

  // Settings for the test's install folder with |switches| (and
  // |uninstall|), their status read.
  void MakeSettings(const std::vector<std::wstring>& switches, bool uninstall = false) {
    settings_ = MakeFolderSettings(install_folder_, switches, uninstall);
    installer_ = std::make_unique<Installer>();
    installer_->AddObserver(&delegate_);
  }

  // Runs the installer with |steps| followed by |ending| until the run ends.
  void RunSteps(const std::vector<void (Installer::*)()>& steps, Ending ending) {
    installer_->SetStepListBinderForTesting(
        base::Bind([steps, ending](Installer* installer, int32_t) -> Installer::StepList {
          Installer::StepList list;
          for (void (Installer::*step)() : steps)
            list.push_back(base::Bind(step, base::Unretained(installer)));
          if (ending == kSucceed) {
            list.push_back(base::Bind([installer]() {
              installer->NotifyStep();
              installer->Succeed();
            }));
          } else {
            list.push_back(base::Bind(
                [installer]() { installer->Fail(37055, std::wstring(), "a later step failed"); }));
          }
          return list;
        }));
    RunInstallerToItsEnd(installer_.get(), settings_.get(), &delegate_);
  }

  // The install log of the installer's run.
  const InstallLog& RunLog() const {
    const Installer& installer = *installer_;
    return installer.install_log();
  }

  // Ends the installer (committing what its run kept) and the settings.
  void FinishRun() {
    installer_.reset();
    settings_.reset();
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  ScopedSettingsSeams seams_{"Steps"};
  base::ScopedTempDir temp_dir_;
  base::FilePath install_folder_;
  base::FilePath package_folder_;
  base::FilePath user_desktop_;
  base::FilePath common_desktop_;
  base::FilePath start_menu_;
  base::FilePath common_start_menu_;
  base::FilePath roaming_;
  base::FilePath quick_launch_;
  base::FilePath pins_folder_;
  base::FilePath local_app_data_;
  ScopedUserRegistryRedirect registry_;
  base::win::ScopedHandle interrupted_event_;
  std::unique_ptr<Settings> settings_;
  std::unique_ptr<Installer> installer_;
  StepRunDelegate delegate_;

 private:
  std::vector<SavedPath> saved_paths_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEP_RUN_TEST_SUPPORT_H_
