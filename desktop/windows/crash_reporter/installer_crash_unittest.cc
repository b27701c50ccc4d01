// The real installer host with crash reporting: a front end started with a
// reporter (this test) reports its crash through the pipe, also a crash
// inside the installer window's procedure (the window needs a display).
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_pipe_test_support.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_switches.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

#if defined(VELMO_TEST_CRASH_TRIGGER)

// Where the front end crashes, and the exit code that tells which way its
// crash was reported: outside any window procedure the unhandled-exception
// filter reports it and the process ends with the exception's code; inside
// the installer window's procedure the guard hands it to the crash hook,
// which reports it and ends the process with 1.
struct FrontEndCrash {
  const char* name;
  const wchar_t* request;
  DWORD exit_code;
};

void PrintTo(const FrontEndCrash& crash, std::ostream* out) { *out << crash.name; }

// The installer logs under |temp|, one after another.
std::string FrontEndLogs(const base::FilePath& temp) {
  std::string logs;
  base::DirectoryEnumerator files(temp.Append(L"Velmo Installer"), false,
                                  base::DirectoryEnumerator::FILES, L"*.log");
  for (base::FilePath log = files.Next(); !log.empty(); log = files.Next()) {
    std::string text;
    base::ReadFileToString(log, &text);
    logs += "--- " + base::WideToUTF8(log.value()) + "\n" + text;
  }
  return logs.empty() ? "no installer log" : logs;
}

// Runs the real front end with |server| as its reporter and expects the
// crash |crash| describes to be reported to it.
void ExpectTheCrashReported(const FrontEndCrash& crash, RecordingCrashServer* server) {
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  base::CommandLine command_line(exe_dir.Append(L"installer.exe"));
  command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  command_line.AppendSwitchNative(installer::kTempFolderSwitch, temp.GetPath().value());

  const size_t dumps_before = server->dumps().size();
  // The front end's log goes to the test's own folder, to be shown when
  // its crash was not reported.
  wchar_t saved_temp[MAX_PATH];
  const DWORD saved_length = ::GetEnvironmentVariableW(L"TEMP", saved_temp, MAX_PATH);
  ::SetEnvironmentVariableW(L"TEMP", temp.GetPath().c_str());
  ::SetEnvironmentVariableW(kTestCrashVariable, crash.request);
  base::Process installer = base::LaunchProcess(command_line, base::LaunchOptions());
  ::SetEnvironmentVariableW(kTestCrashVariable, nullptr);
  ::SetEnvironmentVariableW(L"TEMP", saved_length < MAX_PATH ? saved_temp : nullptr);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(crash.exit_code, static_cast<DWORD>(exit_code));

  const std::vector<RecordedDump> dumps = server->dumps();
  ASSERT_EQ(dumps_before + 1, dumps.size()) << FrontEndLogs(temp.GetPath());
  const RecordedDump& dump = dumps.back();
  EXPECT_EQ(installer.Pid(), dump.pid);
  EXPECT_EQ(0xC0000005, dump.exception_code);
  EXPECT_EQ(L"installer", dump.Value(L"process_type"));
  EXPECT_EQ(0u, dump.Value(L"modules").find(L"installer.exe:")) << dump.Value(L"modules");
}

class InstallerCrashTest : public testing::TestWithParam<FrontEndCrash> {};

TEST_P(InstallerCrashTest, TheRealFrontEndReportsItsCrashToItsReporter) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  ExpectTheCrashReported(GetParam(), &server);
}

INSTANTIATE_TEST_SUITE_P(
    Places, InstallerCrashTest,
    testing::Values(FrontEndCrash{"OutsideAnyWindow", L"frontend:access-violation", 0xC0000005},
                    FrontEndCrash{"InTheInstallerWindow", L"window:access-violation", 1}),
    [](const testing::TestParamInfo<FrontEndCrash>& info) { return std::string(info.param.name); });

// However loaded the machine, every crash in the installer window reaches
// the reporter: twenty in a row, each with its process's own details.
TEST(InstallerWindowCrashTest, EveryCrashOfTwentyInARowIsReported) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const FrontEndCrash crash = {"InTheInstallerWindow", L"window:access-violation", 1};
  for (int round = 0; round < 20 && !testing::Test::HasFailure(); ++round) {
    SCOPED_TRACE(round);
    ExpectTheCrashReported(crash, &server);
  }
}

#endif  // defined(VELMO_TEST_CRASH_TRIGGER)

}  // namespace
}  // namespace crash_reporter
