#include "desktop/windows/installer/service/user_admin.h"

#include "base/logging.h"
#include "base/win/scoped_handle.h"

namespace installer {

namespace {

struct TestTokens {
  HANDLE token = nullptr;
  HANDLE linked_token = nullptr;
  bool active = false;
};
TestTokens g_test_tokens;

// CheckTokenMembership wants an impersonation token; a primary token is
// duplicated at identification level first.
bool TokenIsAdministrator(HANDLE token) {
  TOKEN_TYPE type;
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenType, &type, sizeof(type), &size)) {
    PLOG(ERROR) << "GetTokenInformation(TokenType) failed";
    return false;
  }
  base::win::ScopedHandle duplicate;
  HANDLE examined = token;
  if (type == TokenPrimary) {
    HANDLE raw = nullptr;
    if (!::DuplicateToken(token, SecurityIdentification, &raw)) {
      PLOG(ERROR) << "DuplicateToken failed";
      return false;
    }
    duplicate.Reset(raw);
    examined = duplicate.Get();
  }

  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size)) {
    PLOG(ERROR) << "CreateWellKnownSid(Administrators) failed";
    return false;
  }
  BOOL member = FALSE;
  if (!::CheckTokenMembership(examined, sid, &member)) {
    PLOG(ERROR) << "CheckTokenMembership failed";
    return false;
  }
  return member != FALSE;
}

}  // namespace

bool IsUserAdmin(bool linked_token) {
  base::win::ScopedHandle process_token;
  HANDLE token = g_test_tokens.token;
  if (!g_test_tokens.active) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw)) {
      PLOG(ERROR) << "OpenProcessToken failed";
      return false;
    }
    process_token.Reset(raw);
    token = process_token.Get();
  }
  if (!linked_token)
    return TokenIsAdministrator(token);

  if (g_test_tokens.active) {
    return TokenIsAdministrator(g_test_tokens.linked_token ? g_test_tokens.linked_token : token);
  }

  TOKEN_ELEVATION_TYPE elevation_type;
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevationType, &elevation_type, sizeof(elevation_type),
                             &size)) {
    PLOG(ERROR) << "GetTokenInformation(TokenElevationType) failed";
    return false;
  }
  // Only a limited token has an elevated counterpart worth asking; a full or
  // default token speaks for itself.
  if (elevation_type != TokenElevationTypeLimited)
    return TokenIsAdministrator(token);

  TOKEN_LINKED_TOKEN linked = {};
  if (!::GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size)) {
    PLOG(ERROR) << "GetTokenInformation(TokenLinkedToken) failed";
    return false;
  }
  base::win::ScopedHandle linked_holder(linked.LinkedToken);
  return TokenIsAdministrator(linked_holder.Get());
}

bool NeedsElevation(bool all_users, bool folder_writable) {
  if (IsUserAdmin(false))
    return false;
  if (all_users)
    return true;
  return !folder_writable;
}

ScopedAdminTokensForTesting::ScopedAdminTokensForTesting(HANDLE token, HANDLE linked_token) {
  g_test_tokens = {token, linked_token, true};
}

ScopedAdminTokensForTesting::~ScopedAdminTokensForTesting() { g_test_tokens = {}; }

}  // namespace installer
