#include "desktop/windows/crash_reporter/reporter_work_counter.h"

#include "base/logging.h"

namespace crash_reporter {

ReporterWorkCounter* ReporterWorkCounter::GetInstance() {
  // Never destroyed: upload threads may still release while the process
  // ends.
  static ReporterWorkCounter* counter = new ReporterWorkCounter();
  return counter;
}

bool ReporterWorkCounter::CreateEvent() {
  if (done_event_.IsValid())
    return true;
  done_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done_event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the reporter's work event";
    return false;
  }
  return true;
}

void ReporterWorkCounter::AddRef() {
  count_.fetch_add(1);
}

void ReporterWorkCounter::Release() {
  if (count_.fetch_sub(1) == 1 && done_event_.IsValid())
    ::SetEvent(done_event_.Get());
}

void ReporterWorkCounter::Wait() {
  if (done_event_.IsValid())
    ::WaitForSingleObject(done_event_.Get(), INFINITE);
}

}  // namespace crash_reporter
