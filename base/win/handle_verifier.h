// The process-wide handle verifier: which ScopedHandle owns which kernel
// handle, with the stack that took it. A handle taken by a second owner, or
// given up by an owner that does not hold it, stops the process at once; the
// diagnostic values are kept in locals that a crash dump sees.
//
// The engine library and its host executable share one verifier: each module
// exports "GetHandleVerifier" (see GetHandleVerifierFunction), and Get() in a
// module other than the main executable adopts the executable's verifier. The
// interface therefore crosses module boundaries: only append virtual
// functions, never reorder or change them.
#ifndef BASE_WIN_HANDLE_VERIFIER_H_
#define BASE_WIN_HANDLE_VERIFIER_H_

#include <windows.h>

namespace base::win {

class HandleVerifier {
 public:
  // The verifier of this process: created on first use (or adopted from the
  // main executable) and never destroyed, so it outlives every static
  // ScopedHandle. Safe to call from any thread and during static
  // initialisation.
  static HandleVerifier* Get();

  // |owner| takes |handle|. Fatal when the handle is already tracked.
  // |pc1| and |pc2| are the innermost return addresses of the taker.
  virtual void StartTracking(HANDLE handle, const void* owner, const void* pc1,
                             const void* pc2) = 0;
  // |owner| gives up |handle|. Fatal when the handle is untracked or tracked
  // for another owner.
  virtual void StopTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) = 0;
  // |handle| is about to be closed. Fatal when an owner still tracks it: it
  // is being closed behind that owner's back.
  virtual void OnHandleBeingClosed(HANDLE handle) = 0;
  // Turns checking off for good and forgets every tracked handle.
  virtual void Disable() = 0;
  virtual bool IsEnabled() const = 0;
  // The owner tracking |handle|, or null.
  virtual const void* GetOwner(HANDLE handle) const = 0;

 protected:
  HandleVerifier() = default;
  // Never destroyed through this interface.
  ~HandleVerifier() = default;
};

// The signature of the exported "GetHandleVerifier": returns the module's
// HandleVerifier::Get(). The library that wires the export writes
//   extern "C" __declspec(dllexport) void* GetHandleVerifier() {
//     return base::win::HandleVerifier::Get();
//   }
using GetHandleVerifierFunction = void* (*)();
inline constexpr char kGetHandleVerifierExport[] = "GetHandleVerifier";

namespace internal {
// How Get() picks the verifier, exposed for tests: |main_module_export| is the
// main executable's "GetHandleVerifier" (or null) and |own_module| the module
// this code lives in. An export that lies outside |own_module| and returns a
// verifier is adopted; otherwise a new verifier is created.
HandleVerifier* SelectHandleVerifier(FARPROC main_module_export, HMODULE own_module);
}  // namespace internal

}  // namespace base::win

#endif  // BASE_WIN_HANDLE_VERIFIER_H_
