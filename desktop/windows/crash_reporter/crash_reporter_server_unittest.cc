#include "desktop/windows/crash_reporter/crash_reporter_server.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log_directories.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {
namespace {

constexpr char kFlagsFileSwitch[] = "flags-file";

// A reporter whose host supplies the flags preference file.
CHILD_PROCESS_MAIN(ReporterWithFlagsFile) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  base::PathRegistry::Override(kPathCrashFlagsPreferenceFile,
                               command_line.GetSwitchValuePath(kFlagsFileSwitch));
  return RunCrashReporterServer() == -1 ? 1 : 0;
}

class CrashReporterServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    const std::wstring name =
        kCrashReporterInitEventPrefix + std::to_wstring(::GetCurrentProcessId());
    init_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(init_event_.IsValid());
  }

  // Starts a reporter serving this process with |preferences| as its flags
  // file.
  bool StartReporter(const std::string& preferences) {
    const base::FilePath flags = temp_.GetPath().Append(L"Preferences");
    base::WriteFileBytes(flags, preferences.data(), static_cast<int>(preferences.size()));
    base::CommandLine command_line = testing::GetChildCommandLine("ReporterWithFlagsFile");
    command_line.AppendSwitchNative(kFlagsFileSwitch, flags.value());
    command_line.AppendSwitchASCII("crash-reporter-parent-id",
                                   std::to_string(::GetCurrentProcessId()));
    reporter_ = base::LaunchProcess(command_line, base::LaunchOptions());
    return reporter_.IsValid();
  }

  base::ScopedTempDir temp_;
  base::win::ScopedHandle init_event_;
  base::Process reporter_;
};

TEST_F(CrashReporterServerTest, ReportingSwitchedOffEndsTheReporterBeforeItsInitEvent) {
  ASSERT_TRUE(StartReporter("{\"user_experience_metrics\": {\"reporting_enabled\": false}}"));
  int exit_code = 0;
  ASSERT_TRUE(reporter_.WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(1, exit_code);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(init_event_.Get(), 0));
}

TEST_F(CrashReporterServerTest, AServingReporterSignalsItsParentAndListens) {
  ASSERT_TRUE(StartReporter("{\"user_experience_metrics\": {\"reporting_enabled\": true}}"));
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event_.Get(), 120000));
  // It serves for as long as its parent (this test) lives.
  const std::wstring pipe = kCrashPipeNamePrefix + std::to_wstring(reporter_.Pid());
  EXPECT_TRUE(::WaitNamedPipeW(pipe.c_str(), 5000));
  EXPECT_FALSE(reporter_.WaitForExitWithTimeout(500, nullptr));
  reporter_.Terminate(0, true);
}

}  // namespace
}  // namespace crash_reporter
