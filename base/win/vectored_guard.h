// The shared set-up of a guard that turns exceptions of a guarded call into a
// jump back to the call's frame: a thread-local slot for the thread's chain
// of guard frames and a process-wide vectored exception handler that walks
// it. Both are made once, on the first guarded call of any thread, and last
// for the life of the process.
#ifndef BASE_WIN_VECTORED_GUARD_H_
#define BASE_WIN_VECTORED_GUARD_H_

#include <windows.h>

#include <atomic>

namespace base::win {

class VectoredGuard {
 public:
  // |first|: whether the handler runs before the handlers already
  // registered; |name| names the guard in log lines.
  constexpr VectoredGuard(PVECTORED_EXCEPTION_HANDLER handler, bool first, const char* name)
      : handler_(handler), first_(first), name_(name) {}

  // Makes the slot and registers the handler on the first call; false (logged
  // once, by the thread that tried) when either failed. Threads that arrive
  // while another one is installing wait for it.
  bool EnsureInstalled();

  // The slot of the thread's innermost guard frame; valid once installed.
  DWORD tls_index() const { return tls_index_; }

 private:
  PVECTORED_EXCEPTION_HANDLER handler_;
  bool first_;
  const char* name_;
  DWORD tls_index_ = TLS_OUT_OF_INDEXES;
  // 0 not installed, 1 being installed, 2 installed, 3 failed.
  std::atomic<int> state_{0};
};

}  // namespace base::win

#endif  // BASE_WIN_VECTORED_GUARD_H_
