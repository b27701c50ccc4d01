// Keeps the reporter alive while the installer that started it runs: holds a
// work reference that a wait on the parent's process releases when it ends.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_PROCESS_WATCH_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_PROCESS_WATCH_H_

#include <windows.h>

#include <atomic>

#include "base/threading/scoped_wait_handle.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

class ParentProcessWatch {
 public:
  ParentProcessWatch() = default;
  // Releases the reference when the parent has not ended yet.
  ~ParentProcessWatch();

  ParentProcessWatch(const ParentProcessWatch&) = delete;
  ParentProcessWatch& operator=(const ParentProcessWatch&) = delete;

  // False (logged) when the parent cannot be opened or watched.
  bool Watch(DWORD pid);

 private:
  static void CALLBACK OnParentExited(void* context, BOOLEAN timed_out);
  // Releases the reference once, whoever comes first.
  void ReleaseOnce();

  std::atomic<LONG> active_{0};
  base::win::ScopedHandle process_;
  base::ScopedWaitHandle wait_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PARENT_PROCESS_WATCH_H_
