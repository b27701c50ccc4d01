#include "desktop/windows/crash_reporter/scoped_debug_attach.h"

#include "base/logging.h"

namespace crash_reporter {

ScopedDebugAttach::ScopedDebugAttach(DWORD pid) {
  if (!::DebugActiveProcess(pid)) {
    PLOG(ERROR) << "DebugActiveProcess failed";
    return;
  }
  pid_ = pid;
}

ScopedDebugAttach::~ScopedDebugAttach() {
  if (pid_ != 0 && !::DebugActiveProcessStop(pid_))
    PLOG(ERROR) << "DebugActiveProcessStop failed";
}

}  // namespace crash_reporter
