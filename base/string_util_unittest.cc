#include "base/string_util.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringUtilTest, ToLowerUpperASCII) {
  EXPECT_EQ('a', ToLowerASCII('A'));
  EXPECT_EQ('z', ToLowerASCII('z'));
  EXPECT_EQ('@', ToLowerASCII('@'));
  EXPECT_EQ(L'q', ToLowerASCII(L'Q'));
  EXPECT_EQ('Q', ToUpperASCII('q'));
  EXPECT_EQ(L'[', ToUpperASCII(L'['));
  EXPECT_EQ("hello, world 123", ToLowerASCII(std::string_view("HeLLo, World 123")));
  EXPECT_EQ("HELLO, WORLD 123", ToUpperASCII(std::string_view("HeLLo, World 123")));
  // Non-ASCII letters are untouched.
  EXPECT_EQ(L"\u00c4bc", ToLowerASCII(std::wstring_view(L"\u00c4BC")));
  EXPECT_EQ(L"\u00e4BC", ToUpperASCII(std::wstring_view(L"\u00e4bc")));
  EXPECT_EQ("\xc3\x84x", ToLowerASCII(std::string_view("\xc3\x84X")));
  EXPECT_EQ("", ToLowerASCII(std::string_view()));
}

TEST(StringUtilTest, IsStringASCII) {
  EXPECT_TRUE(IsStringASCII(""));
  EXPECT_TRUE(IsStringASCII("abc\x7f"));
  EXPECT_FALSE(IsStringASCII("abc\x80"));
  EXPECT_FALSE(IsStringASCII("\xc3\xa4"));
  EXPECT_TRUE(IsStringASCII(std::string_view("a\0b", 3)));
  EXPECT_TRUE(IsStringASCII16(L""));
  EXPECT_TRUE(IsStringASCII16(L"abc\x7f"));
  EXPECT_FALSE(IsStringASCII16(L"abc\x80"));
  EXPECT_FALSE(IsStringASCII16(L"\xd83d\xde00"));
  EXPECT_FALSE(IsStringASCII(std::wstring_view(L"\xffff")));
}

TEST(StringUtilTest, EqualsAsciiIgnoreCase) {
  EXPECT_TRUE(EqualsAsciiIgnoreCase(L"Yes", "yes"));
  EXPECT_TRUE(EqualsAsciiIgnoreCase(L"TRUE", "true"));
  EXPECT_TRUE(EqualsAsciiIgnoreCase(L"", ""));
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"yes", "YES"));  // the ASCII side must be lower case
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"yes", "ye"));
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"ye", "yes"));
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"y\u00e9s", "yes"));
  // Only A-Z are lowered: U+0130 is not 'i'.
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"\u0130", "i"));
  // A UTF-16 unit whose low byte is an ASCII letter does not match it.
  EXPECT_FALSE(EqualsAsciiIgnoreCase(L"\u0179", "y"));
}

