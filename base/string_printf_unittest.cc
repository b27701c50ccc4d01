#include "base/string_printf.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringPrintfTest, FormatString) {
  EXPECT_EQ("", FormatString("%s", ""));
  EXPECT_EQ("5 apples", FormatString("%d %s", 5, "apples"));
  EXPECT_EQ("0042|  -7|ff|FF", FormatString("%04d|%4d|%x|%X", 42, -7, 255, 255));
  EXPECT_EQ("18446744073709551615 -9223372036854775808",
            FormatString("%llu %lld", static_cast<unsigned long long>(UINT64_MAX),
                         static_cast<long long>(INT64_MIN)));
  EXPECT_EQ("123", FormatString("%zu", static_cast<size_t>(123)));
  EXPECT_EQ("1.50", FormatString("%.2f", 1.5));
  EXPECT_EQ("100%", FormatString("%d%%", 100));
  EXPECT_EQ("43.0.2442.991", FormatString("%d.%d.%d.%d", 43, 0, 2442, 991));
}

TEST(StringPrintfTest, FormatStringLong) {
  // Longer than the first buffer: the growth path.
  std::string big(5000, 'x');
  std::string result = FormatString("<%s>", big.c_str());
  EXPECT_EQ("<" + big + ">", result);
  std::string huge(1 << 20, 'y');
  EXPECT_EQ(huge.size() + 2, FormatString("[%s]", huge.c_str()).size());
}

TEST(StringPrintfTest, FormatString16) {
  // Wide formats: "%ls" for wide strings, "%s" for narrow ones (C99 stdio).
  EXPECT_EQ(L"Wide: C:\\x, narrow: abc, 7",
            FormatString16(L"Wide: %ls, narrow: %s, %d", L"C:\\x", "abc", 7));
  EXPECT_EQ(L"\u00e4\u4e2d", FormatString16(L"%ls", L"\u00e4\u4e2d"));
  EXPECT_EQ(L"Global\\Name/ab", FormatString16(L"Global\\%ls/%ls", L"Name", L"ab"));
  EXPECT_EQ(L"x", FormatString16(L"%lc", L'x'));
  EXPECT_EQ(L"00ff", FormatString16(L"%04x", 255));
  EXPECT_EQ(L"", FormatString16(L""));
  std::wstring big(5000, L'z');
  EXPECT_EQ(L"(" + big + L")", FormatString16(L"(%ls)", big.c_str()));
  std::wstring huge(300000, L'q');
  EXPECT_EQ(huge, FormatString16(L"%ls", huge.c_str()));
}

TEST(StringPrintfTest, AppendFormat) {
  std::string s = "count=";
  AppendFormat(&s, "%d", 3);
  AppendFormat(&s, ", name=%s", "n");
  EXPECT_EQ("count=3, name=n", s);
  std::wstring w = L"a";
  AppendFormat(&w, L"%ls%d", L"b", 1);
  EXPECT_EQ(L"ab1", w);
  std::string big(3000, 'k');
  AppendFormat(&s, "%s", big.c_str());
  EXPECT_EQ("count=3, name=n" + big, s);
}

std::string CallV(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string result = FormatStringV(format, ap);
  va_end(ap);
  return result;
}

std::wstring CallV16(const wchar_t* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::wstring result = FormatString16V(format, ap);
  va_end(ap);
  return result;
}

TEST(StringPrintfTest, VaListVariants) {
  EXPECT_EQ("1-2", CallV("%d-%d", 1, 2));
  std::string big(2000, 'v');
  // The va_list is copied for each attempt: the growth path still works.
  EXPECT_EQ(big + "9", CallV("%s%d", big.c_str(), 9));
  std::wstring wbig(2000, L'v');
  EXPECT_EQ(wbig + L"9", CallV16(L"%ls%d", wbig.c_str(), 9));
}

}  // namespace
}  // namespace base
