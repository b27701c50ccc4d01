#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The languages the host carries, by LANGID.
const std::set<LANGID> kExpectedLangIds = {
    1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1035, 1036, 1038, 1040, 1041, 1042,
    1043, 1044, 1045, 1046, 1048, 1049, 1050, 1051, 1053, 1054, 1055, 1057, 1058, 1059,
    1062, 1063, 1066, 1068, 1071, 1077, 1078, 1081, 1086, 1087, 1089, 1091, 1093, 1094,
    1097, 1098, 1122, 1124, 1169, 2052, 2057, 2058, 2068, 2070, 2074, 3082, 3084, 3098};

TEST(UiLanguageTest, LanguageListNamesEveryTableOnceWithoutBlankEntries) {
  const std::vector<std::wstring> languages = GetAvailableLanguages();
  ASSERT_EQ(56u, languages.size());
  std::set<LANGID> langids;
  for (const std::wstring& tag : languages) {
    EXPECT_FALSE(tag.empty());
    EXPECT_EQ(tag, std::wstring(base::TrimWhitespace(tag, base::TRIM_ALL))) << tag;
    const LANGID langid = LanguageTagToLangId(tag);
    EXPECT_TRUE(kExpectedLangIds.count(langid)) << tag << " -> " << langid;
    langids.insert(langid);
  }
  EXPECT_EQ(kExpectedLangIds, langids);
  // One English tag: the one the lookup table knows.
  EXPECT_TRUE(IsLanguageAvailable(kEnglishLanguageTag));
  EXPECT_EQ(1033, LanguageTagToLangId(kEnglishLanguageTag));
  EXPECT_FALSE(IsLanguageAvailable(L"en-US"));
}

TEST(UiLanguageTest, TagsMapIgnoringCaseAndUnknownOrEmptyGiveZero) {
  EXPECT_EQ(2057, LanguageTagToLangId(L"EN-GB"));
  EXPECT_EQ(2057, LanguageTagToLangId(L"en-gb"));
  EXPECT_EQ(2058, LanguageTagToLangId(L"ES-419"));
  EXPECT_EQ(1044, LanguageTagToLangId(L"no"));
  EXPECT_EQ(1044, LanguageTagToLangId(L"nb"));
  EXPECT_EQ(1037, LanguageTagToLangId(L"iw"));
  EXPECT_EQ(1037, LanguageTagToLangId(L"he"));
  EXPECT_EQ(1124, LanguageTagToLangId(L"fil"));
  // "tl" is the user-default identifier, not a table.
  EXPECT_EQ(1024, LanguageTagToLangId(L"tl"));
  EXPECT_EQ(0, LanguageTagToLangId(L"neutral"));
  EXPECT_EQ(0, LanguageTagToLangId(L""));
  EXPECT_EQ(0, LanguageTagToLangId(L"xx"));
  EXPECT_EQ(0, LanguageTagToLangId(L"en-"));
}

TEST(UiLanguageTest, AvailabilityIgnoresCaseAndRejectsNonAsciiAndEmptyTags) {
  EXPECT_TRUE(IsLanguageAvailable(L"EN-gb"));
  EXPECT_TRUE(IsLanguageAvailable(L"pt-pt"));
  EXPECT_TRUE(IsLanguageAvailable(L"FIL"));
  EXPECT_FALSE(IsLanguageAvailable(L"pt"));
  EXPECT_FALSE(IsLanguageAvailable(L"tl"));
  EXPECT_FALSE(IsLanguageAvailable(L""));
  EXPECT_FALSE(IsLanguageAvailable(L" "));
  // "dé" is not ASCII, whatever the list holds.
  EXPECT_FALSE(IsLanguageAvailable(L"d\u00e9"));
  // The Turkish dotted capital must not fold to "i".
  EXPECT_FALSE(IsLanguageAvailable(L"\u0130d"));
}

