// The languages the installer offers and the choice of its interface
// language.
//
// The host executable lists its languages in resource 134 of type "TXT" (one
// language tag per line) and carries one string table per listed language.
// The choice takes the requested tag when it is listed, else the user's
// preferred UI languages (directly, then reduced to the language with a few
// regional adjustments), else English.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The tag of the English table (LANGID 1033). Region fallbacks and
// corrections of English tags lead here, so it is the only English-US tag
// the installer uses.
inline constexpr wchar_t kEnglishLanguageTag[] = L"en";

// The tags of the host's language list, in its order. Blank lines are
// skipped. Empty (and logged) when the list cannot be read.
std::vector<std::wstring> GetAvailableLanguages();

// Whether |tag| is ASCII and, ignoring ASCII case, one of the listed tags.
bool IsLanguageAvailable(std::wstring_view tag);

// The Windows language identifier of |tag| (ignoring ASCII case), or 0 for an
// empty or unknown tag.
LANGID LanguageTagToLangId(std::wstring_view tag);

// The process-wide current interface language (0 until a language is
// chosen). Created on first use and deleted when the program's
// ExitCallbackManager ends.
LANGID* GetUILanguageId();

// Chooses the interface language for the requested |tag|, writes its LANGID
// to |ui_language| and leaves |tag| holding the chosen tag (spelled as in the
// language list when it is listed).
void SelectUILanguage(LANGID* ui_language, std::wstring* tag);

namespace internal {

// Supplies the user's preferred UI languages, most preferred first; false
// when they cannot be read.
using PreferredLanguagesGetter = std::function<bool(std::vector<std::wstring>*)>;

// SelectUILanguage with the preferred languages taken from |get_preferred|
// (which SelectUILanguage binds to the system's list). Tests use it to supply
// lists that the system cannot be made to return.
void SelectUILanguageWithPreferred(LANGID* ui_language, std::wstring* tag,
                                   const PreferredLanguagesGetter& get_preferred);

// The corrections applied to a requested tag and again to each adjusted
// preferred language: "no" -> "nb", "pt" -> "pt-PT", "tl" -> "fil",
// "en-US" -> "en". Other tags are returned unchanged.
std::wstring CorrectLanguageTag(std::wstring_view tag);

// The reduction of a preferred language "<language>-<region>" to a tag that
// the list is likely to hold ("es-MX" -> "es-419", "zh-HK" -> "zh-TW",
// "en-AU" -> "en-GB", "de-AT" -> "de"), before corrections. A tag without a
// region is returned unchanged.
std::wstring AdjustPreferredLanguage(std::wstring_view preferred);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_UI_LANGUAGE_H_
