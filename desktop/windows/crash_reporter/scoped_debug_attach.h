// Freezes a crashed process while the reporter reads it: attached as its
// debugger, the process can neither run on nor exit.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUG_ATTACH_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUG_ATTACH_H_

#include <windows.h>

namespace crash_reporter {

class ScopedDebugAttach {
 public:
  // A failure is logged; the holder then holds nothing.
  explicit ScopedDebugAttach(DWORD pid);
  ~ScopedDebugAttach();

  ScopedDebugAttach(const ScopedDebugAttach&) = delete;
  ScopedDebugAttach& operator=(const ScopedDebugAttach&) = delete;

  bool attached() const { return pid_ != 0; }

 private:
  DWORD pid_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_SCOPED_DEBUG_ATTACH_H_
