// Writes the crash log: a text report of a crashed process that a person can
// read and a crash server can parse. Header, metadata, every thread with its
// registers and a dump of its stack, the loaded modules, and hex dumps of the
// memory that registers and stack values point into, within a size budget.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_WRITER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_WRITER_H_

#include <cstdint>
#include <cstdio>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_log/crash_info.h"

namespace crash_reporter {

class MemoryRangeList;
class ProcessState;

// Budgets of the memory dumps: all threads but the crashed one share the
// first; no one of them adds more than the second.
inline constexpr uint64_t kMaxDumpedMemory = 614400;
inline constexpr uint64_t kMaxDumpedMemoryPerThread = 61440;
// From this thread on (counting from 1) only the crashed thread is written.
inline constexpr size_t kFirstSkippedThread = 500;
inline constexpr size_t kMaxStackRead = 8192;
inline constexpr size_t kMinCrashedStackRead = 512;

// Opens |path| in text mode (line feeds become CR LF), writes the log and
// closes it. The file is deleted when any write failed.
bool WriteCrashLogFile(const base::FilePath& path, const ProcessState& state, const CrashInfo& info,
                       MemoryRangeList* ranges);

// Writes the sections in order, stopping with false at the first failure.
// |ranges| is cleared first and collects the memory to dump.
bool WriteCrashLog(MemoryRangeList* ranges, const ProcessState& state, const CrashInfo& info,
                   FILE* stream);

// Formatted output to a crash-log stream: the count of characters, or a
// negative value on failure.
int CrashFilePrintf(FILE* stream, const char* format, ...)
    __attribute__((format(gnu_printf, 2, 3)));

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_WRITER_H_
