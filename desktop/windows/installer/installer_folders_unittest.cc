#include "desktop/windows/installer/installer_folders.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/early_download_folder_probe.h"
#include "desktop/windows/installer/download_folder_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::CountEntries;
using test::TinyProgram;

class InstallerFoldersTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  void TearDown() override { base::PathRegistry::ClearOverridesForTesting(); }
  base::ScopedTempDir temp_;
};

TEST_F(InstallerFoldersTest, NamesFollowTheProduct) {
  EXPECT_EQ(L"Velmo Installer", GetInstallerFolderName().value());
  EXPECT_EQ(L"velmo_installer_20170217090503.log",
            LogFileNameForTime(2017, 2, 17, 9, 5, 3).value());
}

TEST_F(InstallerFoldersTest, LogFileLiesInTheInstallerFolderOfTemp) {
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));
  base::FilePath log = ComputeLogFilePath();
  EXPECT_EQ(temp_.GetPath().Append(L"Velmo Installer"), log.DirName());
  EXPECT_TRUE(base::DirectoryExists(log.DirName()));
  std::wstring name = log.BaseName().value();
  ASSERT_EQ(std::wstring(L"velmo_installer_20170217090503.log").size(), name.size()) << name;
  EXPECT_EQ(0u, name.find(L"velmo_installer_"));
  EXPECT_EQ(L".log", name.substr(name.size() - 4));
}

// Runs started in the same second each keep a log of their own: the first
// has the name of its second, the later ones a numbered name beside it, and
// no log written so far is emptied or deleted.
TEST_F(InstallerFoldersTest, RunsOfOneSecondKeepTheirOwnLogs) {
  const base::FilePath first_choice =
      temp_.GetPath().Append(LogFileNameForTime(2017, 2, 17, 9, 5, 3));
  const std::vector<std::wstring> expected = {L"velmo_installer_20170217090503.log",
                                              L"velmo_installer_20170217090503_1.log",
                                              L"velmo_installer_20170217090503_2.log"};
  for (size_t i = 0; i < expected.size(); ++i) {
    const base::FilePath log = CreateNewLogFile(first_choice);
    EXPECT_EQ(temp_.GetPath().Append(expected[i]), log);
    const std::string line = "run " + std::to_string(i);
    ASSERT_EQ(static_cast<int>(line.size()),
              base::WriteFileBytes(log, line.data(), static_cast<int>(line.size())));
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    std::string text;
    EXPECT_TRUE(base::ReadFileToString(temp_.GetPath().Append(expected[i]), &text));
    EXPECT_EQ("run " + std::to_string(i), text);
  }
}

// Only the newest installer logs stay; other files of the folder are not
// touched, and neither is the log of the running process.
TEST_F(InstallerFoldersTest, OnlyTheNewestInstallerLogsStay) {
  std::vector<base::FilePath> logs;
  for (int minute = 0; minute < 14; ++minute) {
    logs.push_back(temp_.GetPath().Append(LogFileNameForTime(2024, 3, 1, 12, minute, 0)));
    ASSERT_EQ(1, base::WriteFileBytes(logs.back(), "x", 1));
  }
  const base::FilePath other = temp_.GetPath().Append(L"velmo_crashreporter.log");
  ASSERT_EQ(1, base::WriteFileBytes(other, "x", 1));
  // The running process's log, started in an earlier second than some logs
  // of other runs (clocks go back).
  const base::FilePath current = logs[3];

  PruneInstallerLogs(current, kKeptInstallerLogs);
  EXPECT_TRUE(base::PathExists(current));
  EXPECT_TRUE(base::PathExists(other));
  int left = 0;
  for (size_t i = 0; i < logs.size(); ++i) {
    if (logs[i] == current)
      continue;
    // The newest nine others stay beside the current one.
    EXPECT_EQ(i >= logs.size() - (kKeptInstallerLogs - 1), base::PathExists(logs[i])) << i;
    left += base::PathExists(logs[i]) ? 1 : 0;
  }
  EXPECT_EQ(static_cast<int>(kKeptInstallerLogs) - 1, left);

  // Fewer logs than kept: nothing goes.
  PruneInstallerLogs(current, kKeptInstallerLogs);
  EXPECT_EQ(static_cast<int>(kKeptInstallerLogs) + 1, CountEntries(temp_.GetPath()));
}

