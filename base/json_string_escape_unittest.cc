#include "base/json_string_escape.h"

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(JsonStringEscapeTest, EscapesOnlyWhatJsonRequires) {
  std::string out = "prefix:";
  EXPECT_TRUE(EscapeJsonString("a\"b\\c/d", true, &out));
  EXPECT_EQ("prefix:\"a\\\"b\\\\c/d\"", out);  // Appended, in quotes.

  out.clear();
  EXPECT_TRUE(EscapeJsonString("\b\f\n\r\t", false, &out));
  EXPECT_EQ("\\b\\f\\n\\r\\t", out);

  out.clear();
  EXPECT_TRUE(EscapeJsonString(std::string_view("\0\x01\x1F\x7F<", 5), false, &out));
  EXPECT_EQ("\\u0000\\u0001\\u001F\x7F<", out);

  // Well-formed non-ASCII text is copied as it is.
  out.clear();
  EXPECT_TRUE(EscapeJsonString("\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80", false, &out));
  EXPECT_EQ("\xC3\xA9\xE2\x80\xA8\xF0\x9F\x98\x80", out);

  out.clear();
  EXPECT_TRUE(EscapeJsonString(std::string_view(), true, &out));
  EXPECT_EQ("\"\"", out);
}

TEST(JsonStringEscapeTest, IllFormedUtf8IsReplaced) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // Overlong: C0 is never valid.
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // Surrogate.
      {"\xE2\x82"
       "x",
       "\xEF\xBF\xBD"
       "x"},                             // Truncated: one replacement.
      {"\xF0\x9F\x98", "\xEF\xBF\xBD"},  // Truncated at the end.
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_FALSE(EscapeJsonString(c.input, false, &out)) << c.input;
    EXPECT_EQ(c.expected, out);
  }
}

TEST(JsonStringEscapeTest, Utf16) {
  std::string out;
  EXPECT_TRUE(EscapeJsonString(std::wstring_view(L"\"\u00e9\n\U0001F600\x1b"), true, &out));
  EXPECT_EQ("\"\\\"\xC3\xA9\\n\xF0\x9F\x98\x80\\u001B\"", out);

  // Lone surrogates, leading or trailing, become U+FFFD.
  const wchar_t lone[] = {L'a', 0xD83D, L'b', 0xDE00, 0xD83D};
  out.clear();
  EXPECT_FALSE(EscapeJsonString(std::wstring_view(lone, 5), false, &out));
  EXPECT_EQ(
      "a\xEF\xBF\xBD"
      "b\xEF\xBF\xBD\xEF\xBF\xBD",
      out);
}

}  // namespace
}  // namespace base
