// The installer's end of the crash pipe. The pipe is used once, to register:
// the client tells the reporter where in its memory the crash details will
// lie and receives three handles. When the process crashes, the crashing
// thread writes the details there, signals the reporter and waits for it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_

#include <windows.h>

#include <stdint.h>

#include <atomic>
#include <string>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/test_crash_trigger.h"

namespace crash_reporter {

// How long a crashing thread waits for the reporter to handle its crash.
// The reporter reads the crash out of the waiting process, so a process that
// stops waiting first loses its report: on a loaded machine the reporter's
// crash log and minidump take well over the 15 s this once was. A reporter
// that is gone ends the wait at once (its mutex).
inline constexpr DWORD kDumpRequestTimeoutMs = 60000;
// How long a connection waits for a busy pipe.
inline constexpr DWORD kPipeBusyWaitMs = 2000;
// How long a client that knows its reporter's process tries to register
// while that process lives: under load the reporter's pipe may be busy with
// other clients for several of their steps, or the reporter may drop a
// client that was too slow for one of its own.
inline constexpr DWORD kRegistrationPatienceMs = 30000;

class CrashPipeClient {
 public:
  // No I/O: Register() connects. The custom info must stay valid (and at the
  // same address) for the life of the process.
  CrashPipeClient(std::wstring pipe_name, uint32_t dump_type, CustomInfo custom_info);
  // Registers over an already connected pipe, which the client then owns.
  CrashPipeClient(HANDLE pipe, uint32_t dump_type, CustomInfo custom_info);
  ~CrashPipeClient();

  CrashPipeClient(const CrashPipeClient&) = delete;
  CrashPipeClient& operator=(const CrashPipeClient&) = delete;

  // The reporter's process (SYNCHRONIZE), which the client then owns. With
  // it, a registration that a serving reporter did not take (its pipe stayed
  // busy, or it dropped the connection) is tried again while that process
  // lives, for up to kRegistrationPatienceMs; without it, once.
  void set_server_process(HANDLE process) { server_process_.Reset(process); }

  // True at once when already registered; otherwise connects, registers and
  // closes the pipe again. A crash on another thread meanwhile waits in
  // RequestDump until the registration has ended.
  bool Register();
  bool IsRegistered() const { return dump_request_event_.IsValid(); }
  DWORD server_pid() const { return server_pid_; }

  // Called on the crashing thread: stores the crash details, signals the
  // reporter and waits until it is done. False when not registered, when the
  // reporter died (its mutex is abandoned) or took too long. A registration
  // running on another thread is waited for first. Takes no lock and
  // allocates nothing, since the crashed thread may hold any of them.
  bool RequestDump(EXCEPTION_POINTERS* exception_pointers, const AssertionInfo* assertion);

  // Called after each wait for a busy pipe, with whether the wait said the
  // pipe was free, before the connection is tried again; null for none.
  using PipeBusyObserver = void (*)(bool wait_succeeded);
  static void SetPipeBusyObserverForTesting(PipeBusyObserver observer);

  // A test whose reporter writes a real dump on a loaded machine (several
  // seconds under the emulator) waits longer than a crashing installer may.
  void set_dump_request_timeout_for_testing(DWORD timeout_ms) {
    dump_request_timeout_ms_ = timeout_ms;
  }

 private:
  // |busy|: the pipe was there but did not take this connection.
  base::win::ScopedHandle ConnectToPipe(bool* busy);
  // |worth_another_attempt|: the failure came from a reporter that serves,
  // which may take a next attempt.
  bool RegisterOnce(bool* worth_another_attempt);
  bool RegisterOverPipe(HANDLE pipe);
  bool ServerProcessLives() const;

  std::wstring pipe_name_;
  base::win::ScopedHandle given_pipe_;
  uint32_t dump_type_;
  CustomInfo custom_info_;

  base::win::ScopedHandle dump_request_event_;
  base::win::ScopedHandle dump_generated_event_;
  base::win::ScopedHandle server_alive_mutex_;
  DWORD server_pid_ = 0;
  DWORD dump_request_timeout_ms_ = TestDumpRequestTimeout(kDumpRequestTimeoutMs);
  base::win::ScopedHandle server_process_;
  // The thread running Register(), 0 when none does.
  std::atomic<DWORD> registering_thread_{0};

  // The crash area that the reporter reads out of this process.
  DWORD crashing_thread_id_ = 0;
  EXCEPTION_POINTERS* exception_pointers_ = nullptr;
  AssertionInfo assertion_info_ = {};
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_CLIENT_H_
