#include "desktop/windows/installer/wininet/wininet_http_util.h"

#include <string>

#include "gtest/gtest.h"

namespace installer::internal {
namespace {

TEST(WinInetHttpUtilTest, StatusTextReadsWideAndNarrowTexts) {
  const wchar_t wide[] = L"127.0.0.1";
  EXPECT_EQ(L"127.0.0.1", StatusText(wide, sizeof(wide)));
  const char narrow[] = "10.1.2.3";
  EXPECT_EQ(L"10.1.2.3", StatusText(narrow, sizeof(narrow)));
  // Without a terminator inside the given length, nothing beyond it.
  EXPECT_EQ(L"10.1", StatusText(narrow, 4));
  EXPECT_EQ(L"", StatusText(nullptr, 10));
  EXPECT_EQ(L"", StatusText(narrow, 0));
}

TEST(WinInetHttpUtilTest, CrackUrlKeepsTheQueryAndDefaultsThePath) {
  CrackedUrl parts;
  ASSERT_TRUE(CrackUrl(L"https://download.velmo.example:8443/a/b?x=1&y=2", &parts));
  EXPECT_TRUE(parts.secure);
  EXPECT_EQ(L"download.velmo.example", parts.host);
  EXPECT_EQ(8443, parts.port);
  EXPECT_EQ(L"/a/b?x=1&y=2", parts.path);
  ASSERT_TRUE(CrackUrl(L"http://127.0.0.1", &parts));
  EXPECT_FALSE(parts.secure);
  EXPECT_EQ(80, parts.port);
  EXPECT_EQ(L"/", parts.path);
  EXPECT_FALSE(CrackUrl(L"no address at all", &parts));
  EXPECT_FALSE(CrackUrl(L"http://" + std::wstring(300, L'h') + L".example/", &parts));
}

}  // namespace
}  // namespace installer::internal

namespace installer::internal {
namespace {

TEST(WinInetHttpUtilTest, ContentRangeIsReadOnlyWhole) {
  uint64_t start = 7, total = 7;
  EXPECT_TRUE(ParseContentRange(L"bytes 1234-1999/2000", &start, &total));
  EXPECT_EQ(1234u, start);
  EXPECT_EQ(2000u, total);
  EXPECT_TRUE(ParseContentRange(L" Bytes 0-9/* ", &start, &total));
  EXPECT_EQ(0u, start);
  EXPECT_EQ(0u, total);
  for (const wchar_t* bad :
       {L"", L"bytes", L"bytes -5/10", L"bytes */2000", L"items 1-2/3", L"bytes 12",
        L"bytes 5-4/10", L"bytes 0-10/10", L"bytes 0-9/10x", L"bytes 99999999999999999999-1/2"}) {
    start = 7;
    total = 7;
    EXPECT_FALSE(ParseContentRange(bad, &start, &total)) << bad;
    EXPECT_EQ(7u, start) << bad;
    EXPECT_EQ(7u, total) << bad;
  }
}

}  // namespace
}  // namespace installer::internal
