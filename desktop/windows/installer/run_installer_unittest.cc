// Runs the real host executable under its own temporary folder and checks
// what a user (or the next process) sees: the output, the exit code and the
// installer log.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_split.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/backend_command_line.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/installer_options.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/kernel_object_name.h"
#include "desktop/windows/installer/ui/installer_ui_driver_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::FilePath BuildDir() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir;
}

class RunInstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    wchar_t saved[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"TEMP", saved, MAX_PATH);
    saved_temp_.assign(saved, length < MAX_PATH ? length : 0);
    // Children inherit the environment: each run gets a TEMP of its own.
    ASSERT_TRUE(SetEnvironmentVariableW(L"TEMP", temp_.GetPath().c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", temp_.GetPath().c_str()));
    // Runs whose package server cannot be reached keep the installers' full
    // count of retries; only the pause between them is shortened (test
    // builds read it), so that they fail in seconds instead of an hour.
    ASSERT_TRUE(SetEnvironmentVariableW(L"VELMO_TEST_RETRY_DELAY_MS", L"20"));
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TEMP", saved_temp_.c_str());
    SetEnvironmentVariableW(L"TMP", saved_temp_.c_str());
    SetEnvironmentVariableW(L"VELMO_TEST_RETRY_DELAY_MS", nullptr);
  }

  // Runs |host| (the built installer.exe by default) with |args|.
  int Run(const std::vector<std::wstring>& args, std::string* output,
          base::FilePath host = base::FilePath()) {
    if (host.empty())
      host = BuildDir().Append(L"installer.exe");
    base::CommandLine command_line(host);
    for (const std::wstring& arg : args) {
      if (arg.rfind(L"--", 0) == 0) {
        size_t equals = arg.find(L'=');
        std::string name(arg.begin() + 2,
                         equals == std::wstring::npos ? arg.end() : arg.begin() + equals);
        if (equals == std::wstring::npos)
          command_line.AppendSwitch(name);
        else
          command_line.AppendSwitchNative(name, arg.substr(equals + 1));
      } else {
        command_line.AppendArg(arg);
      }
    }
    int exit_code = -1;
    if (output) {
      EXPECT_TRUE(base::RunAndCaptureOutputWithExitCode(command_line, output, &exit_code));
      return exit_code;
    }
    // A run that shows the installer window ends when a user closes it and
    // confirms. No statistics: their sending waits for a network these runs
    // do not have.
    command_line.AppendSwitchASCII("enable-installer-stats", "0");
    base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
    EXPECT_TRUE(process.IsValid());
    if (!process.IsValid())
      return -1;
    exit_code = test::WaitClosingInstallerWindow(process);
    EXPECT_NE(-1, exit_code) << "the installer did not end";
    return exit_code;
  }

  base::FilePath LogFolder() const { return temp_.GetPath().Append(L"Velmo Installer"); }

  // The lines of the log files of this run, oldest first: a role that starts
  // a back end gets the back end's lines too (in the same file when it
  // started within the same second).
  std::vector<std::string> LogLines() {
    base::DirectoryEnumerator logs(LogFolder(), false, base::DirectoryEnumerator::FILES,
                                   L"velmo_installer_*.log");
    std::vector<base::FilePath> files;
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next())
      files.push_back(log);
    EXPECT_FALSE(files.empty()) << "no log file";
    std::sort(files.begin(), files.end());
    std::vector<std::string> lines;
    for (const base::FilePath& log : files) {
      std::string text;
      base::ReadFileToString(log, &text);
      for (const std::string& line :
           base::SplitString(text, "\n", base::KEEP_WHITESPACE, base::SPLIT_WANT_NONEMPTY)) {
        size_t end = line.find("] ");
        lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
      }
    }
    return lines;
  }

  static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
      if (line == text)
        return true;
    }
    return false;
  }

  base::ScopedTempDir temp_;
  std::wstring saved_temp_;
};

TEST_F(RunInstallerTest, VersionQueriesAnswerAtOnce) {
  std::string output;
  EXPECT_EQ(0, Run({L"--version"}, &output));
  EXPECT_EQ("43.0.2442.991", output);
  EXPECT_EQ(0, Run({L"--internal-version"}, &output));
  EXPECT_EQ("2442.991", output);
  EXPECT_EQ(0, Run({L"--stream"}, &output));
  EXPECT_EQ("Stable", output);
  EXPECT_EQ(0, Run({L"--stream", L"--internal-version", L"--version"}, &output));
  EXPECT_EQ("43.0.2442.991", output);
  // Nothing was set up for them: no log folder.
  EXPECT_FALSE(base::PathExists(LogFolder()));
}

