#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/utf_string_conversions.h"
#include "components/prefs/prefs_task_pool.h"
#include "crypto/secure_hash.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_test_support.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_fetcher/version_check.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/wininet/wininet_test_support.h"
#include "gtest/gtest.h"
#include "testing/http_server/test_server.h"

namespace installer {
namespace {

base::FilePath BinDir() {
  base::FilePath dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &dir);
  return dir;
}

base::FilePath Fixture(const wchar_t* name) { return test::PayloadFixture(name); }

std::string Sha256Hex(const base::FilePath& file) {
  uint8_t digest[crypto::SecureHash::kSha256Length];
  EXPECT_TRUE(crypto::Sha256HashFile(file, digest)) << file;
  return base::ToLowerASCII(base::HexEncode(digest, sizeof(digest)));
}

std::string ReadFile(const base::FilePath& path) {
  std::string text;
  base::ReadFileToString(path, &text);
  return text;
}

// Records the fetcher's reports and ends the loop at the final result.
class FetchRecorder : public RecordingFetcherDelegate {
 public:
  void NotifyStatusChanged(uint32_t status) override {
    RecordingFetcherDelegate::NotifyStatusChanged(status);
    if (on_status)
      on_status(status);
    if (status >= 5 && quit)
      quit.Run();
  }
  std::function<void(uint32_t)> on_status;
  base::Closure quit;
};

class PackageFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    work_ = temp_.GetPath().Append(L"work");
    ASSERT_TRUE(base::CreateDirectoryTree(work_));
    wchar_t root[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VELMO_PACKAGE_SERVER_ROOT", root, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << "run beside the package server";
    root_ = base::FilePath(std::wstring(root, length))
                .Append(base::UTF8ToWide(testing_http::UniqueKey("t")));
    ASSERT_TRUE(base::CreateDirectoryTree(root_));
    prefix_ = "/" + base::WideToUTF8(root_.BaseName().value()) + "/";
    SetEnvironmentVariableW(L"VELMO_FAKE_INTERNAL_VERSION",
                            base::UTF8ToWide(GetInternalVersion()).c_str());
    SetEnvironmentVariableW(L"VELMO_FAKE_STREAM", base::UTF8ToWide(GetStreamName()).c_str());
  }
  void TearDown() override {
    for (const wchar_t* name :
         {L"VELMO_FAKE_INTERNAL_VERSION", L"VELMO_FAKE_STREAM", L"VELMO_FAKE_HANG",
          L"VELMO_FAKE_SFX_CREATES", L"VELMO_FAKE_SFX_EXIT_CODE", L"VELMO_FAKE_SFX_HANG"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    SetVersionQueryTimeoutForTesting(base::TimeSpan());
    PackageFetcherCore::SetExtractorTimeoutForTesting(base::TimeSpan());
    PackageFetcherCore::SetPrefsTaskPoolForTesting(nullptr);
    PackageFetcherCore::SetRunningExecutableForTesting(base::FilePath());
    PackageFetcherCore::SetDownloaderRetriesForTesting(-1, base::TimeSpan());
    SetPackageServer(L"");
  }

  // Points the fetcher at |url| through the switch of the process.
  static void SetPackageServer(const std::wstring& url) {
    base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
    base::CommandLine fresh(command_line->GetProgram());
    for (const auto& [name, value] : command_line->GetSwitches()) {
      if (name != kInternalPackageServerSwitch)
        fresh.AppendSwitchNative(name, value);
    }
    if (!url.empty())
      fresh.AppendSwitchNative(kInternalPackageServerSwitch, url);
    *command_line = fresh;
  }

  // The server's address of file |name| of this test.
  std::string Url(const std::string& name) {
    return "http://" + testing_http::ServerAddress() + prefix_ + name;
  }
  // Puts |content| on the server as |name|.
  void Serve(const std::string& name, const std::string& content) {
    const base::FilePath path = root_.Append(base::UTF8ToWide(name));
    ASSERT_EQ(static_cast<int>(content.size()),
              base::WriteFileBytes(path, content.data(), static_cast<int>(content.size())));
  }
  void ServeFile(const std::string& name, const base::FilePath& file) {
    ASSERT_TRUE(base::CopySingleFile(file, root_.Append(base::UTF8ToWide(name))));
  }
  // A reply naming the fake installer with its package, served as "reply",
  // with |extra| members added.
  void ServeReply(const std::string& extra = std::string(),
                  const base::FilePath& installer = Fixture(L"fake_full_installer.exe")) {
    ServeFile("installer.exe", installer);
    Serve("reply", R"({"installer":")" + Url("installer.exe") + R"(","installer_checksum":")" +
                       Sha256Hex(installer) + "\"" + extra + "}");
    SetPackageServer(base::UTF8ToWide(Url("reply")));
  }
  // The requests the server recorded for this test's files.
  std::vector<std::string> Requests(std::string* first_method = nullptr,
                                    std::string* first_body = nullptr) {
    std::vector<std::string> paths;
    std::unique_ptr<base::ListValue> all = testing_http::RecordedRequests("");
    for (size_t i = 0; all && i < all->size(); ++i) {
      const base::DictValue* request = nullptr;
      std::string path;
      if (!all->GetDictionary(i, &request) || !request->GetString("path", &path) ||
          path.rfind(prefix_, 0) != 0) {
        continue;
      }
      if (paths.empty() && first_method) {
        request->GetString("method", first_method);
        request->GetString("body", first_body);
      }
      paths.push_back(path.substr(prefix_.size()));
    }
    return paths;
  }

  std::unique_ptr<PackageFetcher> MakeFetcher(PayloadReader* payload, bool with_suite = false) {
    return std::make_unique<PackageFetcher>(work_, &stats_node_, &recorder_, &recorder_, payload, 1,
                                            with_suite);
  }
  // Starts |fetcher| and runs the loop until its result (or two minutes).
  void RunFetch(PackageFetcher* fetcher) {
    base::LoopRunner runner;
    recorder_.quit = runner.QuitClosure();
    fetcher->Start();
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(),
                                                    base::TimeSpan::FromSeconds(120));
    runner.Run();
    recorder_.quit = base::Closure();
  }
  // The value at |key| of fetch entry |index| of the statistics (the last
  // one for kLastFetch).
  static constexpr size_t kLastFetch = static_cast<size_t>(-1);
  std::string FetchStat(size_t index, const char* key) {
    base::AutoLock hold(report_.lock());
    const base::ListValue* fetches = nullptr;
    const base::DictValue* fetch = nullptr;
    std::string text;
    int number = 0;
    if (!report_.root().GetListWithoutPathExpansion("fetches", &fetches) || fetches->empty() ||
        !fetches->GetDictionary(index == kLastFetch ? fetches->size() - 1 : index, &fetch)) {
      return "<no fetch " + std::to_string(index) + ">";
    }
    if (fetch->GetStringWithoutPathExpansion(key, &text))
      return text;
    if (fetch->GetIntegerWithoutPathExpansion(key, &number))
      return std::to_string(number);
    return "<none>";
  }
  // Entries of |work_| other than the ones the test put there.
  std::vector<std::wstring> WorkFolderEntries() {
    std::vector<std::wstring> names;
    base::DirectoryEnumerator e(
        work_, false, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
    for (base::FilePath p = e.Next(); !p.empty(); p = e.Next())
      names.push_back(p.BaseName().value());
    return names;
  }

  base::MessageLoop loop_;
  base::ScopedTempDir temp_;
  base::FilePath work_;
  base::FilePath root_;
  std::string prefix_;
  StatsReport report_;
  StatsNode stats_node_ = report_.root_node();
  FetchRecorder recorder_;
};

TEST_F(PackageFetcherTest, FullPackageInThePayloadNeedsNoNetwork) {
  PayloadReader payload(Fixture(L"unsigned_full.exe"));
  ASSERT_EQ(kPayloadFullPackage, payload.type());
  auto fetcher = MakeFetcher(&payload);
  RunFetch(fetcher.get());

  EXPECT_EQ((std::vector<uint32_t>{0, 3, 5}), recorder_.statuses);
  EXPECT_TRUE(Requests().empty());
  const base::FilePath tree = Fixture(L"archives").Append(L"tree");
  const base::FilePath unpacked = fetcher->unpack_folder();
  EXPECT_EQ(ReadFile(tree.Append(L"dir\\program.exe")),
            ReadFile(unpacked.Append(L"dir\\program.exe")));
  // Neither the 7z file nor the tracking data stay behind.
  EXPECT_FALSE(base::PathExists(fetcher->download_path().ReplaceExtension(L"7z")));
  EXPECT_FALSE(base::PathExists(unpacked.Append(L"server_tracking_data")));
  EXPECT_FALSE(base::PathExists(unpacked.Append(L"installer_prefs_include.json")));
  // Unpacking progress: the number of entries, then each index.
  ASSERT_EQ(1u, recorder_.totals.size());
  EXPECT_EQ(10u, recorder_.totals[0]);
  EXPECT_EQ(9u, recorder_.current);
  EXPECT_EQ("package_ready", FetchStat(0, "result"));
  EXPECT_EQ("0", FetchStat(0, "try_number"));

  // Destroying the fetcher removes everything it wrote.
  fetcher.reset();
  EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(PackageFetcherTest, NetInstallerFetchesVerifiesAndUnpacks) {
  ServeFile("partner.dat", Fixture(L"tracking_data.bin"));
  ServeReply(R"(,"url_welcome":"https://welcome.velmo.example/first","components":[)"
             R"({"type":"partner_content","location":")" +
             Url("partner.dat") + R"(","archive":false,"checksum":")" +
             Sha256Hex(Fixture(L"tracking_data.bin")) +
             R"(","filename":"partner.dat"},)"
             // Without suite components asked for, this one is not fetched.
             R"({"type":"suite","location":"x","archive":true,"checksum":"c"}])");
  PayloadReader payload(Fixture(L"unsigned_tracking.exe"));
  ASSERT_EQ(kPayloadTrackingData, payload.type());
  auto fetcher = MakeFetcher(&payload);
  // The back end may read the preferences as soon as the package is ready.
  std::string prefs_when_ready;
  recorder_.on_status = [&](uint32_t status) {
    if (status == 5) {
      prefs_when_ready = ReadFile(fetcher->unpack_folder().Append(L"installer_prefs_include.json"));
    }
  };
  RunFetch(fetcher.get());
  recorder_.on_status = nullptr;

  EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3, 4, 5}), recorder_.statuses);
  std::string method, body;
  EXPECT_EQ((std::vector<std::string>{"reply", "installer.exe", "partner.dat"}),
            Requests(&method, &body));
  EXPECT_EQ("POST", method);
  EXPECT_EQ(ReadFile(Fixture(L"tracking_data.bin")), body);

  const base::FilePath unpacked = fetcher->unpack_folder();
  EXPECT_EQ(ReadFile(Fixture(L"archives\\tree\\a.txt")), ReadFile(unpacked.Append(L"a.txt")));
  EXPECT_EQ(ReadFile(Fixture(L"tracking_data.bin")),
            ReadFile(unpacked.Append(L"server_tracking_data")));
  EXPECT_EQ(ReadFile(Fixture(L"tracking_data.bin")), ReadFile(unpacked.Append(L"partner.dat")));
  // The package's own list, with the partner file added.
  EXPECT_EQ(ReadFile(Fixture(L"archives\\tree\\files_list")) + "partner.dat\r\n",
            ReadFile(unpacked.Append(L"files_list")));
  std::unique_ptr<base::Value> prefs = base::JsonReader::Read(prefs_when_ready);
  const base::DictValue* dict = nullptr;
  std::string welcome;
  ASSERT_TRUE(prefs && prefs->GetAsDictionary(&dict));
  ASSERT_TRUE(dict->GetStringWithoutPathExpansion("welcome-url", &welcome));
  EXPECT_EQ("https://welcome.velmo.example/first", welcome);

  EXPECT_EQ(Url("installer.exe"), FetchStat(0, "download_url"));
  EXPECT_EQ(GetInternalVersion(), FetchStat(0, "internal_version"));
  EXPECT_EQ(GetStreamName(), FetchStat(0, "stream"));
  EXPECT_EQ("package_ready", FetchStat(0, "result"));
  fetcher.reset();
  EXPECT_TRUE(WorkFolderEntries().empty());
}

