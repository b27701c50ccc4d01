// The reporter's count of unfinished work: the parent watch and every crash
// being handled or uploaded hold one reference each, and the reporter
// process ends only once the count has fallen to 0.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_

#include <windows.h>

#include <atomic>

#include "base/win/scoped_handle.h"

namespace crash_reporter {

class ReporterWorkCounter {
 public:
  // The process-wide counter, created on first use (destroyed by the
  // current ExitCallbackManager).
  static ReporterWorkCounter& Get();

  ReporterWorkCounter() = default;
  ReporterWorkCounter(const ReporterWorkCounter&) = delete;
  ReporterWorkCounter& operator=(const ReporterWorkCounter&) = delete;

  // Creates the manual-reset event, unsignalled. False (and logged) when it
  // cannot be made. Done once, before the first reference is taken; a second
  // call keeps the event it has.
  bool CreateEvent();

  void AddRef();
  // Signals the event when the count reaches 0.
  void Release();
  // Waits without limit until the count has reached 0. False (and logged)
  // when there is no event or the wait fails.
  bool Wait();

  long count() const { return count_.load(); }

 private:
  base::win::ScopedHandle event_;
  std::atomic<long> count_{0};
};

// Holds one reference for as long as it lives.
class ScopedWorkReference {
 public:
  ScopedWorkReference() { ReporterWorkCounter::Get().AddRef(); }
  ~ScopedWorkReference() { ReporterWorkCounter::Get().Release(); }
  ScopedWorkReference(const ScopedWorkReference&) = delete;
  ScopedWorkReference& operator=(const ScopedWorkReference&) = delete;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_
