// ScopedHandle: the single owner of one Windows kernel handle. Taking and
// giving up the handle are reported to the process-wide HandleVerifier; the
// handle is closed on Reset() and destruction.
//
// Win32 marks "no handle" two ways: null (CreateEvent, OpenProcess, ...) and
// INVALID_HANDLE_VALUE (CreateFile, CreateNamedPipe, ...). Both mean empty
// here; INVALID_HANDLE_VALUE is turned into null when taken, so Get() of an
// empty holder is always null.
#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include "base/scoped_generic.h"
#include "base/win/handle_verifier.h"

namespace base::win {

// Closes |handle| after telling the verifier, which stops the process when a
// ScopedHandle still owns it. False (and logged) when CloseHandle fails.
bool CloseHandleThroughVerifier(HANDLE handle);

struct HandleTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE& handle);
  static void OnAcquire(const HANDLE& handle, const void* owner);
  static void OnRelease(const HANDLE& handle, const void* owner);
};

class ScopedHandle : public ScopedGeneric<HANDLE, HandleTraits> {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : ScopedGeneric(Normalize(handle)) {}
  ScopedHandle(ScopedHandle&&) = default;
  ScopedHandle& operator=(ScopedHandle&&) = default;

  // Closes the held handle (if any) and takes |handle|.
  void Reset(HANDLE handle = nullptr) { ScopedGeneric::Reset(Normalize(handle)); }

  static HANDLE Normalize(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }
};

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_HANDLE_H_
