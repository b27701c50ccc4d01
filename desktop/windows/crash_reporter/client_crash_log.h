// Writes the crash log of a crashed process: freezes it as its debugger,
// snapshots it and writes the text log.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_LOG_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_LOG_H_

#include <windows.h>

#include <cstdint>

#include "base/files/file_path.h"

namespace crash_reporter {

class CrashPipeClientRecord;

// The crash of a registered installer process, described with its crash
// keys. False when the process cannot be read or the log cannot be written.
bool WriteClientCrashLog(const CrashPipeClientRecord& record, const base::FilePath& path);

// The crash of a reporter, whose handler left the crash details in the
// block at |block_address| of process |pid|.
bool WriteAttachedSelfCrashLog(DWORD pid, uint64_t block_address, const base::FilePath& path);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CLIENT_CRASH_LOG_H_
