#include "base/logging.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/command_line.h"
#include "base/pattern.h"
#include "base/scoped_generic.h"
#include "base/threading/lock.h"
#include "base/utf_string_conversions.h"

namespace logging {
namespace {

// The log file is not tracked by the handle verifier: the verifier itself logs
// when it finds a fault, and must not find the logger's own handle in the
// middle of doing so.
struct LogFileTraits {
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE& handle) { ::CloseHandle(handle); }
};
using LogFileHandle = base::ScopedGeneric<HANDLE, LogFileTraits>;

// The mutex that the processes writing one log file take around each line,
// kept out of the verifier for the same reason.
struct LogMutexTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE& handle) { ::CloseHandle(handle); }
};
using LogMutexHandle = base::ScopedGeneric<HANDLE, LogMutexTraits>;

// Longest wait for another process's line; past it the line is written
// anyway rather than lost.
constexpr DWORD kLogMutexWaitMs = 2000;

struct VmodulePattern {
  std::string pattern;
  int level;
  // Patterns with a separator match the whole path, others the base name
  // without extension.
  bool match_full_path;
};

struct LoggingState {
  base::Lock lock;  // Guards everything below and serialises file writes.
  uint32_t destination = LOG_TO_FILE;
  base::FilePath log_file_path;
  LogFileHandle log_file;
  // Several processes of a run may append to one file (a back end started
  // in the same second as its front end). Under Wine an append is a seek to
  // the end and a write, so two lines written at once can land on the same
  // place and one overwrites the other: every line is written under this
  // named mutex of the file.
  LogMutexHandle writers_mutex;
  bool file_open_failed = false;
  int vlog_level = 0;
  std::vector<VmodulePattern> vmodule;
  // The text of the first ERROR or FATAL line.
  std::string first_error;
};

// Never destroyed: log statements may run during process exit.
LoggingState& State() {
  static LoggingState* state = new LoggingState;
  return *state;
}

std::atomic<int> g_min_log_level{LOG_INFO};
std::atomic<LogMessageHandlerFunction> g_message_handler{nullptr};
std::atomic<LogAssertHandler> g_assert_handler{nullptr};
std::atomic<bool> g_log_process_id{false};
std::atomic<bool> g_log_thread_id{false};
std::atomic<bool> g_log_timestamp{true};
std::atomic<bool> g_log_tickcount{false};
// Set once "v" or "vmodule" gave anything but the default, so VLOG(n) of a
// quiet program stays a load and a compare.
std::atomic<bool> g_vlog_configured{false};

// Opens the log file if it is not open yet. Caller holds the lock.
bool EnsureLogFileOpenLocked(LoggingState& state) {
  if (state.log_file.IsValid())
    return true;
  if (state.file_open_failed || state.log_file_path.empty())
    return false;
  HANDLE file = ::CreateFileW(state.log_file_path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Reported once on the debugger destination; logging goes on elsewhere.
    state.file_open_failed = true;
    ::OutputDebugStringA("Could not open the log file\n");
    return false;
  }
  state.log_file.Reset(file);
  std::wstring name = L"Local\\LogFileWriters/" + state.log_file_path.value();
  for (size_t i = 6; i < name.size(); ++i) {
    if (name[i] == L'\\')
      name[i] = L'/';
    else if (name[i] >= L'A' && name[i] <= L'Z')
      name[i] = static_cast<wchar_t>(name[i] - L'A' + L'a');
  }
  if (name.size() >= MAX_PATH)
    name.resize(MAX_PATH - 1);
  // Without it lines are still written, as before there was one.
  state.writers_mutex.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
  return true;
}

