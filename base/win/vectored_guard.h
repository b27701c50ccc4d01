// A process-wide vectored exception handler, registered once, on the first
// use of any thread, for the life of the process.
//
// A vectored handler is asked about every exception of the process before
// any handler of the faulting code: keep it for memory that its owner
// manages through faults (pages mapped or written on first access), where
// no code but the owner's can expect those faults. A guard around a call
// that should see only what the code inside leaves unhandled is an
// exception filter (exception_filter_call.h).
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

  // Registers the handler on the first call; false (logged once, by the
  // thread that tried) when that failed. Threads that arrive while another
  // one is registering wait for it.
  bool EnsureInstalled();

 private:
  PVECTORED_EXCEPTION_HANDLER handler_;
  bool first_;
  const char* name_;
  // 0 not installed, 1 being installed, 2 installed, 3 failed.
  std::atomic<int> state_{0};
};

}  // namespace base::win

#endif  // BASE_WIN_VECTORED_GUARD_H_
