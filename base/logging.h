// Logging: LOG(INFO) << ...; VLOG(1); PLOG(ERROR) adds the last Windows error;
// CHECK(cond) stops the process when an invariant that only a programming
// error can break does not hold.
//
// A line is "[<pid>:<tid>:<MMDD/hhmmss.mmm>:<tick>:<SEVERITY>:<file>(<line>)] text\n"
// where the first four items are optional (by default only the time is on).
#ifndef BASE_LOGGING_H_
#define BASE_LOGGING_H_

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

#include "base/files/file_path.h"

namespace logging {

using LogSeverity = int;
constexpr LogSeverity LOG_VERBOSE = -1;
constexpr LogSeverity LOG_INFO = 0;
constexpr LogSeverity LOG_WARNING = 1;
constexpr LogSeverity LOG_ERROR = 2;
constexpr LogSeverity LOG_FATAL = 3;
constexpr LogSeverity LOG_NUM_SEVERITIES = 4;

enum LoggingDestination : uint32_t {
  LOG_NONE = 0,
  LOG_TO_FILE = 1,
  LOG_TO_SYSTEM_DEBUG_LOG = 2,
  // The process's standard error, when it has one.
  LOG_TO_STDERR = 4,
};

enum OldFileDeletionState : uint32_t {
  DELETE_OLD_LOG_FILE = 0,
  APPEND_TO_OLD_LOG_FILE = 1,
};

struct LoggingSettings {
  uint32_t logging_dest = LOG_TO_FILE;
  // Empty: no file; lines logged to the file destination while no file is
  // chosen go to the debugger.
  base::FilePath log_file;
  uint32_t delete_old = APPEND_TO_OLD_LOG_FILE;
};

// Applies |settings|, reads "v" and "vmodule" from the process command line
// (when it exists) and opens the log file. False when the file cannot be
// opened (logging then goes on to the other destinations).
bool InitLogging(const LoggingSettings& settings);
// Closes the log file; later lines go to the debugger destination only.
void CloseLogFile();
// The file that lines go to; empty while no file is open.
base::FilePath GetLogFilePath();

void SetLogItems(bool enable_process_id, bool enable_thread_id, bool enable_timestamp,
                 bool enable_tickcount);

// Receives every line before it is written. |message_start| is the offset of
// the text after the prefix. Returning true keeps the line from every other
// output.
using LogMessageHandlerFunction = bool (*)(int severity, const char* file, int line,
                                           size_t message_start, const std::string& str);
void SetLogMessageHandler(LogMessageHandlerFunction handler);
LogMessageHandlerFunction GetLogMessageHandler();

// The text (without the line's prefix) of the first ERROR or FATAL line of
// this process; empty while there has been none. A process that fails can
// name its first error as the cause.
std::string GetFirstErrorMessage();

void SetMinLogLevel(int level);
int GetMinLogLevel();

// The verbose level in force for |file| (a source path; "vmodule" patterns
// match its base name without extension, or the whole path when the pattern
// holds a separator).
int GetVlogLevel(std::string_view file);
// "v" and "vmodule" as switch values; InitLogging calls it. Exposed for tests.
void SetVlogLevels(std::string_view v_switch, std::string_view vmodule_switch);

// Severity name for a line: "INFO", "WARNING", "ERROR", "FATAL", "VERBOSE<n>".
std::string SeverityName(LogSeverity severity);

inline bool ShouldCreateLogMessage(LogSeverity severity) {
  return severity >= GetMinLogLevel() || severity >= LOG_ERROR;
}

// Called instead of terminating for FATAL lines when set (tests only).
using LogAssertHandler = void (*)(const std::string& line);
void SetLogAssertHandlerForTesting(LogAssertHandler handler);

class LogMessage {
 public:
  LogMessage(const char* file, int line, LogSeverity severity);
  // For CHECK failures: "Check failed: <condition>. " starts the text.
  LogMessage(const char* file, int line, const char* condition);
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;
  ~LogMessage();

  std::ostream& stream() { return stream_; }
  LogSeverity severity() const { return severity_; }

 protected:
  void Init(const char* file, int line);

  LogSeverity severity_;
  std::ostringstream stream_;
  size_t message_start_ = 0;
  const char* file_;
  int line_;
  // The Windows error code at construction, kept for SystemErrorLogMessage.
  unsigned long last_error_;
};

// LogMessage followed by ": " and the text of a Windows error code.
class SystemErrorLogMessage {
 public:
  SystemErrorLogMessage(const char* file, int line, LogSeverity severity, unsigned long error);
  ~SystemErrorLogMessage();
  std::ostream& stream() { return log_message_.stream(); }

