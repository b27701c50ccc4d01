// The reporter's end of the crash pipe. One pipe instance serves one
// registration at a time through a small state machine that a thread-pool
// wait on the pipe's event drives, and a client that takes too long over a
// step is dropped; each registered client then gets waits of its own on its
// dump-request event and on its process.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "base/threading/lock.h"
#include "base/threading/scoped_wait_handle.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_client_record.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

enum CrashPipeServerState {
  kServerStateUninitialized = 0,
  kServerStateError = 1,
  kServerStateInitial = 2,
  kServerStateConnecting = 3,
  kServerStateConnected = 4,
  kServerStateReading = 5,
  kServerStateReadDone = 6,
  kServerStateWriting = 7,
  kServerStateWriteDone = 8,
  kServerStateReadingAck = 9,
  kServerStateDisconnecting = 10,
};

class CrashPipeServer {
 public:
  // Callbacks run on thread-pool threads. The connect callback runs while the
  // server's lock is held and must not call back into the server.
  using ConnectCallback = void (*)(void* context, const CrashPipeClientRecord* client);
  // |dump_path| is null when no dump was written. |full_memory_path| names
  // the file of the client's whole memory written beside that dump when the
  // client's dump type asks for it, and is null otherwise. Both files are the
  // callback's to keep, send or delete.
  using DumpCallback = void (*)(void* context, const CrashPipeClientRecord* client,
                                const std::wstring* dump_path,
                                const std::wstring* full_memory_path);
  using ExitCallback = void (*)(void* context, const CrashPipeClientRecord* client);
  using UploadCallback = void (*)(void* context, DWORD pid);

  CrashPipeServer(std::wstring pipe_name, SECURITY_ATTRIBUTES* security_attributes,
                  ConnectCallback connect_callback, void* connect_context,
                  DumpCallback dump_callback, void* dump_context, ExitCallback exit_callback,
                  void* exit_context, UploadCallback upload_callback, void* upload_context,
                  bool generate_dumps, const std::wstring* dump_folder);
  // Stops serving, releases every client still registered (their waits end
  // at once on the released server-alive mutex) and closes everything. Runs
  // on the thread that called Start(), which owns that mutex; elsewhere the
  // clients are released only when that thread ends.
  ~CrashPipeServer();

  CrashPipeServer(const CrashPipeServer&) = delete;
  CrashPipeServer& operator=(const CrashPipeServer&) = delete;

  // Creates the objects and starts listening. False when called twice or
  // when an object cannot be created.
  bool Start();

  CrashPipeServerState state() const { return state_.load(); }
  // Registered clients still in the list.
  size_t ClientCountForTesting();
  // A test that holds the pipe past the time a client waits for it.
  void set_client_step_timeout_for_testing(ULONGLONG timeout_ms) {
    client_step_timeout_ms_ = timeout_ms;
  }
  // Makes every server fail to add the clients it answers, as when the
  // system cannot watch one more client, until called again with false.
  static void SetFailClientAddsForTesting(bool fail);

 private:
  static void CALLBACK OnPipeEvent(void* context, BOOLEAN timed_out);
  // Wakes the dispatcher when the client's current step has run out of time.
  static void CALLBACK OnClientStepTimer(void* context, BOOLEAN timed_out);
  static void CALLBACK OnDumpRequest(void* context, BOOLEAN timed_out);
  static void CALLBACK OnClientExited(void* context, BOOLEAN timed_out);

  void Dispatch();
  bool IsShuttingDown();
  // Deals with a wake of the step timer: false when nothing is to
  // run (the operation is still pending and has time left).
  bool TakeTimerWake();
  // Ends the connection of a client that has not done its part in time.
  void DropSlowClient();
  void HandleErrorState();
  void HandleInitialState();
  void HandleConnectingState();
  void HandleConnectedState();
  void HandleReadingState();
  void HandleReadDoneState();
  void HandleWritingState();
  void HandleWriteDoneState();
  void HandleReadingAckState();
  void HandleDisconnectingState();

  // Sets the state and runs it next.
  void GoTo(CrashPipeServerState state);
  // Sets the state that the completion of the pending operation runs.
  void WaitFor(CrashPipeServerState state);
  // WaitFor, or GoTo when the pending operation has already completed.
  void ContinueWhenDone(CrashPipeServerState state);
  void EnterErrorState();

  // Whether the request may be answered: a registration with every address
  // set, sent by the very process it names.
  bool IsAcceptableRegistration(const CrashPipeMessage& message);
  // Duplicates the handles into the client, writes the reply and adds the
  // client. On success the record is in the client list.
  bool AnswerRegistration(std::unique_ptr<CrashPipeClientRecord> record);
  // Adds the client's waits. On success the record has moved into the
  // client list; on failure it stays with the caller.
  bool AddClient(std::unique_ptr<CrashPipeClientRecord>* owned);
  bool BuildReply(const CrashPipeClientRecord& record, CrashPipeMessage* reply);
  void HandleDumpRequest(CrashPipeClientRecord* record);
  void HandleClientExit(CrashPipeClientRecord* record);
  // Cancels the operation pending on |overlapped_|, if any, and waits until
  // it has ended: until then the system may still write into it.
  void CancelPendingIo();
  // Closes the handles a reply duplicated into the client.
  static void CloseReplyHandles(const CrashPipeClientRecord& record, const CrashPipeMessage& reply);
  // Creates the next client's events unless they are there already.
  void MakeSpareEvents();

  const std::wstring pipe_name_;
  SECURITY_ATTRIBUTES* const security_attributes_;
  const ConnectCallback connect_callback_;
  void* const connect_context_;
  const DumpCallback dump_callback_;
  void* const dump_context_;
  const ExitCallback exit_callback_;
  void* const exit_context_;
  const UploadCallback upload_callback_;
  void* const upload_context_;
  const bool generate_dumps_;
  const std::optional<std::wstring> dump_folder_;
  // Always set: the reporter wants the client's crash keys.
  const bool read_custom_info_ = true;

  base::Lock lock_;  // guards clients_, shutting_down_ and the pipe objects
  std::list<std::unique_ptr<CrashPipeClientRecord>> clients_;
  bool shutting_down_ = false;

  std::atomic<CrashPipeServerState> state_{kServerStateUninitialized};
  base::win::ScopedHandle server_alive_mutex_;
  base::win::ScopedHandle pipe_event_;
  base::win::ScopedHandle pipe_;
  base::ScopedWaitHandle pipe_wait_;
  OVERLAPPED overlapped_ = {};
  CrashPipeMessage message_ = {};
  // Set by a transition that needs no I/O: the dispatcher goes on at once.
  bool dispatch_again_ = false;
  // When the client must have taken its current step (GetTickCount64 time).
  std::atomic<ULONGLONG> client_step_deadline_{0};
  ULONGLONG client_step_timeout_ms_;
  base::win::ScopedHandle client_step_timer_;
  base::ScopedWaitHandle client_step_timer_wait_;
  // The client being registered on the current connection.
  CrashPipeClientRecord* current_client_ = nullptr;
  // The next client's two events, made while the server waits for it so
  // that its registration need not wait for them. Only the dispatcher
  // touches them.
  base::win::ScopedHandle spare_dump_request_event_;
  base::win::ScopedHandle spare_dump_generated_event_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_
