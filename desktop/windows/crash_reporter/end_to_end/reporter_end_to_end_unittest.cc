// The real host crashing on purpose (VELMO_TEST_CRASH) with a real reporter:
// the reporter writes the crash log and minidump and uploads both to the
// crash server; a crashed reporter is reported by a third process.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/end_to_end/reporter_end_to_end_test_support.h"
#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"
#include "desktop/windows/crash_reporter/self_report.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"
#include "desktop/windows/installer/installer_switches.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_reporter {
namespace {

class FrontEndCrashTest : public testing::TestWithParam<CrashKind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    logs_ = temp_.GetPath().Append(L"logs");
  }

  // Starts a front end that crashes as |kind| with its own reporter, the
  // pre-flight at |crash_path| and minidumps to |collector_path|.
  base::Process StartCrashingFrontEnd(const std::string& kind, const std::string& crash_path,
                                      const std::string& collector_path, bool keep_logs) {
    ScopedEnvironment environment;
    environment.Set(L"VELMO_TEST_CRASH", L"frontend:" + base::UTF8ToWide(kind));
    environment.Set(kTestDumpWaitVariable, kEndToEndDumpWaitMs);
    environment.Set(L"VELMO_CRASH_LOG_DIR", logs_.value());
    environment.Set(L"VELMO_CRASH_KEEP_LOGS", keep_logs ? L"1" : L"0");
    environment.Set(L"VELMO_CRASH_SERVER_URL", testing_crash::CrashServerUrl(crash_path));
    environment.Set(L"VELMO_ALTERNATIVE_CRASH_SERVER_URL",
                    testing_crash::CrashServerUrl(collector_path));
    base::CommandLine command_line(InstallerExe());
    command_line.AppendSwitchNative(installer::kTempFolderSwitch, temp_.GetPath().value());
    command_line.AppendSwitchASCII("with-feature:alternative-crash-logging", "on");
    return base::LaunchProcess(command_line, base::LaunchOptions());
  }

  base::ScopedTempDir temp_;
  base::FilePath logs_;
};

TEST_P(FrontEndCrashTest, TheReporterLogsDumpsAndUploadsTheCrash) {
  const CrashKind kind = GetParam();
  const CrashUploadPaths paths(kind.name);
  base::Process installer =
      StartCrashingFrontEnd(kind.name, paths.crash_path, paths.collector_path, true);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(kCrashHandledWaitMs, &exit_code));
  EXPECT_EQ(kind.code, static_cast<DWORD>(exit_code));
  DWORD reporter_pid = 0;
  ASSERT_NO_FATAL_FAILURE(
      ExpectCrashLoggedAndUploaded(kind, paths, logs_, temp_.GetPath(), &reporter_pid));

  // With its parent gone and its uploads done, the reporter ends.
  base::win::ScopedHandle reporter(::OpenProcess(SYNCHRONIZE, FALSE, reporter_pid));
  if (reporter.IsValid()) {
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(reporter.Get(), 120000));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FrontEndCrashTest, testing::ValuesIn(InstallerCrashKinds()),
                         [](const testing::TestParamInfo<CrashKind>& info) {
                           return CrashKindTestName(info.param);
                         });

