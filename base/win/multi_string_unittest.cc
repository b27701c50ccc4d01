#include "base/win/multi_string.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::win {
namespace {

std::vector<std::wstring> Split(std::wstring_view buffer) {
  std::vector<std::wstring> out;
  SplitMultiString(buffer.data(), buffer.size(), &out);
  return out;
}

TEST(MultiStringTest, SplitsWithinTheBuffer) {
  using List = std::vector<std::wstring>;
  EXPECT_EQ((List{L"en-US", L"de"}), Split(std::wstring_view(L"en-US\0de\0\0", 10)));
  // The list ends at the first empty string.
  EXPECT_EQ((List{L"a"}), Split(std::wstring_view(L"a\0\0b\0\0", 6)));
  // Missing terminators: the buffer's end ends the last string.
  EXPECT_EQ((List{L"a", L"bc"}), Split(std::wstring_view(L"a\0bc", 4)));
  EXPECT_EQ((List{}), Split(std::wstring_view(L"\0", 1)));
  EXPECT_EQ((List{}), Split(std::wstring_view()));
  std::vector<std::wstring> out;
  SplitMultiString(nullptr, 5, &out);
  EXPECT_TRUE(out.empty());
}

TEST(MultiStringTest, JoinReadsBack) {
  const std::wstring joined = JoinMultiString({L"one", L"", std::wstring(L"tw\0o", 4), L"three"});
  EXPECT_EQ(std::wstring(L"one\0tw\0three\0\0", 14), joined);
  EXPECT_EQ((std::vector<std::wstring>{L"one", L"tw", L"three"}), Split(joined));
  EXPECT_EQ(std::wstring(L"\0", 1), JoinMultiString({}));
}

}  // namespace
}  // namespace base::win
