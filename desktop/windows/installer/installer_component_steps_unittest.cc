#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/string_split.h"
#include "base/time.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_components.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/step_run_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ComponentsSwitchTest, TrimsAndDropsEmptyEntries) {
  const std::vector<ComponentEntry> entries =
      ParseComponentsSwitch(L"  suite :  comp dir | | other:dir\\x |lone|  : only:  |x:");
  ASSERT_EQ(5u, entries.size());
  EXPECT_EQ(L"suite", entries[0].name);
  EXPECT_EQ(L"comp dir", entries[0].folder);
  EXPECT_EQ(L"suite :  comp dir", entries[0].text);
  EXPECT_TRUE(entries[0].IsComplete());
  EXPECT_EQ(L"other", entries[1].name);
  EXPECT_EQ(L"dir\\x", entries[1].folder);
  EXPECT_TRUE(entries[1].IsComplete());
  // Without a folder, or without a name, an entry is incomplete; the name
  // is never taken from the folder's place.
  EXPECT_EQ(L"lone", entries[2].name);
  EXPECT_FALSE(entries[2].IsComplete());
  EXPECT_EQ(L"", entries[3].name);
  EXPECT_EQ(L"only", entries[3].folder);
  EXPECT_FALSE(entries[3].IsComplete());
  EXPECT_FALSE(entries[4].IsComplete());
}

class ComponentStepsTest : public test::StepRunTest {
 protected:
  void SetUp() override {
    StepRunTest::SetUp();
    ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeFile, &test_exe_));
    fixture_ = test_exe_.DirName().Append(L"component_fixture.exe");
    ASSERT_TRUE(base::PathExists(fixture_));
    // The installer's own folder is the package folder; component folders
    // are named relative to its parent.
    components_ = package_folder_.DirName().Append(L"components");
    ASSERT_TRUE(base::CreateDirectoryTree(components_));
  }

  void TearDown() override {
    StepRunTest::TearDown();
    base::PathRegistry::Override(base::kPathExeFile, test_exe_);
  }

  // A copy of the fixture program at |path| that exits with |exit_code|.
  void PlaceFixture(const base::FilePath& path, int exit_code) {
    ASSERT_TRUE(base::CreateDirectoryTree(path.DirName()));
    ASSERT_TRUE(base::CopySingleFile(fixture_, path));
    const std::string code = base::NumberToString(exit_code);
    ASSERT_TRUE(WriteText(base::FilePath(path.value() + L".exit_code"), code));
  }

  // The command lines the fixture at |path| was run with.
  static std::vector<base::CommandLine> CallsOf(const base::FilePath& path) {
    std::string text;
    std::vector<base::CommandLine> calls;
    if (!base::ReadFileToString(base::FilePath(path.value() + L".calls"), &text))
      return calls;
    for (const std::string& line :
         base::SplitString(text, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
      calls.push_back(base::CommandLine::FromString(base::UTF8ToWide(line)));
    }
    return calls;
  }

  // Waits until the fixture at |path| was run |count| times (each run a
  // process start, which a loaded machine can make take many seconds).
  static bool WaitForCalls(const base::FilePath& path, size_t count) {
    const base::MonotonicTime deadline =
        base::MonotonicTime::Now() + base::TimeSpan::FromSeconds(120);
    while (CallsOf(path).size() < count) {
      if (base::MonotonicTime::Now() > deadline)
        return false;
      ::Sleep(50);
    }
    return true;
  }

  // Deletes |path| as soon as no running program holds it.
  static bool WaitForDeletion(const base::FilePath& path) {
    const base::MonotonicTime deadline =
        base::MonotonicTime::Now() + base::TimeSpan::FromSeconds(120);
    while (!::DeleteFileW(path.c_str())) {
      if (base::MonotonicTime::Now() > deadline)
        return false;
      ::Sleep(50);
    }
    return true;
  }

  std::wstring ComponentsSwitch(const std::wstring& value) const {
    return L"--components=" + value;
  }

  base::FilePath test_exe_;
  base::FilePath fixture_;
  base::FilePath components_;
};

