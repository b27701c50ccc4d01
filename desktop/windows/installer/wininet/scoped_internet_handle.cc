#include "desktop/windows/installer/wininet/scoped_internet_handle.h"

#include <windows.h>
#include <wininet.h>

#include "base/logging.h"

namespace installer {

void InternetHandleTraits::Free(void*& handle) {
  if (!InternetCloseHandle(handle))
    PLOG(ERROR) << "Could not close an internet handle";
}

}  // namespace installer
