// The crash log of a crashed reporter: the header and the reporter's own
// metadata, then the raw bytes of a minidump.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SELF_REPORT_LOG_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SELF_REPORT_LOG_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace crash_reporter {

// |stream| is opened in binary mode: the line ends are written as CR LF.
// False when any write fails.
bool WriteSelfReportLog(FILE* stream, const std::wstring& image_name, uint32_t exception_code,
                        uint64_t exception_address, const uint8_t* minidump, size_t size);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_SELF_REPORT_LOG_H_
