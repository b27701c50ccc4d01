#include "base/pattern.h"

#include <chrono>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(PatternTest, Basics) {
  EXPECT_TRUE(MatchPattern("", ""));
  EXPECT_TRUE(MatchPattern("", "*"));
  EXPECT_TRUE(MatchPattern("", "**"));
  EXPECT_FALSE(MatchPattern("", "?"));
  EXPECT_FALSE(MatchPattern("", "a"));
  EXPECT_FALSE(MatchPattern("a", ""));
  EXPECT_TRUE(MatchPattern("abc", "abc"));
  EXPECT_FALSE(MatchPattern("abc", "ab"));
  EXPECT_FALSE(MatchPattern("ab", "abc"));
  EXPECT_TRUE(MatchPattern("www.example.com", "*.com"));
  EXPECT_TRUE(MatchPattern("www.example.com", "*"));
  EXPECT_TRUE(MatchPattern("www.example.com", "www*.e*.com"));
  EXPECT_FALSE(MatchPattern("www.example.com", "www*.e*.org"));
  EXPECT_TRUE(MatchPattern("Hello", "H?l?o"));
  EXPECT_FALSE(MatchPattern("Hello", "H?l?"));
  EXPECT_FALSE(MatchPattern("www.example.com", "http://*)"));
  EXPECT_FALSE(MatchPattern("www.msn.com", "*.COM"));  // case-sensitive
  EXPECT_TRUE(MatchPattern("Hello*1234", "He??o*1*"));
  EXPECT_TRUE(MatchPattern("abcabc", "*abc"));
  EXPECT_TRUE(MatchPattern("aXbXc", "a*b*c"));
  EXPECT_FALSE(MatchPattern("aXbXd", "a*b*c"));
  EXPECT_TRUE(MatchPattern("mississippi", "*sip*"));
  EXPECT_TRUE(MatchPattern("mississippi", "m*iss*ppi"));
  EXPECT_TRUE(MatchPattern("ab", "a*?"));
  EXPECT_FALSE(MatchPattern("a", "a*?"));
  EXPECT_TRUE(MatchPattern("crash_1234.dmp", "crash_*.dmp"));
  EXPECT_TRUE(MatchPattern("crash_.dmp", "crash_*.dmp"));
  // There is no escape character: a backslash is a plain character.
  EXPECT_TRUE(MatchPattern("C:\\dir\\file.txt", "C:\\*\\*.txt"));
  EXPECT_FALSE(MatchPattern("a*b", "a\\*b"));
}

TEST(PatternTest, QuestionMarkMatchesOneUTF8Character) {
  // "\xc3\xa4" is U+00E4 (two bytes); "\xe4\xb8\xad" U+4E2D (three bytes);
  // "\xf0\x9f\x98\x80" U+1F600 (four bytes).
  EXPECT_TRUE(MatchPattern("\xc3\xa4", "?"));
  EXPECT_FALSE(MatchPattern("\xc3\xa4", "??"));
  EXPECT_TRUE(
      MatchPattern("a\xe4\xb8\xad"
                   "b",
                   "a?b"));
  EXPECT_TRUE(MatchPattern("\xf0\x9f\x98\x80", "?"));
  EXPECT_TRUE(MatchPattern("x\xf0\x9f\x98\x80y", "x?y"));
  EXPECT_FALSE(MatchPattern("x\xf0\x9f\x98\x80y", "x??y"));
  EXPECT_TRUE(MatchPattern("\xc3\xa4\xc3\xb6\xc3\xbc", "???"));
  EXPECT_TRUE(MatchPattern("\xc3\xa4\xc3\xb6\xc3\xbc", "*?"));
  EXPECT_TRUE(MatchPattern("\xc3\xa4\xc3\xb6\xc3\xbc", "?*\xc3\xbc"));
  // Literal multi-byte characters match themselves.
  EXPECT_TRUE(
      MatchPattern("gr\xc3\xbc\xc3\x9f"
                   "e",
                   "gr\xc3\xbc*e"));
  EXPECT_FALSE(
      MatchPattern("gr\xc3\xb6\xc3\x9f"
                   "e",
                   "gr\xc3\xbc*e"));
  // Ill-formed bytes count as one character each.
  EXPECT_TRUE(MatchPattern("\xff", "?"));
  EXPECT_TRUE(MatchPattern("\xc3", "?"));  // truncated sequence
  EXPECT_TRUE(
      MatchPattern("\xc3"
                   "a",
                   "??"));                           // lead byte without trail
  EXPECT_TRUE(MatchPattern("\xed\xa0\x80", "???"));  // encoded surrogate
  EXPECT_TRUE(MatchPattern("\xc0\xaf", "??"));       // overlong
}

TEST(PatternTest, Wide) {
  EXPECT_TRUE(MatchPattern(L"launcher.exe", L"*.exe"));
  EXPECT_FALSE(MatchPattern(L"launcher.exe", L"*.dll"));
  EXPECT_TRUE(MatchPattern(L"\u00e4b", L"?b"));
  // A surrogate pair is one character.
  EXPECT_TRUE(MatchPattern(L"\xd83d\xde00", L"?"));
  EXPECT_FALSE(MatchPattern(L"\xd83d\xde00", L"??"));
  // A lone surrogate is one character too.
  EXPECT_TRUE(
      MatchPattern(L"\xd83d"
                   L"a",
                   L"??"));
  EXPECT_TRUE(MatchPattern(L"\xde00", L"?"));
}

TEST(PatternTest, NoExponentialBlowUp) {
  std::string text(5000, 'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(MatchPattern(text, "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_TRUE(MatchPattern(text + "b", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  EXPECT_FALSE(MatchPattern(text, "*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*b"));
  std::string pattern;
  for (int i = 0; i < 200; ++i)
    pattern += "*a";
  pattern += "*b";
  EXPECT_FALSE(MatchPattern(text, pattern));
  std::wstring wtext(5000, L'a');
  EXPECT_FALSE(MatchPattern(wtext, L"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

}  // namespace
}  // namespace base