TEST_F(RunInstallerTest, PlainRunWritesTheStartLinesAndFlags) {
  EXPECT_EQ(1, Run({}, nullptr));  // The window was closed: false.
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ("Velmo installer starting - version 43.0.2442.991 Stable", lines[0]);
  EXPECT_EQ(0u, lines[1].find("Command line: \"")) << lines[1];
  const char* flags[] = {"Uninstall:false", "Replace Tarsel installation:false",
                         "Silent:false",    "Run Immediatelyfalse",
                         "Backendfalse",    "Inside packagefalse",
                         "Autoupdate:false"};
  for (size_t i = 0; i < std::size(flags); ++i)
    EXPECT_EQ(flags[i], lines[2 + i]);
}

// A back end adds to the log its front end names, never to one of another
// run: not to the logs named after its own second (the test's, made for the
// coming seconds), not to a file that is no installer log. Without a log it
// may add to, it writes a new log of its own and says why there.
TEST_F(RunInstallerTest, BackEndWritesToTheLogItsFrontEndNames) {
  ASSERT_TRUE(base::CreateDirectoryTree(LogFolder()));
  const std::string marker = "another run's line\n";
  std::vector<base::FilePath> others;
  // The names of the coming seconds (the back end starts within them).
  for (int i = 0; i < 20; ++i) {
    base::Time::Exploded at;
    (base::Time::Now() + base::TimeSpan::FromSeconds(i)).Explode(/*is_local=*/true, &at);
    others.push_back(LogFolder().Append(
        LogFileNameForTime(at.year, at.month, at.day_of_month, at.hour, at.minute, at.second)));
  }
  // The front end's log, from another day.
  const base::FilePath front_end_log = LogFolder().Append(LogFileNameForTime(2020, 1, 2, 3, 4, 5));
  const base::FilePath not_a_log = LogFolder().Append(L"notes.txt");
  others.push_back(not_a_log);
  const struct {
    const char* what;
    std::vector<std::wstring> args;
    // The log that gets the back end's lines; empty: a new one.
    base::FilePath written;
    const char* said;
  } cases[] = {
      {"named log", {L"--log-file=" + front_end_log.value()}, front_end_log, nullptr},
      {"no log named", {}, base::FilePath(), nullptr},
      {"a file that is no installer log",
       {L"--log-file=" + not_a_log.value()},
       base::FilePath(),
       "is no installer log"},
      {"a log that is gone",
       {L"--log-file=" + LogFolder().Append(LogFileNameForTime(2020, 1, 2, 3, 4, 6)).value()},
       base::FilePath(),
       "Cannot add to the run's log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(base::DeletePath(LogFolder(), true));
    ASSERT_TRUE(base::CreateDirectoryTree(LogFolder()));
    for (const base::FilePath& other : others) {
      ASSERT_EQ(static_cast<int>(marker.size()),
                base::WriteFileBytes(other, marker.data(), static_cast<int>(marker.size())));
    }
    const std::string front_end_line = "front end line\n";
    ASSERT_EQ(static_cast<int>(front_end_line.size()),
              base::WriteFileBytes(front_end_log, front_end_line.data(),
                                   static_cast<int>(front_end_line.size())));
    std::vector<std::wstring> args = {L"--backend"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(1, Run(args, nullptr));  // No front end to serve: false.

    for (const base::FilePath& other : others) {
      std::string text;
      ASSERT_TRUE(base::ReadFileToString(other, &text)) << other;
      EXPECT_EQ(marker, text) << other;
    }
    base::DirectoryEnumerator logs(LogFolder(), false, base::DirectoryEnumerator::FILES,
                                   L"velmo_installer_*.log");
    std::vector<base::FilePath> written;
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string text;
      ASSERT_TRUE(base::ReadFileToString(log, &text)) << log;
      if (text.find("Command line: ") != std::string::npos)
        written.push_back(log);
    }
    ASSERT_EQ(1u, written.size());
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(written[0], &text));
    if (!c.written.empty()) {
      EXPECT_EQ(c.written, written[0]);
      EXPECT_EQ(0u, text.find(front_end_line)) << text;
    } else {
      EXPECT_EQ(std::string::npos, text.find(front_end_line)) << text;
    }
    if (c.said) {
      EXPECT_NE(std::string::npos, text.find(c.said)) << text;
    }
  }
}