TEST_F(InstallerFoldersTest, RecoversOnlyAnAbsoluteLastArgument) {
  base::CommandLine absolute = base::CommandLine::FromString(
      L"installer.exe --autoupdate --installfolder= \"C:\\Program Files\\Velmo\"");
  EXPECT_EQ(L"C:\\Program Files\\Velmo", RecoverInstallFolderFromArgs(absolute).value());
  base::CommandLine relative =
      base::CommandLine::FromString(L"installer.exe --autoupdate --installfolder= Velmo");
  EXPECT_TRUE(RecoverInstallFolderFromArgs(relative).empty());
  base::CommandLine none = base::CommandLine::FromString(L"installer.exe");
  EXPECT_TRUE(RecoverInstallFolderFromArgs(none).empty());
}

TEST_F(InstallerFoldersTest, ProbeCopyNeverStaysBehind) {
  ASSERT_TRUE(base::PathExists(TinyProgram()));
  base::FilePath directory;
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));
  ASSERT_TRUE(FindRunnableDirectory(base::FilePath(L"Probe"), TinyProgram(), &directory));
  EXPECT_EQ(temp_.GetPath().Append(L"Probe"), directory);
  EXPECT_TRUE(base::DirectoryExists(directory));
  EXPECT_EQ(0, CountEntries(directory));
}

TEST_F(InstallerFoldersTest, FallsBackWhenTheTemporaryFolderCannotRunACopy) {
  // A folder where the copy should go makes the probe fail in the temporary
  // folder; the search moves on to Downloads.
  std::wstring unique = L"VelmoProbe" + std::to_wstring(GetCurrentProcessId());
  base::FilePath blocked = temp_.GetPath().Append(unique);
  ASSERT_TRUE(base::CreateDirectoryTree(ProbeCopyFolder(blocked).Append(L"tiny_program.exe")));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));

  base::FilePath directory;
  ASSERT_TRUE(FindRunnableDirectory(base::FilePath(unique), TinyProgram(), &directory));
  EXPECT_NE(blocked, directory);
  EXPECT_EQ(unique, directory.BaseName().value());
  EXPECT_EQ(0, CountEntries(directory));
  // Nothing but the blocker (in its folder) remains in the refused folder.
  EXPECT_EQ(2, CountEntries(blocked));
  EXPECT_TRUE(base::DeletePath(directory, true));
}

// A copy of the plain host starts as the host does: with its engine beside
// it, it answers the version query instead of reporting a start failure into
// the log folder of the very run that probes. Neither copy stays, with the
// usual search and with the early probe.
TEST_F(InstallerFoldersTest, PlainHostCopyStartsWithItsEngineAndLeavesNothing) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &bin));
  const base::FilePath host = temp_.GetPath().Append(L"host");
  ASSERT_TRUE(base::CreateDirectoryTree(host));
  for (const wchar_t* name : {L"installer.exe", kEngineFileName})
    ASSERT_TRUE(base::CopySingleFile(bin.Append(name), host.Append(name))) << name;
  const base::FilePath program = host.Append(L"installer.exe");

  // The copies' own temporary folder, where a start failure would be logged.
  const base::FilePath child_temp = temp_.GetPath().Append(L"child temp");
  ASSERT_TRUE(base::CreateDirectoryTree(child_temp));
  wchar_t saved[2][MAX_PATH + 1] = {};
  const wchar_t* names[] = {L"TEMP", L"TMP"};
  for (int i = 0; i < 2; ++i) {
    ::GetEnvironmentVariableW(names[i], saved[i], MAX_PATH + 1);
    ::SetEnvironmentVariableW(names[i], child_temp.c_str());
  }

  const base::FilePath folder = temp_.GetPath().Append(L"probe");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  EXPECT_TRUE(CanRunFromDirectory(folder, program));
  EXPECT_EQ(0, CountEntries(folder));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"early"), program);
    EXPECT_EQ(temp_.GetPath().Append(L"early"), probe.TakeRunnableFolder());
  }
  EXPECT_EQ(0, CountEntries(temp_.GetPath().Append(L"early")));

  for (int i = 0; i < 2; ++i)
    ::SetEnvironmentVariableW(names[i], saved[i][0] ? saved[i] : nullptr);
  base::DirectoryEnumerator logs(child_temp, true, base::DirectoryEnumerator::FILES);
  for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(log, &text));
    EXPECT_EQ(std::string::npos, text.find("Installer start failed")) << text;
  }
}

