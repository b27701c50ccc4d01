#include "desktop/windows/rc_l10n_handler/ui_language.h"

#include <iterator>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/win/i18n.h"

namespace installer {

namespace {

constexpr int kLanguageListResourceId = 134;
constexpr wchar_t kLanguageListResourceType[] = L"TXT";

// Freed by the program's ExitCallbackManager; a later use starts again at 0.
base::LazyInstance<LANGID> g_ui_language;

struct TagAndLangId {
  const wchar_t* tag;
  LANGID langid;
};

// Searched in this order; the first match wins. "tl" deliberately maps to the
// user-default identifier: Tagalog texts are reached through "fil".
constexpr TagAndLangId kLanguageTags[] = {
    {L"az", 1068},          {L"el", 1032},    {L"gu", 1095},    {L"en", 1033},
    {L"userdefault", 1024}, {L"fr-ca", 3084}, {L"vi", 1066},    {L"ca", 1027},
    {L"fake-bidi", 1037},   {L"am", 1118},    {L"it", 1040},    {L"iw", 1037},
    {L"kn", 1099},          {L"zh-hk", 3076}, {L"ar", 1025},    {L"ml", 1100},
    {L"zu", 1077},          {L"cs", 1029},    {L"et", 1061},    {L"gl", 1110},
    {L"id", 1057},          {L"es", 3082},    {L"en-gb", 2057}, {L"ru", 1049},
    {L"eu", 1069},          {L"nl", 1043},    {L"nn", 2068},    {L"no", 1044},
    {L"nb", 1044},          {L"af", 1078},    {L"tr", 1055},    {L"tl", 1024},
    {L"lv", 1062},          {L"lt", 1063},    {L"pa", 1094},    {L"sw", 1089},
    {L"th", 1054},          {L"te", 1098},    {L"ro", 1048},    {L"is", 1039},
    {L"fil", 1124},         {L"ta", 1097},    {L"be", 1059},    {L"fr", 1036},
    {L"bg", 1026},          {L"ms", 1086},    {L"sl", 1060},    {L"hr", 1050},
    {L"fy", 1122},          {L"bn", 1093},    {L"de", 1031},    {L"hu", 1038},
    {L"fa", 1065},          {L"neutral", 0},  {L"hi", 1081},    {L"pt-br", 1046},
    {L"sa", 1103},          {L"fi", 1035},    {L"da", 1030},    {L"ja", 1041},
    {L"kk", 1087},          {L"he", 1037},    {L"me", 2074},    {L"es-419", 2058},
    {L"ne", 1121},          {L"pt-pt", 2070}, {L"zh-tw", 1028}, {L"uz", 1091},
    {L"ko", 1042},          {L"sv", 1053},    {L"mk", 1071},    {L"ur", 1056},
    {L"sk", 1051},          {L"zh-cn", 2052}, {L"si", 1115},    {L"gd", 1169},
    {L"pl", 1045},          {L"uk", 1058},    {L"sr", 3098},    {L"ti", 2163},
    {L"mr", 1102},          {L"or", 1096},
};
static_assert(std::size(kLanguageTags) == 82);

struct TagCorrection {
  const wchar_t* from;
  const wchar_t* to;
};

// Codes that the list spells differently. "en-US" is listed as plain "en"
// (the table has no "en-us"), so it is corrected like the others.
constexpr TagCorrection kTagCorrections[] = {
    {L"no", L"nb"},
    {L"pt", L"pt-PT"},
    {L"tl", L"fil"},
    {L"en-us", kEnglishLanguageTag},
};

// The listed spelling of |tag|, or null when |tag| is not available.
const std::wstring* FindListedLanguage(const std::vector<std::wstring>& available,
                                       std::wstring_view tag) {
  if (!base::IsStringASCII(tag))
    return nullptr;
  const std::wstring lowered = base::ToLowerASCII(tag);
  for (const std::wstring& listed : available) {
    if (base::EqualsCaseInsensitiveASCII(lowered, listed))
      return &listed;
  }
  return nullptr;
}

bool EqualsAnyOf(std::wstring_view text, std::initializer_list<std::wstring_view> options) {
  for (std::wstring_view option : options) {
    if (base::EqualsCaseInsensitiveASCII(text, option))
      return true;
  }
  return false;
}

}  // namespace

std::vector<std::wstring> GetAvailableLanguages() {
  HRSRC resource = ::FindResourceW(nullptr, MAKEINTRESOURCEW(kLanguageListResourceId),
                                   kLanguageListResourceType);
  if (!resource) {
    PLOG(ERROR) << "Failed to find the language list";
    return {};
  }
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  if (!loaded) {
    PLOG(ERROR) << "Failed to load the language list";
    return {};
  }
  const auto* bytes = static_cast<const unsigned char*>(::LockResource(loaded));
  if (!bytes) {
    PLOG(ERROR) << "Failed to lock the language list";
    return {};
  }
  const DWORD size = ::SizeofResource(nullptr, resource);
  // The list is ASCII; each byte becomes one UTF-16 unit.
  std::wstring text(bytes, bytes + size);
  // A blank line (such as the one a trailing line break leaves) is no
  // language.
  return base::SplitString16(text, L"\n", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
}

bool IsLanguageAvailable(std::wstring_view tag) {
  return FindListedLanguage(GetAvailableLanguages(), tag) != nullptr;
}

LANGID LanguageTagToLangId(std::wstring_view tag) {
  VLOG(1) << "Looking up LCID for " << tag;
  if (tag.empty())
    return 0;
  for (const TagAndLangId& entry : kLanguageTags) {
    if (base::EqualsCaseInsensitiveASCII(tag, entry.tag))
      return entry.langid;
  }
  return 0;
}

LANGID* GetUILanguageId() { return g_ui_language.Pointer(); }

void SelectUILanguage(LANGID* ui_language, std::wstring* tag) {
  internal::SelectUILanguageWithPreferred(ui_language, tag, &base::win::GetPreferredUILanguages);
}

namespace internal {

std::wstring CorrectLanguageTag(std::wstring_view tag) {
  for (const TagCorrection& correction : kTagCorrections) {
    if (base::EqualsCaseInsensitiveASCII(tag, correction.from))
      return correction.to;
  }
  return std::wstring(tag);
}

std::wstring AdjustPreferredLanguage(std::wstring_view preferred) {
  const size_t dash = preferred.find(L'-');
  if (dash == std::wstring_view::npos || dash == 0)
    return std::wstring(preferred);
  const std::wstring_view language = preferred.substr(0, dash);
  const std::wstring_view region = preferred.substr(dash + 1);

  std::wstring tag(language);
  if (base::EqualsCaseInsensitiveASCII(language, L"es")) {
    // Spanish outside Spain reads the Latin American table.
    if (!base::EqualsCaseInsensitiveASCII(region, L"es"))
      tag += L"-419";
  } else if (base::EqualsCaseInsensitiveASCII(language, L"zh")) {
    tag += EqualsAnyOf(region, {L"hk", L"mo"}) ? L"-TW" : L"-CN";
  } else if (base::EqualsCaseInsensitiveASCII(language, L"en")) {
    tag += EqualsAnyOf(region, {L"au", L"ca", L"nz", L"za"}) ? L"-GB" : L"-US";
  } else if (base::EqualsCaseInsensitiveASCII(language, L"no")) {
    tag = L"nb";
  } else if (base::EqualsCaseInsensitiveASCII(language, L"fil")) {
    tag = L"tl";
  }
  return tag;
}

void SelectUILanguageWithPreferred(LANGID* ui_language, std::wstring* tag,
                                   const PreferredLanguagesGetter& get_preferred) {
  *tag = CorrectLanguageTag(*tag);
  VLOG(1) << "Language converted from ISO631:" << *tag;

  const std::vector<std::wstring> available = GetAvailableLanguages();
  if (const std::wstring* listed = FindListedLanguage(available, *tag)) {
    *tag = *listed;
    *ui_language = LanguageTagToLangId(*tag);
    return;
  }

  LOG(INFO) << "Language not in the available languages list: " << *tag;
  std::vector<std::wstring> preferred;
  // A failure is logged by the getter; the English fallback follows.
  if (!get_preferred(&preferred))
    preferred.clear();
  bool found = false;
  for (const std::wstring& language : preferred) {
    *tag = language;
    LOG(INFO) << "Trying language from system preferred list: " << *tag;
    if (const std::wstring* listed = FindListedLanguage(available, *tag)) {
      *tag = *listed;
      found = true;
      break;
    }
    // The reduction can produce the spellings the corrections exist for
    // ("fil-PH" -> "tl", "en-US", "pt-AO" -> "pt"), so they are applied again.
    *tag = CorrectLanguageTag(AdjustPreferredLanguage(language));
    LOG(INFO) << "Retrying after adjustments: " << *tag;
    if (const std::wstring* listed = FindListedLanguage(available, *tag)) {
      *tag = *listed;
      found = true;
      break;
    }
  }
  if (!found) {
    *tag = kEnglishLanguageTag;
    LOG(WARNING) << "Falling back to english";
  }
  *ui_language = LanguageTagToLangId(*tag);
}

}  // namespace internal

}  // namespace installer