// A back end whose front end ended while it started this one (ended from
// outside, or crashed) ends at once, never waiting for a package that will
// not come, whether it was told of the front end by an inherited handle or
// by its id. The events a front end makes for its back end are there (the
// test holds them, as any process that opened them keeps them): the back
// end must not take them for a front end.
TEST_F(RunInstallerTest, BackEndOfAFrontEndThatIsGoneEndsAtOnce) {
  // The front end: a program that has ended. Its handle stays open, so that
  // its id is not given to another process meanwhile.
  base::Process gone = base::LaunchProcess(
      base::CommandLine(BuildDir().Append(L"tiny_program.exe")), base::LaunchOptions());
  ASSERT_TRUE(gone.IsValid());
  ASSERT_TRUE(gone.WaitForExitWithTimeout(120 * 1000, nullptr));
  HANDLE inheritable = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), gone.Handle(), ::GetCurrentProcess(),
                                &inheritable, SYNCHRONIZE, /*bInheritHandle=*/TRUE, 0));
  base::win::ScopedHandle gone_handle(inheritable);

  const base::FilePath install_folder = temp_.GetPath().Append(L"Velmo");
  std::vector<base::win::ScopedHandle> events;
  for (const wchar_t* name : {kInstallationInterruptedEventName, kPackageReadyEventName}) {
    const std::wstring event_name = GetKernelObjectName(install_folder, name, /*global=*/true);
    events.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    ASSERT_TRUE(events.back().IsValid()) << base::WideToUTF8(event_name);
  }

  const std::wstring pid = std::to_wstring(gone.Pid());
  const struct {
    const char* what;
    std::vector<std::wstring> args;
  } cases[] = {
      {"inherited handle",
       {L"--initial-pid=" + pid,
        L"--initial-proc-handle=" + base::UTF8ToWide(EncodeProcessHandleSwitch(inheritable))}},
      {"id", {L"--initial-pid=" + pid}},
      // A handle value that names nothing in the back end (one the front
      // end meant to pass, but the back end did not inherit).
      {"handle it does not hold",
       {L"--initial-pid=" + pid,
        L"--initial-proc-handle=" +
            base::UTF8ToWide(EncodeProcessHandleSwitch(reinterpret_cast<HANDLE>(0xFFF0)))}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(base::DeletePath(LogFolder(), true));
    base::CommandLine command_line(BuildDir().Append(L"installer.exe"));
    command_line.AppendSwitch("backend");
    command_line.AppendSwitch("silent");
    command_line.AppendSwitchASCII("v", "1");
    command_line.AppendSwitchASCII("enable-installer-stats", "0");
    command_line.AppendSwitchNative("installfolder", install_folder.value());
    command_line.AppendSwitchNative("wait-for-package", temp_.GetPath().Append(L"package").value());
    for (const std::wstring& arg : c.args) {
      const size_t equals = arg.find(L'=');
      command_line.AppendSwitchNative(base::WideToUTF8(arg.substr(2, equals - 2)),
                                      arg.substr(equals + 1));
    }
    base::LaunchOptions options;
    options.inherit_handles = true;
    base::Process back_end = base::LaunchProcess(command_line, options);
    ASSERT_TRUE(back_end.IsValid());
    // A back end that waits for the package never ends: the time-out only
    // keeps the test from hanging.
    int exit_code = -1;
    if (!back_end.WaitForExitWithTimeout(120 * 1000, &exit_code)) {
      back_end.Terminate(1, true);
      ADD_FAILURE() << "the back end waits on";
    }
    EXPECT_EQ(1, exit_code);
    const std::vector<std::string> lines = LogLines();
    EXPECT_FALSE(Contains(lines, "Need to wait for actual package"));
    EXPECT_FALSE(Contains(lines, "Beginning installation"));
    EXPECT_FALSE(base::PathExists(install_folder));
  }
}

TEST_F(RunInstallerTest, UninstallOutsideAnInstallationFails) {
  EXPECT_EQ(1, Run({L"--uninstall"}, nullptr));
  EXPECT_TRUE(Contains(LogLines(),
                       "Requested to uninstall, but we are not in a valid installation folder"));
}