// Without keep-logs the reporter deletes what it uploaded once the uploads
// are done: the text log, its zip and the minidump.
TEST_F(FrontEndCrashTest, UploadedFilesAreDeletedWithoutKeepLogs) {
  const CrashUploadPaths paths("nokeep");
  base::Process installer =
      StartCrashingFrontEnd("access-violation", paths.crash_path, paths.collector_path, false);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(kCrashHandledWaitMs, &exit_code));
  EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
  auto requests = testing_crash::WaitForRequests(paths.crash_path, 2, kCrashHandledWaitMs);
  ASSERT_EQ(2u, requests.size());
  ASSERT_EQ(1u, testing_crash::WaitForRequests(paths.collector_path, 1, 60000).size());
  // The upload names the zip by its path, which names the reporter.
  testing_crash::RecordedFile zip;
  ASSERT_TRUE(testing_crash::FindRecordedFile(*requests[1], "file", &zip));
  const base::FilePath zip_path(base::UTF8ToWide(zip.filename));
  EXPECT_EQ(logs_, zip_path.DirName());
  // With its parent gone and its uploads done the reporter ends; its jobs
  // delete their files before they let it go.
  base::win::ScopedHandle reporter(::OpenProcess(SYNCHRONIZE, FALSE, ReporterPidOf(zip_path)));
  if (reporter.IsValid()) {
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(reporter.Get(), 60000));
  }
  EXPECT_TRUE(FilesEndingWith(logs_, L".txt").empty());
  EXPECT_TRUE(FilesEndingWith(logs_, L".zip").empty());
  EXPECT_TRUE(FilesEndingWith(logs_, L".dmp").empty());
}

TEST_F(FrontEndCrashTest, ABusyServerGetsNoCrashLogAndTheLogIsDeleted) {
  const std::string crash_path = testing_crash::UniqueUploadPath("503");
  const std::string busy_path = "/503" + crash_path;
  const std::string collector_path = testing_crash::UniqueUploadPath("collector");
  base::Process installer =
      StartCrashingFrontEnd("access-violation", busy_path, collector_path, false);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(kCrashHandledWaitMs, &exit_code));
  // The minidump still goes out, and the refused crash log is deleted,
  // however long a loaded machine takes to get there.
  ASSERT_EQ(1u, testing_crash::WaitForRequests(collector_path, 1, 120000).size());
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (!FilesEndingWith(logs_, L"-1.txt").empty() && ::GetTickCount64() < deadline)
    ::Sleep(50);
  EXPECT_TRUE(FilesEndingWith(logs_, L"-1.txt").empty());
  // A deleted log cannot be sent any more: the pre-flight stays alone.
  auto requests = testing_crash::RecordedRequests(busy_path);
  ASSERT_EQ(1u, requests.size());
}

// With crash reporting switched off in the flags file the reporter ends
// before its init event: the front end runs on without one, and its crash
// is neither logged nor sent.
TEST_F(FrontEndCrashTest, ReportingSwitchedOffLeavesTheInstallerWithoutAReporter) {
  const base::FilePath flags = temp_.GetPath().Append(L"Preferences");
  const std::string preferences = "{\"user_experience_metrics\": {\"reporting_enabled\": false}}";
  ASSERT_EQ(static_cast<int>(preferences.size()),
            base::WriteFileBytes(flags, preferences.data(), static_cast<int>(preferences.size())));
  ScopedEnvironment environment;
  environment.Set(kTestCrashFlagsFileVariable, flags.value());
  const CrashUploadPaths paths("off");
  base::Process installer =
      StartCrashingFrontEnd("access-violation", paths.crash_path, paths.collector_path, true);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
  // A reporter would have sent its pre-flight well within this time.
  ::Sleep(2000);
  EXPECT_TRUE(testing_crash::RecordedRequests(paths.crash_path).empty());
  EXPECT_TRUE(testing_crash::RecordedRequests(paths.collector_path).empty());
  EXPECT_TRUE(FilesEndingWith(logs_, L".txt").empty());
  EXPECT_TRUE(FilesEndingWith(logs_, L".dmp").empty());
}

