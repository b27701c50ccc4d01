// The reporter's own log: a file in the temporary folder, except for the
// lines logged on a thread that is handling a crash, which a CrashLogger
// collects and appends to that crash's log.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOGGER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOGGER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files/file_path.h"

namespace crash_reporter {

class CrashLogger {
 public:
  // Becomes the calling thread's logger until it ends; the logger it
  // replaces is restored then.
  CrashLogger();
  CrashLogger(const CrashLogger&) = delete;
  CrashLogger& operator=(const CrashLogger&) = delete;
  ~CrashLogger();

  // The calling thread's logger, or null.
  static CrashLogger* Current();

  void Append(const std::string& text) { text_ += text; }
  const std::string& text() const { return text_; }

  // Appends "Crash Logger:" and the collected lines to the crash log at
  // |path| and empties the collector; true also when nothing was collected.
  bool AppendToCrashLog(const base::FilePath& path);

 private:
  CrashLogger* previous_;
  std::string text_;
};

// The reporter's log file: "<temp>\<product>_crashreporter.log"; empty when
// the temporary folder is unknown or the path too long.
base::FilePath GetReporterLogPath();
// The size past which a reporter starting up begins its log afresh.
inline constexpr int64_t kMaxReporterLogSize = 64 * 1024;
// "<name>.old.log" beside the reporter's log |path|: where its lines go when
// it has grown past its bound.
base::FilePath GetPreviousReporterLogPath(const base::FilePath& path);
// Moves the log |path| to its previous-log name, replacing that, when it
// holds more than |max_size| bytes; true when it was moved.
bool RotateReporterLog(const base::FilePath& path, int64_t max_size);
// Sets up the reporter's logging: its file (or the debugger when there is no
// file), every line item on, INFO and above, and the CrashLogger handler.
void InitReporterLogging();
// Hands a line logged on a thread with a CrashLogger to that logger ("file
// base name:line:text") and keeps it from every other output.
bool ReporterLogMessageHandler(int severity, const char* file, int line, size_t message_start,
                               const std::string& text);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_LOGGER_H_