void WriteToFileLocked(LoggingState& state, const std::string& line) {
  if (state.log_file_path.empty()) {
    // No file chosen yet: nothing is written beside the program (it may sit
    // in a shared temporary folder, where every run would add to one file);
    // the line goes to the debugger.
    ::OutputDebugStringA(line.c_str());
    return;
  }
  if (!EnsureLogFileOpenLocked(state))
    return;
  bool held = false;
  if (state.writers_mutex.IsValid()) {
    const DWORD wait = ::WaitForSingleObject(state.writers_mutex.Get(), kLogMutexWaitMs);
    held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  DWORD written = 0;
  ::WriteFile(state.log_file.Get(), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
  if (held)
    ::ReleaseMutex(state.writers_mutex.Get());
}

void WriteToStderr(const std::string& line) {
  const HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
  if (!error_output || error_output == INVALID_HANDLE_VALUE)
    return;
  DWORD written = 0;
  ::WriteFile(error_output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string BaseNameOf(const char* file) {
  const char* base = file;
  for (const char* p = file; *p; ++p) {
    if (*p == '\\' || *p == '/')
      base = p + 1;
  }
  return base;
}

void ParseVmodule(std::string_view text, std::vector<VmodulePattern>* out) {
  // "pattern=level,pattern=level"; malformed pieces are skipped.
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view piece = text.substr(start, end - start);
    size_t equals = piece.rfind('=');
    if (equals != std::string_view::npos && equals > 0) {
      std::string_view level_text = piece.substr(equals + 1);
      int level = 0;
      bool ok = !level_text.empty() && level_text.size() < 6;
      for (char c : level_text) {
        if (c < '0' || c > '9') {
          ok = false;
          break;
        }
        level = level * 10 + (c - '0');
      }
      if (ok) {
        std::string pattern(piece.substr(0, equals));
        bool full = pattern.find_first_of("\\/") != std::string::npos;
        out->push_back({std::move(pattern), level, full});
      }
    }
    start = end + 1;
  }
}

}  // namespace

namespace internal {
unsigned long LastError() { return ::GetLastError(); }
}  // namespace internal

bool InitLogging(const LoggingSettings& settings) {
  LoggingState& state = State();
  {
    base::AutoLock lock(state.lock);
    state.destination = settings.logging_dest;
    state.log_file.Reset();
    state.writers_mutex.Reset();
    state.file_open_failed = false;
    state.log_file_path = settings.log_file;
  }

  if (base::CommandLine::IsInitializedForCurrentProcess()) {
    const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
    if (command_line->HasSwitch("v") || command_line->HasSwitch("vmodule")) {
      SetVlogLevels(command_line->GetSwitchValueASCII("v"),
                    command_line->GetSwitchValueASCII("vmodule"));
    }
  }

  if (!(settings.logging_dest & LOG_TO_FILE))
    return true;

  base::AutoLock lock(state.lock);
  if (settings.delete_old == DELETE_OLD_LOG_FILE)
    ::DeleteFileW(state.log_file_path.c_str());
  return EnsureLogFileOpenLocked(state);
}

void CloseLogFile() {
  LoggingState& state = State();
  base::AutoLock lock(state.lock);
  state.log_file.Reset();
  state.writers_mutex.Reset();
  state.destination &= ~static_cast<uint32_t>(LOG_TO_FILE);
}

base::FilePath GetLogFilePath() {
  LoggingState& state = State();
  base::AutoLock lock(state.lock);
  if (!(state.destination & LOG_TO_FILE) || !state.log_file.IsValid())
    return base::FilePath();
  return state.log_file_path;
}

void SetLogItems(bool enable_process_id, bool enable_thread_id, bool enable_timestamp,
                 bool enable_tickcount) {
  g_log_process_id = enable_process_id;
  g_log_thread_id = enable_thread_id;
  g_log_timestamp = enable_timestamp;
  g_log_tickcount = enable_tickcount;
}

void SetLogMessageHandler(LogMessageHandlerFunction handler) { g_message_handler = handler; }

std::string GetFirstErrorMessage() {
  LoggingState& state = State();
  base::AutoLock lock(state.lock);
  return state.first_error;
}

LogMessageHandlerFunction GetLogMessageHandler() { return g_message_handler; }

void SetMinLogLevel(int level) { g_min_log_level = level < LOG_FATAL ? level : LOG_FATAL; }

int GetMinLogLevel() { return g_min_log_level; }

void SetVlogLevels(std::string_view v_switch, std::string_view vmodule_switch) {
  std::vector<VmodulePattern> patterns;
  ParseVmodule(vmodule_switch, &patterns);
  int level = 0;
  bool valid = !v_switch.empty() && v_switch.size() < 6;
  for (char c : v_switch) {
    if (c < '0' || c > '9') {
      valid = false;
      break;
    }
    level = level * 10 + (c - '0');
  }
  LoggingState& state = State();
  base::AutoLock lock(state.lock);
  state.vlog_level = valid ? level : 0;
  state.vmodule = std::move(patterns);
  g_vlog_configured = state.vlog_level != 0 || !state.vmodule.empty();
}

int GetVlogLevel(std::string_view file) {
  if (!g_vlog_configured.load(std::memory_order_relaxed))
    return 0;
  LoggingState& state = State();
  std::string path(file);
  std::string module = BaseNameOf(path.c_str());
  size_t dot = module.find('.');
  if (dot != std::string::npos)
    module.resize(dot);
  base::AutoLock lock(state.lock);
  for (const VmodulePattern& pattern : state.vmodule) {
    if (base::MatchPattern(pattern.match_full_path ? path : module, pattern.pattern))
      return pattern.level;
  }
  return state.vlog_level;
}

std::string SeverityName(LogSeverity severity) {
  static const char* const kNames[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  if (severity < 0)
    return "VERBOSE" + std::to_string(-severity);
  if (severity < LOG_NUM_SEVERITIES)
    return kNames[severity];
  return "UNKNOWN";
}

void SetLogAssertHandlerForTesting(LogAssertHandler handler) { g_assert_handler = handler; }

[[noreturn]] void FatalTrap() { __builtin_trap(); }

LogMessage::LogMessage(const char* file, int line, LogSeverity severity)
    : severity_(severity), file_(file), line_(line), last_error_(::GetLastError()) {
  Init(file, line);
}

LogMessage::LogMessage(const char* file, int line, const char* condition)
    : severity_(LOG_FATAL), file_(file), line_(line), last_error_(::GetLastError()) {
  Init(file, line);
  stream_ << "Check failed: " << condition << ". ";
}

void LogMessage::Init(const char* file, int line) {
  stream_ << '[';
  if (g_log_process_id)
    stream_ << ::GetCurrentProcessId() << ':';
  if (g_log_thread_id)
    stream_ << ::GetCurrentThreadId() << ':';
  if (g_log_timestamp) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char buffer[32];
    snprintf(buffer, sizeof(buffer), "%02u%02u/%02u%02u%02u.%03u:", now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, now.wMilliseconds);
    stream_ << buffer;
  }
  if (g_log_tickcount)
    stream_ << ::GetTickCount() << ':';
  stream_ << SeverityName(severity_) << ':' << BaseNameOf(file) << '(' << line << ")] ";
  message_start_ = static_cast<size_t>(stream_.tellp());
}

LogMessage::~LogMessage() {
  stream_ << '\n';
  std::string line = stream_.str();

  LogMessageHandlerFunction handler = g_message_handler;
  bool handled = handler && handler(severity_, file_, line_, message_start_, line);
  LoggingState& state = State();
  if (severity_ >= LOG_ERROR) {
    base::AutoLock lock(state.lock);
    if (state.first_error.empty())
      state.first_error = line.substr(message_start_, line.size() - message_start_ - 1);
  }
  if (!handled) {
    base::AutoLock lock(state.lock);
    if (state.destination & LOG_TO_SYSTEM_DEBUG_LOG)
      ::OutputDebugStringA(line.c_str());
    if (state.destination & LOG_TO_FILE)
      WriteToFileLocked(state, line);
    if (state.destination & LOG_TO_STDERR)
      WriteToStderr(line);
  }

  if (severity_ == LOG_FATAL) {
    if (LogAssertHandler assert_handler = g_assert_handler) {
      assert_handler(line);
    } else {
      // Keep the message where a crash dump of this frame sees it.
      char message[512];
      size_t length = line.size() < sizeof(message) - 1 ? line.size() : sizeof(message) - 1;
      memcpy(message, line.data(), length);
      message[length] = '\0';
      asm volatile("" : : "r"(message) : "memory");
      FatalTrap();
    }
  }
  ::SetLastError(last_error_);
}

std::string SystemErrorCodeToString(unsigned long error) {
  wchar_t buffer[512];
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, 512, nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                        buffer[length - 1] == L' ' || buffer[length - 1] == L'.')) {
    --length;
  }
  char code[24];
  snprintf(code, sizeof(code), " (0x%lX)", error);
  if (length == 0)
    return std::string("Error") + code;
  return base::WideToUTF8(std::wstring_view(buffer, length)) + code;
}

SystemErrorLogMessage::SystemErrorLogMessage(const char* file, int line, LogSeverity severity,
                                             unsigned long error)
    : error_(error), log_message_(file, line, severity) {}

SystemErrorLogMessage::~SystemErrorLogMessage() {
  stream() << ": " << SystemErrorCodeToString(error_);
}

}  // namespace logging

namespace std {
std::ostream& operator<<(std::ostream& out, const wchar_t* wide) {
  return out << base::WideToUTF8(wide ? std::wstring_view(wide) : std::wstring_view());
}
std::ostream& operator<<(std::ostream& out, const std::wstring& wide) {
  return out << base::WideToUTF8(wide);
}
std::ostream& operator<<(std::ostream& out, std::wstring_view wide) {
  return out << base::WideToUTF8(wide);
}
}  // namespace std