 private:
  unsigned long error_;
  LogMessage log_message_;
};

// The text of a Windows error code ("<message> (0x<code>)").
std::string SystemErrorCodeToString(unsigned long error);

// Swallows a stream expression in the conditional macros.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

// Stops the process at once (after the FATAL line is written).
[[noreturn]] void FatalTrap();

}  // namespace logging

#define VELMO_LOG_SEVERITY_INFO ::logging::LOG_INFO
#define VELMO_LOG_SEVERITY_WARNING ::logging::LOG_WARNING
#define VELMO_LOG_SEVERITY_ERROR ::logging::LOG_ERROR
#define VELMO_LOG_SEVERITY_FATAL ::logging::LOG_FATAL
// <windows.h> defines ERROR as 0, which reaches the nested macros expanded.
#define VELMO_LOG_SEVERITY_0 ::logging::LOG_ERROR

#define LOG_IS_ON(severity) (::logging::ShouldCreateLogMessage(VELMO_LOG_SEVERITY_##severity))
#define VLOG_IS_ON(level) ((level) <= ::logging::GetVlogLevel(__FILE__))

#define LAZY_STREAM(stream, condition) \
  !(condition) ? (void)0 : ::logging::LogMessageVoidify() & (stream)

#define LOG(severity)                                                                            \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, VELMO_LOG_SEVERITY_##severity).stream(), \
              LOG_IS_ON(severity))
#define LOG_IF(severity, condition)                                                              \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, VELMO_LOG_SEVERITY_##severity).stream(), \
              LOG_IS_ON(severity) && (condition))
#define VLOG(level) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, -(level)).stream(), VLOG_IS_ON(level))

// Like LOG, followed by ": " and the text of GetLastError() at the statement.
#define PLOG(severity)                                                                            \
  LAZY_STREAM(::logging::SystemErrorLogMessage(__FILE__, __LINE__, VELMO_LOG_SEVERITY_##severity, \
                                               ::logging::internal::LastError())                  \
                  .stream(),                                                                      \
              LOG_IS_ON(severity))
// The same with an explicit error code (an HRESULT or a Win32 error).
#define ELOG(severity, error)                                                                      \
  LAZY_STREAM(                                                                                     \
      ::logging::SystemErrorLogMessage(__FILE__, __LINE__, VELMO_LOG_SEVERITY_##severity, (error)) \
          .stream(),                                                                               \
      LOG_IS_ON(severity))

#define CHECK(condition) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, #condition).stream(), !(condition))
#define CHECK_EQ(a, b) CHECK((a) == (b))
#define CHECK_NE(a, b) CHECK((a) != (b))
#define CHECK_LT(a, b) CHECK((a) < (b))
#define CHECK_LE(a, b) CHECK((a) <= (b))
#define CHECK_GT(a, b) CHECK((a) > (b))
#define CHECK_GE(a, b) CHECK((a) >= (b))

#ifdef NDEBUG
#define DCHECK_IS_ON() 0
#define DCHECK(condition) \
  LAZY_STREAM(::logging::LogMessage(__FILE__, __LINE__, #condition).stream(), false && !(condition))
#else
#define DCHECK_IS_ON() 1
#define DCHECK(condition) CHECK(condition)
#endif
#define DCHECK_EQ(a, b) DCHECK((a) == (b))
#define DCHECK_NE(a, b) DCHECK((a) != (b))
#define DCHECK_LT(a, b) DCHECK((a) < (b))
#define DCHECK_LE(a, b) DCHECK((a) <= (b))
#define DCHECK_GT(a, b) DCHECK((a) > (b))
#define DCHECK_GE(a, b) DCHECK((a) >= (b))

#define NOTREACHED() LOG(ERROR) << "NOTREACHED() hit. "

namespace logging::internal {
unsigned long LastError();
}  // namespace logging::internal

// Wide text in log statements is written as UTF-8.
namespace std {
std::ostream& operator<<(std::ostream& out, const wchar_t* wide);
std::ostream& operator<<(std::ostream& out, const std::wstring& wide);
std::ostream& operator<<(std::ostream& out, std::wstring_view wide);
}  // namespace std

#endif  // BASE_LOGGING_H_
