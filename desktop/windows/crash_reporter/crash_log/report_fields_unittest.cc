#include "desktop/windows/crash_reporter/crash_log/report_fields.h"

#include <windows.h>

#include <string>

#include "base/files/path_registry.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys_for_test.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

constexpr wchar_t kEmailVariable[] = L"VELMO_CRASH_EMAIL";
constexpr int64_t kUnixEpoch = 116444736000000000;

// Sets an environment variable for one test.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, nullptr); }

 private:
  const wchar_t* name_;
};

std::wstring Field(const ReportFields& fields, const wchar_t* name) {
  auto it = fields.find(name);
  return it == fields.end() ? L"<none>" : it->second;
}

int64_t Seconds(const FILETIME& time) {
  int64_t value = static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
  return (value - kUnixEpoch) / 10000 / 1000;
}

// "active_url" spread over 16 slots, as the crash keys page writes it.
void AddLongUrl(TestCrashKeys* keys, std::wstring* url) {
  for (int slot = 0; slot < 16; ++slot) {
    std::wstring part(63, static_cast<wchar_t>(L'a' + slot));
    keys->Add(L"active_url", part);
    *url += part;
  }
}

TEST(ReportFieldsTest, CrashLogUpload) {
  ScopedEnvironment email(kEmailVariable, L"someone@example.com");
  TestCrashKeys keys = {
      {L"ptime", L"1500"}, {L"process_type", L"installer"}, {L"vlauto_test", L"run"}};
  std::wstring url;
  AddLongUrl(&keys, &url);
  ReportFields fields;
  fields[L"Version"] = L"kept";
  BuildCrashLogUploadParameters(keys.info(), &fields);
  AddStacktraceIdField(L"", &fields);
  EXPECT_EQ(L"someone@example.com", Field(fields, L"email"));
  EXPECT_EQ(L"<none>", Field(fields, L"Email"));
  EXPECT_EQ(L"1", Field(fields, L"CrashUptime"));
  EXPECT_EQ(L"VlAuto", Field(fields, L"origin"));
  EXPECT_EQ(url, Field(fields, L"url"));
  EXPECT_EQ(L"VelmoDesktop", Field(fields, L"ProductName"));
  EXPECT_EQ(L"kept", Field(fields, L"Version")) << "the first value wins";
  EXPECT_EQ(std::to_wstring(installer::GetBuildNumber()), Field(fields, L"UBN"));
  EXPECT_EQ(L"Stable", Field(fields, L"ReleaseChannel"));
  EXPECT_EQ(L"<none>", Field(fields, L"stacktraceId"));
  AddStacktraceIdField(L"abc123", &fields);
  EXPECT_EQ(L"abc123", Field(fields, L"stacktraceId"));
}

TEST(ReportFieldsTest, CrashLogUploadEdgeCases) {
  struct Case {
    const wchar_t* ptime;
    const wchar_t* uptime;
  };
  for (const Case& c :
       {Case{L"999", L"<none>"}, Case{L"1500", L"1"}, Case{L"1234567890123", L"1234567890"},
        Case{L"12345678901234", L"<none>"}, Case{L"abc", L"<none>"}}) {
    ReportFields fields;
    BuildCrashLogUploadParameters(TestCrashKeys{{L"ptime", c.ptime}}.info(), &fields);
    EXPECT_EQ(c.uptime, Field(fields, L"CrashUptime")) << c.ptime;
  }
  // A browser's page address is not sent with the crash log; an address of
  // 192 characters or more is no address.
  ScopedEnvironment email(kEmailVariable, std::wstring(192, L'e'));
  ReportFields fields;
  BuildCrashLogUploadParameters(
      TestCrashKeys{{L"process_type", L"browser"}, {L"active_url", L"http://a"}}.info(), &fields);
  EXPECT_EQ(L"<none>", Field(fields, L"url"));
  EXPECT_EQ(L"<none>", Field(fields, L"email"));
  EXPECT_EQ(L"<none>", Field(fields, L"origin"));
}

