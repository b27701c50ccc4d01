#include "base/win/scoped_find_handle.h"

#include "base/logging.h"

namespace base::win {

void FindHandleTraits::Free(HANDLE& handle) {
  if (!::FindClose(handle))
    PLOG(ERROR) << "FindClose(" << handle << ") failed";
}

}  // namespace base::win
