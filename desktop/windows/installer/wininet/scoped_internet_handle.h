// The holder of one WinInet handle (session, connection or request). The
// type is spelled void* so that this header does not pull <wininet.h> into
// code that also needs <winhttp.h>; HINTERNET is void*.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_

#include "base/scoped_generic.h"

namespace installer {

struct InternetHandleTraits {
  static void* InvalidValue() { return nullptr; }
  // InternetCloseHandle; a failure is logged.
  static void Free(void*& handle);
};

using ScopedInternetHandle = base::ScopedGeneric<void*, InternetHandleTraits>;

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_SCOPED_INTERNET_HANDLE_H_
