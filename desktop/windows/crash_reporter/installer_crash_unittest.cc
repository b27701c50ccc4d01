// The real installer host with crash reporting: a front end started with a
// reporter (this test) reports its crash through the pipe, also a crash
// inside the installer window's procedure (the window needs a display).
#include <windows.h>

#include <ostream>
#include <string>

#include "base/command_line.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
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

class InstallerCrashTest : public testing::TestWithParam<FrontEndCrash> {};

TEST_P(InstallerCrashTest, TheRealFrontEndReportsItsCrashToItsReporter) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  base::CommandLine command_line(exe_dir.Append(L"installer.exe"));
  command_line.AppendSwitchASCII(installer::kCrashReporterPidSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  command_line.AppendSwitchNative(installer::kTempFolderSwitch, temp.GetPath().value());

  ::SetEnvironmentVariableW(kTestCrashVariable, GetParam().request);
  base::Process installer = base::LaunchProcess(command_line, base::LaunchOptions());
  ::SetEnvironmentVariableW(kTestCrashVariable, nullptr);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(GetParam().exit_code, static_cast<DWORD>(exit_code));

  ASSERT_EQ(1u, server.dumps().size());
  const RecordedDump dump = server.dumps()[0];
  EXPECT_EQ(installer.Pid(), dump.pid);
  EXPECT_EQ(0xC0000005, dump.exception_code);
  EXPECT_EQ(L"installer", dump.Value(L"process_type"));
  EXPECT_EQ(0u, dump.Value(L"modules").find(L"installer.exe:")) << dump.Value(L"modules");
}

INSTANTIATE_TEST_SUITE_P(
    Places, InstallerCrashTest,
    testing::Values(FrontEndCrash{"OutsideAnyWindow", L"frontend:access-violation", 0xC0000005},
                    FrontEndCrash{"InTheInstallerWindow", L"window:access-violation", 1}),
    [](const testing::TestParamInfo<FrontEndCrash>& info) { return std::string(info.param.name); });

#endif  // defined(VELMO_TEST_CRASH_TRIGGER)

}  // namespace
}  // namespace crash_reporter