// Reporters started by the test itself: it is their parent.
class ReporterSelfReportTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    ASSERT_EQ(ERROR_SUCCESS, key_.Create(HKEY_CURRENT_USER, L"Software\\Velmo Software",
                                         KEY_QUERY_VALUE | KEY_SET_VALUE));
  }
  void TearDown() override { key_.DeleteValue(kLastReporterCrashValue); }

  // A reporter that crashes as |kind| right after it has told its parent
  // that it listens.
  base::Process StartCrashingReporter(const std::string& kind, const std::string& crash_path) {
    const std::wstring event_name =
        kCrashReporterInitEventPrefix + std::to_wstring(::GetCurrentProcessId());
    init_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    ScopedEnvironment environment;
    environment.Set(L"VELMO_TEST_CRASH", L"reporter:" + base::UTF8ToWide(kind));
    environment.Set(L"VELMO_CRASH_LOG_DIR", temp_.GetPath().value());
    environment.Set(L"VELMO_CRASH_SERVER_URL", testing_crash::CrashServerUrl(crash_path));
    environment.Set(L"VELMO_ALTERNATIVE_CRASH_SERVER_URL",
                    testing_crash::CrashServerUrl(crash_path + "-collector"));
    base::CommandLine command_line(InstallerExe());
    command_line.AppendSwitchASCII(installer::kCrashReporterParentIdSwitch,
                                   std::to_string(::GetCurrentProcessId()));
    return base::LaunchProcess(command_line, base::LaunchOptions());
  }

  base::ScopedTempDir temp_;
  base::win::RegistryKey key_;
  base::win::ScopedHandle init_event_;
};

TEST_F(ReporterSelfReportTest, ACrashedReporterIsReportedByAThirdProcess) {
  key_.WriteValueQW(kLastReporterCrashValue, 0);
  const std::string crash_path = testing_crash::UniqueUploadPath("self");
  base::Process reporter = StartCrashingReporter("access-violation", crash_path);
  ASSERT_TRUE(reporter.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event_.Get(), 120000));
  int exit_code = 0;
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(reporter.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
  // Never held much past its wait for the third process, which is capped
  // (the margin covers the crash and the exit on a loaded machine; a wait
  // without its cap ends only at the time-out above).
  EXPECT_LT(::GetTickCount64() - start, static_cast<ULONGLONG>(kSelfReportWaitMs) + 15000u);

  // The crash log arrives, and the time stamp follows the upload.
  auto uploads = testing_crash::WaitForRequests(crash_path, 1, 120000);
  ASSERT_EQ(1u, uploads.size());
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(*uploads[0], "file", &file));
  const std::string log = UnzipOnlyEntry(file.data, temp_.GetPath());
  EXPECT_EQ(0u, log.find("VELMO-CRASHLOG V1 ")) << log.substr(0, 200);
  EXPECT_NE(std::string::npos, log.find("caused exception C0000005 at"));
  EXPECT_NE(std::string::npos, log.find("process_type=\"crash_reporter\""));
  uint64_t stamp = 0;
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (stamp == 0 && ::GetTickCount64() < deadline) {
    ::Sleep(50);
    key_.ReadValueQW(kLastReporterCrashValue, &stamp);
  }
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const uint64_t now_value = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  EXPECT_GT(stamp, now_value - 60 * 10000000ull);
  EXPECT_LE(stamp, now_value);
}

TEST_F(ReporterSelfReportTest, AFreshStampSendsNothingAndReleasesTheReporterAtOnce) {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  key_.WriteValueQW(kLastReporterCrashValue,
                    (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  // Every kind of crash ends the reporter with its own status, never 0.
  for (const CrashKind kind :
       {CrashKind{"access-violation", 0xC0000005}, CrashKind{"invalid-parameter", 0xC000000D},
        CrashKind{"pure-call", 0xC0000025}}) {
    const std::string crash_path = testing_crash::UniqueUploadPath("fresh");
    base::Process reporter = StartCrashingReporter(kind.name, crash_path);
    ASSERT_TRUE(reporter.IsValid());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event_.Get(), 120000));
    int exit_code = 0;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(reporter.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_EQ(kind.code, static_cast<DWORD>(exit_code)) << kind.name;
    // Released at once, not after the crashing thread's 15 s time-out
    // (however loaded the machine, the start-up it includes takes less).
    EXPECT_LT(::GetTickCount64() - start, 14000u) << kind.name;
    ::Sleep(500);
    EXPECT_TRUE(testing_crash::RecordedRequests(crash_path).empty()) << kind.name;
  }
}

}  // namespace
}  // namespace crash_reporter
