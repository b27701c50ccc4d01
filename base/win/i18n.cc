#include "base/win/i18n.h"

#include <windows.h>

#include <algorithm>

#include "base/logging.h"
#include "base/win/multi_string.h"

namespace base::win {

namespace {

bool GetThreadPreferredUILanguageList(std::vector<std::wstring>* languages) {
  constexpr DWORD kFlags = MUI_LANGUAGE_NAME | MUI_MERGE_USER_FALLBACK | MUI_MERGE_SYSTEM_FALLBACK;
  ULONG count = 0;
  ULONG size = 0;
  if (!::GetThreadPreferredUILanguages(kFlags, &count, nullptr, &size) || size == 0) {
    PLOG(ERROR) << "GetThreadPreferredUILanguages gave no list size";
    return false;
  }
  // The list may grow between the calls; retry a few times with the new size.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<wchar_t> buffer(size);
    ULONG filled = size;
    if (::GetThreadPreferredUILanguages(kFlags, &count, buffer.data(), &filled)) {
      std::vector<std::wstring> list;
      SplitMultiString(buffer.data(), std::min<size_t>(filled, buffer.size()), &list);
      if (list.empty()) {
        LOG(ERROR) << "GetThreadPreferredUILanguages gave an empty list";
        return false;
      }
      // The merged fallbacks can repeat a language; keep its first place.
      for (std::wstring& language : list) {
        if (std::find(languages->begin(), languages->end(), language) == languages->end())
          languages->push_back(std::move(language));
      }
      return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      break;
    size = filled > size ? filled : size * 2;
  }
  PLOG(ERROR) << "GetThreadPreferredUILanguages failed";
  return false;
}

bool GetUserDefaultUILanguageName(std::vector<std::wstring>* languages) {
  const LANGID language = ::GetUserDefaultUILanguage();
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  int length =
      ::LCIDToLocaleName(MAKELCID(language, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
  if (length <= 1) {
    PLOG(ERROR) << "LCIDToLocaleName failed for language " << language;
    return false;
  }
  languages->emplace_back(name, static_cast<size_t>(length - 1));
  return true;
}

}  // namespace

bool GetPreferredUILanguages(std::vector<std::wstring>* languages) {
  languages->clear();
  if (GetThreadPreferredUILanguageList(languages))
    return true;
  languages->clear();
  if (GetUserDefaultUILanguageName(languages))
    return true;
  LOG(ERROR) << "No preferred UI language found";
  return false;
}

}  // namespace base::win
