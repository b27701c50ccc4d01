// OsThread: joinable native threads.
#ifndef BASE_THREADING_OS_THREAD_H_
#define BASE_THREADING_OS_THREAD_H_

#include <windows.h>

#include <cstddef>

#include "base/time.h"
#include "base/win/scoped_handle.h"

namespace base {

class OsThread {
 public:
  class Delegate {
   public:
    virtual void ThreadMain() = 0;

   protected:
    virtual ~Delegate() = default;
  };

  enum class Priority {
    kBackground,
    kNormal,
    kDisplay,
    kRealtimeAudio,
  };

  // A started thread: its handle (closed by Join) and id.
  struct Handle {
    win::ScopedHandle handle;
    DWORD id = 0;
    bool IsValid() const { return handle.IsValid(); }
  };

  // Starts a thread running |delegate|->ThreadMain() with |stack_size|
  // bytes of stack reserved (0: the default). False (and logged) when the
  // thread cannot be created.
  static bool Create(size_t stack_size, Delegate* delegate, Handle* out_handle,
                     Priority priority = Priority::kNormal);
  // Waits without limit for the thread to end, then closes its handle.
  static void Join(Handle* handle);
  static void Sleep(TimeSpan duration);
  static DWORD CurrentId();
  // Names the calling thread in the ThreadNameRegistry and, where the system
  // has it, as the native thread description.
  static void SetName(const char* name);
};

}  // namespace base

#endif  // BASE_THREADING_OS_THREAD_H_
