#include "desktop/windows/rc_l10n_handler/localized_string.h"

#include <set>
#include <string>
#include <vector>

#include "desktop/windows/rc_l10n_handler/installer_string_ids.h"
#include "desktop/windows/rc_l10n_handler/ui_language.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr LANGID kEnglish = 1033;

// The "$1" ... "$9" of |text| ("$$" is a dollar sign).
std::set<std::wstring> Placeholders(std::wstring text) {
  for (size_t at = text.find(L"$$"); at != std::wstring::npos; at = text.find(L"$$", at))
    text.erase(at, 2);
  std::set<std::wstring> found;
  for (size_t at = text.find(L'$'); at != std::wstring::npos && at + 1 < text.size();
       at = text.find(L'$', at + 1)) {
    if (text[at + 1] >= L'1' && text[at + 1] <= L'9')
      found.insert(text.substr(at, 2));
  }
  return found;
}

TEST(LocalizedStringTest, EveryLanguageHasEveryStringWithTheEnglishPlaceholders) {
  const std::vector<std::wstring> languages = GetAvailableLanguages();
  ASSERT_EQ(56u, languages.size());
  std::set<std::wstring> own_names;
  for (const std::wstring& tag : languages) {
    const LANGID langid = LanguageTagToLangId(tag);
    ASSERT_NE(0, langid) << tag;
    int translated = 0;
    for (int id : kInstallerStringIds) {
      const std::wstring english = LoadLocalizedString(kEnglish, id, {});
      const std::wstring text = LoadLocalizedString(langid, id, {});
      ASSERT_FALSE(english.empty()) << id;
      EXPECT_FALSE(text.empty()) << tag << " " << id;
      EXPECT_EQ(Placeholders(english), Placeholders(text)) << tag << " " << id << ": " << text;
      if (english.find(L"<a href=\"tos\">") != std::wstring::npos) {
        EXPECT_NE(std::wstring::npos, text.find(L"<a href=\"tos\">")) << tag << ": " << text;
        EXPECT_NE(std::wstring::npos, text.find(L"</a>")) << tag << ": " << text;
      }
      if (text != english)
        ++translated;
    }
    own_names.insert(LoadLocalizedString(langid, IDS_LANGUAGE_NAME, {}));
    // Each table is its own: apart from English, and British English which
    // differs only where the spelling does, most texts are translated.
    if (langid != kEnglish && langid != 2057) {
      EXPECT_GT(translated, 40) << tag;
    }
  }
  // Every language names itself differently.
  EXPECT_EQ(languages.size(), own_names.size());
}

TEST(LocalizedStringTest, TextsSurviveTheResourceCompiler) {
  // Quotes, markup, an ellipsis and non-Latin scripts come through intact.
  EXPECT_EQ(
      L"By clicking on \"$1\" you are agreeing to Velmo's <a href=\"tos\">Terms of "
      L"Service</a>",
      LoadLocalizedString(kEnglish, IDS_TERMS_OF_SERVICE_SENTENCE, {}));
  EXPECT_EQ(L"Downloading\u2026", LoadLocalizedString(kEnglish, IDS_PROGRESS_DOWNLOADING, {}));
  EXPECT_EQ(L"\u041e\u0442\u043c\u0435\u043d\u0430",  // "Отмена"
            LoadLocalizedString(1049, IDS_BUTTON_CANCEL, {}));
  EXPECT_EQ(L"Velmo Installer", LoadLocalizedString(kEnglish, IDS_INSTALLER_CAPTION, {}));
  // Neighbouring entries of one block are told apart.
  EXPECT_EQ(L"&Yes", LoadLocalizedString(kEnglish, IDS_BUTTON_YES, {}));
  EXPECT_EQ(L"&No", LoadLocalizedString(kEnglish, IDS_BUTTON_NO, {}));
  EXPECT_EQ(L"Velmo requires a computer that supports SSE2 instructions.",
            LoadLocalizedString(kEnglish, IDS_ERROR_NO_SSE2, {}));
}

