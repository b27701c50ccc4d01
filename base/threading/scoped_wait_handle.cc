#include "base/threading/scoped_wait_handle.h"

#include "base/logging.h"

namespace base {

// static
void WaitHandleTraits::Free(HANDLE& wait_handle) {
  if (!UnregisterWaitEx(wait_handle, INVALID_HANDLE_VALUE))
    PLOG(ERROR) << "UnregisterWaitEx failed";
}

}  // namespace base
