#include "desktop/windows/crash_reporter/end_to_end/reporter_end_to_end_test_support.h"

#include <minizip/unzip.h>
// After unzip.h, which it needs.
#include <minizip/iowin32.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/scoped_generic.h"
#include "base/string_util.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_reporter {
namespace {

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

}  // namespace

ScopedEnvironment::~ScopedEnvironment() {
  for (const std::wstring& name : names_)
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
}

void ScopedEnvironment::Set(const std::wstring& name, const std::wstring& value) {
  ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  names_.push_back(name);
}

base::FilePath InstallerExe() {
  base::FilePath exe_dir;
  EXPECT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  return exe_dir.Append(L"installer.exe");
}

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

DWORD ReporterPidOf(const base::FilePath& log) {
  const std::wstring name = log.BaseName().value();
  return static_cast<DWORD>(std::wcstoul(name.c_str() + wcslen(L"velmo-crashlog-"), nullptr, 10));
}

std::string ReadText(const base::FilePath& path) {
  std::string text;
  EXPECT_TRUE(base::ReadFileToString(path, &text));
  return text;
}

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

std::vector<CrashKind> InstallerCrashKinds() {
  return {CrashKind{"access-violation", 0xC0000005}, CrashKind{"breakpoint", 0x80000003},
          CrashKind{"invalid-parameter", 0xC000000D}, CrashKind{"pure-call", 0xC0000025}};
}

std::string CrashKindTestName(const CrashKind& kind) {
  std::string name = kind.name;
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name;
}

CrashUploadPaths::CrashUploadPaths(const char* kind_name)
    : id(testing_crash::UniqueUploadPath(kind_name).substr(1)),
      crash_path("/303/" + id),
      collector_path(testing_crash::UniqueUploadPath("collector")) {}

void ExpectCrashLoggedAndUploaded(const CrashKind& kind, const CrashUploadPaths& paths,
                                  const base::FilePath& logs, const base::FilePath& scratch,
                                  DWORD* reporter_pid) {
  *reporter_pid = 0;
  // The pre-flight, then the zipped crash log.
  auto requests = testing_crash::WaitForRequests(paths.crash_path, 2, kCrashHandledWaitMs);
  ASSERT_EQ(2u, requests.size());
  std::string method;
  requests[0]->GetString("method", &method);
  EXPECT_EQ("GET", method);
  const base::DictValue& log_upload = *requests[1];
  EXPECT_EQ(paths.id, testing_crash::RecordedField(log_upload, "stacktraceId"));
  EXPECT_EQ("VelmoDesktop", testing_crash::RecordedField(log_upload, "ProductName"));
  // The uptime goes with the log only after a second or more ("ptime" of 4
  // digits); the trigger usually crashes the installer sooner.
  std::string names = FieldNames(log_upload);
  if (names.find("CrashUptime ") == 0) {
    names.erase(0, strlen("CrashUptime "));
    EXPECT_GE(std::stoull(testing_crash::RecordedField(log_upload, "CrashUptime")), 1u);
  }
  EXPECT_EQ("ProductName ReleaseChannel UBN Version stacktraceId", names);
  testing_crash::RecordedFile zip;
  ASSERT_TRUE(testing_crash::FindRecordedFile(log_upload, "file", &zip));
  EXPECT_EQ(0u, zip.data.find("PK\x03\x04"));

  auto dumps = testing_crash::WaitForRequests(paths.collector_path, 1, 120000);
  // The crash log ends with the reporter's own log lines of the crash, which
  // say why no minidump was written or sent.
  const std::vector<base::FilePath> texts = FilesEndingWith(logs, L"-1.txt");
  ASSERT_EQ(1u, dumps.size()) << (texts.size() == 1 ? ReadText(texts[0]) : "no crash log");
  EXPECT_EQ("installer", testing_crash::RecordedField(*dumps[0], "ProcessType"));
  // The build, product and time fields, then one field for each crash key of
  // the installer that maps to one (created even when the key is empty);
  // neither "Email" (its variable is not set) nor "Origin" (these crashes
  // give none).
  EXPECT_EQ(
      "BuildID CrashTime InstallTime ProcessType ProductName ReleaseChannel StartupTime UBN URL "
      "Version ab_tests blacklisted_extensions disabled_extensions enabled_extensions "
      "gpu_device_id gpu_driver_version gpu_pixel_shader_version gpu_vendor_id "
      "gpu_vertex_shader_version symbols-package terminated_extensions third_party_installs",
      FieldNames(*dumps[0]));
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

  // The files stay (keep-logs) and the files sent are the ones on disk.
  ASSERT_EQ(1u, texts.size());
  const std::string text = ReadText(texts[0]);
  char code[32];
  snprintf(code, sizeof(code), "caused exception %lX at", kind.code);
  EXPECT_NE(std::string::npos, text.find(code)) << text.substr(0, 300);
  EXPECT_NE(std::string::npos, text.find("\nThread: "));
  EXPECT_NE(std::string::npos, text.find("process_type=\"installer\""));
  EXPECT_TRUE(UnzipOnlyEntry(zip.data, scratch) == text) << "the uploaded log differs";
  const std::vector<base::FilePath> minidumps = FilesEndingWith(logs, L"-1.dmp");
  ASSERT_EQ(1u, minidumps.size());
  EXPECT_EQ(ReadText(minidumps[0]), dump.data);
  // The report-id line of a crash without a guid.
  *reporter_pid = ReporterPidOf(texts[0]);
  const std::string ids =
      ReadText(logs.Append(L"crash_report_ids-" + std::to_wstring(*reporter_pid) + L"-1.txt"));
  EXPECT_EQ(0u, ids.find("0=http://127.0.0.1:")) << ids;
}

}  // namespace crash_reporter
