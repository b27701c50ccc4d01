#include "base/win/scoped_handle.h"

#include "base/logging.h"
#include "base/win/handle_verifier.h"

namespace base::win {

namespace {

// The two innermost return addresses above the traits hook: the holder's
// method and whoever called it.
__attribute__((noinline)) void CallerAddresses(const void** pc1, const void** pc2) {
  void* frames[2] = {};
  // Skips this function and the hook.
  RtlCaptureStackBackTrace(2, 2, frames, nullptr);
  *pc1 = frames[0];
  *pc2 = frames[1];
}

}  // namespace

bool CloseHandleThroughVerifier(HANDLE handle) {
  HandleVerifier::Get()->OnHandleBeingClosed(handle);
  if (!::CloseHandle(handle)) {
    PLOG(ERROR) << "CloseHandle(" << handle << ") failed";
    return false;
  }
  return true;
}

void HandleTraits::Free(HANDLE& handle) { CloseHandleThroughVerifier(handle); }

void HandleTraits::OnAcquire(const HANDLE& handle, const void* owner) {
  const void* pc1 = nullptr;
  const void* pc2 = nullptr;
  CallerAddresses(&pc1, &pc2);
  HandleVerifier::Get()->StartTracking(handle, owner, pc1, pc2);
}

void HandleTraits::OnRelease(const HANDLE& handle, const void* owner) {
  const void* pc1 = nullptr;
  const void* pc2 = nullptr;
  CallerAddresses(&pc1, &pc2);
  HandleVerifier::Get()->StopTracking(handle, owner, pc1, pc2);
}

}  // namespace base::win
