// The reporter's server mode: the installer started this process again to
// catch its crashes. It serves the crash pipe until its parent has exited
// and every crash has been written and sent.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_SERVER_H_

#include "base/files/file_path.h"

namespace crash_reporter {

class CrashPipeClientRecord;
class CrashStateCounters;

// What each crash's handling needs besides the client.
struct ClientCrashContext {
  CrashStateCounters* counters;
  bool keep_logs;
};

// 0 after a normal end; -1 when the reporter could not serve (then the init
// event was never set and the installer runs without a reporter).
int RunCrashReporterServer();

// The pipe server's dump callback: counts, writes and reports one crash.
void HandleClientCrash(void* context, const CrashPipeClientRecord* client,
                       const std::wstring* dump_path, const std::wstring* full_memory_path);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_SERVER_H_