TEST(ReportFieldsTest, MinidumpUpload) {
  ScopedEnvironment email(kEmailVariable, std::wstring(191, L'e'));
  TestCrashKeys keys = {{L"version", L"9.8.7.6"},
                        {L"process_type", L"browser_tests"},
                        {L"origin", L"VlAutoStress"},
                        {L"buildset", L"281398"},
                        {L"build_request_time", L"20170217_180001"},
                        {L"gpu_vendor_id", L"0x10de"},
                        {L"process_type", L"x"}};
  std::wstring url;
  AddLongUrl(&keys, &url);
  ReportFields fields;
  BuildMinidumpUploadParameters(nullptr, keys.info(), &fields);
  EXPECT_EQ(std::wstring(191, L'e'), Field(fields, L"Email"));
  EXPECT_EQ(L"9.8.7.6", Field(fields, L"Version")) << "the crash key wins";
  EXPECT_EQ(url, Field(fields, L"URL"));
  EXPECT_EQ(L"0x10de", Field(fields, L"gpu_vendor_id"));
  EXPECT_EQ(L"browser_testsx", Field(fields, L"ProcessType"));
  EXPECT_EQ(L"VlAutoStress", Field(fields, L"Origin"));
  EXPECT_EQ(L"20170217281398", Field(fields, L"BuildID"));
  EXPECT_EQ(L"browser-syms", Field(fields, L"symbols-package"));
  EXPECT_EQ(L"release", Field(fields, L"ReleaseChannel"));  // a Stable build
  EXPECT_EQ(L"VelmoDesktop", Field(fields, L"ProductName"));
  EXPECT_NE(L"<none>", Field(fields, L"CrashTime"));
  EXPECT_EQ(L"<none>", Field(fields, L"InstallTime"));

  ReportFields tests;
  BuildMinidumpUploadParameters(
      nullptr, TestCrashKeys{{L"process_type", L"browser_tests"}, {L"buildset", L""}}.info(),
      &tests);
  EXPECT_EQ(L"tests-syms", Field(tests, L"symbols-package"));
  EXPECT_EQ(base::UTF8ToWide(installer::GetVersionString()), Field(tests, L"Version"));
  const std::wstring date = base::UTF8ToWide(installer::GetBuildRequestTime()).substr(0, 8);
  EXPECT_EQ(date + L"000000", Field(tests, L"BuildID"));
}

TEST(ReportFieldsTest, MakeBuildId) {
  EXPECT_EQ(L"20170217281398", MakeBuildId(L"281398", L"20170217_180001"));
  EXPECT_EQ(L"20170217000042", MakeBuildId(L"42", L"20170217_180001"));
  EXPECT_EQ(L"201702171234567", MakeBuildId(L"1234567", L"20170217_180001"));
  EXPECT_EQ(L"2017000001", MakeBuildId(L"1", L"2017"));
}

