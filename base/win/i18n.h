// The user's preferred interface languages.
#ifndef BASE_WIN_I18N_H_
#define BASE_WIN_I18N_H_

#include <string>
#include <vector>

namespace base::win {

// Fills |languages| with language tags ("de-DE", "en-US"), most preferred
// first: the thread's preferred UI languages merged with the user's and the
// system's fallbacks, or, when that list cannot be read, the locale name of
// the user's default UI language. False (and logged) when neither gives a
// language; |languages| is then left empty.
bool GetPreferredUILanguages(std::vector<std::wstring>* languages);

}  // namespace base::win

#endif  // BASE_WIN_I18N_H_
