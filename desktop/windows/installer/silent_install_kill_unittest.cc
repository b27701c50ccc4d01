// Silent installations ended from outside: the front end or one of its back
// ends is terminated at a random moment of a real silent run of the offline
// installer. Afterwards the machine must hold either the whole installation
// or nothing of it, and the next silent installation must succeed. The
// moments are spread over an undisturbed run's duration, measured first;
// the seed is printed (VELMO_KILL_SEED repeats a sequence). Upgrades are
// ended too, every process at once, and then uninstalled with the installer
// that the uninstall entry names: nothing of the installation may stay.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/process.h"
#include "base/rand_util.h"
#include "base/string_number_conversions.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/cleanup_batch_test_support.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/interrupted_installation.h"
#include "desktop/windows/installer/process_tree_test_support.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/registry_names.h"
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"
#include "desktop/windows/installer/silent_run_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using ::installer::testing::MachineState;
using test::BinFolder;
using test::ProcessTree;

constexpr int kIterations = 20;
constexpr int kWholeRunIterations = 6;
constexpr int kUpgradeIterations = 20;
// Every installer process of a killed run has ended by then.
constexpr ULONGLONG kSettleTimeoutMs = 120 * 1000;

// CTest ends this executable after 1200 s (CMakeLists.txt) and keeps only
// what it printed by then; the waits of one step add up to more than that.
// A run that gets this far without an end lists every process of the prefix
// with its command line, so that a hang names what it waits for.
constexpr DWORD kHangReportAfterMs = 1140 * 1000;

DWORD WINAPI ReportHang(void*) {
  ::Sleep(kHangReportAfterMs);
  // Line by line, each flushed: a listing that stalls (on a process that
  // cannot be read) still shows how far it got.
  std::printf("still running after %lu s; the processes of the prefix:\n",
              static_cast<unsigned long>(kHangReportAfterMs / 1000));
  std::fflush(stdout);
  HANDLE raw = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE)
    return 0;
  base::win::ScopedHandle snapshot(raw);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = ::Process32FirstW(snapshot.Get(), &entry); ok;
       ok = ::Process32NextW(snapshot.Get(), &entry)) {
    std::printf("%lu (parent %lu): %s", entry.th32ProcessID, entry.th32ParentProcessID,
                base::WideToUTF8(entry.szExeFile).c_str());
    std::fflush(stdout);
    base::win::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
    if (process.IsValid())
      std::printf(": %s", base::WideToUTF8(test::CommandLineOf(process.Get())).c_str());
    std::printf("\n");
    std::fflush(stdout);
  }
  return 0;
}

// Where every thread of every process of the prefix stands, as the
// emulator's debugger sees it: what a process that does not end waits for.
// Empty on Windows, which has no such debugger.
std::string BacktracesOfAllProcesses() {
  base::CommandLine command_line(base::FilePath(L"winedbg.exe"));
  command_line.AppendSwitch("command");
  command_line.AppendArg(L"bt all");
  std::string output;
  if (!base::RunAndCaptureOutput(command_line, &output))
    return std::string();
  return output;
}

// Started once per process, by the first test.
void StartHangReport() {
  static const bool started = [] {
    // Never joined: it ends with the process.
    base::win::ScopedHandle thread(::CreateThread(nullptr, 0, &ReportHang, nullptr, 0, nullptr));
    return thread.IsValid();
  }();
  (void)started;
}

enum class Target { kFrontEnd, kFirstBackEnd, kLastBackEnd };

const char* TargetName(Target target) {
  switch (target) {
    case Target::kFrontEnd: return "front end";
    case Target::kFirstBackEnd: return "first back end";
    case Target::kLastBackEnd: return "last back end";
  }
  return "?";
}