// A welcome page preference that cannot be written (its pool refuses the
// write) fails the try with the cause, rather than waiting for ever.
TEST_F(PackageFetcherTest, AWelcomePageThatCannotBeWrittenFailsTheTry) {
  ServeReply(R"(,"url_welcome":"https://welcome.velmo.example/first")");
  auto pool = base::MakeShared<prefs::PrefsTaskPoolHolder>();
  pool->pool()->Shutdown();
  PackageFetcherCore::SetPrefsTaskPoolForTesting(pool);
  ThreadSafeLogCapture log;
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain);
  RunFetch(fetcher.get());
  ASSERT_FALSE(recorder_.statuses.empty());
  EXPECT_EQ(8u, recorder_.statuses.back());
  EXPECT_EQ("Could not queue the welcome page preference write",
            FetchStat(kLastFetch, "failure_reason"));
  EXPECT_TRUE(log.Contains("Could not queue the welcome page preference write"));
  fetcher.reset();
  PackageFetcherCore::SetPrefsTaskPoolForTesting(nullptr);
  EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(PackageFetcherTest, WithoutTrackingDataTheRequestIsAGet) {
  ServeReply();
  PayloadReader payload(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&payload);
  RunFetch(fetcher.get());
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3, 5}), recorder_.statuses);
  std::string method, body;
  Requests(&method, &body);
  EXPECT_EQ("GET", method);
  EXPECT_FALSE(base::PathExists(fetcher->unpack_folder().Append(L"server_tracking_data")));
  EXPECT_FALSE(base::PathExists(fetcher->unpack_folder().Append(L"installer_prefs_include.json")));
  // Nothing arrived from partners: the package's list is as it was.
  EXPECT_EQ(ReadFile(Fixture(L"archives\\tree\\files_list")),
            ReadFile(fetcher->unpack_folder().Append(L"files_list")));
}

