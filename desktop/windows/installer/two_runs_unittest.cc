// Two silent runs on one install folder started together, as real processes
// of the installers a user gets (a double-click too many, a deployment tool
// that starts the uninstallation twice): installations of the offline
// installer and uninstallations with the installation's own installer, in
// turns. One run takes the folder's installer mutex and does the work; the
// other says that the mutex is taken, as its cause. Each run's lines are in
// its own log and nowhere else, and neither run is hindered by the other's
// check copies in the shared download folder.
//
// The back end of the run that got the mutex waits at the test builds' gate
// (VELMO_TEST_BACKEND_GATE) until the other run has ended: which run gets the
// mutex is left to the timing, but never whether the other meets it.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/process.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/process_tree_test_support.h"
#include "desktop/windows/installer/silent_run_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::BinFolder;
using test::ProcessTree;
using test::SilentRunTest;

constexpr int kPairs = 20;
constexpr wchar_t kGateVariable[] = L"VELMO_TEST_BACKEND_GATE";
// Logs of other runs, ready under the names of the seconds in which a pair
// starts: as many as a front end's pruning of old logs leaves beside the
// pair's own two.
constexpr int kOtherRunLogs = static_cast<int>(kKeptInstallerLogs) - 2;
constexpr char kOtherRunLine[] = "a line of another run\n";

// One installer log: its path and lines, each without its prefix.
struct RunLog {
  base::FilePath path;
  std::vector<std::string> lines;

  bool Has(const std::string& text) const {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  int CountStartingWith(const std::string& text) const {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.rfind(text, 0) == 0;
    }));
  }
  // The log's name, the processes that started in it and its last line.
  std::string Text() const {
    std::string text = path.AsUTF8Unsafe() + ":\n";
    for (const std::string& line : lines) {
      if (line.rfind("Command line: ", 0) == 0)
        text += "  " + line + "\n";
    }
    return text + "  ...\n  " + (lines.empty() ? std::string() : lines.back()) + "\n";
  }
};

class TwoRunsTest : public SilentRunTest {
 protected:
  void TearDown() override {
    ::SetEnvironmentVariableW(kGateVariable, nullptr);
    SilentRunTest::TearDown();
  }

  base::FilePath LogFolder() const { return temp_.GetPath().Append(GetInstallerFolderName()); }

  // Empties the log folder, then writes the logs of other runs under the
  // names of the coming seconds.
  void PrepareLogFolder() {
    ASSERT_TRUE(base::DeletePath(LogFolder(), true));
    ASSERT_TRUE(base::CreateDirectoryTree(LogFolder()));
    other_logs_.clear();
    for (int i = 0; i < kOtherRunLogs; ++i) {
      base::Time::Exploded at;
      (base::Time::Now() + base::TimeSpan::FromSeconds(i)).Explode(/*is_local=*/true, &at);
      other_logs_.push_back(LogFolder().Append(
          LogFileNameForTime(at.year, at.month, at.day_of_month, at.hour, at.minute, at.second)));
      const int size = static_cast<int>(std::strlen(kOtherRunLine));
      ASSERT_EQ(size, base::WriteFileBytes(other_logs_.back(), kOtherRunLine, size));
    }
  }

  // Starts two runs of |program| with |args| at once and waits for both and
  // everything they started; their exit codes.
  std::vector<int> RunTwoTogether(const base::FilePath& program,
                                  const std::vector<std::wstring>& args, int pair) {
    const std::wstring gate_name = L"VelmoTwoRunsGate/" + std::to_wstring(::GetCurrentProcessId()) +
                                   L"/" + std::to_wstring(pair);
    base::win::ScopedHandle gate(::CreateEventW(nullptr, TRUE, FALSE, gate_name.c_str()));
    EXPECT_TRUE(gate.IsValid());
    // Inherited by the runs and everything they start.
    ::SetEnvironmentVariableW(kGateVariable, gate_name.c_str());
    const base::CommandLine command_line = MakeCommandLine(program, args);
    std::vector<base::Process> runs;
    for (int i = 0; i < 2; ++i)
      runs.push_back(base::LaunchProcess(command_line, base::LaunchOptions()));
    ::SetEnvironmentVariableW(kGateVariable, nullptr);
    std::vector<int> exit_codes(2, -1);
    for (const base::Process& run : runs) {
      EXPECT_TRUE(run.IsValid()) << command_line.GetCommandLineString();
      if (!run.IsValid())
        return exit_codes;
    }
    std::vector<std::unique_ptr<ProcessTree>> trees;
    for (const base::Process& run : runs)
      trees.push_back(std::make_unique<ProcessTree>(run.Handle()));
    const HANDLE handles[2] = {runs[0].Handle(), runs[1].Handle()};
    const ULONGLONG deadline = ::GetTickCount64() + 2 * test::kRunTimeoutMs;
    // The run without the mutex ends; the other waits at the gate meanwhile.
    // Each tree is looked at while its run goes on, so that no process of
    // it is missed.
    bool in_time = true;
    for (bool gate_open = false;;) {
      const DWORD ended = ::WaitForMultipleObjects(2, handles, /*bWaitAll=*/TRUE, 20);
      if (!gate_open && (::WaitForSingleObject(handles[0], 0) == WAIT_OBJECT_0 ||
                         ::WaitForSingleObject(handles[1], 0) == WAIT_OBJECT_0)) {
        ::SetEvent(gate.Get());
        gate_open = true;
      }
      if (ended == WAIT_OBJECT_0)
        break;
      for (const auto& tree : trees)
        tree->Refresh();
      if (::GetTickCount64() > deadline) {
        in_time = false;
        break;
      }
    }
    for (size_t i = 0; i < runs.size(); ++i) {
      if (!in_time || !trees[i]->WaitForAll(test::kRunTimeoutMs)) {
        ADD_FAILURE() << "processes of the run did not end:\n" << trees[i]->Describe();
        trees[i]->TerminateAll();
        continue;
      }
      EXPECT_TRUE(runs[i].WaitForExit(&exit_codes[i]));
    }
    return exit_codes;
  }

