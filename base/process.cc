#include "base/process.h"

#include <string_view>

#include "base/command_line.h"
#include "base/logging.h"

namespace base {

namespace {

// Tries of a process start that failed with "Internal error", after the
// first, and the pause before the first of them (doubled for the next).
constexpr int kInternalErrorRetries = 2;
constexpr DWORD kInternalErrorPauseMs = 100;

// How long Terminate(wait = true) waits for the end.
constexpr DWORD kTerminateWaitMs = 60 * 1000;

// Each ReadFile of the output pipe.
constexpr DWORD kReadChunk = 4096;

}  // namespace

Process::Process(HANDLE handle) : handle_(handle) {}

Process::Process(Process&& other)
    : handle_(std::move(other.handle_)), is_current_(other.is_current_) {
  other.is_current_ = false;
}

Process& Process::operator=(Process&& other) {
  if (this != &other) {
    handle_ = std::move(other.handle_);
    is_current_ = other.is_current_;
    other.is_current_ = false;
  }
  return *this;
}

Process::~Process() = default;

// static
Process Process::Current() {
  Process process;
  process.is_current_ = true;
  return process;
}

// static
Process Process::Open(ProcessId pid) {
  HANDLE handle =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
  if (!handle) {
    PLOG(ERROR) << "OpenProcess failed for process " << pid;
    return Process();
  }
  return Process(handle);
}

HANDLE Process::Handle() const { return is_current_ ? GetCurrentProcess() : handle_.Get(); }

ProcessId Process::Pid() const {
  if (is_current_)
    return GetCurrentProcessId();
  if (!handle_.IsValid())
    return 0;
  ProcessId pid = GetProcessId(handle_.Get());
  if (pid == 0)
    PLOG(ERROR) << "GetProcessId failed";
  return pid;
}

bool Process::WaitForExit(int* exit_code) const {
  return WaitForExitWithTimeout(INFINITE, exit_code);
}

bool Process::WaitForExitWithTimeout(DWORD timeout_ms, int* exit_code) const {
  if (!IsValid()) {
    LOG(ERROR) << "Waiting for an invalid process";
    return false;
  }
  DWORD result;
  {
    ScopedProcessWaitActivity activity(this, Handle());
    result = WaitForSingleObject(Handle(), timeout_ms);
  }
  if (result == WAIT_TIMEOUT)
    return false;
  if (result != WAIT_OBJECT_0) {
    PLOG(ERROR) << "WaitForSingleObject failed for process " << Pid();
    return false;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(Handle(), &code)) {
    PLOG(ERROR) << "GetExitCodeProcess failed for process " << Pid();
    return false;
  }
  if (exit_code)
    *exit_code = static_cast<int>(code);
  return true;
}

bool Process::Terminate(int exit_code, bool wait) const {
  if (!IsValid()) {
    LOG(ERROR) << "Terminating an invalid process";
    return false;
  }
  if (!TerminateProcess(Handle(), static_cast<UINT>(exit_code))) {
    DWORD error = GetLastError();
    // A process that has already ended refuses termination.
    if (WaitForSingleObject(Handle(), 0) == WAIT_OBJECT_0)
      return true;
    ELOG(ERROR, error) << "TerminateProcess failed for process " << Pid();
    return false;
  }
  if (!wait)
    return true;
  DWORD result;
  {
    ScopedProcessWaitActivity activity(this, Handle());
    result = WaitForSingleObject(Handle(), kTerminateWaitMs);
  }
  if (result != WAIT_OBJECT_0) {
    PLOG(ERROR) << "Process " << Pid() << " did not end after TerminateProcess";
    return false;
  }
  return true;
}

void Process::Close() {
  handle_.Reset();
  is_current_ = false;
}

Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options) {
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  startup_info.dwFlags = STARTF_USESHOWWINDOW;
  startup_info.wShowWindow = static_cast<WORD>(options.start_hidden ? SW_HIDE : SW_SHOW);

  if (options.stdin_handle || options.stdout_handle || options.stderr_handle) {
    if (!options.inherit_handles) {
      LOG(ERROR) << "Standard handles for a child need inherit_handles";
      return Process();
    }
    startup_info.dwFlags |= STARTF_USESTDHANDLES;
    startup_info.hStdInput =
        options.stdin_handle ? options.stdin_handle : GetStdHandle(STD_INPUT_HANDLE);
    startup_info.hStdOutput =
        options.stdout_handle ? options.stdout_handle : GetStdHandle(STD_OUTPUT_HANDLE);
    startup_info.hStdError =
        options.stderr_handle ? options.stderr_handle : GetStdHandle(STD_ERROR_HANDLE);
  }

  const std::wstring text = command_line.GetCommandLineString();
  const wchar_t* directory =
      options.current_directory.empty() ? nullptr : options.current_directory.c_str();
  PROCESS_INFORMATION info = {};
  if (!CreateProcessRetryingInternalErrors(text, options.inherit_handles, directory, &startup_info,
                                           &info)) {
    PLOG(ERROR) << "CreateProcessW failed for " << text;
    return Process();
  }
  win::ScopedHandle thread(info.hThread);
  Process process(info.hProcess);

  if (options.wait) {
    ScopedProcessWaitActivity activity(&process, process.Handle());
    if (WaitForSingleObject(process.Handle(), INFINITE) != WAIT_OBJECT_0)
      PLOG(ERROR) << "Waiting for process " << info.dwProcessId << " failed";
  }
  return process;
}