TEST(LocalizedStringTest, ReplacementsFillPlaceholdersInOrder) {
  EXPECT_EQ(L"The folder C:\\Velmo $2 could not be created.",
            LoadLocalizedString(kEnglish, IDS_ERROR_CREATE_FOLDER, {L"C:\\Velmo $2"}));
  EXPECT_EQ(L"Installing for current user (Ann)\u2026",
            LoadLocalizedString(kEnglish, IDS_PROGRESS_INSTALLING_FOR_USER, {L"Ann"}));
  // Without replacements the placeholder stays.
  EXPECT_EQ(L"$1 DO MORE.", LoadLocalizedString(kEnglish, IDS_HEADLINE, {}));
  EXPECT_EQ(L"VELMO. DO MORE.",
            LoadLocalizedString(kEnglish, IDS_HEADLINE,
                                {LoadLocalizedString(kEnglish, IDS_HEADLINE_PRODUCT, {})}));
  const std::wstring german = LoadLocalizedString(1031, IDS_ERROR_COPY_FILE, {L"D:\\x"});
  EXPECT_NE(std::wstring::npos, german.find(L"D:\\x")) << german;
  EXPECT_EQ(std::wstring::npos, german.find(L"$1")) << german;
}

TEST(LocalizedStringTest, MissingStringsAndTablesGiveEmptyText) {
  // 37013 sits in a block that exists but has no entry.
  EXPECT_EQ(L"", LoadLocalizedString(kEnglish, 37013, {}));
  EXPECT_EQ(L"", LoadLocalizedString(kEnglish, 37050, {}));
  // No block at all.
  EXPECT_EQ(L"", LoadLocalizedString(kEnglish, 37100, {}));
  EXPECT_EQ(L"", LoadLocalizedString(kEnglish, -1, {}));
  // No table for Hebrew; no other language is tried instead.
  EXPECT_EQ(L"", LoadLocalizedString(1037, IDS_INSTALLER_CAPTION, {}));
  EXPECT_EQ(L"", GetLocalizedStringForLanguage(L"he", IDS_INSTALLER_CAPTION));
}

TEST(LocalizedStringTest, CurrentLanguageAndTagLookups) {
  LANGID* current = GetUILanguageId();
  ASSERT_NE(nullptr, current);
  EXPECT_EQ(current, GetUILanguageId());
  const LANGID saved = *current;

  std::wstring tag = L"de";
  SelectUILanguage(current, &tag);
  EXPECT_EQ(1031, *current);
  EXPECT_EQ(LoadLocalizedString(1031, IDS_BUTTON_CANCEL, {}),
            GetLocalizedString(IDS_BUTTON_CANCEL));
  EXPECT_NE(LoadLocalizedString(kEnglish, IDS_BUTTON_CANCEL, {}),
            GetLocalizedString(IDS_BUTTON_CANCEL));
  EXPECT_EQ(LoadLocalizedString(1031, IDS_ERROR_COPY_FILE, {L"X"}),
            GetLocalizedStringWithReplacement(IDS_ERROR_COPY_FILE, L"X"));
  EXPECT_EQ(LoadLocalizedString(1031, IDS_PROGRESS_INSTALLING_FOR_USER, {L"Y"}),
            GetLocalizedStringWithReplacements(IDS_PROGRESS_INSTALLING_FOR_USER, {L"Y"}));

  EXPECT_EQ(LoadLocalizedString(2057, IDS_LANGUAGE_NAME, {}),
            GetLocalizedStringForLanguage(L"EN-GB", IDS_LANGUAGE_NAME));
  EXPECT_EQ(L"English (United States)",
            GetLocalizedStringForLanguage(kEnglishLanguageTag, IDS_LANGUAGE_NAME));
  *current = saved;
}

}  // namespace
}  // namespace installer