// "127.1" reaches the same server as "127.0.0.1" but is on no allowed host
// list: the package may come from it, the server's reply may not.
TEST_F(PackageFetcherTest, OnlyThePackageServerIsHeldToTheAllowedHosts) {
  const std::string port =
      testing_http::ServerAddress().substr(testing_http::ServerAddress().find(':'));
  const base::FilePath installer = Fixture(L"fake_full_installer.exe");
  ServeFile("installer.exe", installer);
  Serve("reply", R"({"installer":"http://127.1)" + port + prefix_ +
                     R"(installer.exe","installer_checksum":")" + Sha256Hex(installer) + "\"}");
  PayloadReader plain(Fixture(L"plain.exe"));

  SetPackageServer(base::UTF8ToWide(Url("reply")));
  auto fetcher = MakeFetcher(&plain);
  RunFetch(fetcher.get());
  EXPECT_EQ(5u, recorder_.statuses.back());

  recorder_.statuses.clear();
  SetPackageServer(base::UTF8ToWide("http://127.1" + port + prefix_ + "reply"));
  auto refused = MakeFetcher(&plain);
  RunFetch(refused.get());
  EXPECT_EQ(7u, recorder_.statuses.back());
  EXPECT_EQ("Failed fetching the download URL", FetchStat(kLastFetch, "failure_reason"));
}

