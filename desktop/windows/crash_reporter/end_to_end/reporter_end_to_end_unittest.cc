// The real host crashing on purpose (VELMO_TEST_CRASH) with a real reporter:
// the reporter writes the crash log and minidump and uploads both to the
// crash server; a crashed reporter is reported by a third process.
#include <windows.h>

#include <minizip/unzip.h>
// After unzip.h, which it needs.
#include <minizip/iowin32.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/scoped_generic.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/crash_reporter/self_report.h"
#include "desktop/windows/installer/installer_switches.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_reporter {
namespace {

// Environment variables set for the processes a test starts.
class ScopedEnvironment {
 public:
  ~ScopedEnvironment() {
    for (const std::wstring& name : names_)
      ::SetEnvironmentVariableW(name.c_str(), nullptr);
  }
  void Set(const std::wstring& name, const std::wstring& value) {
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    names_.push_back(name);
  }

 private:
  std::vector<std::wstring> names_;
};

base::FilePath InstallerExe() {
  base::FilePath exe_dir;
  EXPECT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  return exe_dir.Append(L"installer.exe");
}

// The crash logs of |folder| whose names end with |suffix|.
std::vector<base::FilePath> FilesEndingWith(const base::FilePath& folder, const wchar_t* suffix) {
  std::vector<base::FilePath> files;
  base::DirectoryEnumerator enumerator(folder, false, base::DirectoryEnumerator::FILES);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    const std::wstring name = path.BaseName().value();
    if (name.find(L"velmo-crashlog-") == 0 && base::EndsWith(name, suffix))
      files.push_back(path);
  }
  return files;
}

// The pid in "velmo-crashlog-<pid>-<n>.txt".
DWORD ReporterPidOf(const base::FilePath& log) {
  const std::wstring name = log.BaseName().value();
  return static_cast<DWORD>(std::wcstoul(name.c_str() + wcslen(L"velmo-crashlog-"), nullptr, 10));
}

std::string ReadText(const base::FilePath& path) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(path, &text));
  return text;
}

// The names of a recorded POST's text fields, sorted.
std::string FieldNames(const base::DictValue& request) {
  std::string names;
  const base::DictValue* fields = nullptr;
  if (!request.GetDictionary("fields", &fields))
    return names;
  for (base::DictValue::Iterator it(*fields); !it.IsAtEnd(); it.Advance())
    names += (names.empty() ? "" : " ") + it.key();
  return names;
}

struct UnzipTraits {
  static unzFile InvalidValue() { return nullptr; }
  static void Free(unzFile& file) { unzClose(file); }
};
using ScopedUnzip = base::ScopedGeneric<unzFile, UnzipTraits>;