  // The logs of the pair but those of the other runs, which must be as they
  // were.
  std::vector<RunLog> TakeRunLogs() {
    std::vector<RunLog> logs;
    base::DirectoryEnumerator files(LogFolder(), false, base::DirectoryEnumerator::FILES,
                                    L"velmo_installer_*.log");
    for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
      std::string text;
      EXPECT_TRUE(base::ReadFileToString(path, &text)) << path;
      if (std::find(other_logs_.begin(), other_logs_.end(), path) != other_logs_.end()) {
        EXPECT_TRUE(text == kOtherRunLine) << "another run's log was written to: " << path;
        continue;
      }
      RunLog log{path, {}};
      for (std::string& line :
           base::SplitString(text, "\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
        // Check copies that another run's stand in the way of, or that
        // cannot be removed, are the run's warnings and errors.
        const bool warns = line.find(":WARNING:") != std::string::npos ||
                           line.find(":ERROR:") != std::string::npos;
        EXPECT_FALSE(warns && line.find("probe") != std::string::npos) << log.path << ": " << line;
        const size_t end = line.find("] ");
        log.lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
      }
      logs.push_back(std::move(log));
    }
    for (const base::FilePath& other : other_logs_)
      EXPECT_TRUE(base::PathExists(other)) << "another run's log was removed: " << other;
    return logs;
  }

  // One run did the work, the other met the mutex; each log holds the lines
  // of one run: its front end's, and those of back ends started for it.
  void ExpectOneRunDidTheWork(const std::vector<int>& exit_codes) {
    EXPECT_EQ(1, std::count(exit_codes.begin(), exit_codes.end(), 0));
    EXPECT_EQ(1, std::count(exit_codes.begin(), exit_codes.end(), 1));
    const std::vector<RunLog> logs = TakeRunLogs();
    std::string all;
    for (const RunLog& log : logs)
      all += log.Text() + "\n";
    ASSERT_EQ(2u, logs.size()) << all;
    int workers = 0;
    for (const RunLog& log : logs) {
      int front_ends = 0;
      for (const std::string& line : log.lines) {
        if (line.rfind("Command line: ", 0) != 0)
          continue;
        if (line.find(" --backend") == std::string::npos)
          ++front_ends;
        else
          EXPECT_NE(std::string::npos, line.find("--log-file=" + log.path.AsUTF8Unsafe())) << line;
      }
      EXPECT_EQ(1, front_ends) << log.Text();
      if (log.Has("Installation succeeded")) {
        ++workers;
        EXPECT_TRUE(log.Has("Installer backend exiting")) << log.Text();
        EXPECT_EQ(0, log.CountStartingWith("The run failed")) << log.Text();
        continue;
      }
      // The run that met the mutex: its front end alone, ending with its
      // cause.
      EXPECT_EQ(1, log.CountStartingWith("Command line: ")) << log.Text();
      EXPECT_EQ(0, log.CountStartingWith("Installer backend exiting")) << log.Text();
      ASSERT_FALSE(log.lines.empty());
      EXPECT_EQ("The run failed (exit code 1): Could not acquire installer mutex", log.lines.back())
          << log.Text();
    }
    EXPECT_EQ(1, workers) << all;
    // What a run puts into the download folder goes with it.
    base::DirectoryEnumerator left(
        LogFolder(), false,
        base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
    for (base::FilePath entry = left.Next(); !entry.empty(); entry = left.Next()) {
      EXPECT_TRUE(base::DirectoryEnumerator::MatchesPattern(entry.BaseName().value(),
                                                            L"velmo_installer_*.log"))
          << "left in the download folder: " << entry;
    }
  }

  std::vector<base::FilePath> other_logs_;
};

// Installations and uninstallations in turns, each run started twice at once.
TEST_F(TwoRunsTest, TheRunThatMeetsTheMutexSaysSoAndEveryLogHoldsOneRun) {
  // The download folder is the one in the temporary folder that every run
  // shares, as a user's runs have it.
  std::vector<std::wstring> install = InstallSwitches(false);
  install.erase(
      std::remove_if(install.begin(), install.end(),
                     [](const std::wstring& arg) { return arg.rfind(L"--temp-folder=", 0) == 0; }),
      install.end());
  InstallLog installed;
  for (int pair = 0; pair < kPairs; ++pair) {
    SCOPED_TRACE(pair % 2 == 0 ? "installations, pair " + std::to_string(pair)
                               : "uninstallations, pair " + std::to_string(pair));
    ASSERT_NO_FATAL_FAILURE(PrepareLogFolder());
    if (pair % 2 == 0) {
      ExpectOneRunDidTheWork(
          RunTwoTogether(BinFolder().Append(L"velmo_installer_full.exe"), install, pair));
      installed = ExpectInstalled(false);
    } else {
      ExpectOneRunDidTheWork(RunTwoTogether(
          install_folder_.Append(installed.subfolder).Append(kPackageInstallerFileName),
          {L"--uninstall", L"--silent", L"--v=1", L"--enable-installer-stats=0"}, pair));
      ExpectUninstalled(installed);
    }
    if (HasFailure())
      return;
  }
}

}  // namespace
}  // namespace installer