// The package address of the reply is held to what a redirect is: http or
// https, and no user name or password, which never reaches the statistics.
TEST_F(PackageFetcherTest, PackageAddressesAreCheckedLikeRedirects) {
  const base::FilePath installer = Fixture(L"fake_full_installer.exe");
  ServeFile("installer.exe", installer);
  PayloadReader plain(Fixture(L"plain.exe"));
  const std::string place = testing_http::ServerAddress() + prefix_ + "installer.exe";
  for (const std::string& address : {"ftp://" + place, "http://user:secret@" + place}) {
    SCOPED_TRACE(address);
    Serve("reply", R"({"installer":")" + address + R"(","installer_checksum":")" +
                       Sha256Hex(installer) + "\"}");
    SetPackageServer(base::UTF8ToWide(Url("reply")));
    recorder_.statuses.clear();
    auto fetcher = MakeFetcher(&plain);
    RunFetch(fetcher.get());
    ASSERT_FALSE(recorder_.statuses.empty());
    EXPECT_EQ(7u, recorder_.statuses.back());
    EXPECT_EQ("Failed downloading the Velmo package", FetchStat(kLastFetch, "failure_reason"));
    EXPECT_EQ(std::string::npos, FetchStat(kLastFetch, "download_url").find("secret"));
    for (const std::string& path : Requests())
      EXPECT_NE("installer.exe", path);
  }
}

struct FailureCase {
  const char* name;
  const char* reason;
  uint32_t result;
};

