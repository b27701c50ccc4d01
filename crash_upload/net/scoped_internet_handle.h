// The holder of a WinInet handle (session, connection or request) for the
// crash-server requests made over WinInet.
#ifndef CRASH_UPLOAD_NET_SCOPED_INTERNET_HANDLE_H_
#define CRASH_UPLOAD_NET_SCOPED_INTERNET_HANDLE_H_

#include <windows.h>
#include <wininet.h>

#include "base/logging.h"
#include "base/scoped_generic.h"

namespace crash_upload {

// The user agent of those requests; each caller appends its suffix.
inline constexpr wchar_t kWinInetUserAgent[] = L"CrashReporter/1.0 (Windows)";

struct InternetHandleTraits {
  static HINTERNET InvalidValue() { return nullptr; }
  static void Free(HINTERNET& handle) {
    if (!InternetCloseHandle(handle))
      PLOG(ERROR) << "InternetCloseHandle";
  }
};
using ScopedInternetHandle = base::ScopedGeneric<HINTERNET, InternetHandleTraits>;

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_SCOPED_INTERNET_HANDLE_H_
