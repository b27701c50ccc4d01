#include "desktop/windows/crash_reporter/parent_process_watch.h"

#include "base/logging.h"
#include "desktop/windows/crash_reporter/reporter_work_counter.h"

namespace crash_reporter {

ParentProcessWatch::~ParentProcessWatch() {
  ReleaseOnce();
  // Unregistering waits for a callback that is running.
  wait_.Reset();
}

bool ParentProcessWatch::Watch(DWORD pid) {
  process_.Reset(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "Cannot open the reporter's parent process " << pid;
    return false;
  }
  ReporterWorkCounter::Get().AddRef();
  active_.store(1);
  HANDLE wait = nullptr;
  if (!::RegisterWaitForSingleObject(&wait, process_.Get(), &ParentProcessWatch::OnParentExited,
                                     this, INFINITE, WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "Cannot watch the reporter's parent process";
    ReleaseOnce();
    return false;
  }
  wait_.Reset(wait);
  return true;
}

// static
void CALLBACK ParentProcessWatch::OnParentExited(void* context, BOOLEAN) {
  static_cast<ParentProcessWatch*>(context)->ReleaseOnce();
}

void ParentProcessWatch::ReleaseOnce() {
  LONG expected = 1;
  if (active_.compare_exchange_strong(expected, 0))
    ReporterWorkCounter::Get().Release();
}

}  // namespace crash_reporter
