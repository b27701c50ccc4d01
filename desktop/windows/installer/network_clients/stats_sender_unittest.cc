#include "desktop/windows/installer/network_clients/stats_sender.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/json_reader.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/wininet/wininet_test_support.h"
#include "gtest/gtest.h"
#include "testing/http_server/test_server.h"

namespace installer {
namespace {

// The test server as "localhost", which the sender's allow-list accepts.
std::wstring LocalhostUrl(const std::string& path_and_query) {
  std::string address = testing_http::ServerAddress();
  return base::UTF8ToWide("http://localhost:" + address.substr(address.find(':') + 1) +
                          path_and_query);
}

class StatsSenderTest : public ::testing::Test {
 protected:
  // Sends and runs the loop until |done| ran; the result of Send.
  bool SendAndWait(StatsSender* sender, bool wait_for_network, int* done_runs) {
    base::LoopRunner runner;
    base::Closure quit = runner.QuitClosure();
    bool started = sender->Send(base::Bind(
                                    [](int* runs, base::Closure quit) {
                                      ++*runs;
                                      quit.Run();
                                    },
                                    base::Unretained(done_runs), quit),
                                wait_for_network);
    if (started) {
      base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, quit,
                                                      base::TimeSpan::FromSeconds(120));
      runner.Run();
    }
    return started;
  }

  // The JSON body of the one POST recorded under |key|. With |resent_too|
  // the same report may have been posted again: a reply whose body ends
  // early is retried (seen under load with a reply of 100 MB).
  std::unique_ptr<base::Value> PostedReport(const std::string& key, bool resent_too = false) {
    std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests(key);
    const base::DictValue* request = nullptr;
    std::string method, body;
    if (!requests || requests->empty() || (requests->size() != 1 && !resent_too) ||
        !requests->GetDictionary(0, &request) || !request->GetString("method", &method) ||
        !request->GetString("body", &body)) {
      ADD_FAILURE() << "no single recorded request";
      return nullptr;
    }
    for (size_t i = 1; i < requests->size(); ++i) {
      const base::DictValue* again = nullptr;
      std::string again_body;
      EXPECT_TRUE(requests->GetDictionary(i, &again) && again->GetString("body", &again_body) &&
                  again_body == body)
          << "request " << i << " posted another report";
    }
    EXPECT_EQ("POST", method);
    EXPECT_EQ("Velmo NetInstaller/" + GetVersionString(),
              testing_http::RecordedHeader(*request, "User-Agent"));
    return base::JsonReader::Read(body);
  }

