// ScopedWaitHandle: the owner of one registered thread-pool wait (from
// RegisterWaitForSingleObject). Freeing it unregisters the wait and blocks
// until a callback of the wait that is running has returned, so that the
// callback's context may be destroyed right after. Never free one from
// inside its own callback: that would wait for itself.
#ifndef BASE_THREADING_SCOPED_WAIT_HANDLE_H_
#define BASE_THREADING_SCOPED_WAIT_HANDLE_H_

#include <windows.h>

#include "base/scoped_generic.h"

namespace base {

struct WaitHandleTraits {
  static HANDLE InvalidValue() { return nullptr; }
  // UnregisterWaitEx with INVALID_HANDLE_VALUE (waits for running
  // callbacks); a failure is logged.
  static void Free(HANDLE& wait_handle);
};

using ScopedWaitHandle = ScopedGeneric<HANDLE, WaitHandleTraits>;

}  // namespace base

#endif  // BASE_THREADING_SCOPED_WAIT_HANDLE_H_