// Installs, upgrades over and uninstalls a set of components: the ones
// whose installer exits 0 are recorded once and later started with
// "uninstall"; one that exits 3 and one without an installer are not.
TEST_F(ComponentStepsTest, RecordsSucceededComponentsAndUninstallsThem) {
  const base::FilePath good = components_.Append(L"good_installer.exe");
  const base::FilePath bad = components_.Append(L"bad_installer.exe");
  // The suite's folder has only its installer under the former name.
  const base::FilePath assistant = components_.Append(L"assistant_installer.exe");
  PlaceFixture(good, 0);
  PlaceFixture(bad, 3);
  PlaceFixture(assistant, 0);
  const std::wstring components = ComponentsSwitch(
      L" good : components | bad:components || suite: components | "
      L"missing:components");

  MakeSettings({L"--allusers=0", components});
  RunSteps({&Installer::InstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  const std::vector<InstallLogComponent> expected = {{"good", install_folder_.Append(L"good")},
                                                     {"suite", install_folder_.Append(L"suite")}};
  EXPECT_EQ(expected, RunLog().components);
  ASSERT_EQ(1u, CallsOf(good).size());
  const base::CommandLine call = CallsOf(good)[0];
  EXPECT_EQ(install_folder_.Append(L"good"), call.GetSwitchValuePath("installfolder"));
  EXPECT_EQ("0", call.GetSwitchValueASCII("copyonly"));
  EXPECT_EQ("0", call.GetSwitchValueASCII("allusers"));
  EXPECT_FALSE(call.HasSwitch("uninstall"));
  EXPECT_EQ(1u, CallsOf(bad).size());
  EXPECT_EQ(1u, CallsOf(assistant).size());

  // The run's log becomes the installation's; an upgrade installs the
  // components again and keeps one record of each.
  InstallLog log = RunLog();
  FinishRun();
  ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));
  MakeSettings({components});
  ASSERT_EQ(Settings::kOperationUpgrade, settings_->GetOperation());
  RunSteps({&Installer::InstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  EXPECT_EQ(expected, RunLog().components);
  EXPECT_EQ(2u, CallsOf(good).size());
  FinishRun();

  // The component installers copied themselves into their folders.
  const base::FilePath installed_good = install_folder_.Append(L"good\\good_installer.exe");
  const base::FilePath installed_suite = install_folder_.Append(L"suite\\assistant_installer.exe");
  const base::FilePath installed_bad = install_folder_.Append(L"bad\\bad_installer.exe");
  PlaceFixture(installed_good, 0);
  PlaceFixture(installed_suite, 0);
  PlaceFixture(installed_bad, 0);
  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  RunSteps({&Installer::UninstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  ASSERT_TRUE(WaitForCalls(installed_good, 1));
  ASSERT_TRUE(WaitForCalls(installed_suite, 1));
  const base::CommandLine uninstall = CallsOf(installed_good)[0];
  EXPECT_TRUE(uninstall.HasSwitch("uninstall"));
  EXPECT_EQ("0", uninstall.GetSwitchValueASCII("copyonly"));
  EXPECT_EQ("0", uninstall.GetSwitchValueASCII("allusers"));
  EXPECT_TRUE(CallsOf(installed_bad).empty());
  // The uninstallers run on their own; the folder goes once they have ended.
  for (const base::FilePath& path : {installed_good, installed_suite})
    EXPECT_TRUE(WaitForDeletion(path)) << path;
}

// An entry without a folder would have its installer looked up beside the
// downloaded package, where anyone may have put a file of that name: such
// an entry is skipped, and so is one without a name.
TEST_F(ComponentStepsTest, EntriesWithoutFolderOrNameRunNothing) {
  const base::FilePath lone = package_folder_.DirName().Append(L"lone_installer.exe");
  const base::FilePath only = package_folder_.DirName().Append(L"only_installer.exe");
  const base::FilePath good = components_.Append(L"good_installer.exe");
  PlaceFixture(lone, 0);
  PlaceFixture(only, 0);
  PlaceFixture(good, 0);
  MakeSettings({L"--allusers=0", ComponentsSwitch(L"lone| : only: |lone:|good:components")});
  RunSteps({&Installer::InstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  const std::vector<InstallLogComponent> expected = {{"good", install_folder_.Append(L"good")}};
  EXPECT_EQ(expected, RunLog().components);
  EXPECT_TRUE(CallsOf(lone).empty());
  EXPECT_TRUE(CallsOf(only).empty());
  EXPECT_EQ(1u, CallsOf(good).size());
}

// A component installer that never ends would hold the back end for ever:
// it is ended after the limit and its component left out.
TEST_F(ComponentStepsTest, AHungComponentInstallerIsEndedAndLeftOut) {
  const base::FilePath hung = components_.Append(L"hung_installer.exe");
  PlaceFixture(hung, 0);
  ASSERT_TRUE(WriteText(base::FilePath(hung.value() + L".exit_code"), "hang"));
  MakeSettings({L"--allusers=0", ComponentsSwitch(L"hung:components")});
  installer_->SetComponentInstallerTimeoutForTesting(base::TimeSpan::FromSeconds(1));
  installer::testing::ScopedLogCapture log;
  RunSteps({&Installer::InstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  EXPECT_TRUE(RunLog().components.empty());
  EXPECT_EQ(1u, CallsOf(hung).size());
  EXPECT_NE(std::string::npos, log.text().find("did not end within 1 s"));
  // Ended: nothing holds its program any more.
  EXPECT_TRUE(WaitForDeletion(hung));
}

// A signed installer executable runs only component installers that the
// expected signer signed.
TEST_F(ComponentStepsTest, SignedInstallerRunsOnlySignedComponents) {
  // Beside the test executable (the harness moved the executable's folder).
  const base::FilePath signed_exe =
      test_exe_.DirName().Append(L"authenticode_fixtures\\signed_expected.exe");
  ASSERT_TRUE(base::PathExists(signed_exe));
  const base::FilePath plain = components_.Append(L"plain_installer.exe");
  PlaceFixture(plain, 0);
  ASSERT_TRUE(base::CopySingleFile(signed_exe, components_.Append(L"signed_installer.exe")));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathExeFile, signed_exe));

  MakeSettings({L"--allusers=0", ComponentsSwitch(L"plain:components|signed:components")});
  installer::testing::ScopedLogCapture log;
  RunSteps({&Installer::InstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);

  const std::vector<InstallLogComponent> expected = {{"signed", install_folder_.Append(L"signed")}};
  EXPECT_EQ(expected, RunLog().components);
  EXPECT_TRUE(CallsOf(plain).empty());
  EXPECT_NE(std::string::npos, log.text().find("Signature error for component installer"));
  EXPECT_NE(std::string::npos, log.text().find("plain_installer.exe signed = 0"));
  EXPECT_NE(std::string::npos, log.text().find("signed_expected.exe signed = 1"));
}

// The uninstallation starts only component installers inside the
// installation's own component folders: a tampered record that points at
// another folder, or whose name leads out of the install folder, starts
// nothing.
TEST_F(ComponentStepsTest, UninstallStartsOnlyComponentsInsideTheInstallation) {
  MakeSettings({});
  FinishRun();
  const base::FilePath outside = components_.Append(L"evil_installer.exe");
  const base::FilePath climbing = install_folder_.DirName().Append(L"climb_installer.exe");
  const base::FilePath installed_good = install_folder_.Append(L"good\\good_installer.exe");
  PlaceFixture(outside, 0);
  PlaceFixture(climbing, 0);
  PlaceFixture(installed_good, 0);
  InstallLog log;
  log.components = {{"evil", components_},
                    {"..\\climb", install_folder_.Append(L"..\\climb")},
                    {"good", install_folder_.Append(L"good")}};
  ASSERT_TRUE(log.Save(install_folder_.Append(Installation::kInstallLogFileName)));

  MakeSettings({}, /*uninstall=*/true);
  ASSERT_EQ(Settings::kOperationUninstall, settings_->GetOperation());
  RunSteps({&Installer::UninstallComponents}, kSucceed);
  ASSERT_TRUE(delegate_.succeeded) << ::testing::PrintToString(delegate_.errors);
  ASSERT_TRUE(WaitForCalls(installed_good, 1));
  // Started one after the other: any other start would have shown by now.
  ::Sleep(1000);
  EXPECT_TRUE(CallsOf(outside).empty());
  EXPECT_TRUE(CallsOf(climbing).empty());
  EXPECT_TRUE(WaitForDeletion(installed_good));
}

}  // namespace
}  // namespace installer