TEST(ReportFieldsTest, TimeFields) {
  FILETIME now_time;
  ::GetSystemTimeAsFileTime(&now_time);
  const uint64_t now = (uint64_t{now_time.dwHighDateTime} << 32) | now_time.dwLowDateTime;
  const int64_t now_seconds = Seconds(now_time);

  // Without a process: the crash is now, the start an uptime earlier.
  ReportFields fields;
  TestCrashKeys keys = {{L"ptime", L"5000"}};
  const CustomInfo keys_info = keys.info();
  AddTimeFields(nullptr, &keys_info, now, &fields);
  EXPECT_EQ(std::to_wstring(now_seconds), Field(fields, L"CrashTime"));
  EXPECT_EQ(std::to_wstring((static_cast<int64_t>(now) - 50000000 - kUnixEpoch) / 10000000),
            Field(fields, L"StartupTime"));
  EXPECT_EQ(L"<none>", Field(fields, L"InstallTime"));

  // With this process: the start is its creation, the crash an uptime later,
  // the install time the creation of its executable.
  FILETIME creation, exit, kernel, user;
  ASSERT_TRUE(::GetProcessTimes(::GetCurrentProcess(), &creation, &exit, &kernel, &user));
  base::FilePath exe;
  base::PathRegistry::Get(base::kPathExeFile, &exe);
  base::win::ScopedHandle file(::CreateFileW(exe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
  FILETIME file_created;
  ASSERT_TRUE(::GetFileTime(file.Get(), &file_created, nullptr, nullptr));
  ReportFields own;
  TestCrashKeys uptime = {{L"ptime", L"-3000000"}};
  const CustomInfo uptime_info = uptime.info();
  AddTimeFields(::GetCurrentProcess(), &uptime_info, now, &own);
  EXPECT_EQ(std::to_wstring(Seconds(creation)), Field(own, L"StartupTime"));
  const int64_t creation_value =
      static_cast<int64_t>((uint64_t{creation.dwHighDateTime} << 32) | creation.dwLowDateTime);
  EXPECT_EQ(std::to_wstring((creation_value - 30000000000 - kUnixEpoch) / 10000 / 1000),
            Field(own, L"CrashTime"));
  EXPECT_EQ(std::to_wstring(Seconds(file_created)), Field(own, L"InstallTime"));

  // An uptime that is not a number is no uptime: the crash is now.
  ReportFields unparsable;
  TestCrashKeys abc = {{L"ptime", L"12abc"}};
  const CustomInfo abc_info = abc.info();
  AddTimeFields(::GetCurrentProcess(), &abc_info, now, &unparsable);
  EXPECT_EQ(std::to_wstring(now_seconds), Field(unparsable, L"CrashTime"));

  // A client may send a "ptime" of its own: one that no process can have is
  // dropped, as if there were none, instead of overflowing the sums.
  for (const wchar_t* value :
       {L"9223372036854775807", L"-9223372036854775808", L"922337203685477", L"-922337203685477"}) {
    TestCrashKeys huge = {{L"ptime", value}};
    const CustomInfo huge_info = huge.info();
    ReportFields with_process;
    AddTimeFields(::GetCurrentProcess(), &huge_info, now, &with_process);
    EXPECT_EQ(std::to_wstring(Seconds(creation)), Field(with_process, L"StartupTime")) << value;
    EXPECT_EQ(std::to_wstring(now_seconds), Field(with_process, L"CrashTime")) << value;
    ReportFields without_process;
    AddTimeFields(nullptr, &huge_info, now, &without_process);
    EXPECT_EQ(std::to_wstring(now_seconds), Field(without_process, L"StartupTime")) << value;
    EXPECT_EQ(std::to_wstring(now_seconds), Field(without_process, L"CrashTime")) << value;
  }
}

TEST(ReportFieldsTest, SelfReport) {
  ScopedEnvironment email(kEmailVariable, L"me@example.com");
  ReportFields fields;
  BuildSelfReportUploadParameters(::GetCurrentProcessId(), &fields);
  EXPECT_EQ(L"me@example.com", Field(fields, L"Email"));
  EXPECT_EQ(L"crash_reporter", Field(fields, L"ProcessType"));
  EXPECT_NE(L"<none>", Field(fields, L"InstallTime"));
  EXPECT_EQ(L"browser-syms", Field(fields, L"symbols-package"));
  EXPECT_EQ(L"release", Field(fields, L"ReleaseChannel"));
  EXPECT_EQ(L"<none>", Field(fields, L"CrashUptime"));

  ReportFields log_fields;
  AddCrashLogEmailField(&log_fields);
  EXPECT_EQ((ReportFields{{L"email", L"me@example.com"}}), log_fields);
}

}  // namespace
}  // namespace crash_reporter