TEST_F(PackageFetcherTest, EveryFailureGivesItsReasonAndResult) {
  PayloadReader plain(Fixture(L"plain.exe"));
  const auto check = [&](const FailureCase& c, PackageFetcher* fetcher) {
    SCOPED_TRACE(c.name);
    ThreadSafeLogCapture log;
    recorder_.statuses.clear();
    RunFetch(fetcher);
    ASSERT_FALSE(recorder_.statuses.empty());
    EXPECT_EQ(c.result, recorder_.statuses.back());
    EXPECT_EQ(c.reason, FetchStat(kLastFetch, "failure_reason"));
    EXPECT_EQ(FetcherResultToString(c.result), FetchStat(kLastFetch, "result"));
    EXPECT_TRUE(log.Contains(c.reason));
  };

  {
    SetPackageServer(L"no scheme at all");
    auto fetcher = MakeFetcher(&plain);
    check({"request cannot start", "Failed fetching the download URL", 7}, fetcher.get());
  }
  {
    SetPackageServer(base::UTF8ToWide(Url("missing reply")));
    auto fetcher = MakeFetcher(&plain);
    check({"request fails", "Failed fetching the download URL", 7}, fetcher.get());
  }
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  for (const std::string& reply :
       {std::string("not json"), deep, std::string(R"({"installer":"x"})"),
        std::string(R"({"installer":5,"installer_checksum":"c"})")}) {
    Serve("bad reply", reply);
    SetPackageServer(base::UTF8ToWide(Url("bad reply")));
    auto fetcher = MakeFetcher(&plain);
    check({"bad reply", "Failed parsing json reply", 7}, fetcher.get());
  }
  {
    ServeReply();
    auto fetcher = MakeFetcher(&plain);
    // Open with delete sharing: the cleaning succeeds, yet the name cannot
    // be created again while the handle lives.
    base::win::ScopedHandle holder(
        CreateFileW(fetcher->download_path().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    check({"no download file", "Failed initializing the file to use as download destination", 7},
          fetcher.get());
  }
  {
    // A run that could not claim its names may share them with a live run:
    // it fails at once and leaves whatever is there.
    ServeReply();
    const base::FilePath folder = temp_.GetPath().Append(L"made later");
    ThreadSafeLogCapture claim_log;
    auto fetcher = std::make_unique<PackageFetcher>(folder, &stats_node_, &recorder_, &recorder_,
                                                    &plain, 1, false);
    EXPECT_TRUE(claim_log.Contains("Could not claim the download files with"));
    const base::FilePath others = fetcher->unpack_folder().Append(L"theirs.txt");
    ASSERT_TRUE(base::CreateDirectoryTree(others.DirName()));
    ASSERT_EQ(1, base::WriteFileBytes(others, "x", 1));
    const base::FilePath download = fetcher->download_path();
    ASSERT_EQ(1, base::WriteFileBytes(download, "x", 1));
    recorder_.statuses.clear();
    RunFetch(fetcher.get());
    EXPECT_EQ((std::vector<uint32_t>{0, 6}), recorder_.statuses);
    EXPECT_EQ("Could not claim the download files", FetchStat(kLastFetch, "failure_reason"));
    fetcher.reset();
    EXPECT_TRUE(base::PathExists(others));
    EXPECT_TRUE(base::PathExists(download));
  }
  {
    Serve("reply", R"({"installer":")" + Url("gone.exe") + R"(","installer_checksum":"c"})");
    SetPackageServer(base::UTF8ToWide(Url("reply")));
    auto fetcher = MakeFetcher(&plain);
    check({"package missing", "Failed downloading the Velmo package", 7}, fetcher.get());
  }
  {
    ServeFile("installer.exe", Fixture(L"fake_full_installer.exe"));
    Serve("reply", R"({"installer":")" + Url("installer.exe") + R"(","installer_checksum":")" +
                       std::string(64, '0') + "\"}");
    SetPackageServer(base::UTF8ToWide(Url("reply")));
    auto fetcher = MakeFetcher(&plain);
    check({"checksum", "Checksum incorrect for the downloaded package", 7}, fetcher.get());
  }
  {
    // An empty checksum is no checksum that matches: never a skipped check.
    ServeFile("installer.exe", Fixture(L"fake_full_installer.exe"));
    Serve("reply", R"({"installer":")" + Url("installer.exe") + R"(","installer_checksum":""})");
    SetPackageServer(base::UTF8ToWide(Url("reply")));
    auto fetcher = MakeFetcher(&plain);
    check({"empty checksum", "Checksum incorrect for the downloaded package", 7}, fetcher.get());
  }
  {
    ServeReply();
    // A signed installer accepts only signed packages.
    PackageFetcherCore::SetRunningExecutableForTesting(Fixture(L"signed_full.exe"));
    auto fetcher = MakeFetcher(&plain);
    check({"signature", "Signature incorrect for the downloaded package", 7}, fetcher.get());
    PackageFetcherCore::SetRunningExecutableForTesting(base::FilePath());
  }
  for (const wchar_t* variable :
       {L"VELMO_FAKE_INTERNAL_VERSION", L"VELMO_FAKE_STREAM", L"VELMO_FAKE_HANG"}) {
    ServeReply();
    SetEnvironmentVariableW(
        variable, variable == std::wstring(L"VELMO_FAKE_INTERNAL_VERSION") ? L"1.0" : L"1");
    // Only the program that never answers waits for a short limit: the
    // others fail on what they answer, and every later start must get the
    // whole limit (a loaded machine can take seconds to start a program).
    const bool hangs = variable == std::wstring(L"VELMO_FAKE_HANG");
    SetVersionQueryTimeoutForTesting(hangs ? base::TimeSpan::FromSeconds(2) : base::TimeSpan());
    auto fetcher = MakeFetcher(&plain);
    check({"version", "Downloaded package failed version check", 7}, fetcher.get());
    SetVersionQueryTimeoutForTesting(base::TimeSpan());
    SetEnvironmentVariableW(L"VELMO_FAKE_INTERNAL_VERSION",
                            base::UTF8ToWide(GetInternalVersion()).c_str());
    SetEnvironmentVariableW(L"VELMO_FAKE_STREAM", base::UTF8ToWide(GetStreamName()).c_str());
    SetEnvironmentVariableW(L"VELMO_FAKE_HANG", nullptr);
  }
  {
    ServeReply("", BinDir().Append(L"fake_installer.exe"));
    auto fetcher = MakeFetcher(&plain);
    check({"no package", "Could not find 7z payload in full package", 7}, fetcher.get());
  }
  {
    ServeReply();
    auto fetcher = MakeFetcher(&plain);
    // A folder where the 7z file goes.
    ASSERT_TRUE(base::CreateDirectoryTree(fetcher->download_path().ReplaceExtension(L"7z")));
    check({"7z not written", "Could not write out 7z archive from full package", 8}, fetcher.get());
  }
  {
    PayloadReader bad(Fixture(L"unsigned_bad_package.exe"));
    ASSERT_EQ(kPayloadFullPackage, bad.type());
    auto fetcher = MakeFetcher(&bad);
    check({"bad archive", "Archive unpacking failed", 8}, fetcher.get());
  }
  {
    PayloadReader full(Fixture(L"unsigned_full.exe"));
    auto fetcher = MakeFetcher(&full);
    // A file held open without delete sharing keeps the old folder.
    ASSERT_TRUE(base::CreateDirectoryTree(fetcher->unpack_folder()));
    const base::FilePath held = fetcher->unpack_folder().Append(L"held");
    base::win::ScopedHandle holder(
        CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    check({"folder in use", "Unable to obtain or clean the download/extraction path", 6},
          fetcher.get());
  }
  {
    PayloadReader full(Fixture(L"unsigned_full.exe"));
    auto fetcher = MakeFetcher(&full);
    // A file open with delete sharing is deleted only when its last handle
    // closes: the cleaning succeeds, yet the name still blocks the folder.
    base::win::ScopedHandle holder(
        CreateFileW(fetcher->unpack_folder().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                    0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    check({"folder blocked", "Could not create unpacking folder", 8}, fetcher.get());
  }
}

TEST_F(PackageFetcherTest, ASecondStartAfterAFailureIsTheNextTry) {
  Serve("reply", "not json");
  SetPackageServer(base::UTF8ToWide(Url("reply")));
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain);
  RunFetch(fetcher.get());
  EXPECT_EQ(7u, recorder_.statuses.back());

  ServeReply();
  RunFetch(fetcher.get());
  EXPECT_EQ(5u, recorder_.statuses.back());
  EXPECT_EQ("0", FetchStat(0, "try_number"));
  EXPECT_EQ("download_failed", FetchStat(0, "result"));
  EXPECT_EQ("1", FetchStat(1, "try_number"));
  EXPECT_EQ("package_ready", FetchStat(1, "result"));
  base::AutoLock hold(report_.lock());
  int restarts = 0;
  EXPECT_TRUE(report_.root().GetIntegerWithoutPathExpansion("fetcher_restarts", &restarts));
  EXPECT_EQ(1, restarts);
}

TEST_F(PackageFetcherTest, DestroyedMidFetchReportsNothingMoreAndLeavesNothing) {
  // Once at the download of the package, once at its unpacking.
  for (uint32_t stop_at : {2u, 3u}) {
    SCOPED_TRACE(stop_at);
    recorder_.statuses.clear();
    ServeReply();
    PayloadReader plain(Fixture(L"plain.exe"));
    auto fetcher = MakeFetcher(&plain);
    base::LoopRunner runner;
    recorder_.on_status = [&](uint32_t status) {
      if (status == stop_at)
        runner.Quit();
    };
    recorder_.quit = runner.QuitClosure();
    fetcher->Start();
    base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, runner.QuitClosure(),
                                                    base::TimeSpan::FromSeconds(120));
    runner.Run();
    recorder_.on_status = nullptr;
    ASSERT_EQ(stop_at, recorder_.statuses.back());
    const size_t reported = recorder_.statuses.size();
    fetcher.reset();
    // Whatever the worker had posted before it was stopped stays unseen.
    base::LoopRunner().RunUntilIdle();
    EXPECT_EQ(reported, recorder_.statuses.size());
    EXPECT_TRUE(WorkFolderEntries().empty());
  }
}

class AdditionalFilesTest : public PackageFetcherTest {
 protected:
  std::string Component(const std::string& type, const std::string& location, bool archive,
                        const std::string& checksum, const std::string& filename) {
    std::string text = R"({"type":")" + type + R"(","location":")" + location + R"(","archive":)" +
                       (archive ? "true" : "false") + R"(,"checksum":")" + checksum + "\"";
    if (!filename.empty())
      text += R"(,"filename":")" + filename + "\"";
    return text + "}";
  }
  // Of additional component |index| of the last fetch: the value at |key|
  // of its entry, or with "tries" the number of its tries.
  std::string ComponentStat(size_t index, const char* key) {
    base::AutoLock hold(report_.lock());
    const base::ListValue* fetches = nullptr;
    const base::DictValue* fetch = nullptr;
    const base::ListValue* components = nullptr;
    const base::DictValue* component = nullptr;
    if (!report_.root().GetListWithoutPathExpansion("fetches", &fetches) || fetches->empty() ||
        !fetches->GetDictionary(fetches->size() - 1, &fetch) ||
        !fetch->GetListWithoutPathExpansion("addtional_files", &components) ||
        !components->GetDictionary(index, &component)) {
      return "<no component " + std::to_string(index) + ">";
    }
    const base::ListValue* tries = nullptr;
    if (key == std::string("tries"))
      return component->GetListWithoutPathExpansion("download_tries", &tries)
                 ? std::to_string(tries->size())
                 : "<none>";
    int number = 0;
    return component->GetIntegerWithoutPathExpansion(key, &number) ? std::to_string(number)
                                                                   : "<none>";
  }
  size_t CountRequests(const std::string& name) {
    size_t count = 0;
    for (const std::string& path : Requests())
      count += path == name;
    return count;
  }
};