TEST_F(RunInstallerTest, StagedPackageFolderIsInsidePackage) {
  base::FilePath package = temp_.GetPath().Append(L"package");
  ASSERT_TRUE(base::CreateDirectoryTree(package));
  ASSERT_TRUE(
      base::CopySingleFile(BuildDir().Append(L"installer.exe"), package.Append(L"installer.exe")));
  ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(L"installer_engine.dll"),
                                   package.Append(L"installer_engine.dll")));
  ASSERT_EQ(1, base::WriteFileBytes(package.Append(L"velmo.exe"), "x", 1));
  ASSERT_EQ(1, base::WriteFileBytes(package.Append(L"files_list"), "x", 1));
  // Contained in the test's folder: the empty files list fails the run.
  Run({L"--silent", L"--enable-installer-stats=0",
       L"--installfolder=" + temp_.GetPath().Append(L"Velmo").value()},
      nullptr, package.Append(L"installer.exe"));
  EXPECT_TRUE(Contains(LogLines(), "Inside packagetrue"));
}

TEST_F(RunInstallerTest, UninstallTakesExperimentStatesFromTheInstallation) {
  base::FilePath installation = temp_.GetPath().Append(L"Velmo");
  ASSERT_TRUE(base::CreateDirectoryTree(installation));
  for (const wchar_t* name : {L"installer.exe", L"installer_engine.dll"})
    ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(name), installation.Append(name)));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"velmo.exe"), "x", 1));
  ASSERT_EQ(1, base::WriteFileBytes(installation.Append(L"launcher.exe"), "x", 1));
  const std::string prefs = R"({"installer-experiments": ["installer-experiment-test@1"]})";
  ASSERT_EQ(static_cast<int>(prefs.size()),
            base::WriteFileBytes(installation.Append(L"installer_prefs.json"), prefs.data(),
                                 static_cast<int>(prefs.size())));
  Run({L"--uninstall", L"--silent", L"--v=1", L"--enable-installer-stats=0"}, nullptr,
      installation.Append(L"installer.exe"));
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "Retrieved experiment states from installation folder"));
  EXPECT_TRUE(Contains(lines, "Test experiment is enabled"));
  EXPECT_TRUE(Contains(lines, "Inside packagetrue"));
}

TEST_F(RunInstallerTest, AutoupdateRecoversTheFolderFromTheLastArgument) {
  std::wstring folder = L"C:\\Program Files\\Velmo Test";
  Run({L"--installfolder=", L"--autoupdate", folder}, nullptr);
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "It looks like we are autoupdating from V12."));
  EXPECT_TRUE(
      Contains(lines, "Recovered install folder from command line: C:\\Program Files\\Velmo Test"));
  EXPECT_TRUE(Contains(lines, "Run Immediatelyfalse"));
}

TEST_F(RunInstallerTest, SilentAutoupdateBecomesRunImmediately) {
  Run({L"--installfolder=", L"--autoupdate", L"--silent", L"C:\\Velmo"}, nullptr);
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "Configuring for V12 autoupdate."));
  EXPECT_TRUE(Contains(lines, "Silent:false"));
  EXPECT_TRUE(Contains(lines, "Run Immediatelytrue"));
}

TEST_F(RunInstallerTest, RelativeLastArgumentLeavesTheFolderEmpty) {
  Run({L"--installfolder=", L"--autoupdate", L"--silent", L"--enable-installer-stats=0",
       L"--internal-package-server=http://127.0.0.1:9", L"Velmo"},
      nullptr);
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "Recovered install folder from command line: "));
  EXPECT_FALSE(Contains(lines, "Configuring for V12 autoupdate."));
  EXPECT_TRUE(Contains(lines, "Silent:true"));
}

TEST(UsageTextTest, ListsOptionsLanguagesAndExperiments) {
  std::string text = BuildUsageText({L"en", L"de", L"pt-PT"});
  EXPECT_EQ(0u, text.find("Velmo Installer 43.0.2442.991 Stable\n\n"));
  EXPECT_NE(std::string::npos,
            text.find("  installfolder=FOLDER\n    Install Velmo in the specified folder.\n"));
  EXPECT_NE(std::string::npos,
            text.find("  setdefaultbrowser=[0|1]\n    If true, make Velmo the default browser for "
                      "this user or computer.\n    Default value: True for Velmo Stable.\n"));
  EXPECT_NE(std::string::npos, text.find("  silent\n    Run the installer fully unattended."));
  EXPECT_NE(std::string::npos, text.find("  language=LANGUAGE\n"));
  EXPECT_NE(std::string::npos,
            text.find("\nLanguages available for the language option:\nen, de, pt-PT\n"));
  EXPECT_NE(std::string::npos,
            text.find("\t--with-feature:installer-experiment-test [Enabled by default: false]\n"));
  EXPECT_NE(std::string::npos,
            text.find("\t--with-feature:installer-support-x64-download [Enabled by default: "
                      "true]\n"));
  // Every one of the sixteen options, with its placeholder where it has one.
  size_t rows = 0;
  for (const InstallerOption& option : kInstallerOptions) {
    std::string line = std::string("\n  ") + option.name;
    if (option.placeholder)
      line += std::string("=") + option.placeholder;
    EXPECT_NE(std::string::npos, text.find(line + "\n")) << option.name;
    ++rows;
  }
  EXPECT_EQ(16u, rows);
  EXPECT_EQ(std::string::npos, text.find("%s"));
}