TEST(StringUtilTest, EqualsAndCompareCaseInsensitiveASCII) {
  EXPECT_TRUE(EqualsCaseInsensitiveASCII("AbC", "aBc"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII("AbC", "aBd"));
  EXPECT_TRUE(EqualsCaseInsensitiveASCII(L"AbC", L"aBC"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII(L"\u00c4", L"\u00e4"));
  EXPECT_EQ(0, CompareCaseInsensitiveASCII("ABC", "abc"));
  EXPECT_LT(CompareCaseInsensitiveASCII("abc", "ABD"), 0);
  EXPECT_GT(CompareCaseInsensitiveASCII("abcd", "ABC"), 0);
  EXPECT_LT(CompareCaseInsensitiveASCII("ab", "abc"), 0);
  // Units compare as unsigned values.
  EXPECT_LT(CompareCaseInsensitiveASCII("a", "\xc3"), 0);
  EXPECT_LT(CompareCaseInsensitiveASCII(L"a", L"\xc000"), 0);
}

TEST(StringUtilTest, StartsWithEndsWith) {
  EXPECT_TRUE(StartsWith("javascript:url", "javascript"));
  EXPECT_FALSE(StartsWith("JavaScript:url", "javascript"));
  EXPECT_TRUE(StartsWith("JavaScript:url", "javascript", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(StartsWith("java", "javascript", CompareCase::INSENSITIVE_ASCII));
  EXPECT_TRUE(StartsWith("", ""));
  EXPECT_TRUE(StartsWith("abc", ""));
  EXPECT_FALSE(StartsWith("", "a"));
  EXPECT_TRUE(StartsWith(L"Setup.EXE", L"SETUP", CompareCase::INSENSITIVE_ASCII));

  EXPECT_TRUE(EndsWith("Foo.plugin", ".plugin"));
  EXPECT_FALSE(EndsWith("Foo.Plugin", ".plugin"));
  EXPECT_TRUE(EndsWith("Foo.Plugin", ".plugin", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(EndsWith(".plug", ".plugin"));
  EXPECT_TRUE(EndsWith("abc", ""));
  EXPECT_TRUE(EndsWith(L"setup.EXE", L".exe", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(EndsWith(L"setup.EXE", L".exe"));
}

TEST(StringUtilTest, EndsWith16) {
  EXPECT_TRUE(EndsWith16(L"C:\\dir\\launcher.exe", L"launcher.exe", 0));
  EXPECT_FALSE(EndsWith16(L"C:\\dir\\LAUNCHER.EXE", L"launcher.exe", 0));
  EXPECT_TRUE(EndsWith16(L"C:\\dir\\LAUNCHER.EXE", L"launcher.exe", 1));
  EXPECT_TRUE(EndsWith16(L"C:\\dir\\LAUNCHER.EXE", L"launcher.exe", 7));
  EXPECT_FALSE(EndsWith16(L"exe", L".exe", 1));
  EXPECT_TRUE(EndsWith16(L"", L"", 0));
  EXPECT_FALSE(EndsWith16(L"\u00c4", L"\u00e4", 1));
}

TEST(StringUtilTest, ReplaceChars) {
  std::string out;
  EXPECT_TRUE(ReplaceChars("a/b\\c", "/\\", "_", &out));
  EXPECT_EQ("a_b_c", out);
  EXPECT_FALSE(ReplaceChars("abc", "xyz", "_", &out));
  EXPECT_EQ("abc", out);
  EXPECT_TRUE(ReplaceChars("a\"b\"", "\"", "\\\"", &out));
  EXPECT_EQ("a\\\"b\\\"", out);
  EXPECT_TRUE(ReplaceChars("a b c", " ", "", &out));
  EXPECT_EQ("abc", out);
  EXPECT_FALSE(ReplaceChars("", "a", "b", &out));
  EXPECT_EQ("", out);
  // In place.
  std::string text = "x.y.z";
  EXPECT_TRUE(ReplaceChars(text, ".", "::", &text));
  EXPECT_EQ("x::y::z", text);
  std::wstring wide;
  EXPECT_TRUE(ReplaceChars(L"a\\b", L"\\", L"/", &wide));
  EXPECT_EQ(L"a/b", wide);
}

TEST(StringUtilTest, ReplaceSubstringsAfterOffset) {
  std::string s = "aaa";
  ReplaceSubstringsAfterOffset(&s, 0, "a", "aa");  // replaced text not rescanned
  EXPECT_EQ("aaaaaa", s);
  s = "abcabc";
  ReplaceSubstringsAfterOffset(&s, 1, "abc", "X");
  EXPECT_EQ("abcX", s);
  s = "aaaa";
  ReplaceSubstringsAfterOffset(&s, 0, "aa", "b");  // non-overlapping
  EXPECT_EQ("bb", s);
  s = "abc";
  ReplaceSubstringsAfterOffset(&s, 0, "", "X");
  EXPECT_EQ("abc", s);
  ReplaceSubstringsAfterOffset(&s, 10, "a", "X");
  EXPECT_EQ("abc", s);
  ReplaceSubstringsAfterOffset(&s, 3, "c", "X");
  EXPECT_EQ("abc", s);
  ReplaceSubstringsAfterOffset(&s, 0, "b", "");
  EXPECT_EQ("ac", s);
  s = "one two one";
  ReplaceFirstSubstringAfterOffset(&s, 0, "one", "1");
  EXPECT_EQ("1 two one", s);
  std::wstring w = L"%PATH%;%PATH%";
  ReplaceSubstringsAfterOffset(&w, 0, L"%PATH%", L"C:\\x");
  EXPECT_EQ(L"C:\\x;C:\\x", w);
  w = L"a-b-c";
  ReplaceFirstSubstringAfterOffset(&w, 2, L"-", L"+");
  EXPECT_EQ(L"a-b+c", w);
}

TEST(StringUtilTest, TrimWhitespace) {
  std::string out;
  EXPECT_EQ(TRIM_ALL, TrimWhitespaceASCII(" \t a b \r\n", TRIM_ALL, &out));
  EXPECT_EQ("a b", out);
  EXPECT_EQ(TRIM_LEADING, TrimWhitespaceASCII("  ab  ", TRIM_LEADING, &out));
  EXPECT_EQ("ab  ", out);
  EXPECT_EQ(TRIM_TRAILING, TrimWhitespaceASCII("  ab  ", TRIM_TRAILING, &out));
  EXPECT_EQ("  ab", out);
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII("ab", TRIM_ALL, &out));
  EXPECT_EQ("ab", out);
  EXPECT_EQ(TRIM_ALL, TrimWhitespaceASCII("   ", TRIM_ALL, &out));
  EXPECT_EQ("", out);
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII("", TRIM_ALL, &out));
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII("  a ", TRIM_NONE, &out));
  EXPECT_EQ("  a ", out);
  EXPECT_EQ("x", TrimWhitespaceASCII(std::string_view("\v\fx\n"), TRIM_ALL));
  // 8-bit TrimWhitespace leaves UTF-8 (here U+00A0) alone.
  EXPECT_EQ("\xc2\xa0x", TrimWhitespace(std::string_view(" \xc2\xa0x "), TRIM_ALL));

  std::wstring wout;
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(L"\u3000\u00a0 a \u2029", TRIM_ALL, &wout));
  EXPECT_EQ(L"a", wout);
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII(L"\u00a0a", TRIM_ALL, &wout));
  EXPECT_EQ(L"\u00a0a", wout);
  EXPECT_EQ(L"a b", TrimWhitespace(std::wstring_view(L"\t a b\r\n"), TRIM_ALL));
  EXPECT_EQ(L"a ", TrimWhitespaceASCII(std::wstring_view(L" a "), TRIM_LEADING));

  EXPECT_EQ(TRIM_ALL, TrimString("--a-b--", "-", TRIM_ALL, &out));
  EXPECT_EQ("a-b", out);
  EXPECT_EQ("a-b", TrimStringView("//a-b", "/", TRIM_ALL));
}

TEST(StringUtilTest, IsUnicodeWhitespace) {
  EXPECT_TRUE(IsUnicodeWhitespace(L' '));
  EXPECT_TRUE(IsUnicodeWhitespace(L'\u2003'));
  EXPECT_TRUE(IsUnicodeWhitespace(L'\u0085'));
  EXPECT_FALSE(IsUnicodeWhitespace(L'a'));
  EXPECT_FALSE(IsUnicodeWhitespace(L'\0'));
  EXPECT_FALSE(IsUnicodeWhitespace(L'\u200b'));
  EXPECT_TRUE(IsAsciiWhitespace('\v'));
  EXPECT_FALSE(IsAsciiWhitespace('\0'));
}

TEST(StringUtilTest, JoinString) {
  EXPECT_EQ("", JoinString({}, ","));
  EXPECT_EQ("a", JoinString({"a"}, ","));
  EXPECT_EQ("a, b, ", JoinString({"a", "b", ""}, ", "));
  EXPECT_EQ("ab", JoinString({"a", "b"}, ""));
  EXPECT_EQ(L"x;y;z", JoinString16({L"x", L"y", L"z"}, L";"));
  EXPECT_EQ(L"", JoinString16({}, L";"));
  std::vector<std::string_view> views = {"p", "q"};
  EXPECT_EQ("p/q", JoinStringSlices(views, "/"));
  std::vector<std::wstring_view> wviews = {L"p", L"q"};
  EXPECT_EQ(L"p\\q", JoinStringSlices16(wviews, L"\\"));
}

TEST(StringUtilTest, SubstitutePlaceholders) {
  std::vector<std::string> subst = {"one", "two", "three"};
  EXPECT_EQ("one-two-three", SubstitutePlaceholders("$1-$2-$3", subst));
  EXPECT_EQ("three two one", SubstitutePlaceholders("$3 $2 $1", subst));
  EXPECT_EQ("one one", SubstitutePlaceholders("$1 $1", subst));
  EXPECT_EQ("$", SubstitutePlaceholders("$$", subst));
  EXPECT_EQ("$1", SubstitutePlaceholders("$$1", subst));  // both dollars consumed
  EXPECT_EQ("$one", SubstitutePlaceholders("$$$1", subst));
  EXPECT_EQ("cost: $5", SubstitutePlaceholders("cost: $5", subst));  // past the list
  EXPECT_EQ("$0 $a $", SubstitutePlaceholders("$0 $a $", subst));    // kept literally
  EXPECT_EQ("$0one", SubstitutePlaceholders("$0$1", subst));
  EXPECT_EQ("$9", SubstitutePlaceholders("$9", {}));
  EXPECT_EQ("one0", SubstitutePlaceholders("$10", subst));  // one digit only
  EXPECT_EQ("", SubstitutePlaceholders("", subst));
  // A substitution that holds "$1" is not scanned again.
  EXPECT_EQ("$2 x", SubstitutePlaceholders("$1 $2", {"$2", "x"}));

  std::vector<size_t> offsets;
  EXPECT_EQ("a one b three", SubstitutePlaceholders("a $1 b $3", subst, &offsets));
  ASSERT_EQ(2u, offsets.size());
  EXPECT_EQ(2u, offsets[0]);
  EXPECT_EQ(8u, offsets[1]);
  SubstitutePlaceholders("$$ $7", subst, &offsets);
  EXPECT_TRUE(offsets.empty());

  std::vector<std::wstring> wsubst = {L"C:\\Program Files", L"42"};
  EXPECT_EQ(L"Cannot write to C:\\Program Files (error 42, $3, $)",
            SubstitutePlaceholders16(L"Cannot write to $1 (error $2, $3, $$)", wsubst));
  EXPECT_EQ(L"x$", SubstitutePlaceholders16(L"x$", wsubst));
}

TEST(StringUtilTest, WriteInto) {
  std::string s;
  char* p = WriteInto(&s, 4);
  p[0] = 'a';
  p[1] = 'b';
  p[2] = 'c';
  EXPECT_EQ("abc", s);
  std::wstring w;
  wchar_t* wp = WriteInto(&w, 2);
  wp[0] = L'z';
  EXPECT_EQ(L"z", w);
}

}  // namespace
}  // namespace base
