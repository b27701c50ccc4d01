#include "desktop/windows/crash_reporter/upload/query_crash_server.h"

#include <wchar.h>

#include <string>

#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
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

// The slots of one crash key, as the crash keys page fills them.
void SetSlot(CustomInfoEntry* entry, const wchar_t* name, const std::wstring& value) {
  wcsncpy(entry->name, name, kCustomInfoTextUnits);
  wcsncpy(entry->value, value.c_str(), kCustomInfoTextUnits);
}

TEST(QueryCrashServerTest, ACrashSendsItsWholeAddressAndNoHeaderOfItsOwn) {
  // An address over three slots whose last slot tries to start a header.
  const std::wstring first = L"https://page.example/" + std::wstring(42, L'a');
  const std::wstring second(63, L'b');
  const std::wstring third = L"c\r\nX-Injected: yes\n\tz";
  CustomInfoEntry entries[5] = {};
  SetSlot(&entries[0], L"process_type", L"installer");
  SetSlot(&entries[1], L"active_url", first);
  SetSlot(&entries[2], L"active_url", second);
  SetSlot(&entries[3], L"active_url", third);
  SetSlot(&entries[4], L"origin", L"VlAutoStress");
  const std::string path = testing_crash::UniqueUploadPath("303/slots");
  std::wstring id, location;
  EXPECT_EQ(
      kCrashServerWantsReport,
      QueryCrashServerForCrash(CrashServerUrl(path), CustomInfo{entries, 5}, &id, &location, 3000));
  auto requests = RecordedRequests(path);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(base::WideToUTF8(first + second) + "cX-Injected: yesz",
            testing_crash::RecordedHeader(*requests[0], "X-Velmo-Crash-URL"));
  EXPECT_EQ("", testing_crash::RecordedHeader(*requests[0], "X-Injected"));
  EXPECT_EQ("VlAutoStress", testing_crash::RecordedHeader(*requests[0], "X-Origin"));

  EXPECT_EQ(L"ab", HeaderSafeText(L"\ra\x7f\x1f"
                                  L"b\n"));
  EXPECT_EQ(L"\x00e9t\x00e9", HeaderSafeText(L"\x00e9t\x00e9"));
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
  // The server answers after 10 s, with the 303 that would name a report;
  // the receive time-out must end the wait before it. A caller held until
  // the answer would have the report's id, so the outcome shows it without
  // timing the call (which a loaded machine stretches).
  std::wstring id, location;
  EXPECT_EQ(kCrashServerOther,
            QueryCrashServer(CrashServerUrl("/late/abc"), L"", L"", &id, &location, 3000));
  EXPECT_TRUE(id.empty());
  EXPECT_TRUE(location.empty());
}

}  // namespace
}  // namespace crash_reporter
