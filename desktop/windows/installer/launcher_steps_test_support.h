// A test fixture that runs a real Installer over an install folder and a
// package folder of the test's own, with the current user's registry
// redirected to a key of the test's own, and helpers shared by the launcher,
// preferences and elevation tests.
#ifndef DESKTOP_WINDOWS_INSTALLER_LAUNCHER_STEPS_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_LAUNCHER_STEPS_TEST_SUPPORT_H_

#include <windows.h>

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
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/service/user_token_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

inline bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

inline std::string ReadText(const base::FilePath& path) {
  std::string text;
  base::ReadFileToString(path, &text);
  return text;
}

// The folder of the test executable, where the fixture programs are built.
inline base::FilePath GetTestBinFolder() {
  base::FilePath exe;
  EXPECT_TRUE(base::PathRegistry::Get(base::kPathExeFile, &exe));
  return exe.DirName();
}

// The command lines the launcher fixture in |folder| recorded, one a start.
inline std::vector<std::wstring> ReadLauncherRecord(const base::FilePath& folder) {
  const std::string bytes = ReadText(folder.Append(L"launcher_command_line.txt"));
  std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

class InstallerRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    install_folder_ = temp_dir_.GetPath().Append(L"Velmo Test");
    package_folder_ = temp_dir_.GetPath().Append(L"package");
    ASSERT_TRUE(base::CreateDirectoryTree(package_folder_));
    ASSERT_TRUE(WriteText(package_folder_.Append(kFilesListFileName), "browser.dll\r\n"));
    ASSERT_TRUE(base::CopySingleFile(GetTestBinFolder().Append(L"launcher_fixture.exe"),
                                     package_folder_.Append(L"launcher.exe")));

    ASSERT_NO_FATAL_FAILURE(
        environment_.Start(L"VelmoLauncherStepsTest_", install_folder_, package_folder_));
  }

  void TearDown() override {
    installer_.reset();
    settings_.reset();
    environment_.Stop();
  }

  void MakeSettings(const std::vector<std::wstring>& switches, bool autoupdate = false) {
    settings_ = MakeFolderSettings(install_folder_, switches, /*uninstall=*/false,
                                   /*silent=*/false, autoupdate);
    installer_ = std::make_unique<Installer>();
    installer_->AddObserver(&delegate_);
  }

  // The run's list: |steps| (each must schedule the next one), then a last
  // step that runs |last| and succeeds.
  void SetSteps(std::vector<void (Installer::*)()> steps,
                base::Callback<void(Installer*)> last = base::Callback<void(Installer*)>()) {
    installer_->SetStepListBinderForTesting(
        base::Bind([steps, last](Installer* installer, int32_t) -> Installer::StepList {
          Installer::StepList list;
          for (auto step : steps)
            list.push_back(base::Bind(step, base::Unretained(installer)));
          list.push_back(base::Bind([installer, last]() {
            if (last)
              last.Run(installer);
            installer->NotifyStep();
            installer->Succeed();
          }));
          return list;
        }));
  }

  // Runs the installer until its run reports its end; |before_loop| runs
  // after Run() has taken the settings and before the first task.
  void RunInstaller(base::Closure before_loop = base::Closure()) {
    RunInstallerToItsEnd(installer_.get(), settings_.get(), &delegate_, before_loop);
  }

  base::win::ScopedComInitializer com_;
  base::MessageLoop loop_;
  test::ScopedSettingsSeams seams_{"LauncherSteps"};
  base::ScopedTempDir temp_dir_;
  base::FilePath install_folder_;
  base::FilePath package_folder_;
  ScopedInstallerRunEnvironment environment_;
  std::unique_ptr<Settings> settings_;
  // The step counts are not these tests' concern.
  RecordingInstallerDelegate delegate_{RecordingInstallerDelegate::kMainProcessReports};
  std::unique_ptr<Installer> installer_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LAUNCHER_STEPS_TEST_SUPPORT_H_
