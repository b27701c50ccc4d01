#include "base/utf_string_conversions.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

const wchar_t kFFFD = 0xFFFD;

TEST(UTFStringConversionsTest, ASCIIAndBMP) {
  EXPECT_EQ(L"", UTF8ToWide(""));
  EXPECT_EQ("", WideToUTF8(L""));
  EXPECT_EQ(L"hello", UTF8ToWide("hello"));
  EXPECT_EQ("hello", WideToUTF8(L"hello"));
  EXPECT_EQ(L"\u00e4\u00f6\u00fc", UTF8ToWide("\xc3\xa4\xc3\xb6\xc3\xbc"));
  EXPECT_EQ("\xc3\xa4\xc3\xb6\xc3\xbc", WideToUTF8(L"\u00e4\u00f6\u00fc"));
  EXPECT_EQ(L"\u4e2d\u6587", UTF8ToWide("\xe4\xb8\xad\xe6\x96\x87"));
  EXPECT_EQ("\xe4\xb8\xad\xe6\x96\x87", WideToUTF8(L"\u4e2d\u6587"));
  EXPECT_EQ("\xef\xbf\xbf", WideToUTF8(L"\xffff"));
  EXPECT_EQ(L"\xffff", UTF8ToWide("\xef\xbf\xbf"));
  EXPECT_EQ("\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80", WideToUTF8(L"\x7f\x80\x7ff\x800"));
  // Embedded NULs are kept.
  EXPECT_EQ(std::wstring(L"a\0b", 3), UTF8ToWide(std::string_view("a\0b", 3)));
  EXPECT_EQ(std::string("a\0b", 3), WideToUTF8(std::wstring_view(L"a\0b", 3)));
}

TEST(UTFStringConversionsTest, NonBMPRoundTrip) {
  // U+1F600 and U+10FFFF as surrogate pairs.
  std::wstring wide = L"x\xd83d\xde00y\xdbff\xdfff";
  std::string utf8 = "x\xf0\x9f\x98\x80y\xf4\x8f\xbf\xbf";
  EXPECT_EQ(utf8, WideToUTF8(wide));
  EXPECT_EQ(wide, UTF8ToWide(utf8));
  EXPECT_EQ(wide, UTF8ToWide(WideToUTF8(wide)));
  EXPECT_EQ(L"\xd800\xdc00", UTF8ToWide("\xf0\x90\x80\x80"));  // U+10000

  // Every BMP scalar value and a sample of the others survive the round trip.
  std::wstring all;
  for (uint32_t c = 1; c < 0x10000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue;
    all.push_back(static_cast<wchar_t>(c));
  }
  for (uint32_t c = 0x10000; c <= 0x10FFFF; c += 0x1F3) {
    all.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
    all.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
  std::string all_utf8 = WideToUTF8(all);
  EXPECT_EQ(all, UTF8ToWide(all_utf8));
  // The system conversion agrees on well-formed text.
  EXPECT_EQ(all_utf8, SystemWideToUTF8(all));
  EXPECT_EQ(all, SystemUTF8ToWide(all_utf8));
}

TEST(UTFStringConversionsTest, LoneSurrogates) {
  EXPECT_EQ("\xef\xbf\xbd", WideToUTF8(L"\xd800"));
  EXPECT_EQ("\xef\xbf\xbd", WideToUTF8(L"\xdc00"));
  EXPECT_EQ(
      "a\xef\xbf\xbd"
      "b",
      WideToUTF8(L"a\xd83d"
                 L"b"));
  EXPECT_EQ(
      "a\xef\xbf\xbd"
      "b",
      WideToUTF8(L"a\xde00"
                 L"b"));
  // Reversed pair: two lone surrogates.
  EXPECT_EQ("\xef\xbf\xbd\xef\xbf\xbd", WideToUTF8(L"\xde00\xd83d"));
  // High surrogate at the end.
  EXPECT_EQ("x\xef\xbf\xbd", WideToUTF8(L"x\xdbff"));
  // Two highs then a low: the first is lone, the second pairs.
  EXPECT_EQ("\xef\xbf\xbd\xf0\x9f\x98\x80", WideToUTF8(L"\xd83d\xd83d\xde00"));
}

TEST(UTFStringConversionsTest, IllFormedUTF8) {
  struct Case {
    const char* input;
    std::wstring expected;
  } cases[] = {
      // Stray continuation bytes and bytes that never start a sequence.
      {"\x80", {kFFFD}},
      {"a\xbf"
       "b",
       {L'a', kFFFD, L'b'}},
      {"\xfe\xff", {kFFFD, kFFFD}},
      {"\xf5\x80\x80\x80", {kFFFD, kFFFD, kFFFD, kFFFD}},
      // Overlong forms.
      {"\xc0\xaf", {kFFFD, kFFFD}},
      {"\xc1\xbf", {kFFFD, kFFFD}},
      {"\xe0\x80\xaf", {kFFFD, kFFFD, kFFFD}},
      {"\xe0\x9f\xbf", {kFFFD, kFFFD, kFFFD}},
      {"\xf0\x80\x80\xaf", {kFFFD, kFFFD, kFFFD, kFFFD}},
      {"\xf0\x8f\xbf\xbf", {kFFFD, kFFFD, kFFFD, kFFFD}},
      // Encoded surrogates (CESU-style) are rejected.
      {"\xed\xa0\x80", {kFFFD, kFFFD, kFFFD}},
      {"\xed\xa0\xbd\xed\xb8\x80", {kFFFD, kFFFD, kFFFD, kFFFD, kFFFD, kFFFD}},
      // Above U+10FFFF.
      {"\xf4\x90\x80\x80", {kFFFD, kFFFD, kFFFD, kFFFD}},
      // Truncated sequences: the maximal subpart gives one U+FFFD.
      {"\xc3", {kFFFD}},
      {"\xe4\xb8", {kFFFD}},
      {"\xf0\x9f\x98", {kFFFD}},
      {"\xf0\x9f\x98"
       "a",
       {kFFFD, L'a'}},
      {"a\xe4\xb8"
       "b\xc3",
       {L'a', kFFFD, L'b', kFFFD}},
      {"\xe4\xb8\xe4\xb8\xad", {kFFFD, L'\u4e2d'}},
      // Lead byte followed by a non-continuation: the next byte is kept.
      {"\xc3"
       "A",
       {kFFFD, L'A'}},
      {"\xe4"
       "\xc3\xa4",
       {kFFFD, L'\u00e4'}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, UTF8ToWide(c.input)) << c.input;
}

TEST(UTFStringConversionsTest, SystemConversions) {
  EXPECT_EQ(L"", SystemUTF8ToWide(""));
  EXPECT_EQ("", SystemWideToUTF8(L""));
  EXPECT_EQ(L"gr\u00fc\u00df \xd83d\xde00",
            SystemUTF8ToWide("gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80"));
  EXPECT_EQ("gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80",
            SystemWideToUTF8(L"gr\u00fc\u00df \xd83d\xde00"));
  EXPECT_EQ(std::wstring(L"a\0b", 3), SystemUTF8ToWide(std::string_view("a\0b", 3)));
}

TEST(UTFStringConversionsTest, ASCII) {
  EXPECT_EQ(L"abc", ASCIIToWide("abc"));
  EXPECT_EQ("abc", WideToASCII(L"abc"));
  EXPECT_EQ(L"", ASCIIToWide(""));
  // Byte by byte / unit by unit.
  EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xe4)), ASCIIToWide("\xe4"));
  EXPECT_EQ(std::string(1, '\x41'), WideToASCII(L"\x0141"));
}

}  // namespace
}  // namespace base
