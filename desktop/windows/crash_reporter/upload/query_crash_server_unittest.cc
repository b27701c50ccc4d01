#include "desktop/windows/crash_reporter/upload/query_crash_server.h"

#include <string>

#include "gtest/gtest.h"
#include "testing/crash_server/crash_server_client.h"

namespace crash_reporter {
namespace {

using testing_crash::CrashServerUrl;
using testing_crash::RecordedRequests;

TEST(QueryCrashServerTest, RedirectWithIdGivesTheIdAndLocationAndCarriesTheHeaders) {
  std::wstring id = L"untouched", location;
  EXPECT_EQ(kCrashServerWantsReport,
            QueryCrashServer(CrashServerUrl("/303/abc"), L"https://page.example/a", L"installer",
                             &id, &location, 3000));
  EXPECT_EQ(L"abc", id);
  EXPECT_NE(std::wstring::npos, location.find(L"/report?id=abc&x=1"));

  auto requests = RecordedRequests("/303/abc");
  ASSERT_FALSE(requests.empty());
  const base::DictValue& request = *requests.back();
  EXPECT_EQ("https://page.example/a", testing_crash::RecordedHeader(request, "X-Velmo-Crash-URL"));
  EXPECT_EQ("installer", testing_crash::RecordedHeader(request, "X-Origin"));
  EXPECT_EQ("CrashReporter/1.0 (Windows)", testing_crash::RecordedHeader(request, "User-Agent"));

  // Empty values send no header at all.
  EXPECT_EQ(kCrashServerWantsReport,
            QueryCrashServer(CrashServerUrl("/303/noheaders"), L"", L"", &id, &location, 3000));
  EXPECT_EQ(L"noheaders", id);
  requests = RecordedRequests("/303/noheaders");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ("", testing_crash::RecordedHeader(*requests.back(), "X-Velmo-Crash-URL"));
  EXPECT_EQ("", testing_crash::RecordedHeader(*requests.back(), "X-Origin"));
}

TEST(QueryCrashServerTest, OtherAnswersAndBadUrls) {
  std::wstring id = L"untouched", location = L"untouched";
  // No "&" after the id: no usable id.
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(CrashServerUrl("/303-noamp/abc"), L"", L"", &id, &location, 3000));
  EXPECT_EQ(kCrashServerBusy,
            QueryCrashServer(CrashServerUrl("/503"), L"", L"", &id, &location, 3000));
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(CrashServerUrl("/500"), L"", L"", &id, &location, 3000));
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(L"ftp://127.0.0.1/303/abc", L"", L"", &id, &location, 3000));
  EXPECT_EQ(kCrashServerOther, QueryCrashServer(L"not a url", L"", L"", &id, &location, 3000));
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(L"http://127.0.0.1:1/303/abc", L"", L"", &id, &location, 3000));
  EXPECT_EQ(L"untouched", id);
  EXPECT_EQ(L"untouched", location);
}

TEST(QueryCrashServerTest, LateAnswerDoesNotHoldTheCallerPastTheTimeout) {
  // The server answers after 10 s; the receive time-out must end the wait.
  std::wstring id, location;
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(CrashServerUrl("/late/abc"), L"", L"", &id, &location, 3000));
  ULONGLONG elapsed = GetTickCount64() - start;
  // Well before the answer (a loaded machine adds to the 3 s, never 7 s).
  EXPECT_LT(elapsed, 9000u);
  EXPECT_TRUE(id.empty());
}

}  // namespace
}  // namespace crash_reporter
