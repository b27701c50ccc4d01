#include "desktop/windows/installer/url_credentials.h"

namespace installer {

namespace {

constexpr std::wstring_view kSchemeEnd = L"://";

// Replaces the credentials of the authority that starts at |authority| in
// |text|, if it has any.
void RemoveCredentialsAt(std::wstring* text, size_t authority) {
  size_t end = text->find_first_of(L"/\\?#", authority);
  if (end == std::wstring::npos)
    end = text->size();
  const size_t at = end == authority ? std::wstring::npos : text->rfind(L'@', end - 1);
  if (at == std::wstring::npos || at < authority)
    return;
  text->replace(authority, at - authority, kCredentialsMark);
}

}  // namespace

std::wstring WithoutCredentials(std::wstring_view url) {
  std::wstring result(url);
  const size_t scheme_end = result.find(kSchemeEnd);
  if (scheme_end != std::wstring::npos)
    RemoveCredentialsAt(&result, scheme_end + kSchemeEnd.size());
  return result;
}

std::wstring WithoutAnyCredentials(std::wstring_view text) {
  std::wstring result(text);
  // From each authority on: another address may begin inside it ("a@b,http:"
  // ends where the next one's "//" begins).
  for (size_t from = result.find(kSchemeEnd); from != std::wstring::npos;
       from = result.find(kSchemeEnd, from)) {
    from += kSchemeEnd.size();
    RemoveCredentialsAt(&result, from);
  }
  return result;
}

}  // namespace installer