// The command interpreters and pauses that are running: what a clean-up
// batch file leaves behind it (its last line starts a command that waits
// about a second, then removes the install folder if it is empty). The kill
// loop runs alone, so every such process is an uninstallation's.
std::vector<std::wstring> RunningCleanupCommands() {
  std::vector<std::wstring> names;
  base::win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, L"cmd.exe") == 0 || _wcsicmp(entry.szExeFile, L"ping.exe") == 0)
      names.push_back(std::wstring(entry.szExeFile) + L" " + std::to_wstring(entry.th32ProcessID));
  }
  return names;
}

// The running process of |target| in |tree|, or null.
HANDLE Find(ProcessTree* tree, Target target) {
  const ProcessTree::Running* found = nullptr;
  const std::vector<ProcessTree::Running> running = tree->FindRunning();
  for (const ProcessTree::Running& process : running) {
    if (process.depth == 0 && target == Target::kFrontEnd)
      found = &process;
    if (process.depth == 1 && process.back_end && target == Target::kFirstBackEnd)
      found = &process;
    if (target == Target::kLastBackEnd && process.back_end &&
        (!found || process.depth > found->depth)) {
      found = &process;
    }
  }
  return found ? found->handle : nullptr;
}

std::string Differences(const MachineState& expected, const MachineState& actual) {
  std::string text;
  for (const auto& [name, value] : expected) {
    auto it = actual.find(name);
    if (it == actual.end())
      text += "  missing: " + name + "\n";
    else if (it->second != value)
      text += "  changed: " + name + " from " + value.substr(0, 200) + " to " +
              it->second.substr(0, 200) + "\n";
  }
  for (const auto& [name, value] : actual) {
    if (!expected.count(name))
      text += "  extra: " + name + "\n";
  }
  return text;
}

