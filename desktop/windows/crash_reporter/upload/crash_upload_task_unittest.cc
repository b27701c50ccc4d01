#include "desktop/windows/crash_reporter/upload/crash_upload_task.h"

#include <minizip/unzip.h>
// After unzip.h, which defines what it needs.
#include <minizip/iowin32.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/scoped_generic.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/reporter_work_counter.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"
#include "desktop/windows/crash_reporter/upload/crash_upload_launchers.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"
#include "testing/temp_dir_test.h"

namespace crash_reporter {
namespace {

using testing_crash::CrashServerUrl;
using testing_crash::RecordedRequests;
using testing_crash::UniqueUploadPath;
using testing_crash::WaitForRequests;

struct UnzipTraits {
  static unzFile InvalidValue() { return nullptr; }
  static void Free(unzFile& file) { unzClose(file); }
};
using ScopedUnzip = base::ScopedGeneric<unzFile, UnzipTraits>;

// The single entry of the zip at |zip_path|; false when it is not exactly
// one entry named "crashlog.txt" with a correct CRC.
bool ReadSingleEntry(const base::FilePath& zip_path, std::string* text) {
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  ScopedUnzip unzip(unzOpen2_64(zip_path.c_str(), &functions));
  unz_global_info64 global;
  unz_file_info64 info;
  char name[64];
  if (!unzip.IsValid() || unzGetGlobalInfo64(unzip.Get(), &global) != UNZ_OK ||
      global.number_entry != 1 || unzGoToFirstFile(unzip.Get()) != UNZ_OK ||
      unzGetCurrentFileInfo64(unzip.Get(), &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
          UNZ_OK ||
      std::string(name) != "crashlog.txt" || unzOpenCurrentFile(unzip.Get()) != UNZ_OK) {
    return false;
  }
  text->assign(static_cast<size_t>(info.uncompressed_size) + 1, '\0');
  int read = unzReadCurrentFile(unzip.Get(), text->data(), static_cast<unsigned>(text->size()));
  if (unzCloseCurrentFile(unzip.Get()) != UNZ_OK || read < 0)
    return false;
  text->resize(read);
  return true;
}

int Status(const base::DictValue& request) {
  int status = 0;
  request.GetInteger("status", &status);
  return status;
}

class CrashUploadTaskTest : public ::testing::TempDirTest {
 protected:
  static std::string CrashLogText() {
    std::string text;
    for (int i = 0; i < 3000; ++i)
      text += "Thread " + std::to_string(i) + " frame 0x" + std::to_string(i * 977) + "\r\n";
    return text;
  }
  static std::string DumpBytes() {
    std::string dump = "MDMP";
    for (int i = 0; i < 100000; ++i)
      dump.push_back(static_cast<char>((i * 13 + i / 1000) & 0xFF));
    return dump;
  }
};

TEST_F(CrashUploadTaskTest, ZippedCrashLogArrivesWithItsFieldsAndEveryFileIsDeleted) {
  std::string text = CrashLogText();
  base::FilePath log = WriteFile(L"velmo-crashlog-12-1.txt", text);
  ReportFields fields = {
      {L"ProductName", L"VelmoDesktop"}, {L"Version", L"1.2.3.4"}, {L"stacktraceId", L"abc"}};
  std::string path = UniqueUploadPath("crashlog");
  CrashLogUploadTask task(log, true, fields, true);
  task.set_url_for_testing(CrashServerUrl(path));
  ASSERT_TRUE(task.Run());
  base::FilePath zip = log.ReplaceExtension(L".zip");
  EXPECT_FALSE(base::PathExists(zip));
  EXPECT_TRUE(base::PathExists(log));  // still owned by the job

  auto requests = RecordedRequests(path);
  ASSERT_EQ(1u, requests.size());
  ASSERT_EQ(200, Status(*requests[0]));
  EXPECT_EQ(3u, testing_crash::RecordedFieldCount(*requests[0]));
  EXPECT_EQ("VelmoDesktop", testing_crash::RecordedField(*requests[0], "ProductName"));
  EXPECT_EQ("1.2.3.4", testing_crash::RecordedField(*requests[0], "Version"));
  EXPECT_EQ("abc", testing_crash::RecordedField(*requests[0], "stacktraceId"));
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(*requests[0], "file", &file));
  EXPECT_EQ(base::WideToUTF8(zip.value()), file.filename);
  base::FilePath received = WriteFile(L"received.zip", file.data);
  std::string unpacked;
  ASSERT_TRUE(ReadSingleEntry(received, &unpacked));
  EXPECT_TRUE(unpacked == text);
}

TEST_F(CrashUploadTaskTest, GzipMinidumpArrivesWithItsFields) {
  std::string dump = DumpBytes();
  base::FilePath dump_path = WriteFile(L"velmo-crashlog-12-1.dmp", dump);
  ReportFields fields = {{L"ProcessType", L"installer"}, {L"Version", L"1.2.3.4"}};
  std::string path = UniqueUploadPath("minidump");
  {
    MinidumpUploadTask task(dump_path, true, fields, true);
    task.set_url_for_testing(CrashServerUrl(path));
    ASSERT_TRUE(task.Run());
  }
  EXPECT_FALSE(base::PathExists(dump_path));
  auto requests = RecordedRequests(path);
  ASSERT_EQ(1u, requests.size());
  const base::DictValue& request = *requests[0];
  ASSERT_EQ(200, Status(request));
  EXPECT_EQ("gzip", testing_crash::RecordedHeader(request, "Content-Encoding"));
  int wire_length = 0;
  request.GetInteger("body_length", &wire_length);
  EXPECT_LT(static_cast<size_t>(wire_length), dump.size());
  EXPECT_EQ(2u, testing_crash::RecordedFieldCount(request));
  EXPECT_EQ("installer", testing_crash::RecordedField(request, "ProcessType"));
  testing_crash::RecordedFile file;
  ASSERT_TRUE(testing_crash::FindRecordedFile(request, "upload_file_minidump", &file));
  EXPECT_EQ("velmo-crashlog-12-1.dmp", file.filename);
  EXPECT_EQ("application/octet-stream", file.content_type);
  EXPECT_TRUE(file.data == dump);
}

TEST_F(CrashUploadTaskTest, SynchronousUploadsDeleteTheirFileAlsoOnFailure) {
  installer::SetProductConfigForTesting("{\"product_name\": \"Velmo\"}");
  SetEnvironmentVariableW(kCrashUrlVariable, CrashServerUrl("/status/500").c_str());
  SetEnvironmentVariableW(kCollectorUrlVariable, CrashServerUrl("/status/500").c_str());
  InitCrashServerUrls();
  base::FilePath log = WriteFile(L"failing.txt", CrashLogText());
  base::FilePath dump = WriteFile(L"failing.dmp", DumpBytes());
  EXPECT_FALSE(RunCrashLogUploadNow(log, {{L"a", L"b"}}, true));
  EXPECT_FALSE(RunMinidumpUploadNow(dump, {{L"a", L"b"}}, true));
  EXPECT_FALSE(base::PathExists(log));
  EXPECT_FALSE(base::PathExists(log.ReplaceExtension(L".zip")));
  EXPECT_FALSE(base::PathExists(dump));

  // An empty log cannot be packed: the job fails and still deletes it.
  base::FilePath empty = WriteFile(L"empty.txt", "");
  EXPECT_FALSE(RunCrashLogUploadNow(empty, {}, true));
  EXPECT_FALSE(base::PathExists(empty));
  SetEnvironmentVariableW(kCrashUrlVariable, nullptr);
  SetEnvironmentVariableW(kCollectorUrlVariable, nullptr);
  installer::SetProductConfigForTesting(nullptr);
}

TEST_F(CrashUploadTaskTest, QueuedUploadsHoldTheWorkCounterUntilDone) {
  std::string log_path = UniqueUploadPath("queued-log");
  std::string dump_path = UniqueUploadPath("queued-dump");
  installer::SetProductConfigForTesting("{\"product_name\": \"Velmo\"}");
  SetEnvironmentVariableW(kCrashUrlVariable, CrashServerUrl(log_path).c_str());
  SetEnvironmentVariableW(kCollectorUrlVariable, CrashServerUrl(dump_path).c_str());
  InitCrashServerUrls();

  ReporterWorkCounter& counter = ReporterWorkCounter::Get();
  ASSERT_TRUE(counter.CreateEvent());
  ASSERT_EQ(0, counter.count());
  base::FilePath log = WriteFile(L"queued.txt", CrashLogText());
  base::FilePath kept_log = WriteFile(L"kept.txt", CrashLogText());
  base::FilePath dump = WriteFile(L"queued.dmp", DumpBytes());
  // One reference of our own keeps the count above 0 until every job is
  // queued, as the server mode's parent watch does.
  counter.AddRef();
  EXPECT_TRUE(PostCrashLogUpload(log, {{L"ProductName", L"VelmoDesktop"}}, true));
  EXPECT_TRUE(PostCrashLogUpload(kept_log, {{L"ProductName", L"VelmoDesktop"}}, false));
  PostMinidumpUpload(dump, {{L"ProcessType", L"installer"}}, true);
  counter.Release();
  ASSERT_TRUE(counter.Wait());
  EXPECT_EQ(0, counter.count());

  // Everything had arrived and been cleaned up before the counter fell to 0.
  EXPECT_EQ(2u, RecordedRequests(log_path).size());
  auto dumps = RecordedRequests(dump_path);
  ASSERT_EQ(1u, dumps.size());
  EXPECT_EQ(200, Status(*dumps[0]));
  EXPECT_FALSE(base::PathExists(log));
  EXPECT_TRUE(base::PathExists(kept_log));
  EXPECT_FALSE(base::PathExists(dump));
  SetEnvironmentVariableW(kCrashUrlVariable, nullptr);
  SetEnvironmentVariableW(kCollectorUrlVariable, nullptr);
  installer::SetProductConfigForTesting(nullptr);
}

TEST(CrashServerUrlsTest, EndpointsFromEnvironmentConfigurationAndEmail) {
  installer::SetProductConfigForTesting(
      "{\"product_name\": \"Velmo\", \"urls\": {\"crash\": \"https://crash.example/submit\"}}");
  SetEnvironmentVariableW(kCrashUrlVariable, nullptr);
  SetEnvironmentVariableW(kCollectorUrlVariable, nullptr);
  SetEnvironmentVariableW(L"VELMO_CRASH_EMAIL", L"");
  InitCrashServerUrls();
  EXPECT_EQ(L"https://crash.example/submit", CrashUrl());
  EXPECT_EQ(kBuiltInCollectorUrl, CollectorUrl());
  EXPECT_EQ(L"", UploadUserAgentSuffix());

  // A long value is read whole; the e-mail is appended even after a query.
  std::wstring long_url = L"http://127.0.0.1:8/c?x=" + std::wstring(5000, L'y');
  SetEnvironmentVariableW(kCrashUrlVariable, long_url.c_str());
  SetEnvironmentVariableW(kCollectorUrlVariable, L"http://127.0.0.1:9/collector/submit");
  SetEnvironmentVariableW(L"VELMO_CRASH_EMAIL", L"me@example.org");
  InitCrashServerUrls();
  EXPECT_EQ(long_url + L"?email=me@example.org", CrashUrl());
  EXPECT_EQ(L"http://127.0.0.1:9/collector/submit", CollectorUrl());

  SetEnvironmentVariableW(kCrashUrlVariable, nullptr);
  SetEnvironmentVariableW(kCollectorUrlVariable, nullptr);
  SetEnvironmentVariableW(L"VELMO_CRASH_EMAIL", nullptr);
  installer::SetProductConfigForTesting(nullptr);
}

}  // namespace
}  // namespace crash_reporter
