#include "desktop/windows/installer/service/user_name.h"

#include <windows.h>

#define SECURITY_WIN32
#include <security.h>

#include <vector>

#include "base/logging.h"

namespace installer {

namespace {
// UNLEN + 1: the longest logon name and its terminating NUL.
constexpr DWORD kUserNameBufferSize = 257;
}  // namespace

bool GetCurrentUserName(std::wstring* name) {
  wchar_t buffer[kUserNameBufferSize];
  DWORD size = kUserNameBufferSize;
  if (!::GetUserNameW(buffer, &size)) {
    PLOG(ERROR) << "GetUserNameW failed";
    return false;
  }
  // |size| counts the terminating NUL.
  name->assign(buffer, size > 0 ? size - 1 : 0);
  return true;
}

bool GetCurrentUserDisplayName(std::wstring* name) {
  std::vector<wchar_t> buffer(kUserNameBufferSize);
  ULONG size = static_cast<ULONG>(buffer.size());
  if (!::GetUserNameExW(NameDisplay, buffer.data(), &size)) {
    if (::GetLastError() != ERROR_MORE_DATA) {
      PLOG(ERROR) << "GetUserNameExW(NameDisplay) failed";
      return false;
    }
    // |size| now holds the length needed, NUL included.
    buffer.resize(size);
    if (!::GetUserNameExW(NameDisplay, buffer.data(), &size)) {
      PLOG(ERROR) << "GetUserNameExW(NameDisplay) failed";
      return false;
    }
  }
  // On success |size| excludes the terminating NUL.
  name->assign(buffer.data(), size);
  return true;
}

}  // namespace installer