TEST(UiLanguageTest, RegionAdjustments) {
  EXPECT_EQ(L"es-419", internal::AdjustPreferredLanguage(L"es-MX"));
  EXPECT_EQ(L"es", internal::AdjustPreferredLanguage(L"es-ES"));
  EXPECT_EQ(L"ES", internal::AdjustPreferredLanguage(L"ES-es"));
  EXPECT_EQ(L"zh-TW", internal::AdjustPreferredLanguage(L"zh-HK"));
  EXPECT_EQ(L"zh-TW", internal::AdjustPreferredLanguage(L"zh-mo"));
  EXPECT_EQ(L"zh-CN", internal::AdjustPreferredLanguage(L"zh-SG"));
  EXPECT_EQ(L"en-GB", internal::AdjustPreferredLanguage(L"en-AU"));
  EXPECT_EQ(L"en-GB", internal::AdjustPreferredLanguage(L"en-ZA"));
  EXPECT_EQ(L"en-US", internal::AdjustPreferredLanguage(L"en-IE"));
  EXPECT_EQ(L"nb", internal::AdjustPreferredLanguage(L"no-NO"));
  EXPECT_EQ(L"tl", internal::AdjustPreferredLanguage(L"fil-PH"));
  EXPECT_EQ(L"de", internal::AdjustPreferredLanguage(L"de-AT"));
  EXPECT_EQ(L"sr", internal::AdjustPreferredLanguage(L"sr-Latn-RS"));
  EXPECT_EQ(L"fr", internal::AdjustPreferredLanguage(L"fr"));
  EXPECT_EQ(L"-fr", internal::AdjustPreferredLanguage(L"-fr"));

  EXPECT_EQ(L"nb", internal::CorrectLanguageTag(L"NO"));
  EXPECT_EQ(L"pt-PT", internal::CorrectLanguageTag(L"pt"));
  EXPECT_EQ(L"fil", internal::CorrectLanguageTag(L"tl"));
  EXPECT_EQ(L"en", internal::CorrectLanguageTag(L"en-US"));
  EXPECT_EQ(L"pt-br", internal::CorrectLanguageTag(L"pt-br"));
}

// Runs the choice for |requested| with |preferred| as the user's list.
struct Choice {
  LANGID langid = 0xFFFF;
  std::wstring tag;
  int preferred_reads = 0;
};

Choice Choose(const std::wstring& requested, const std::vector<std::wstring>& preferred,
              bool preferred_readable = true) {
  Choice choice;
  choice.tag = requested;
  internal::SelectUILanguageWithPreferred(&choice.langid, &choice.tag,
                                          [&](std::vector<std::wstring>* languages) {
                                            ++choice.preferred_reads;
                                            *languages = preferred;
                                            return preferred_readable;
                                          });
  return choice;
}

TEST(UiLanguageTest, RequestedTagIsCorrectedAndTakenWhenListed) {
  Choice pt = Choose(L"pt", {L"de-DE"});
  EXPECT_EQ(2070, pt.langid);
  EXPECT_EQ(L"pt-PT", pt.tag);
  EXPECT_EQ(0, pt.preferred_reads);

  Choice no = Choose(L"no", {});
  EXPECT_EQ(1044, no.langid);
  EXPECT_EQ(L"nb", no.tag);

  Choice tl = Choose(L"tl", {});
  EXPECT_EQ(1124, tl.langid);
  EXPECT_EQ(L"fil", tl.tag);

  Choice en_us = Choose(L"en-US", {L"de-DE"});
  EXPECT_EQ(1033, en_us.langid);
  EXPECT_EQ(L"en", en_us.tag);

  // Another letter case is taken with the list's spelling.
  Choice brazil = Choose(L"PT-br", {});
  EXPECT_EQ(1046, brazil.langid);
  EXPECT_EQ(L"pt-BR", brazil.tag);
}

TEST(UiLanguageTest, PreferredLanguagesAreTriedInOrderWithAdjustments) {
  Choice mexico = Choose(L"", {L"es-MX"});
  EXPECT_EQ(1, mexico.preferred_reads);
  EXPECT_EQ(L"es-419", mexico.tag);
  EXPECT_EQ(2058, mexico.langid);

  Choice spain = Choose(L"xx", {L"es-ES"});
  EXPECT_EQ(L"es", spain.tag);
  EXPECT_EQ(3082, spain.langid);

  Choice hong_kong = Choose(L"xx", {L"zh-HK"});
  EXPECT_EQ(L"zh-TW", hong_kong.tag);
  EXPECT_EQ(1028, hong_kong.langid);

  Choice australia = Choose(L"xx", {L"en-AU", L"fr-FR"});
  EXPECT_EQ(L"en-GB", australia.tag);
  EXPECT_EQ(2057, australia.langid);

  // A listed preferred language is taken as it is.
  Choice canada = Choose(L"xx", {L"fr-CA"});
  EXPECT_EQ(L"fr-CA", canada.tag);
  EXPECT_EQ(3084, canada.langid);

  // Unknown languages are passed over.
  Choice later = Choose(L"xx", {L"qq-QQ", L"kl", L"de-AT"});
  EXPECT_EQ(L"de", later.tag);
  EXPECT_EQ(1031, later.langid);

  Choice angola = Choose(L"xx", {L"pt-AO"});
  EXPECT_EQ(L"pt-PT", angola.tag);
  EXPECT_EQ(2070, angola.langid);

  Choice norway = Choose(L"xx", {L"no-NO"});
  EXPECT_EQ(L"nb", norway.tag);
  EXPECT_EQ(1044, norway.langid);
}

