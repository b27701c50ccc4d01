// Starting processes, waiting for them and collecting their output.
#ifndef BASE_PROCESS_H_
#define BASE_PROCESS_H_

#include <windows.h>

#include <string>

#include "base/activity_tracker.h"
#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace base {

class CommandLine;

using ProcessId = DWORD;

// A process handle. Closed by Close() and on destruction. The current process
// is represented by its pseudo handle, which is never closed.
class Process {
 public:
  Process() = default;
  // Takes ownership of |handle|.
  explicit Process(HANDLE handle);
  Process(Process&& other);
  Process& operator=(Process&& other);
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  static Process Current();
  // Opens process |pid| for waiting, reading its exit code and terminating
  // it; invalid when it cannot be opened.
  static Process Open(ProcessId pid);

  bool IsValid() const { return is_current_ || handle_.IsValid(); }
  HANDLE Handle() const;
  // 0 for an invalid process.
  ProcessId Pid() const;

  // Waits without limit for the process to end. False on failure.
  bool WaitForExit(int* exit_code) const;
  // False when the process is still running after |timeout_ms| or the wait
  // fails. |exit_code| may be null. A process still running is an answer,
  // not a failure, and is not logged: callers poll with short waits, and
  // the one that gives up says why.
  bool WaitForExitWithTimeout(DWORD timeout_ms, int* exit_code) const;
  // Ends the process with |exit_code|; with |wait| also waits (up to a minute)
  // until it has ended. A process that has already ended counts as success.
  bool Terminate(int exit_code, bool wait) const;
  void Close();

 private:
  win::ScopedHandle handle_;
  bool is_current_ = false;
};

struct LaunchOptions {
  // Returns only when the process has ended.
  bool wait = false;
  // SW_HIDE when set, else SW_SHOW.
  bool start_hidden = false;
  // The child inherits every inheritable handle of this process.
  bool inherit_handles = false;
  // The child's working folder; empty: this process's.
  FilePath current_directory;
  // Standard handles for the child. When any is set, the child receives all
  // three (the unset ones are this process's own) and |inherit_handles| must
  // be set, with the given handles inheritable.
  HANDLE stdin_handle = nullptr;
  HANDLE stdout_handle = nullptr;
  HANDLE stderr_handle = nullptr;
};

// CreateProcessW of |command_line| (no application name, no creation flags),
// tried again twice, a little later each time, when the system answers
// "Internal error" (Wine does now and then under load, and makes no
// process). False with the system's error set when no process was made;
// only the retries are logged. The caller owns |info|'s handles.
bool CreateProcessRetryingInternalErrors(const std::wstring& command_line, bool inherit_handles,
                                         const wchar_t* directory, STARTUPINFOW* startup_info,
                                         PROCESS_INFORMATION* info);

// Starts |command_line|. The returned process is invalid when the start
// failed (the cause is logged).
Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options);

// Starts |command_line| hidden with its standard output on a pipe whose
// read end (not inherited) goes to |read_end|; this process keeps no copy of
// the write end, so reading ends once the child has closed it. The returned
// process is invalid when the start failed (logged).
Process LaunchWithOutputPipe(const CommandLine& command_line, win::ScopedHandle* read_end);

// Starts |command_line| hidden with its standard output on a pipe, collects
// everything it writes until it ends and waits for it. False when the start
// (or the wait) fails; the exit code is not judged.
bool RunAndCaptureOutput(const CommandLine& command_line, std::string* output);
// The same, also giving the exit code.
bool RunAndCaptureOutputWithExitCode(const CommandLine& command_line, std::string* output,
                                     int* exit_code);

ProcessId GetCurrentProcId();

// Waits up to |timeout_ms| (INFINITE: without limit) for |process| to end,
// answering meanwhile the messages that other threads send to this thread's
// windows: a process that broadcasts to every top-level window (this
// thread's COM window too) waits for those sends before it ends, so a thread
// that only waited would hold up the very end it waits for. False when the
// time ran out or the wait failed; neither is logged.
bool WaitForProcessAnsweringSentMessages(HANDLE process, DWORD timeout_ms);

// Records a wait for a process in the activity tracker. The process id is
// looked up only when a tracker exists; a null |process| stands for this
// process.
class ScopedProcessWaitActivity : public ScopedActivity {
 public:
  ScopedProcessWaitActivity(const void* origin, HANDLE process) {
    if (!TrackerExists()) [[likely]]
      return;
    Enter(origin, kActivityProcessWait, GetProcessId(process ? process : GetCurrentProcess()), 0,
          /*create_tracker=*/true);
  }
};

}  // namespace base

#endif  // BASE_PROCESS_H_