// The one entry of the zip made of |bytes|; empty when it cannot be read.
std::string UnzipOnlyEntry(const std::string& bytes, const base::FilePath& folder) {
  const base::FilePath zip = folder.Append(L"upload.zip");
  if (base::WriteFileBytes(zip, bytes.data(), static_cast<int>(bytes.size())) !=
      static_cast<int>(bytes.size())) {
    return std::string();
  }
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  ScopedUnzip unzip(unzOpen2_64(zip.value().c_str(), &functions));
  unz_file_info64 info;
  if (!unzip.IsValid() || unzGoToFirstFile(unzip.Get()) != UNZ_OK ||
      unzGetCurrentFileInfo64(unzip.Get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
      unzOpenCurrentFile(unzip.Get()) != UNZ_OK) {
    return std::string();
  }
  std::string text(static_cast<size_t>(info.uncompressed_size), '\0');
  const int read = unzReadCurrentFile(unzip.Get(), text.data(), static_cast<unsigned>(text.size()));
  if (unzCloseCurrentFile(unzip.Get()) != UNZ_OK || read != static_cast<int>(text.size()))
    return std::string();
  return text;
}

struct CrashKind {
  const char* name;
  DWORD code;
};

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
  const std::string id = testing_crash::UniqueUploadPath(kind.name).substr(1);
  const std::string crash_path = "/303/" + id;
  const std::string collector_path = testing_crash::UniqueUploadPath("collector");
  base::Process installer = StartCrashingFrontEnd(kind.name, crash_path, collector_path, true);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(kind.code, static_cast<DWORD>(exit_code));

  // The pre-flight, then the zipped crash log.
  auto requests = testing_crash::WaitForRequests(crash_path, 2, 30000);
  ASSERT_EQ(2u, requests.size());
  std::string method;
  requests[0]->GetString("method", &method);
  EXPECT_EQ("GET", method);
  const base::DictValue& log_upload = *requests[1];
  EXPECT_EQ(id, testing_crash::RecordedField(log_upload, "stacktraceId"));
  EXPECT_EQ("VelmoDesktop", testing_crash::RecordedField(log_upload, "ProductName"));
  // The uptime goes with the log only after a second or more ("ptime" of 4
  // digits); the trigger usually crashes the front end sooner.
  std::string names = FieldNames(log_upload);
  if (names.find("CrashUptime ") == 0) {
    names.erase(0, strlen("CrashUptime "));
    EXPECT_GE(std::stoull(testing_crash::RecordedField(log_upload, "CrashUptime")), 1u);
  }
  EXPECT_EQ("ProductName ReleaseChannel UBN Version stacktraceId", names);
  testing_crash::RecordedFile zip;
  ASSERT_TRUE(testing_crash::FindRecordedFile(log_upload, "file", &zip));
  EXPECT_EQ(0u, zip.data.find("PK\x03\x04"));

  auto dumps = testing_crash::WaitForRequests(collector_path, 1, 30000);
  ASSERT_EQ(1u, dumps.size());
  EXPECT_EQ("installer", testing_crash::RecordedField(*dumps[0], "ProcessType"));
  for (const char* name : {"BuildID", "CrashTime", "InstallTime", "StartupTime", "UBN", "Version",
                           "symbols-package"}) {
    bool found = false;
    EXPECT_FALSE(testing_crash::RecordedField(*dumps[0], name, &found).empty()) << name;
    EXPECT_TRUE(found) << name;
  }
  EXPECT_LE(std::stoull(testing_crash::RecordedField(*dumps[0], "StartupTime")),
            std::stoull(testing_crash::RecordedField(*dumps[0], "CrashTime")));
  testing_crash::RecordedFile dump;
  ASSERT_TRUE(testing_crash::FindRecordedFile(*dumps[0], "upload_file_minidump", &dump));

  // The files stay (keep-logs) and the minidump sent is the one on disk.
  const std::vector<base::FilePath> logs = FilesEndingWith(logs_, L"-1.txt");
  ASSERT_EQ(1u, logs.size());
  const std::string text = ReadText(logs[0]);
  char code[32];
  snprintf(code, sizeof(code), "caused exception %lX at", kind.code);
  EXPECT_NE(std::string::npos, text.find(code)) << text.substr(0, 300);
  EXPECT_NE(std::string::npos, text.find("\nThread: "));
  EXPECT_NE(std::string::npos, text.find("process_type=\"installer\""));
  EXPECT_TRUE(UnzipOnlyEntry(zip.data, temp_.GetPath()) == text) << "the uploaded log differs";
  const std::vector<base::FilePath> minidumps = FilesEndingWith(logs_, L"-1.dmp");
  ASSERT_EQ(1u, minidumps.size());
  EXPECT_EQ(ReadText(minidumps[0]), dump.data);
  // The report-id line of a crash without a guid.
  const DWORD reporter_pid = ReporterPidOf(logs[0]);
  const std::string ids =
      ReadText(logs_.Append(L"crash_report_ids-" + std::to_wstring(reporter_pid) + L"-1.txt"));
  EXPECT_EQ(0u, ids.find("0=http://127.0.0.1:")) << ids;

  // With its parent gone and its uploads done, the reporter ends.
  base::win::ScopedHandle reporter(::OpenProcess(SYNCHRONIZE, FALSE, reporter_pid));
  if (reporter.IsValid()) {
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(reporter.Get(), 30000));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FrontEndCrashTest,
                         testing::Values(CrashKind{"access-violation", 0xC0000005},
                                         CrashKind{"breakpoint", 0x80000003},
                                         CrashKind{"invalid-parameter", 0xC000000D},
                                         CrashKind{"pure-call", 0xC0000025}),
                         [](const testing::TestParamInfo<CrashKind>& info) {
                           std::string name = info.param.name;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

TEST_F(FrontEndCrashTest, ABusyServerGetsNoCrashLogAndTheLogIsDeleted) {
  const std::string crash_path = testing_crash::UniqueUploadPath("503");
  const std::string busy_path = "/503" + crash_path;
  const std::string collector_path = testing_crash::UniqueUploadPath("collector");
  base::Process installer =
      StartCrashingFrontEnd("access-violation", busy_path, collector_path, false);
  ASSERT_TRUE(installer.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(installer.WaitForExitWithTimeout(60000, &exit_code));
  // The minidump still goes out; once it has, the reporter is done.
  ASSERT_EQ(1u, testing_crash::WaitForRequests(collector_path, 1, 30000).size());
  ::Sleep(500);
  auto requests = testing_crash::RecordedRequests(busy_path);
  ASSERT_EQ(1u, requests.size());  // the pre-flight alone
  EXPECT_TRUE(FilesEndingWith(logs_, L"-1.txt").empty());
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
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event_.Get(), 30000));
  int exit_code = 0;
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_TRUE(reporter.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0xC0000005, static_cast<DWORD>(exit_code));
  EXPECT_LT(::GetTickCount64() - start, 21000u);

  // The crash log arrives, and the time stamp follows the upload.
  auto uploads = testing_crash::WaitForRequests(crash_path, 1, 30000);
  ASSERT_EQ(1u, uploads.size());
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(*uploads[0], "file", &file));
  const std::string log = UnzipOnlyEntry(file.data, temp_.GetPath());
  EXPECT_EQ(0u, log.find("VELMO-CRASHLOG V1 ")) << log.substr(0, 200);
  EXPECT_NE(std::string::npos, log.find("caused exception C0000005 at"));
  EXPECT_NE(std::string::npos, log.find("process_type=\"crash_reporter\""));
  uint64_t stamp = 0;
  for (int i = 0; i < 100 && stamp == 0; ++i) {
    ::Sleep(100);
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
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(init_event_.Get(), 30000));
    int exit_code = 0;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(reporter.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_EQ(kind.code, static_cast<DWORD>(exit_code)) << kind.name;
    EXPECT_LT(::GetTickCount64() - start, 10000u) << kind.name;
    ::Sleep(500);
    EXPECT_TRUE(testing_crash::RecordedRequests(crash_path).empty()) << kind.name;
  }
}

}  // namespace
}  // namespace crash_reporter
