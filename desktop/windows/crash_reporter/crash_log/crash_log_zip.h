// Packs a crash log for upload: a zip archive whose single entry
// "crashlog.txt" holds the log byte for byte.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_ZIP_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_ZIP_H_

#include "base/files/file_path.h"

namespace crash_reporter {

inline constexpr char kCrashLogZipEntryName[] = "crashlog.txt";

// True only when the log is not empty, every byte reached the archive and
// the archive was closed without error; otherwise the zip file is deleted.
bool ZipCrashLog(const base::FilePath& text_path, const base::FilePath& zip_path);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOG_ZIP_H_
