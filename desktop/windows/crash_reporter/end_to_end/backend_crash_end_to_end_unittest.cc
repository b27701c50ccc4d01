// The real back end, started by InstallerRunner, crashing on purpose
// (VELMO_TEST_CRASH) while a real reporter serves its front end: the
// reporter logs, dumps and uploads the back end's crash to the crash server,
// and the runner sees a failed run.
#include <windows.h>

#include <memory>
#include <string>

#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/end_to_end/reporter_benchmark_support.h"
#include "desktop/windows/crash_reporter/end_to_end/reporter_end_to_end_test_support.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/demo_package_test_support.h"
#include "desktop/windows/installer/installer_runner.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/settings_test_support.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_reporter {
namespace {

// Records the runner's reports and ends a loop run at the end of the back end.
class TerminationObserver : public installer::test::MessageRecordingDelegate {
 public:
  void OnInstallerTerminated(bool success) override {
    MessageRecordingDelegate::OnInstallerTerminated(success);
    if (runner_)
      runner_->Quit();
  }

  // False when the back end's end was not reported within |timeout|.
  bool WaitForTermination(base::TimeSpan timeout) {
    if (Terminated())
      return true;
    base::LoopRunner runner;
    runner_ = &runner;
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(), timeout);
    runner.Run();
    runner_ = nullptr;
    return Terminated();
  }

 private:
  bool Terminated() const { return !calls.empty() && calls.back().rfind("terminated ", 0) == 0; }

  base::LoopRunner* runner_ = nullptr;
};

class BackEndCrashTest : public testing::TestWithParam<CrashKind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    logs_ = temp_.GetPath().Append(L"logs");
    // Named kernel objects follow the install folder: one per test and process.
    install_folder_ =
        temp_.GetPath().Append(L"Velmo " + base::UTF8ToWide(CrashKindTestName(GetParam())) + L" " +
                               std::to_wstring(::GetCurrentProcessId()));
  }

  base::MessageLoop loop_;
  installer::test::ScopedSettingsSeams seams_{"BackEndCrash"};
  base::ScopedTempDir temp_;
  base::FilePath logs_;
  base::FilePath install_folder_;
};

TEST_P(BackEndCrashTest, TheFrontEndsReporterLogsDumpsAndUploadsTheCrash) {
  const CrashKind kind = GetParam();
  const CrashUploadPaths paths(kind.name);
  const base::FilePath demo = temp_.GetPath().Append(L"demo_package");
  ASSERT_NO_FATAL_FAILURE(installer::test::MakeDemoPackage(demo));

  // The reporter a front end would have started, serving this test.
  const EnvironmentList environment = {
      {L"VELMO_CRASH_LOG_DIR", logs_.value()},
      {L"VELMO_CRASH_KEEP_LOGS", L"1"},
      {L"VELMO_CRASH_SERVER_URL", testing_crash::CrashServerUrl(paths.crash_path)},
      {L"VELMO_ALTERNATIVE_CRASH_SERVER_URL", testing_crash::CrashServerUrl(paths.collector_path)}};
  base::Process reporter = StartOwnReporter(environment, /*with_minidumps=*/true);
  ASSERT_TRUE(reporter.IsValid());

  SetCrashReporterPid(reporter.Pid());
  std::unique_ptr<installer::Settings> settings;
  installer::InstallerRunner runner(demo, base::FilePath());
  TerminationObserver observer;
  runner.AddObserver(&observer);
  runner.OnPackageReady();
  bool started = false;
  {
    ScopedEnvironment crash;
    crash.Set(kTestCrashVariable, L"backend:" + base::UTF8ToWide(kind.name));
    crash.Set(kTestDumpWaitVariable, kEndToEndDumpWaitMs);
    base::CommandLine command_line =
        base::CommandLine::FromArgv({L"installer.exe", L"--copyonly=1"});
    settings = std::make_unique<installer::Settings>(command_line, false, false, false,
                                                     install_folder_, false, false);
    ASSERT_TRUE(installer::test::WaitForSettingsObtained(settings.get()));
    started = runner.Start(settings.get());
  }
  SetCrashReporterPid(0);
  ASSERT_TRUE(started);
  ASSERT_TRUE(observer.WaitForTermination(base::TimeSpan::FromSeconds(120)));
  EXPECT_EQ("terminated false", observer.calls.back());
  int exit_code = 0;
  ASSERT_TRUE(runner.backend_process().WaitForExitWithTimeout(120000, &exit_code));
  EXPECT_EQ(kind.code, static_cast<DWORD>(exit_code));

  DWORD logged_by = 0;
  ASSERT_NO_FATAL_FAILURE(
      ExpectCrashLoggedAndUploaded(kind, paths, logs_, temp_.GetPath(), &logged_by));
  // The shared reporter, not one of the back end's own, served the crash.
  EXPECT_EQ(reporter.Pid(), logged_by);
  reporter.Terminate(0, true);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BackEndCrashTest, testing::ValuesIn(InstallerCrashKinds()),
                         [](const testing::TestParamInfo<CrashKind>& info) {
                           return CrashKindTestName(info.param);
                         });

}  // namespace
}  // namespace crash_reporter