TEST_F(AdditionalFilesTest, PartnerFilesArriveOrAreSkipped) {
  const base::FilePath data = Fixture(L"tracking_data.bin");
  ServeFile("good.dat", data);
  ServeFile("bad1.dat", data);
  ServeFile("bad2.dat", data);
  const std::string good = Sha256Hex(data);
  const std::string wrong(64, 'a');
  ServeReply(R"(,"components":[)" +
             Component("partner_content", Url("bad1.dat"), false, wrong, "bad1.dat") + "," +
             Component("partner_content", Url("bad2.dat"), false, wrong, "bad2.dat") + "," +
             Component("partner_content", Url("good.dat"), false, good, "") + "," +
             Component("partner_content", Url("good.dat"), false, good, "..\\\\evil.dat") + "," +
             Component("partner_content", Url("good.dat"), false, good, "good.dat") + "," +
             // The package has a folder of that name.
             Component("partner_content", Url("good.dat"), false, good, "dir") + "]");
  ThreadSafeLogCapture log;
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain);
  RunFetch(fetcher.get());

  EXPECT_EQ(5u, recorder_.statuses.back());
  // Every failing component gets its four tries, the second one too.
  EXPECT_EQ(4u, CountRequests("bad1.dat"));
  EXPECT_EQ(4u, CountRequests("bad2.dat"));
  EXPECT_EQ(2u, CountRequests("good.dat"));
  EXPECT_TRUE(log.Contains("Giving up downloading this file"));
  EXPECT_TRUE(log.Contains("Failed moving additional file into place"));
  EXPECT_TRUE(base::DirectoryExists(fetcher->unpack_folder().Append(L"dir")));
  EXPECT_TRUE(log.Contains("Failed parsing additional file part of JSON reply"));
  EXPECT_FALSE(base::PathExists(work_.Append(L"evil.dat")));
  EXPECT_FALSE(base::PathExists(fetcher->unpack_folder().Append(L"bad1.dat")));
  EXPECT_EQ(ReadFile(Fixture(L"archives\\tree\\files_list")) + "good.dat\r\n",
            ReadFile(fetcher->unpack_folder().Append(L"files_list")));
}