bool CreateProcessRetryingInternalErrors(const std::wstring& command_line, bool inherit_handles,
                                         const wchar_t* directory, STARTUPINFOW* startup_info,
                                         PROCESS_INFORMATION* info) {
  // "Internal error" says nothing about the command line: Wine gives it
  // now and then when the machine is short of resources for a moment, and
  // no process was made. It is tried again a little later, twice at most.
  for (int attempt = 0;; ++attempt) {
    // CreateProcessW may write into the command line: a fresh copy each time.
    std::wstring writable = command_line;
    if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, inherit_handles ? TRUE : FALSE,
                       0, nullptr, directory, startup_info, info)) {
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == kInternalErrorRetries)
      return false;
    PLOG(WARNING) << "CreateProcessW failed for " << command_line << "; trying again";
    Sleep(kInternalErrorPauseMs * (attempt + 1));
    SetLastError(error);
  }
}

Process LaunchWithOutputPipe(const CommandLine& command_line, win::ScopedHandle* read_end) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!CreatePipe(&read_handle, &write_handle, &attributes, 0)) {
    PLOG(ERROR) << "CreatePipe failed";
    return Process();
  }
  win::ScopedHandle read_pipe(read_handle);
  win::ScopedHandle write_pipe(write_handle);
  // Only the child's end is inherited; our read end stays ours.
  if (!SetHandleInformation(read_pipe.Get(), HANDLE_FLAG_INHERIT, 0)) {
    PLOG(ERROR) << "SetHandleInformation failed";
    return Process();
  }

  LaunchOptions options;
  options.start_hidden = true;
  options.inherit_handles = true;
  options.stdout_handle = write_pipe.Get();
  Process process = LaunchProcess(command_line, options);
  if (process.IsValid())
    *read_end = std::move(read_pipe);
  return process;
}

bool RunAndCaptureOutputWithExitCode(const CommandLine& command_line, std::string* output,
                                     int* exit_code) {
  output->clear();
  win::ScopedHandle read_end;
  Process process = LaunchWithOutputPipe(command_line, &read_end);
  if (!process.IsValid())
    return false;

  // Read while the child runs, so a child writing more than the pipe holds
  // does not block forever.
  char buffer[kReadChunk];
  bool read_ok = true;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(read_end.Get(), buffer, sizeof(buffer), &read, nullptr)) {
      if (GetLastError() != ERROR_BROKEN_PIPE) {
        PLOG(ERROR) << "Reading the output of process " << process.Pid() << " failed";
        read_ok = false;
      }
      break;
    }
    if (read == 0)
      break;
    output->append(buffer, read);
  }

  int code = 0;
  if (!process.WaitForExit(&code))
    return false;
  if (exit_code)
    *exit_code = code;
  return read_ok;
}

bool RunAndCaptureOutput(const CommandLine& command_line, std::string* output) {
  return RunAndCaptureOutputWithExitCode(command_line, output, nullptr);
}

ProcessId GetCurrentProcId() { return GetCurrentProcessId(); }

bool WaitForProcessAnsweringSentMessages(HANDLE process, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    DWORD remaining = INFINITE;
    if (timeout_ms != INFINITE)
      remaining = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &process, remaining, QS_SENDMESSAGE, 0);
    if (result == WAIT_OBJECT_0)
      return true;
    if (result != WAIT_OBJECT_0 + 1)
      return false;
    // Peeking delivers the sent messages; nothing is taken from the queue.
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace base
