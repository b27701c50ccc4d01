// The holder of memory that a Windows function allocated for the caller to
// free with CoTaskMemFree (known-folder paths, shell item ID lists).
#ifndef BASE_WIN_SCOPED_CO_TASK_MEM_H_
#define BASE_WIN_SCOPED_CO_TASK_MEM_H_

#include <windows.h>

#include <objbase.h>

#include "base/scoped_generic.h"

namespace base::win {

template <typename T>
struct CoTaskMemTraits {
  static T InvalidValue() { return nullptr; }
  static void Free(T& memory) { ::CoTaskMemFree(memory); }
};

// T is the pointer type the allocating function fills, e.g.
// ScopedCoTaskMem<PIDLIST_ABSOLUTE>.
template <typename T>
using ScopedCoTaskMem = ScopedGeneric<T, CoTaskMemTraits<T>>;
using ScopedCoTaskMemString = ScopedCoTaskMem<wchar_t*>;

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_CO_TASK_MEM_H_