TEST_F(AdditionalFilesTest, SuiteArchivesRunTheirExtractorAndAreChecked) {
  const base::FilePath sfx = BinDir().Append(L"fake_installer.exe");
  ServeFile("suite.exe", sfx);
  ServeReply(R"(,"components":[)" + Component("suite", Url("suite.exe"), true, Sha256Hex(sfx), "") +
             "]");
  // The extractor brings only the assistant's installer.
  SetEnvironmentVariableW(L"VELMO_FAKE_SFX_CREATES", L"assistant_installer.exe");
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain, true);
  RunFetch(fetcher.get());
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3, 4, 5}), recorder_.statuses);

  base::DirectoryEnumerator suites(work_, false, base::DirectoryEnumerator::DIRECTORIES,
                                   L"suite_*");
  const base::FilePath suite = suites.Next();
  ASSERT_FALSE(suite.empty());
  EXPECT_TRUE(base::PathExists(suite.Append(L"assistant_installer.exe")));
  // Checked and passed: the extractor is gone.
  EXPECT_FALSE(base::PathExists(suite.Append(L"suite_sfx.exe")));
  fetcher.reset();
  EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(AdditionalFilesTest, AFailingExtractorSkipsTheComponent) {
  const base::FilePath sfx = BinDir().Append(L"fake_installer.exe");
  const base::FilePath not_a_program = Fixture(L"tracking_data.bin");
  ServeFile("suite.exe", sfx);
  ServeFile("text.exe", not_a_program);
  ServeReply(R"(,"components":[)" +
             Component("suite", Url("text.exe"), true, Sha256Hex(not_a_program), "") + "," +
             Component("suite", Url("suite.exe"), true, Sha256Hex(sfx), "") + "]");
  SetEnvironmentVariableW(L"VELMO_FAKE_SFX_EXIT_CODE", L"1");
  ThreadSafeLogCapture log;
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain, true);
  RunFetch(fetcher.get());
  EXPECT_EQ(5u, recorder_.statuses.back());
  EXPECT_TRUE(log.Contains("Failed starting SFX archive"));
  EXPECT_TRUE(log.Contains("Failed extracting SFX archive"));
  base::DirectoryEnumerator suites(work_, false, base::DirectoryEnumerator::DIRECTORIES,
                                   L"suite_*");
  const base::FilePath suite = suites.Next();
  ASSERT_FALSE(suite.empty());
  EXPECT_TRUE(base::PathExists(suite.Append(L"suite_sfx.exe")));
}

// An extractor that never ends is ended after the limit and its component
// skipped; the next component still comes and the package is ready.
TEST_F(AdditionalFilesTest, AHungExtractorIsEndedAndItsComponentSkipped) {
  const base::FilePath sfx = BinDir().Append(L"fake_installer.exe");
  const base::FilePath data = Fixture(L"tracking_data.bin");
  ServeFile("suite.exe", sfx);
  ServeFile("good.dat", data);
  ServeReply(
      R"(,"components":[)" + Component("suite", Url("suite.exe"), true, Sha256Hex(sfx), "") + "," +
      Component("partner_content", Url("good.dat"), false, Sha256Hex(data), "good.dat") + "]");
  SetEnvironmentVariableW(L"VELMO_FAKE_SFX_HANG", L"1");
  PackageFetcherCore::SetExtractorTimeoutForTesting(base::TimeSpan::FromSeconds(2));
  ThreadSafeLogCapture log;
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain, true);
  RunFetch(fetcher.get());
  ASSERT_FALSE(recorder_.statuses.empty());
  EXPECT_EQ(5u, recorder_.statuses.back());
  EXPECT_TRUE(log.Contains("Failed extracting SFX archive"));
  EXPECT_EQ("0", ComponentStat(0, "download_succeeded"));
  EXPECT_EQ("1", ComponentStat(1, "download_succeeded"));
  // The extractor was ended: its file is no longer held and goes with the
  // rest of the fetch.
  fetcher.reset();
  EXPECT_TRUE(WorkFolderEntries().empty());
}

TEST_F(AdditionalFilesTest, ADownloaderThatRetriedIsNotStartedAgain) {
  PackageFetcherCore::SetDownloaderRetriesForTesting(1, base::TimeSpan::FromMilliseconds(10));
  const base::FilePath data = Fixture(L"tracking_data.bin");
  ServeFile("bad.dat", data);
  ServeFile("good.dat", data);
  // Nothing listens on port 1: every request of the first component fails
  // to connect, and the downloader retries it on its own.
  ServeReply(
      R"(,"components":[)" +
      Component("partner_content", "http://127.0.0.1:1/gone.dat", false, Sha256Hex(data),
                "gone.dat") +
      "," + Component("partner_content", Url("bad.dat"), false, std::string(64, 'a'), "bad.dat") +
      "," + Component("partner_content", Url("good.dat"), false, Sha256Hex(data), "good.dat") +
      "]");
  ThreadSafeLogCapture log;
  PayloadReader plain(Fixture(L"plain.exe"));
  auto fetcher = MakeFetcher(&plain);
  RunFetch(fetcher.get());

  EXPECT_EQ(5u, recorder_.statuses.back());
  EXPECT_EQ("1", ComponentStat(0, "tries"));
  EXPECT_EQ("0", ComponentStat(0, "download_succeeded"));
  EXPECT_TRUE(log.Contains("Giving up downloading this file"));
  // A completed download with the wrong bytes still gets its four tries.
  EXPECT_EQ("4", ComponentStat(1, "tries"));
  EXPECT_EQ(4u, CountRequests("bad.dat"));
  EXPECT_EQ("1", ComponentStat(2, "download_succeeded"));
  EXPECT_TRUE(base::PathExists(fetcher->unpack_folder().Append(L"good.dat")));
}