TEST(UiLanguageTest, AmericanEnglishIsChosenBeforeLaterPreferences) {
  Choice choice = Choose(L"xx", {L"en-US", L"de-DE"});
  EXPECT_EQ(L"en", choice.tag);
  EXPECT_EQ(1033, choice.langid);

  Choice ireland = Choose(L"xx", {L"en-IE", L"de-DE"});
  EXPECT_EQ(L"en", ireland.tag);
  EXPECT_EQ(1033, ireland.langid);
}

TEST(UiLanguageTest, FilipinoIsReachableFromEveryTag) {
  for (const wchar_t* preferred : {L"fil-PH", L"fil", L"tl-PH", L"tl"}) {
    Choice choice = Choose(L"xx", {preferred, L"de-DE"});
    EXPECT_EQ(L"fil", choice.tag) << preferred;
    EXPECT_EQ(1124, choice.langid) << preferred;
  }
}

TEST(UiLanguageTest, NothingMatchingFallsBackToEnglish) {
  Choice unknown = Choose(L"xx-YY", {L"qq-QQ", L"kl"});
  EXPECT_EQ(kEnglishLanguageTag, unknown.tag);
  EXPECT_EQ(1033, unknown.langid);

  Choice unreadable = Choose(L"xx", {L"de-DE"}, /*preferred_readable=*/false);
  EXPECT_EQ(kEnglishLanguageTag, unreadable.tag);
  EXPECT_EQ(1033, unreadable.langid);

  Choice non_ascii = Choose(L"d\u00e9", {});
  EXPECT_EQ(kEnglishLanguageTag, non_ascii.tag);
  EXPECT_EQ(1033, non_ascii.langid);
}

// The real preferred-languages call. Wine derives the user's UI language from
// LC_ALL/LANG of the Unix environment its loader starts with. A child started
// with CreateProcess inherits the parent's Unix environment (the Windows
// environment is only copied into the child's block), so setting LC_ALL with
// SetEnvironmentVariable changes nothing for an ordinary child. A Unix
// program started through CreateProcess, however, gets the Windows
// environment as its Unix one: the test starts Wine's loader afresh with
// LC_ALL set and lets it run this executable. Wine gives such a process no
// waitable handle, so the child reports through a file.
constexpr wchar_t kChildOutputVariable[] = L"VELMO_UI_LANGUAGE_CHILD_OUTPUT";

std::wstring GetEnvironment(const wchar_t* name) {
  wchar_t buffer[MAX_PATH * 2];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2)
    return std::wstring();
  return std::wstring(buffer, length);
}

TEST(UiLanguageChildProcess, WritesChoiceForUnknownRequest) {
  const std::wstring output_path = GetEnvironment(kChildOutputVariable);
  if (output_path.empty())
    GTEST_SKIP() << "only run as the child of SelectsFromLocaleOfFreshWineProcess";
  LANGID langid = 0;
  std::wstring tag = L"xx";
  SelectUILanguage(&langid, &tag);
  const std::string line =
      "chosen=" + base::WideToUTF8(tag) + " langid=" + std::to_string(langid) + "\n";
  // Written beside the final name and renamed, so the parent never reads a
  // file that is still being written.
  const base::FilePath output(output_path);
  const base::FilePath partial(output_path + L".partial");
  ASSERT_EQ(static_cast<int>(line.size()),
            base::WriteFileBytes(partial, line.data(), static_cast<int>(line.size())));
  ASSERT_TRUE(base::MovePath(partial, output));
}

// Sets an environment variable of this process for a scope.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value)
      : name_(name), old_value_(GetEnvironment(name)) {
    ::SetEnvironmentVariableW(name, value);
  }
  ~ScopedEnvironmentVariable() {
    ::SetEnvironmentVariableW(name_, old_value_.empty() ? nullptr : old_value_.c_str());
  }

 private:
  const wchar_t* name_;
  std::wstring old_value_;
};

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");  // Not a reference: never freed.
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

