// A Windows event object: manual or automatic reset, initially signalled or
// not. Waits are reported to the activity tracker.
#ifndef BASE_THREADING_WAITABLE_EVENT_H_
#define BASE_THREADING_WAITABLE_EVENT_H_

#include <windows.h>

#include <cstddef>

#include "base/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class WaitableEvent {
 public:
  enum class ResetPolicy { kManual, kAutomatic };
  enum class InitialState { kSignaled, kNotSignaled };

  // Creates an unnamed event. Should the system refuse one, the failure is
  // logged, IsValid() is false and every wait returns at once (timed waits
  // report false).
  WaitableEvent(ResetPolicy reset_policy, InitialState initial_state);
  // Takes ownership of an existing event handle.
  explicit WaitableEvent(win::ScopedHandle handle);
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;
  ~WaitableEvent();

  bool IsValid() const { return handle_.IsValid(); }

  void Reset();
  void Signal();
  // Whether the event is signalled now. Like any wait, this consumes the
  // signal of an automatic-reset event.
  bool IsSignaled();
  // Waits without limit.
  void Wait();
  // Waits at most |timeout| (a negative one counts as zero; TimeSpan::Max()
  // waits without limit). False on time-out.
  bool TimedWait(TimeSpan timeout);

  // Waits until one of |events| (1 to MAXIMUM_WAIT_OBJECTS of them) is
  // signalled and returns its index, the lowest one when several are.
  // Returns |count| when the wait cannot be made.
  static size_t WaitMany(WaitableEvent** events, size_t count);

  HANDLE handle() const { return handle_.Get(); }

 private:
  win::ScopedHandle handle_;
};

}  // namespace base

#endif  // BASE_THREADING_WAITABLE_EVENT_H_