// The download folder is made for the role and removed after it when the
// role left it empty; one that still holds files stays with them.
TEST_F(RunInstallerTest, DownloadFolderFromTheSwitchIsCreatedAndRemovedWhenEmpty) {
  base::FilePath requested = temp_.GetPath().Append(L"downloads").Append(L"deeper");
  EXPECT_EQ(1, Run({L"--temp-folder=" + requested.value(), L"--v=1"}, nullptr));
  base::FilePath folder = requested.Append(L"Velmo Installer");
  EXPECT_FALSE(base::PathExists(folder));
  EXPECT_TRUE(base::DirectoryExists(requested));
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "Using download folder from command line"));
  EXPECT_TRUE(Contains(lines, "Installer download folder: " + base::WideToUTF8(folder.value())));
  EXPECT_TRUE(Contains(lines, "Controller exiting"));

  ASSERT_TRUE(base::DeletePath(LogFolder(), true));
  const base::FilePath kept = folder.Append(L"package.7z");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  ASSERT_EQ(1, base::WriteFileBytes(kept, "x", 1));
  EXPECT_EQ(1, Run({L"--temp-folder=" + requested.value(), L"--silent",
                    L"--enable-installer-stats=0", L"--internal-package-server=http://127.0.0.1:9"},
                   nullptr));
  EXPECT_TRUE(base::PathExists(kept));
}

TEST_F(RunInstallerTest, UncreatableDownloadFolderFailsBeforeAnyRole) {
  // A file where the folder should go: nothing can be created below it.
  base::FilePath blocker = temp_.GetPath().Append(L"blocker");
  ASSERT_EQ(1, base::WriteFileBytes(blocker, "x", 1));
  EXPECT_EQ(1, Run({L"--temp-folder=" + blocker.value(), L"--silent"}, nullptr));
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "Could not create temporary installer folder"));
  for (const std::string& line : lines) {
    EXPECT_EQ(std::string::npos, line.find("Installer download folder")) << line;
    EXPECT_EQ(std::string::npos, line.find("role is not available")) << line;
  }
}

// Hides the product configuration of the host executable at |path| by
// renumbering its resource to |kProductConfigResourceId| - 1 (the order of
// the ids stays sorted). The resource-update functions of Wine rewrite the
// file without deleting anything, so the directory is edited by hand.
bool HideProductConfig(const base::FilePath& path) {
  std::string image;
  if (!base::ReadFileToString(path, &image) || image.size() < sizeof(IMAGE_DOS_HEADER))
    return false;
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE ||
      static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > image.size())
    return false;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
  const DWORD resource_rva =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
  IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  size_t root = 0;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (resource_rva >= section->VirtualAddress &&
        resource_rva < section->VirtualAddress + section->SizeOfRawData) {
      root = resource_rva - section->VirtualAddress + section->PointerToRawData;
    }
  }
  if (root == 0)
    return false;
  auto entries = [&](size_t directory, size_t* count) {
    auto* header = reinterpret_cast<IMAGE_RESOURCE_DIRECTORY*>(image.data() + directory);
    *count = header->NumberOfNamedEntries + header->NumberOfIdEntries;
    return reinterpret_cast<IMAGE_RESOURCE_DIRECTORY_ENTRY*>(header + 1);
  };
  size_t type_count = 0;
  IMAGE_RESOURCE_DIRECTORY_ENTRY* types = entries(root, &type_count);
  int renumbered = 0;
  for (size_t i = 0; i < type_count; ++i) {
    if (!types[i].NameIsString || !types[i].DataIsDirectory)
      continue;
    auto* name =
        reinterpret_cast<IMAGE_RESOURCE_DIR_STRING_U*>(image.data() + root + types[i].NameOffset);
    if (std::wstring(name->NameString, name->Length) != kProductConfigResourceType)
      continue;
    size_t id_count = 0;
    IMAGE_RESOURCE_DIRECTORY_ENTRY* ids = entries(root + types[i].OffsetToDirectory, &id_count);
    for (size_t j = 0; j < id_count; ++j) {
      if (!ids[j].NameIsString && ids[j].Id == kProductConfigResourceId) {
        ids[j].Id = kProductConfigResourceId - 1;
        ++renumbered;
      }
    }
  }
  return renumbered == 1 &&
         base::WriteFileBytes(path, image.data(), static_cast<int>(image.size())) ==
             static_cast<int>(image.size());
}

