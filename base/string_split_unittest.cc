#include "base/string_split.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

using Strings = std::vector<std::string>;
using Wides = std::vector<std::wstring>;
using Views = std::vector<std::string_view>;

TEST(StringSplitTest, SplitString) {
  EXPECT_EQ(Strings(), SplitString("", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings(), SplitString("", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ(Strings({"a"}), SplitString("a", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a", "", "b"}), SplitString("a,,b", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"", "a", ""}), SplitString(",a,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"", ""}), SplitString(",", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a", "b"}), SplitString(",a,,b,", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  // Any character of the set separates.
  EXPECT_EQ(Strings({"a", "b", "c"}), SplitString("a,b;c", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // Trimming happens before the empty test.
  EXPECT_EQ(Strings({" a ", " ", "b"}),
            SplitString(" a , ,b", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a", "", "b"}), SplitString(" a , ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a", "b"}), SplitString(" a , ,b", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  // Empty separators: the whole input.
  EXPECT_EQ(Strings({"a,b"}), SplitString("a,b", "", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // Whitespace as separator.
  EXPECT_EQ(Strings({"x", "y", "z"}),
            SplitString("x  y\tz\n", " \t\n", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
}

TEST(StringSplitTest, SplitString16) {
  EXPECT_EQ(Wides(), SplitString16(L"", L",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Wides({L"en-US", L"de", L""}),
            SplitString16(L"en-US;de;", L";", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // Unicode whitespace is trimmed in UTF-16 text.
  EXPECT_EQ(Wides({L"a", L"b"}),
            SplitString16(L"\u00a0a\u3000|b ", L"|", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
}

TEST(StringSplitTest, SplitIntoSlices) {
  std::string text = "key=value=more";
  Views pieces = SplitIntoSlices(text, '=');
  ASSERT_EQ(3u, pieces.size());
  EXPECT_EQ("key", pieces[0]);
  EXPECT_EQ("value", pieces[1]);
  EXPECT_EQ("more", pieces[2]);
  // The pieces view the input.
  EXPECT_EQ(text.data(), pieces[0].data());
  EXPECT_EQ(text.data() + 4, pieces[1].data());

  EXPECT_EQ(Views({"", "a", ""}), SplitIntoSlices(".a.", '.'));
  EXPECT_EQ(Views({"a"}), SplitIntoSlices(".a.", '.', KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ(Views({"a", "b"}),
            SplitIntoSlices(" a | b |  ", '|', TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ(Views(), SplitIntoSlices("", '.'));

  std::vector<std::wstring_view> wide = SplitIntoSlices16(L"C:\\a\\b", L'\\');
  ASSERT_EQ(3u, wide.size());
  EXPECT_EQ(L"C:", wide[0]);
  EXPECT_EQ(L"b", wide[2]);
}

TEST(StringSplitTest, SplitStringUsingSubstr) {
  EXPECT_EQ(Strings({"a", "b", "c"}),
            SplitStringUsingSubstr("a::b::c", "::", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a:b", ""}),
            SplitStringUsingSubstr("a:b::", "::", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings({"a", "b"}),
            SplitStringUsingSubstr("a -- -- b", "--", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
}

}  // namespace
}  // namespace base