// Runs that probe one folder at once each use check copies of their own,
// with the usual search as with the early probe: another run's copy in use
// under the program's own name hinders nothing, the copies of a run still
// going stay, and those of a run ended from outside are removed.
TEST_F(InstallerFoldersTest, CheckCopiesAreTheRunsOwn) {
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));
  // A run still going (started suspended, it never ends by itself) and one
  // that has ended, whose handle stays open so that its id names no other
  // process meanwhile.
  std::wstring command = L"\"" + TinyProgram().value() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &startup, &info));
  const base::win::ScopedHandle running(info.hProcess);
  const base::win::ScopedHandle running_thread(info.hThread);
  base::Process ended =
      base::LaunchProcess(base::CommandLine(TinyProgram()), base::LaunchOptions());
  ASSERT_TRUE(ended.IsValid());
  ASSERT_TRUE(ended.WaitForExitWithTimeout(120 * 1000, nullptr));

  for (const bool early : {false, true}) {
    SCOPED_TRACE(early ? "early probe" : "usual search");
    const base::FilePath folder = temp_.GetPath().Append(early ? L"early" : L"usual");
    ASSERT_TRUE(base::CreateDirectoryTree(folder));
    const base::FilePath in_use = folder.Append(TinyProgram().BaseName());
    ASSERT_EQ(1, base::WriteFileBytes(in_use, "x", 1));
    const base::win::ScopedHandle held(
        ::CreateFileW(in_use.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    // Another process's check-copy folder: this process's name with its id.
    const std::wstring own = ProbeCopyFolder(folder).value();
    const std::wstring stem =
        own.substr(0, own.size() - std::to_wstring(::GetCurrentProcessId()).size());
    const base::FilePath of_running(stem + std::to_wstring(info.dwProcessId));
    const base::FilePath of_ended(stem + std::to_wstring(ended.Pid()));
    for (const base::FilePath& copies : {of_running, of_ended}) {
      ASSERT_TRUE(base::CreateDirectoryTree(copies));
      for (const wchar_t* name : {L"tiny_program.exe", kEngineFileName})
        ASSERT_EQ(1, base::WriteFileBytes(copies.Append(name), "x", 1));
    }

    if (early) {
      EarlyDownloadFolderProbe probe(folder.BaseName(), TinyProgram());
      EXPECT_EQ(folder, probe.TakeRunnableFolder());
    } else {
      EXPECT_TRUE(CanRunFromDirectory(folder, TinyProgram()));
    }
    EXPECT_FALSE(base::PathExists(ProbeCopyFolder(folder)));
    EXPECT_EQ(2, CountEntries(of_running));
    EXPECT_FALSE(base::PathExists(of_ended));
    EXPECT_TRUE(base::PathExists(in_use));
  }
  ::TerminateProcess(running.Get(), 0);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(running.Get(), 120 * 1000));
}

TEST_F(InstallerFoldersTest, FolderWithoutProgramOnlyNeedsToExist) {
  base::FilePath directory = temp_.GetPath();
  ASSERT_TRUE(TryCreateRunnableDirectory(base::FilePath(L"a"), base::FilePath(), &directory));
  EXPECT_EQ(temp_.GetPath().Append(L"a"), directory);
  EXPECT_TRUE(base::DirectoryExists(directory));
  // A folder that cannot be created (a file stands in the way) is refused.
  ASSERT_EQ(1, base::WriteFileBytes(temp_.GetPath().Append(L"file"), "x", 1));
  directory = temp_.GetPath().Append(L"file");
  EXPECT_FALSE(TryCreateRunnableDirectory(base::FilePath(L"b"), base::FilePath(), &directory));
}

// The uninstall batch file runs from the Windows folder, never from this
// process's working folder, which an uninstaller started from its version
// folder has there: a process working in a folder keeps it.
TEST_F(InstallerFoldersTest, UninstallBatchFileWorksInTheWindowsFolder) {
  const base::FilePath windows = temp_.GetPath().Append(L"windows");
  const base::FilePath install = temp_.GetPath().Append(L"install");
  ASSERT_TRUE(base::CreateDirectoryTree(windows));
  ASSERT_TRUE(base::CreateDirectoryTree(install));
  ASSERT_TRUE(base::PathRegistry::Override(base::kPathWindowsDirectory, windows));
  const base::FilePath report = temp_.GetPath().Append(L"cd.txt");
  const std::string batch = "echo %CD%>\"" + report.AsUTF8Unsafe() + "\"\n";
  ASSERT_EQ(
      static_cast<int>(batch.size()),
      base::WriteFileBytes(install.Append(L"k.bat"), batch.data(), static_cast<int>(batch.size())));
  ASSERT_TRUE(RunUninstallBat(install));
  // The batch file ends by itself once it has written its line.
  std::string text;
  for (int waited = 0; text.find('\n') == std::string::npos && waited < 60 * 1000; waited += 50) {
    ::Sleep(50);
    base::ReadFileToString(report, &text);
  }
  EXPECT_EQ(windows.AsUTF8Unsafe() + "\r\n", text);
}

}  // namespace
}  // namespace installer
