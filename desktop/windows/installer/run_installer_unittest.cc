// Runs the real host executable under its own temporary folder and checks
// what a user (or the next process) sees: the output, the exit code and the
// installer log.
#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_split.h"
#include "desktop/windows/installer/installer_options.h"
#include "desktop/windows/installer/product_config.h"
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
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TEMP", saved_temp_.c_str());
    SetEnvironmentVariableW(L"TMP", saved_temp_.c_str());
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
        std::string name(arg.begin() + 2, equals == std::wstring::npos ? arg.end()
                                                                        : arg.begin() + equals);
        if (equals == std::wstring::npos)
          command_line.AppendSwitch(name);
        else
          command_line.AppendSwitchNative(name, arg.substr(equals + 1));
      } else {
        command_line.AppendArg(arg);
      }
    }
    int exit_code = -1;
    std::string ignored;
    EXPECT_TRUE(base::RunAndCaptureOutputWithExitCode(command_line, output ? output : &ignored,
                                                      &exit_code));
    return exit_code;
  }

  base::FilePath LogFolder() const { return temp_.GetPath().Append(L"Velmo Installer"); }

  // The lines of the only log file of this run.
  std::vector<std::string> LogLines() {
    base::DirectoryEnumerator logs(LogFolder(), false, base::DirectoryEnumerator::FILES,
                                   L"velmo_installer_*.log");
    base::FilePath log = logs.Next();
    EXPECT_FALSE(log.empty()) << "no log file";
    EXPECT_TRUE(logs.Next().empty()) << "more than one log file";
    std::string text;
    base::ReadFileToString(log, &text);
    std::vector<std::string> lines;
    for (const std::string& line : base::SplitString(text, "\n", base::KEEP_WHITESPACE,
                                                     base::SPLIT_WANT_NONEMPTY)) {
      size_t end = line.find("] ");
      lines.push_back(end == std::string::npos ? line : line.substr(end + 2));
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
  EXPECT_EQ(1, Run({}, nullptr));  // No role is available yet: false.
  std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ("Velmo installer starting - version 43.0.2442.991 Stable", lines[0]);
  EXPECT_EQ(0u, lines[1].find("Command line: \"")) << lines[1];
  const char* flags[] = {"Uninstall:false",       "Replace Tarsel installation:false",
                         "Silent:false",          "Run Immediatelyfalse",
                         "Backendfalse",          "Inside packagefalse",
                         "Autoupdate:false"};
  for (size_t i = 0; i < std::size(flags); ++i)
    EXPECT_EQ(flags[i], lines[2 + i]);
}

TEST_F(RunInstallerTest, UninstallOutsideAnInstallationFails) {
  EXPECT_EQ(1, Run({L"--uninstall"}, nullptr));
  EXPECT_TRUE(Contains(LogLines(),
                       "Requested to uninstall, but we are not in a valid installation folder"));
}

TEST_F(RunInstallerTest, StagedPackageFolderIsInsidePackage) {
  base::FilePath package = temp_.GetPath().Append(L"package");
  ASSERT_TRUE(base::CreateDirectoryTree(package));
  ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(L"installer.exe"),
                                   package.Append(L"installer.exe")));
  ASSERT_TRUE(base::CopySingleFile(BuildDir().Append(L"installer_engine.dll"),
                                   package.Append(L"installer_engine.dll")));
  ASSERT_EQ(1, base::WriteFileBytes(package.Append(L"velmo.exe"), "x", 1));
  ASSERT_EQ(1, base::WriteFileBytes(package.Append(L"files_list"), "x", 1));
  Run({L"--silent"}, nullptr, package.Append(L"installer.exe"));
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
  Run({L"--uninstall", L"--silent", L"--v=1"}, nullptr, installation.Append(L"installer.exe"));
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
  EXPECT_TRUE(Contains(lines, "Recovered install folder from command line: C:\\Program Files\\Velmo Test"));
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
  Run({L"--installfolder=", L"--autoupdate", L"--silent", L"Velmo"}, nullptr);
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

}  // namespace
}  // namespace installer