class KillLoopTest : public test::SilentRunTest {
 protected:
  void SetUp() override {
    StartHangReport();
    SilentRunTest::SetUp();
    ASSERT_TRUE(base::PathRegistry::Get(base::kPathStartMenu, &start_menu_));
    ASSERT_TRUE(base::PathRegistry::Get(base::kPathLocalAppData, &journals_));
    journals_ = journals_.Append(GetInstallerFolderName()).Append(L"Journals");
    wchar_t windows[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    tasks_ = base::FilePath(std::wstring(windows, length)).Append(L"system32\\Tasks");
  }

  // The switches of the runs: those of a current-user installation without
  // the desktop shortcut. The start-menu shortcut is made the same way, so
  // it alone shows whether an ended run leaves a shortcut behind.
  std::vector<std::wstring> KillLoopSwitches() const {
    std::vector<std::wstring> switches = InstallSwitches(false);
    for (std::wstring& value : switches) {
      if (value == L"--desktopshortcut=1")
        value = L"--desktopshortcut=0";
    }
    return switches;
  }

  base::FilePath Installer() const { return BinFolder().Append(L"velmo_installer_full.exe"); }
  // The same package one major version later.
  base::FilePath NextInstaller() const {
    return BinFolder().Append(L"velmo_installer_full_next.exe");
  }

  // The kill loop's switches without a download folder of their own: the
  // package is unpacked into the temporary folder's, where the next run
  // (an uninstallation too) looks for what a killed run left.
  std::vector<std::wstring> UpgradeLoopSwitches() const {
    std::vector<std::wstring> switches;
    for (const std::wstring& value : KillLoopSwitches()) {
      if (value.rfind(L"--temp-folder=", 0) != 0)
        switches.push_back(value);
    }
    return switches;
  }

  // The transaction journals of runs on the test's folder that are still
  // there (their runs neither committed nor rolled back).
  int PendingJournals() const {
    int count = 0;
    base::DirectoryEnumerator journals(journals_, false, base::DirectoryEnumerator::FILES,
                                       L"*.journal");
    for (base::FilePath journal = journals.Next(); !journal.empty(); journal = journals.Next())
      ++count;
    return count;
  }

  // The installer of the version that the uninstall entry of the test's
  // folder names (its version folder's), as the entry's uninstall command
  // starts it; |what| says which entry. Without an entry (a run ended
  // between removing the old one and writing the new one), the installer
  // of the version folder that the installation's record names.
  base::FilePath EntrysInstaller(std::string* what) const {
    const std::wstring uninstall = GetUninstallRegistryKey();
    for (base::win::RegistryKeyIterator it(HKEY_CURRENT_USER, uninstall.c_str(), KEY_WOW64_32KEY);
         it.Valid(); ++it) {
      const std::wstring key = uninstall + L"\\" + it.Name();
      if (!base::FilePath::CompareEqualIgnoreCase(
              test::ReadRegistryString(HKEY_CURRENT_USER, key, L"InstallLocation"),
              install_folder_.value())) {
        continue;
      }
      const std::wstring version =
          test::ReadRegistryString(HKEY_CURRENT_USER, key, L"DisplayVersion");
      *what = "the entry of " + base::WideToUTF8(version);
      return install_folder_.Append(version).Append(kPackageInstallerFileName);
    }
    InstallLog log;
    if (!log.Load(install_folder_.Append(Installation::kInstallLogFileName)))
      return base::FilePath();
    *what = "no entry, the record of " + log.version;
    return install_folder_.Append(log.subfolder).Append(kPackageInstallerFileName);
  }

  // What an ended run left for the next one, for a failure message: the
  // install folder's files and every journal, line by line (fields decoded).
  std::string DescribeWhatWasLeft() const {
    std::string text = "the install folder:\n" + ListFolder(install_folder_);
    base::DirectoryEnumerator journals(journals_, false, base::DirectoryEnumerator::FILES,
                                       L"*.journal");
    for (base::FilePath journal = journals.Next(); !journal.empty(); journal = journals.Next()) {
      std::string content;
      base::ReadFileToString(journal, &content);
      text += "journal " + journal.BaseName().AsUTF8Unsafe() + ":\n";
      for (const std::string& line :
           base::SplitString(content, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
        std::string decoded;
        for (const std::string& field :
             base::SplitString(line, "\t", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL)) {
          std::vector<uint8_t> bytes;
          const bool hex = !decoded.empty() && base::HexStringToBytes(field, &bytes);
          decoded += (decoded.empty() ? "" : " | ") +
                     (hex ? std::string(bytes.begin(), bytes.end()).substr(0, 160) : field);
        }
        text += "  " + decoded + "\n";
      }
    }
    return text;
  }

  // What the temporary folder's installer folder holds but the logs: the
  // unpacked packages of killed runs, batch files that did not end.
  std::vector<std::wstring> TemporaryLeftovers() const {
    std::vector<std::wstring> left;
    base::DirectoryEnumerator entries(
        temp_.GetPath().Append(GetInstallerFolderName()), false,
        base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
    for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
      if (base::ToLowerASCII(entry.Extension()) != L".log")
        left.push_back(entry.BaseName().value());
    }
    return left;
  }

  // Everything an installation into the test's folder may change: its
  // files, the start menu, the scheduled tasks, the journals of installer
  // runs, and the registry keys that the registry set-up writes to.
  MachineState Snapshot() const {
    MachineState state;
    const auto add_files = [&state](const base::FilePath& folder, const std::string& label) {
      MachineState files;
      if (base::PathExists(folder))
        ::installer::testing::AddFiles(folder, &files);
      for (const auto& [name, value] : files)
        state[label + name] = value;
    };
    if (base::PathExists(install_folder_))
      state["install folder"] = "present";
    add_files(install_folder_, "install:");
    add_files(start_menu_, "start menu:");
    add_files(tasks_, "tasks:");
    add_files(journals_, "journals:");
    const std::wstring software = L"Software\\";
    const std::wstring current_version = L"Software\\Microsoft\\Windows\\CurrentVersion\\";
    const std::vector<std::wstring> keys = {
        software + L"Classes",
        software + L"Clients",
        software + L"RegisteredApplications",
        current_version + L"App Paths",
        GetUninstallRegistryKey(),
        GetCompanyRegistryKey(),
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\Compatibility "
        L"Assistant\\Persisted"};
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      const std::string suffix = view == KEY_WOW64_32KEY ? "(32)" : "(64)";
      for (const std::wstring& key : keys) {
        ::installer::testing::AddRegistryTree(
            HKEY_CURRENT_USER, key, view, "hkcu" + suffix + ":" + base::WideToUTF8(key), &state);
      }
      ::installer::testing::AddRegistryTree(HKEY_LOCAL_MACHINE, GetUninstallRegistryKey(), view,
                                            "hklm" + suffix + ":uninstall", &state);
    }
    return state;
  }

  // |state| reduced to what every complete installation has alike: the
  // names of everything, with the installation's app id (part of its task's
  // name) replaced, and the contents of the files of the package; the
  // values that hold the app id or the time are left out.
  MachineState Comparable(const MachineState& state) const {
    InstallLog log;
    const bool installed = log.Load(install_folder_.Append(Installation::kInstallLogFileName));
    MachineState comparable;
    for (const auto& [name, value] : state) {
      std::string key = name;
      if (installed && !log.app_id.empty())
        base::ReplaceSubstringsAfterOffset(&key, 0, log.app_id, "{app id}");
      const bool package_file =
          base::StartsWith(name, "install:file:" + log.subfolder.AsUTF8Unsafe() + "\\",
                           base::CompareCase::INSENSITIVE_ASCII) ||
          name == "install:file:launcher.exe";
      comparable[key] = installed && package_file ? value : std::string();
    }
    return comparable;
  }

  // Waits for the clean-up after an uninstallation (a batch file that
  // removes what the installer could not) to bring the machine back to
  // |expected|.
  MachineState SettledSnapshot(const MachineState& expected) const {
    MachineState state = Snapshot();
    for (int waited = 0; state != expected && waited < test::kFolderRemovalWaitMs; waited += 100) {
      ::Sleep(100);
      state = Snapshot();
    }
    return state;
  }

  // Uninstalls the installation in the test's folder. What an
  // uninstallation leaves in the folder (the running uninstaller's own
  // files, moved aside for deletion at the next start of the machine, and
  // the installer preferences) is removed, so that every run starts with no
  // folder.
  void UninstallAndClear() {
    InstallLog log;
    ASSERT_TRUE(log.Load(install_folder_.Append(Installation::kInstallLogFileName)));
    ASSERT_EQ(0, Uninstall(log));
    ASSERT_TRUE(WaitUntilGone(install_folder_.Append(L"launcher.exe")));
    // The clean-up batch file deletes itself last: taken away before that,
    // it could still empty the folder under the next installation.
    EXPECT_TRUE(WaitUntilGone(install_folder_.Append(kCleanupBatchFileName)));
    // Nor may its delayed removal of the folder meet the next installation's
    // new, still empty folder.
    for (int waited = 0; !RunningCleanupCommands().empty(); waited += 100) {
      ASSERT_LT(waited, test::kFolderRemovalWaitMs)
          << "still running: "
          << base::WideToUTF8(base::JoinString16(RunningCleanupCommands(), L", "));
      ::Sleep(100);
    }
    for (int waited = 0; base::PathExists(install_folder_) && waited < test::kFolderRemovalWaitMs;
         waited += 100) {
      if (!base::DeletePath(install_folder_, true))
        ::Sleep(100);
    }
    ASSERT_FALSE(base::PathExists(install_folder_));
  }

  // Uninstalls and expects the machine as it was before: |baseline|.
  void UninstallAndExpect(const MachineState& baseline) {
    ASSERT_NO_FATAL_FAILURE(UninstallAndClear());
    const MachineState after = SettledSnapshot(baseline);
    EXPECT_TRUE(after == baseline) << Differences(baseline, after);
  }

  // The seed (printed), an undisturbed installation's duration and what it
  // leaves, and the machine before it. The uninstallation keeps the
  // registry keys above the installation's own and the remembered install
  // path: the machine after it is the one every later run starts from.
  void Prepare() {
    seed_ = base::RandUint64() % 1000000;
    if (const char* given = std::getenv("VELMO_KILL_SEED"))
      seed_ = std::strtoull(given, nullptr, 10);
    std::printf("kill loop seed: %llu (VELMO_KILL_SEED=%llu repeats it)\n",
                static_cast<unsigned long long>(seed_), static_cast<unsigned long long>(seed_));
    random_.seed(seed_);
    const ULONGLONG started = ::GetTickCount64();
    ASSERT_EQ(0, Run(Installer(), KillLoopSwitches()));
    duration_ = ::GetTickCount64() - started;
    installed_ = Comparable(Snapshot());
    TakeLogLines();
    ASSERT_NO_FATAL_FAILURE(UninstallAndClear());
    baseline_ = Snapshot();
    ASSERT_EQ(std::string(), Differences(baseline_, Snapshot()))
        << "the machine does not keep still";
    TakeLogLines();
    std::printf("undisturbed installation: %llu ms\n", static_cast<unsigned long long>(duration_));
  }

  // Prepare, then an undisturbed upgrade over an installation: how long it
  // takes, and how long its package's installer keeps its transaction open
  // (its journal beside the first back end's).
  void PrepareUpgrades() {
    ASSERT_NO_FATAL_FAILURE(Prepare());
    ASSERT_EQ(0, Run(Installer(), UpgradeLoopSwitches()));
    base::Process front_end = base::LaunchProcess(
        MakeCommandLine(NextInstaller(), UpgradeLoopSwitches()), base::LaunchOptions());
    ASSERT_TRUE(front_end.IsValid());
    ProcessTree tree(front_end.Handle());
    const ULONGLONG started = ::GetTickCount64();
    ULONGLONG opened = 0;
    ULONGLONG closed = 0;
    while (::WaitForSingleObject(front_end.Handle(), 5) == WAIT_TIMEOUT) {
      tree.Refresh();
      const int pending = PendingJournals();
      const ULONGLONG now = ::GetTickCount64();
      if (!opened && pending >= 2)
        opened = now;
      if (opened && !closed && pending < 2)
        closed = now;
    }
    upgrade_duration_ = ::GetTickCount64() - started;
    transaction_ms_ = opened && closed > opened ? closed - opened : 1;
    ASSERT_TRUE(tree.WaitForAll(kSettleTimeoutMs)) << tree.Describe();
    int exit_code = -1;
    ASSERT_TRUE(front_end.WaitForExit(&exit_code));
    ASSERT_EQ(0, exit_code) << base::JoinString(TakeLogLines(), "\n");
    ASSERT_NO_FATAL_FAILURE(UninstallAndClear());
    TakeLogLines();
    std::printf("undisturbed upgrade: %llu ms, its transaction open for %llu ms\n",
                static_cast<unsigned long long>(upgrade_duration_),
                static_cast<unsigned long long>(transaction_ms_));
  }

  // Starts a silent installation, calls |kill| with its processes |moment|
  // ms later, and waits until every process of the run has ended.
  template <typename Kill>
  void RunAndKill(DWORD moment, Kill kill) {
    RunAndKill(Installer(), KillLoopSwitches(), moment, kill);
  }
  // The same with |program| and |switches|.
  template <typename Kill>
  void RunAndKill(const base::FilePath& program, const std::vector<std::wstring>& switches,
                  DWORD moment, Kill kill) {
    base::Process front_end =
        base::LaunchProcess(MakeCommandLine(program, switches), base::LaunchOptions());
    ASSERT_TRUE(front_end.IsValid());
    ProcessTree tree(front_end.Handle());
    // The emulator cannot end a process it is still loading (the process
    // then hangs for good), and the installer changes nothing before its
    // log begins: the moments count from there.
    const base::FilePath logs = temp_.GetPath().Append(L"Velmo Installer");
    for (int waited = 0; waited < 10 * 1000; waited += 5) {
      base::DirectoryEnumerator enumerator(logs, false, base::DirectoryEnumerator::FILES,
                                           L"velmo_installer_*.log");
      if (!enumerator.Next().empty() ||
          ::WaitForSingleObject(front_end.Handle(), 0) != WAIT_TIMEOUT) {
        break;
      }
      tree.Refresh();
      ::Sleep(5);
    }
    const ULONGLONG launched = ::GetTickCount64();
    // Looks for the processes while waiting, so that none is missed.
    while (::GetTickCount64() - launched < moment) {
      tree.Refresh();
      ::Sleep(5);
    }
    kill(&tree);
    bool settled = tree.WaitForAll(kSettleTimeoutMs);
    const std::string running = settled ? std::string() : tree.Describe();
    const bool only_lost = !settled && tree.OnlyProcessesThatRanNoCodeRemain();
    if (!settled && !only_lost) {
      std::printf("the installer processes did not end; where their threads stand:\n%s\n",
                  BacktracesOfAllProcesses().c_str());
      std::fflush(stdout);
    }
    if (only_lost) {
      // Not the installer's: the emulator lost a process being created as
      // its parent was ended. It ran nothing, so it changed nothing.
      std::printf("processes that never ran, left by the emulator:\n%s", running.c_str());
      settled = true;
    }
    if (!settled || !running.empty())
      tree.TerminateAll();
    ASSERT_TRUE(settled) << "the installer processes did not end:\n"
                         << running
                         << base::JoinString(TakeLogLines(/*with_process_ids=*/true), "\n");
  }

  // The next installation is not hindered by what a killed one left
  // (locks, download folders, logs, journals, changes to undo); it is then
  // uninstalled.
  void ExpectNextInstallationSucceeds() {
    ASSERT_EQ(0, Run(Installer(), KillLoopSwitches())) << base::JoinString(TakeLogLines(), "\n");
    const MachineState next = Comparable(Snapshot());
    ASSERT_TRUE(next == installed_) << Differences(installed_, next);
    TakeLogLines();
    UninstallAndExpect(baseline_);
    TakeLogLines();
  }

  base::FilePath start_menu_;
  base::FilePath journals_;
  base::FilePath tasks_;
  uint64_t seed_ = 0;
  std::mt19937_64 random_;
  ULONGLONG duration_ = 0;
  ULONGLONG upgrade_duration_ = 0;
  ULONGLONG transaction_ms_ = 0;
  MachineState installed_;
  MachineState baseline_;
  // The clean-up batch file waits for the uninstaller as it does on Windows,
  // instead of deleting the uninstaller's files while it still runs.
  test::ScopedBatchToolsPath batch_tools_;
};

TEST_F(KillLoopTest, EveryKillLeavesAllOrNothingAndTheNextInstallationSucceeds) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  std::map<std::string, int> outcomes;
  for (int iteration = 0; iteration < kIterations && !HasFatalFailure(); ++iteration) {
    const Target target = static_cast<Target>(random_() % 3);
    const DWORD moment = static_cast<DWORD>(random_() % (duration_ + 1));
    SCOPED_TRACE(::testing::Message() << "iteration " << iteration << ": " << TargetName(target)
                                      << " at " << moment << " ms (seed " << seed_ << ")");
    std::string outcome = TargetName(target);
    ASSERT_NO_FATAL_FAILURE(RunAndKill(moment, [target, &outcome](ProcessTree* tree) {
      HANDLE victim = Find(tree, target);
      // The emulator may drop the end of a process it is still starting: it
      // is ended again until it is gone. Nor may any process of the run be
      // starting when the victim's job takes it along (see
      // WaitUntilAllStarted).
      if (victim)
        tree->WaitUntilAllStarted();
      for (int tries = 0; victim && tries < 10; ++tries) {
        ::TerminateProcess(victim, 1);
        if (::WaitForSingleObject(victim, 1000) == WAIT_OBJECT_0)
          break;
      }
      outcome += victim ? " killed" : " not running";
    }));

    const MachineState after = Snapshot();
    if (after == baseline_) {
      outcome += ": nothing installed";
    } else {
      const MachineState comparable = Comparable(after);
      ASSERT_TRUE(comparable == installed_)
          << "neither installed nor untouched; against the installation:\n"
          << Differences(installed_, comparable) << "against the machine before:\n"
          << Differences(baseline_, after) << "logs:\n"
          << base::JoinString(TakeLogLines(), "\n");
      outcome += ": installed";
      UninstallAndExpect(baseline_);
    }
    ++outcomes[outcome];
    std::printf("iteration %d: %s at %lu ms: %s\n", iteration, TargetName(target), moment,
                outcome.c_str());
    TakeLogLines();
    ASSERT_NO_FATAL_FAILURE(ExpectNextInstallationSucceeds());
  }
  for (const auto& [outcome, count] : outcomes)
    std::printf("%3d x %s\n", count, outcome.c_str());
}

