// The crashed installer's record of its recent handle operations, written
// into the crash log: which thread opened or closed which handle, and from
// where. Read out of the crashed process through a crash key.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_HANDLE_TRACE_DESCRIPTION_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_HANDLE_TRACE_DESCRIPTION_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

// The layout of the ring in the crashed process's memory.
inline constexpr size_t kHandleTraceEntries = 500;
inline constexpr size_t kHandleTraceEntrySize = 224;
inline constexpr size_t kHandleTraceHeaderSize = 16;
inline constexpr size_t kHandleTraceSize =
    kHandleTraceHeaderSize + kHandleTraceEntries * kHandleTraceEntrySize;
inline constexpr size_t kMaxDescribedHandleEntries = 200;

// One line per entry, newest first, of the ring in |ring| (the bytes read
// from the process). With |only_handle| set, entries of other handles are
// left out. Empty when the ring's indices are out of range.
std::vector<std::string> DescribeHandleTraceRing(const std::vector<uint8_t>& ring,
                                                 const uint64_t* only_handle);

// Reads the ring that the "handle_info_items" key points at in |process| and
// logs one INFO line per entry (a crash's CrashLogger collects them).
void DescribeHandleTrace(HANDLE process, const CustomInfo& keys);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_HANDLE_TRACE_DESCRIPTION_H_
