#include "desktop/windows/crash_reporter/reporter_work_counter.h"

#include "base/lazy_instance.h"
#include "base/logging.h"

namespace crash_reporter {
namespace {

base::LazyInstance<ReporterWorkCounter> g_work_counter;

}  // namespace

ReporterWorkCounter& ReporterWorkCounter::Get() {
  return g_work_counter.Get();
}

bool ReporterWorkCounter::CreateEvent() {
  if (event_.IsValid())
    return true;
  event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event_.IsValid()) {
    PLOG(ERROR) << "CreateEvent for the work counter";
    return false;
  }
  return true;
}

void ReporterWorkCounter::AddRef() {
  count_.fetch_add(1);
}

void ReporterWorkCounter::Release() {
  if (count_.fetch_sub(1) == 1 && event_.IsValid())
    SetEvent(event_.Get());
}

bool ReporterWorkCounter::Wait() {
  if (!event_.IsValid()) {
    LOG(ERROR) << "The work counter has no event to wait on";
    return false;
  }
  if (WaitForSingleObject(event_.Get(), INFINITE) != WAIT_OBJECT_0) {
    PLOG(ERROR) << "WaitForSingleObject on the work counter";
    return false;
  }
  return true;
}

}  // namespace crash_reporter
