// Counts what keeps the reporter alive: the watch on its parent and every
// crash being handled or uploaded. The reporter ends when the count drops
// to 0.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_

#include <windows.h>

#include <atomic>

#include "base/win/scoped_handle.h"

namespace crash_reporter {

class ReporterWorkCounter {
 public:
  // The process-wide counter, built on first use.
  static ReporterWorkCounter* GetInstance();

  ReporterWorkCounter() = default;
  ReporterWorkCounter(const ReporterWorkCounter&) = delete;
  ReporterWorkCounter& operator=(const ReporterWorkCounter&) = delete;

  // Creates the (unsignalled) event; must run before the first AddRef.
  bool CreateEvent();
  void AddRef();
  // The last release signals the event.
  void Release();
  // Waits without limit until the count has dropped to 0.
  void Wait();
  LONG count() const { return count_.load(); }

 private:
  std::atomic<LONG> count_{0};
  base::win::ScopedHandle done_event_;
};

// Holds one reference for its lifetime.
class ScopedReporterWork {
 public:
  ScopedReporterWork() { ReporterWorkCounter::GetInstance()->AddRef(); }
  ~ScopedReporterWork() { ReporterWorkCounter::GetInstance()->Release(); }
  ScopedReporterWork(const ScopedReporterWork&) = delete;
  ScopedReporterWork& operator=(const ScopedReporterWork&) = delete;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_REPORTER_WORK_COUNTER_H_