TEST_F(RunInstallerTest, ConfigurationOnlyFromTheModuleBesideTheExecutable) {
  base::FilePath bare = temp_.GetPath().Append(L"bare");
  base::FilePath elsewhere = temp_.GetPath().Append(L"elsewhere");
  ASSERT_TRUE(base::CreateDirectoryTree(bare));
  ASSERT_TRUE(base::CreateDirectoryTree(elsewhere));
  for (const wchar_t* name : {L"installer.exe", L"installer_engine.dll"})
    ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(name), bare.Append(name)));
  ASSERT_TRUE(HideProductConfig(bare.Append(L"installer.exe")));
  {
    base::win::LibraryHolder image(bare.Append(L"installer.exe").value(), LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(image.IsLoaded());
    EXPECT_EQ(nullptr, ::FindResourceW(image.Handle(), MAKEINTRESOURCEW(kProductConfigResourceId),
                                       kProductConfigResourceType));
  }
  // A module carrying a configuration, where a search by bare name would
  // find it: on PATH and in the current folder.
  ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(L"installer.exe"),
                                   elsewhere.Append(L"_vlautolib.pyd")));
  wchar_t saved_path[32767];
  DWORD length = ::GetEnvironmentVariableW(L"PATH", saved_path, std::size(saved_path));
  std::wstring old_path(saved_path, length < std::size(saved_path) ? length : 0);
  wchar_t saved_dir[MAX_PATH];
  ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, saved_dir));
  ASSERT_TRUE(::SetEnvironmentVariableW(L"PATH", (elsewhere.value() + L";" + old_path).c_str()));
  ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.value().c_str()));
  int exit_code = Run({}, nullptr, bare.Append(L"installer.exe"));
  ::SetCurrentDirectoryW(saved_dir);
  ::SetEnvironmentVariableW(L"PATH", old_path.c_str());
  // Without a configuration nothing runs: no log is even started.
  EXPECT_EQ(1, exit_code);
  EXPECT_FALSE(base::PathExists(LogFolder()));

  // Beside the executable the module is read (as data) and the run starts.
  ASSERT_TRUE(
      base::CopySingleFile(BuildDir().Append(L"installer.exe"), bare.Append(L"_vlautolib.pyd")));
  EXPECT_EQ(1, Run({}, nullptr, bare.Append(L"installer.exe")));
  std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ("Velmo installer starting - version 43.0.2442.991 Stable", lines[0]);
}

// The hosts carry payloads made by the installer-making tool at build time.
TEST_F(RunInstallerTest, ThePayloadOfTheHostIsReadAndLogged) {
  const base::FilePath hosts = BuildDir().Append(L"payload_hosts");
  Run({}, nullptr, hosts.Append(L"full_installer.exe"));
  EXPECT_TRUE(Contains(LogLines(), "Found full package"));

  ASSERT_TRUE(base::DeletePath(LogFolder(), true));
  Run({}, nullptr, hosts.Append(L"net_installer.exe"));
  EXPECT_TRUE(Contains(LogLines(), "Tracking data: campaign=fixture&partner=velmo&id=0123456789"));

  // The plain host has no payload; tracking data can come from the switch.
  ASSERT_TRUE(base::DeletePath(LogFolder(), true));
  Run({L"--server-tracking-blob=abc"}, nullptr);
  std::vector<std::string> lines = LogLines();
  EXPECT_TRUE(Contains(lines, "No valid payload found"));
  EXPECT_TRUE(Contains(lines, "Failed reading payload"));
  EXPECT_TRUE(Contains(lines, "Using tracking data from command line"));
  EXPECT_FALSE(Contains(lines, "Found full package"));
}

}  // namespace
}  // namespace installer