// Every process of the run ended at once: nobody is left to undo the run.
// What any later run on the folder does first (undo the interrupted runs
// from their journals) leaves the whole installation or nothing, and the
// next installation succeeds.
TEST_F(KillLoopTest, RunEndedWholeIsUndoneFromItsJournals) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  int half_installed = 0;
  for (int iteration = 0; iteration < kWholeRunIterations && !HasFatalFailure(); ++iteration) {
    const DWORD moment = static_cast<DWORD>(random_() % (duration_ + 1));
    SCOPED_TRACE(::testing::Message() << "iteration " << iteration << ": all at " << moment
                                      << " ms (seed " << seed_ << ")");
    ASSERT_NO_FATAL_FAILURE(RunAndKill(moment, [](ProcessTree* tree) { tree->TerminateAll(); }));
    // What the next run finds once it has undone the interrupted runs on the
    // folder (its first step, before it reads the folder's status): the
    // whole installation or nothing of it.
    const MachineState left = Snapshot();
    EXPECT_TRUE(RollBackInterruptedInstallations(install_folder_, /*wait_ms=*/0));
    const MachineState after = Snapshot();
    const bool half = left != baseline_ && Comparable(left) != installed_;
    half_installed += half ? 1 : 0;
    ASSERT_TRUE(after == baseline_ || Comparable(after) == installed_)
        << "left half installed after the rollback:\n"
        << Differences(baseline_, after);
    std::printf("iteration %d: all at %lu ms: %s, then %s\n", iteration, moment,
                half ? "half installed" : "not half installed",
                after == baseline_ ? "nothing installed" : "installed");
    if (after != baseline_)
      UninstallAndExpect(baseline_);
    TakeLogLines();
    ASSERT_NO_FATAL_FAILURE(ExpectNextInstallationSucceeds());
  }
  std::printf("%d of %d runs left half an installation to undo\n", half_installed,
              kWholeRunIterations);
}