// A Wine process whose code pages differ from those the prefix last saw
// puts Wine's default font links back for the dialog fonts (and the next
// process with the usual code pages does so again): the prefix's own links,
// which give the dialogs their glyphs for every script, would be gone for
// the rest of the suite. Both the code pages and the links are put back as
// they were once the child has ended.
class ScopedWineFontLinks {
 public:
  ScopedWineFontLinks() {
    base::win::RegistryKey fonts(HKEY_CURRENT_USER, kWineFontsKey, KEY_QUERY_VALUE);
    has_code_pages_ = fonts.ReadValue(L"Codepages", &code_pages_) == ERROR_SUCCESS;
    for (base::win::RegistryValueIterator value(HKEY_LOCAL_MACHINE, kSystemLinkKey); value.Valid();
         ++value) {
      links_.push_back({value.Name(), value.Type(), value.Data()});
    }
  }
  ScopedWineFontLinks(const ScopedWineFontLinks&) = delete;
  ScopedWineFontLinks& operator=(const ScopedWineFontLinks&) = delete;
  ~ScopedWineFontLinks() {
    if (has_code_pages_) {
      base::win::RegistryKey fonts(HKEY_CURRENT_USER, kWineFontsKey, KEY_SET_VALUE);
      EXPECT_EQ(ERROR_SUCCESS, fonts.WriteValue(L"Codepages", code_pages_));
    }
    base::win::RegistryKey links(HKEY_LOCAL_MACHINE, kSystemLinkKey,
                                 KEY_SET_VALUE | KEY_QUERY_VALUE);
    std::set<std::wstring> kept;
    for (const Link& link : links_) {
      kept.insert(link.name);
      EXPECT_EQ(ERROR_SUCCESS, links.WriteValue(link.name.c_str(), link.data.data(),
                                                static_cast<DWORD>(link.data.size()), link.type))
          << link.name;
    }
    for (base::win::RegistryValueIterator value(HKEY_LOCAL_MACHINE, kSystemLinkKey); value.Valid();
         ++value) {
      if (!kept.count(value.Name()))
        links.DeleteValue(value.Name().c_str());
    }
  }

 private:
  static constexpr wchar_t kWineFontsKey[] = L"Software\\Wine\\Fonts";
  static constexpr wchar_t kSystemLinkKey[] =
      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink";
  struct Link {
    std::wstring name;
    DWORD type;
    std::vector<uint8_t> data;
  };
  bool has_code_pages_ = false;
  std::wstring code_pages_;
  std::vector<Link> links_;
};

TEST(UiLanguageTest, SelectsFromLocaleOfFreshWineProcess) {
  if (!RunningUnderWine())
    GTEST_SKIP() << "the locale variables only steer Wine";
  // The loader the suite runs with (tools/wine_prefix.sh exports it).
  const std::wstring loader = GetEnvironment(L"WINELOADER");
  ASSERT_FALSE(loader.empty()) << "WINELOADER is not set";
  base::FilePath self;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeFile, &self));
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath output = temp.GetPath().Append(L"choice.txt");

  const ScopedWineFontLinks font_links;
  ScopedEnvironmentVariable output_variable(kChildOutputVariable, output.value().c_str());
  ScopedEnvironmentVariable lc_all(L"LC_ALL", L"es_MX.UTF-8");
  // The loader's first argument is its own Unix path; it finds its
  // companions next to it.
  std::wstring command =
      loader + L" \"" + self.value() + L"\" --gtest_filter=UiLanguageChildProcess.*";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info))
      << ::GetLastError();
  // Wine hands back no real handles for a Unix program; only real ones are
  // taken (and closed).
  auto real_handle = [](HANDLE handle) {
    DWORD flags = 0;
    return handle && ::GetHandleInformation(handle, &flags) ? handle : nullptr;
  };
  base::win::ScopedHandle process(real_handle(info.hProcess));
  base::win::ScopedHandle thread(real_handle(info.hThread));

  std::string result;
  for (int waited_ms = 0; waited_ms < 60000 && !base::PathExists(output); waited_ms += 100)
    ::Sleep(100);
  ASSERT_TRUE(base::ReadFileToString(output, &result)) << "the child wrote no choice";
  EXPECT_EQ("chosen=es-419 langid=2058\n", result);
}

}  // namespace
}  // namespace installer
