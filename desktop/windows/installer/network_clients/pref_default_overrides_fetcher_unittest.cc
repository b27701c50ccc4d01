#include "desktop/windows/installer/network_clients/pref_default_overrides_fetcher.h"

#include <memory>
#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
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

class PrefDefaultOverridesFetcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.CreateUniqueTempDir());
    SetExperiment(true);
  }
  void TearDown() override { base::FeatureRegistry::GetInstance()->ResetForTesting(); }

  void SetExperiment(bool enabled) {
    base::FeatureRegistry* registry = base::FeatureRegistry::GetInstance();
    registry->ResetForTesting();
    registry->RegisterFeature(kPrefDefaultOverridesExperiment, enabled, false);
  }

  // Fetches from |url| and waits for |done|; how often it ran.
  int FetchAndWait(PrefDefaultOverridesFetcher* fetcher, const std::wstring& url,
                   const std::string& tracking_data) {
    int runs = 0;
    base::LoopRunner runner;
    base::Closure quit = runner.QuitClosure();
    fetcher->SetUrlForTesting(url);
    fetcher->Fetch(tracking_data, base::Bind(
                                      [](int* runs, base::Closure quit) {
                                        ++*runs;
                                        quit.Run();
                                      },
                                      base::Unretained(&runs), quit));
    if (runs == 0) {
      base::CurrentTaskRunner::Get()->PostDelayedTask(FROM_HERE, quit,
                                                      base::TimeSpan::FromSeconds(60));
      runner.Run();
    }
    return runs;
  }

  base::MessageLoop loop_;
  base::ScopedTempDir folder_;
  RecordingFetcherDelegate ui_;
};

TEST_F(PrefDefaultOverridesFetcherTest, PostsTheTrackingDataAndKeepsTheReply) {
  PrefDefaultOverridesFetcher fetcher(folder_.GetPath(), &ui_);
  EXPECT_EQ(folder_.GetPath().Append(L"pref_default_overrides"), fetcher.output_path());
  std::string key = testing_http::UniqueKey("prefs");
  EXPECT_EQ(1, FetchAndWait(&fetcher, testing_http::ServerUrl("/data?size=4321&key=" + key),
                            "partner=42"));
  EXPECT_EQ(testing_http::Pattern(0, 4321), ReadWholeFile(fetcher.output_path()));
  std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests(key);
  ASSERT_TRUE(requests);
  ASSERT_EQ(1u, requests->size());
  const base::DictValue* request = nullptr;
  ASSERT_TRUE(requests->GetDictionary(0, &request));
  std::string text;
  request->GetString("method", &text);
  EXPECT_EQ("POST", text);
  request->GetString("body", &text);
  EXPECT_EQ("partner=42", text);
}

TEST_F(PrefDefaultOverridesFetcherTest, FailedDownloadLeavesNoFile) {
  PrefDefaultOverridesFetcher fetcher(folder_.GetPath(), &ui_);
  // An older file is replaced, and on failure nothing stays.
  ASSERT_EQ(3, base::WriteFileBytes(fetcher.output_path(), "old", 3));
  ThreadSafeLogCapture log;
  EXPECT_EQ(1, FetchAndWait(&fetcher, testing_http::ServerUrl("/missing"), "t"));
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));
  EXPECT_TRUE(log.Contains("Failed fetching default prefs overrides"));

  // Cut after part of the body, with no retries left: also no file.
  fetcher.downloader_for_testing().set_max_retries(0);
  fetcher.downloader_for_testing().SetRetryDelayForTesting(base::TimeSpan::FromMilliseconds(20));
  EXPECT_EQ(1, FetchAndWait(&fetcher,
                            testing_http::ServerUrl("/data?size=100000&reset_times=100&reset=status"
                                                    "&key=" +
                                                    testing_http::UniqueKey("p")),
                            "t"));
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));

  // A reply past the size cap fails as a whole.
  EXPECT_EQ(1, FetchAndWait(&fetcher,
                            testing_http::ServerUrl(
                                "/data?size=" + std::to_string(kMaxPrefDefaultOverridesSize + 1) +
                                "&key=" + testing_http::UniqueKey("big")),
                            "t"));
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));
  EXPECT_TRUE(log.Contains("Response is larger than the limit"));
}

// The installation waits for the fetch: a server that keeps failing is
// given up after a few tries.
TEST_F(PrefDefaultOverridesFetcherTest, FailingServerIsGivenUpAfterAFewTries) {
  PrefDefaultOverridesFetcher fetcher(folder_.GetPath(), &ui_);
  fetcher.downloader_for_testing().SetRetryDelayForTesting(base::TimeSpan::FromMilliseconds(20));
  const std::string key = testing_http::UniqueKey("prefs-failing");
  EXPECT_EQ(
      1, FetchAndWait(&fetcher, testing_http::ServerUrl("/data?size=10&fail=503:1000&key=" + key),
                      "t"));
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));
  std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests(key);
  ASSERT_TRUE(requests);
  // The downloader counts its retries from 0 to the maximum, after the
  // first try.
  EXPECT_EQ(static_cast<size_t>(kPrefDefaultOverridesMaxRetries + 2), requests->size());
}

TEST_F(PrefDefaultOverridesFetcherTest, DisallowedHostAndExperimentOffEndAtOnce) {
  PrefDefaultOverridesFetcher fetcher(folder_.GetPath(), &ui_);
  ThreadSafeLogCapture log;
  EXPECT_EQ(1, FetchAndWait(&fetcher, L"http://elsewhere.test/prefs", "t"));
  EXPECT_TRUE(log.Contains("Failed sending request for default prefs overrides"));
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));

  SetExperiment(false);
  std::string key = testing_http::UniqueKey("off");
  EXPECT_EQ(1, FetchAndWait(&fetcher, testing_http::ServerUrl("/echo?key=" + key), "t"));
  std::unique_ptr<base::ListValue> requests = testing_http::RecordedRequests(key);
  ASSERT_TRUE(requests);
  EXPECT_EQ(0u, requests->size());
  EXPECT_FALSE(base::PathExists(fetcher.output_path()));
}

TEST(PrefDefaultOverridesUrlTest, SwitchValueEmptySwitchAndConfiguredEndpoint) {
  base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  command_line->RemoveSwitch(kLocalPrefDefaultOverridesServerSwitch);
  EXPECT_EQ(base::UTF8ToWide(GetProductUrl("autoupdate") + "/api/prefs/?product=" +
                             GetProductName() + "&version=" + FormatVersionString()),
            GetPrefDefaultOverridesUrl());
  command_line->AppendSwitch(kLocalPrefDefaultOverridesServerSwitch);
  EXPECT_EQ(L"http://localhost:3001", GetPrefDefaultOverridesUrl());
  command_line->RemoveSwitch(kLocalPrefDefaultOverridesServerSwitch);
  command_line->AppendSwitchASCII(kLocalPrefDefaultOverridesServerSwitch, "http://127.0.0.1:7/p");
  EXPECT_EQ(L"http://127.0.0.1:7/p", GetPrefDefaultOverridesUrl());
  command_line->RemoveSwitch(kLocalPrefDefaultOverridesServerSwitch);
}

}  // namespace
}  // namespace installer
