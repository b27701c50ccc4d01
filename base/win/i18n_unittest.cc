#include "base/win/i18n.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base::win {
namespace {

TEST(I18nTest, PreferredLanguagesAreTags) {
  std::vector<std::wstring> languages = {L"stale"};
  ASSERT_TRUE(GetPreferredUILanguages(&languages));
  ASSERT_FALSE(languages.empty());
  EXPECT_NE(L"stale", languages.front());
  for (const std::wstring& language : languages) {
    EXPECT_FALSE(language.empty());
    EXPECT_EQ(std::wstring::npos, language.find(L'\0'));
    EXPECT_EQ(std::wstring::npos, language.find(L' '));
  }
}

}  // namespace
}  // namespace base::win
