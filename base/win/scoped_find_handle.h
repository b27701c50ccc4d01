// The holder of a FindFirstFileW search handle, closed with FindClose.
#ifndef BASE_WIN_SCOPED_FIND_HANDLE_H_
#define BASE_WIN_SCOPED_FIND_HANDLE_H_

#include <windows.h>

#include "base/scoped_generic.h"

namespace base::win {

struct FindHandleTraits {
  // FindFirstFileW reports failure with INVALID_HANDLE_VALUE, never null.
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE& handle);
};

using ScopedFindHandle = ScopedGeneric<HANDLE, FindHandleTraits>;

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_FIND_HANDLE_H_