// Upgrades ended at random moments, every process of the run at once (the
// user ends them, the machine goes down): half of them inside the
// transaction of the package's installer, whose journal and the first back
// end's are then left. The uninstallation that the uninstall entry starts
// next exits with 0 and leaves nothing of the installation, also when the
// entry names the version whose installation the rollback takes away, the
// uninstaller's own folder with it. What the ended run unpacked goes too.
TEST_F(KillLoopTest, UpgradeEndedWholeIsUninstalledByTheEntrysInstaller) {
  ASSERT_NO_FATAL_FAILURE(PrepareUpgrades());
  std::map<std::string, int> outcomes;
  for (int iteration = 0; iteration < kUpgradeIterations && !HasFatalFailure(); ++iteration) {
    const bool in_transaction = iteration % 2 == 0;
    const DWORD moment = static_cast<DWORD>(
        random_() % ((in_transaction ? transaction_ms_ : upgrade_duration_) + 1));
    SCOPED_TRACE(::testing::Message()
                 << "iteration " << iteration << ": all at " << moment << " ms"
                 << (in_transaction ? " into the transaction" : "") << " (seed " << seed_ << ")");
    ASSERT_EQ(0, Run(Installer(), UpgradeLoopSwitches())) << base::JoinString(TakeLogLines(), "\n");
    TakeLogLines();
    ASSERT_NO_FATAL_FAILURE(
        RunAndKill(NextInstaller(), UpgradeLoopSwitches(), in_transaction ? 0 : moment,
                   [&](ProcessTree* tree) {
                     if (in_transaction) {
                       const ULONGLONG deadline = ::GetTickCount64() + kSettleTimeoutMs;
                       while (PendingJournals() < 2 && !tree->FindRunning().empty() &&
                              ::GetTickCount64() < deadline) {
                         ::Sleep(5);
                       }
                       const ULONGLONG until = ::GetTickCount64() + moment;
                       while (::GetTickCount64() < until) {
                         tree->Refresh();
                         ::Sleep(5);
                       }
                     }
                     tree->TerminateAll();
                   }));
    const int pending = PendingJournals();
    std::string entry;
    const base::FilePath uninstaller = EntrysInstaller(&entry);
    const std::string left = DescribeWhatWasLeft();
    ASSERT_FALSE(uninstaller.empty()) << "neither an uninstall entry nor a record is left:\n"
                                      << left;
    const std::string killed_logs = base::JoinString(TakeLogLines(), "\n");

    const int exit_code =
        Run(uninstaller, {L"--uninstall", L"--silent", L"--v=1", L"--enable-installer-stats=0"});
    const std::vector<std::string> lines = TakeLogLines();
    // What the ended run left and logged, then the uninstallation's logs.
    const std::string logs = entry + ", " + base::WideToUTF8(uninstaller.value()) + "\n" + left +
                             "the ended run's logs:\n" + killed_logs +
                             "\nthe uninstallation's logs:\n" + base::JoinString(lines, "\n");
    ASSERT_EQ(0, exit_code) << logs;
    // The clean-up batch files remove what the uninstallers held once they
    // have ended.
    ASSERT_TRUE(WaitUntilGone(install_folder_)) << ListFolder(install_folder_) << logs;
    const MachineState after = SettledSnapshot(baseline_);
    ASSERT_TRUE(after == baseline_) << Differences(baseline_, after) << logs;
    std::vector<std::wstring> temporary = TemporaryLeftovers();
    for (int waited = 0; !temporary.empty() && waited < test::kFolderRemovalWaitMs; waited += 100) {
      ::Sleep(100);
      temporary = TemporaryLeftovers();
    }
    ASSERT_TRUE(temporary.empty()) << base::WideToUTF8(base::JoinString16(temporary, L", ")) << "\n"
                                   << logs;

    bool handed_over = false;
    for (const std::string& line : lines)
      handed_over = handed_over ||
                    line.find("the installed version's installer uninstalls") != std::string::npos;
    const std::string outcome = std::to_string(pending) + " journal(s) left, " + entry +
                                (handed_over ? ", handed over" : "");
    ++outcomes[outcome];
    std::printf("iteration %d: all at %lu ms%s: %s\n", iteration, moment,
                in_transaction ? " into the transaction" : "", outcome.c_str());
  }
  for (const auto& [outcome, count] : outcomes)
    std::printf("%3d x %s\n", count, outcome.c_str());
}

}  // namespace
}  // namespace installer
