// The holder of memory that a Windows function allocated with LocalAlloc and
// the caller frees with LocalFree (FormatMessageW buffers, security
// descriptors and SIDs from the string converters, ACLs from SetEntriesInAcl).
#ifndef BASE_WIN_SCOPED_LOCAL_ALLOC_H_
#define BASE_WIN_SCOPED_LOCAL_ALLOC_H_

#include <windows.h>

#include "base/scoped_generic.h"

namespace base::win {

namespace internal {
void LocalFreeLogged(HLOCAL memory);
}  // namespace internal

template <typename T>
struct LocalAllocTraits {
  static T InvalidValue() { return nullptr; }
  static void Free(T& memory) { internal::LocalFreeLogged(reinterpret_cast<HLOCAL>(memory)); }
};

// T is the pointer type the allocating function fills, e.g.
// ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> or ScopedLocalAllocTyped<wchar_t*>.
template <typename T>
using ScopedLocalAllocTyped = ScopedGeneric<T, LocalAllocTraits<T>>;
using ScopedLocalAlloc = ScopedLocalAllocTyped<HLOCAL>;

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_LOCAL_ALLOC_H_