TEST_F(AdditionalFilesTest, ComponentDownloadsThatCannotStart) {
  const base::FilePath data = Fixture(L"tracking_data.bin");
  ServeFile("good.dat", data);
  const std::string components =
      R"(,"components":[)" +
      Component("partner_content", "no scheme at all", false, Sha256Hex(data), "first.dat") + "," +
      Component("partner_content", Url("good.dat"), false, Sha256Hex(data), "good.dat") + "]";
  {
    SCOPED_TRACE("unusable address");
    ServeReply(components);
    ThreadSafeLogCapture log;
    PayloadReader plain(Fixture(L"plain.exe"));
    auto fetcher = MakeFetcher(&plain);
    RunFetch(fetcher.get());
    EXPECT_EQ(5u, recorder_.statuses.back());
    EXPECT_TRUE(log.Contains("Failed downloading additional file"));
    // Skipped at once, and the next component still comes.
    EXPECT_FALSE(log.Contains("Retrying additional file download"));
    EXPECT_EQ("0", ComponentStat(0, "download_succeeded"));
    EXPECT_EQ("1", ComponentStat(1, "download_succeeded"));
    EXPECT_TRUE(base::PathExists(fetcher->unpack_folder().Append(L"good.dat")));
  }
  {
    SCOPED_TRACE("no download file");
    recorder_.statuses.clear();
    ServeReply(components);
    // A folder where the download file goes.
    ASSERT_TRUE(base::CreateDirectoryTree(work_.Append(kAdditionalFileTempName)));
    ThreadSafeLogCapture log;
    PayloadReader plain(Fixture(L"plain.exe"));
    auto fetcher = MakeFetcher(&plain);
    const size_t good_requests = CountRequests("good.dat");
    RunFetch(fetcher.get());
    // The package is ready without trying the remaining components.
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 2, 3, 4, 5}), recorder_.statuses);
    EXPECT_TRUE(log.Contains("Failed initializing the file to use as download destination"));
    EXPECT_EQ(good_requests, CountRequests("good.dat"));
    EXPECT_FALSE(base::PathExists(fetcher->unpack_folder().Append(L"good.dat")));
  }
}

TEST_F(AdditionalFilesTest, SuiteComponentsThatCannotBePlacedOrCheckedAreSkipped) {
  const base::FilePath sfx = BinDir().Append(L"fake_installer.exe");
  ServeFile("suite.exe", sfx);
  const std::string components =
      R"(,"components":[)" + Component("suite", Url("suite.exe"), true, Sha256Hex(sfx), "") + "]";
  struct Case {
    const char* reason;
    // Prepares the suite folder of |fetcher| so that the component fails.
    std::function<void(const PackageFetcher& fetcher)> prepare;
  };
  const Case cases[] = {
      {"Could not create unpacking folder for additional file",
       [](const PackageFetcher& fetcher) {
         ASSERT_EQ(0, base::WriteFileBytes(fetcher.suite_unpack_folder(), "", 0));
       }},
      {"Failed moving additional component SFX into place",
       [](const PackageFetcher& fetcher) {
         // A folder that is not empty where the extractor goes.
         const base::FilePath in_the_way = fetcher.suite_unpack_folder().Append(L"suite_sfx.exe");
         ASSERT_TRUE(base::CreateDirectoryTree(in_the_way));
         ASSERT_EQ(1, base::WriteFileBytes(in_the_way.Append(L"x"), "x", 1));
       }},
      // The extractor makes no installer, so there is no version to check.
      {"Component version didn't pass check", [](const PackageFetcher&) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    recorder_.statuses.clear();
    ServeReply(components);
    ThreadSafeLogCapture log;
    PayloadReader plain(Fixture(L"plain.exe"));
    auto fetcher = MakeFetcher(&plain, true);
    ASSERT_FALSE(fetcher->suite_unpack_folder().empty());
    c.prepare(*fetcher);
    RunFetch(fetcher.get());
    EXPECT_EQ(5u, recorder_.statuses.back());
    EXPECT_TRUE(log.Contains(c.reason));
    EXPECT_EQ("0", ComponentStat(0, "download_succeeded"));
    EXPECT_EQ("1", ComponentStat(0, "tries"));
    fetcher.reset();
    EXPECT_TRUE(WorkFolderEntries().empty());
  }
}

}  // namespace
}  // namespace installer
