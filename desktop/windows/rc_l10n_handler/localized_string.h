// Lookup of the installer's localised strings.
//
// The texts are RT_STRING resources of the running executable (module NULL),
// never of the library that asks: the engine DLL and the host both carry the
// tables, but the host's are the ones shown. A failed lookup logs its cause
// and gives the empty text; no other language is tried.
#ifndef DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_
#define DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace installer {

// The string |id| of the table of |langid|. With a non-empty |replacements|,
// "$1" to "$9" are replaced by the replacements in order and "$$" gives one
// dollar sign; otherwise the text is returned as stored. LANGID 0 (neutral,
// also the current language before one is chosen) lets the system pick the
// table: the user's default language, else the first one.
std::wstring LoadLocalizedString(LANGID langid, int id,
                                 const std::vector<std::wstring>& replacements);

// The same in the current interface language (see GetUILanguageId).
std::wstring GetLocalizedString(int id);
std::wstring GetLocalizedStringWithReplacement(int id, const std::wstring& replacement);
std::wstring GetLocalizedStringWithReplacements(int id,
                                                const std::vector<std::wstring>& replacements);

// The string |id| in the language of |tag| (as LanguageTagToLangId maps it),
// without replacements.
std::wstring GetLocalizedStringForLanguage(std::wstring_view tag, int id);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_RC_L10N_HANDLER_LOCALIZED_STRING_H_