  base::MessageLoop loop_;
  RecordingFetcherDelegate ui_;
};

TEST_F(StatsSenderTest, HeaderKeysAreWrittenAtConstruction) {
  StatsSender sender(&ui_);
  StatsReport& report = sender.report_for_testing();
  base::AutoLock lock(report.lock());
  const base::DictValue& root = report.root();
  std::string text;
  for (const char* key : {"installer_start_time.time", "installation_start_time", "version",
                          "stream", "product", "os.name", "command_line_args"}) {
    EXPECT_TRUE(root.GetStringWithoutPathExpansion(key, &text)) << key;
  }
  root.GetStringWithoutPathExpansion("version", &text);
  EXPECT_EQ(GetVersionString(), text);
  root.GetStringWithoutPathExpansion("product", &text);
  EXPECT_EQ(GetProductName(), text);
  root.GetStringWithoutPathExpansion("os.name", &text);
  EXPECT_EQ("windows", text);
  int number = -1;
  for (const char* key : {"installer_start_time.elapsed", "os.version.major", "os.version.minor",
                          "os.version.build", "os.service_pack.major", "os.service_pack.minor"}) {
    EXPECT_TRUE(root.GetIntegerWithoutPathExpansion(key, &number)) << key;
  }
  root.GetIntegerWithoutPathExpansion("os.version.major", &number);
  EXPECT_GE(number, 5);
  EXPECT_FALSE(root.HasKey("wininet_retries"));
}

TEST_F(StatsSenderTest, SendPostsTheReportWithTheDownloadSummary) {
  StatsSender sender(&ui_);
  StatsNode root = sender.GetRoot();
  // Two fetches with chunk lists of 3 and 1 entries naming servers B, A, B
  // and A.
  const char* ips[] = {"192.0.2.20", "192.0.2.10", "192.0.2.20", "192.0.2.10"};
  std::unique_ptr<StatsNode> first = root.AddListEntry("fetches");
  for (int i = 0; i < 3; ++i)
    first->AddListEntry("download_chunks")->SetString("ip", std::string_view(ips[i]));
  std::unique_ptr<StatsNode> second = root.AddListEntry("fetches");
  second->AddListEntry("download_chunks")->SetString("ip", std::string_view(ips[3]));
  root.SetInteger("installation_success", 1);

  std::string key = testing_http::UniqueKey("stats");
  sender.SetUrlForTesting(LocalhostUrl("/echo?key=" + key));
  int done_runs = 0;
  ASSERT_TRUE(SendAndWait(&sender, true, &done_runs));
  EXPECT_EQ(1, done_runs);
  EXPECT_EQ(WinInetDownloader::kCompleted, sender.downloader_for_testing().state());
  EXPECT_EQ(WinInetDownloader::kDefaultMaxRetries, sender.downloader_for_testing().max_retries());

  std::unique_ptr<base::Value> posted = PostedReport(key);
  base::DictValue* report = nullptr;
  ASSERT_TRUE(posted && posted->GetAsDictionary(&report));
  int number = -1;
  std::string text;
  EXPECT_TRUE(report->GetIntegerWithoutPathExpansion("wininet_retries", &number));
  EXPECT_EQ(4, number);
  EXPECT_TRUE(report->GetStringWithoutPathExpansion("download_ips", &text));
  EXPECT_EQ("192.0.2.10; 192.0.2.20", text);
  EXPECT_TRUE(report->GetIntegerWithoutPathExpansion("installation_success", &number));
  EXPECT_TRUE(report->HasKey("stats_sending_time.time"));
  EXPECT_TRUE(report->HasKey("stats_sending_time.elapsed"));
  EXPECT_TRUE(report->HasKey("os.version.build"));
}

TEST_F(StatsSenderTest, NoFetchesNoSummaryAndAHugeReplyIsDiscarded) {
  StatsSender sender(&ui_);
  std::string key = testing_http::UniqueKey("stats-big");
  sender.SetUrlForTesting(LocalhostUrl("/echo?reply_size=104857600&key=" + key));
  int done_runs = 0;
  ASSERT_TRUE(SendAndWait(&sender, false, &done_runs));
  EXPECT_EQ(1, done_runs);
  EXPECT_EQ(WinInetDownloader::kCompleted, sender.downloader_for_testing().state());
  std::unique_ptr<base::Value> posted = PostedReport(key, /*resent_too=*/true);
  base::DictValue* report = nullptr;
  ASSERT_TRUE(posted && posted->GetAsDictionary(&report));
  EXPECT_FALSE(report->HasKey("wininet_retries"));
  EXPECT_FALSE(report->HasKey("download_ips"));
}

TEST_F(StatsSenderTest, WithoutWaitingForTheNetworkTwoRetriesThenFailure) {
  StatsSender sender(&ui_);
  sender.downloader_for_testing().SetRetryDelayForTesting(base::TimeSpan::FromMilliseconds(20));
  std::string key = testing_http::UniqueKey("stats-503");
  sender.SetUrlForTesting(LocalhostUrl("/data?size=10&fail=503:1000&key=" + key));
  int done_runs = 0;
  ASSERT_TRUE(SendAndWait(&sender, false, &done_runs));
  EXPECT_EQ(1, done_runs);
  EXPECT_EQ(2, sender.downloader_for_testing().max_retries());
  EXPECT_EQ(WinInetDownloader::kFailed, sender.downloader_for_testing().state());
  std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests(key);
  ASSERT_TRUE(requests);
  EXPECT_EQ(4u, requests->size());
}

TEST_F(StatsSenderTest, RequestThatCannotStartRunsDoneAtOnce) {
  StatsSender sender(&ui_);
  // 127.0.0.1 is not among the sender's allowed hosts.
  sender.SetUrlForTesting(testing_http::ServerUrl("/echo"));
  ThreadSafeLogCapture log;
  int done_runs = 0;
  EXPECT_FALSE(SendAndWait(&sender, true, &done_runs));
  EXPECT_EQ(1, done_runs);
  EXPECT_TRUE(log.Contains("Failed to send the stats request"));
}

TEST(StatsServerUrlTest, LocalSwitchAndTheConfiguredEndpoint) {
  // Whatever the environment this test runs in, the real port.
  ::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", nullptr);
  base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  command_line->RemoveSwitch(kLocalStatsServerSwitch);
  // The configured address has no trailing "/".
  EXPECT_EQ(base::UTF8ToWide(GetProductUrl("autoupdate")) + L"/netinstaller/feedback",
            GetStatsServerUrl());
  command_line->AppendSwitchASCII(kLocalStatsServerSwitch, "http://elsewhere:9");
  EXPECT_EQ(L"http://localhost:3000", GetStatsServerUrl());
  command_line->RemoveSwitch(kLocalStatsServerSwitch);
  EXPECT_EQ("https://a.example/x", JoinUrl("https://a.example/", "x"));
  EXPECT_EQ("https://a.example/x", JoinUrl("https://a.example", "x"));
}

#if defined(VELMO_TEST_NETWORK_SEAMS)
// Test builds let a test give the local statistics server a port of its own;
// a value that is no port leaves the real one.
TEST(StatsServerUrlTest, TestBuildsTakeTheLocalPortFromTheEnvironment) {
  base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  command_line->AppendSwitch(kLocalStatsServerSwitch);
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", L"51234"));
  EXPECT_EQ(L"http://localhost:51234", GetStatsServerUrl());
  for (const wchar_t* bad : {L"0", L"65536", L"-1", L"12ab", L"123456789"}) {
    ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", bad));
    EXPECT_EQ(L"http://localhost:3000", GetStatsServerUrl()) << bad;
  }
  ::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", nullptr);
  EXPECT_EQ(L"http://localhost:3000", GetStatsServerUrl());
  // Without the switch the variable changes nothing.
  command_line->RemoveSwitch(kLocalStatsServerSwitch);
  ASSERT_TRUE(::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", L"51234"));
  EXPECT_EQ(base::UTF8ToWide(GetProductUrl("autoupdate")) + L"/netinstaller/feedback",
            GetStatsServerUrl());
  ::SetEnvironmentVariableW(L"VELMO_TEST_STATS_PORT", nullptr);
}
#endif

}  // namespace
}  // namespace installer
