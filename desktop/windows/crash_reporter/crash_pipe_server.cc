#include "desktop/windows/crash_reporter/crash_pipe_server.h"

#include <atomic>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/server_minidump_writer.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"

namespace crash_reporter {

namespace {

// Shutdown waits this long, in steps, for the dispatcher to notice it.
constexpr DWORD kShutdownPollMs = 10;
constexpr int kShutdownPolls = 100;

constexpr DWORD kPipeBufferBytes = 64;

std::atomic<bool> g_fail_client_adds{false};

// A registration is a few messages written back to back. A client that does
// not take its next step in this time holds the only pipe instance for
// nothing: it is dropped, soon enough that a client waiting for the busy
// pipe (kPipeBusyWaitMs) still gets it.
constexpr ULONGLONG kClientStepTimeoutMs = 1500;
static_assert(kClientStepTimeoutMs < kPipeBusyWaitMs);

// The states that wait for an operation on the pipe to end.
bool IsWaitingState(CrashPipeServerState state) {
  return state == kServerStateConnecting || state == kServerStateReading ||
         state == kServerStateWriting || state == kServerStateReadingAck;
}

// Duplicates |source| of this process into |client| with |access|; 0 on
// failure.
uint64_t DuplicateIntoClient(HANDLE client, HANDLE source, DWORD access) {
  HANDLE duplicate = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), source, client, &duplicate, access, FALSE, 0)) {
    PLOG(WARNING) << "Cannot hand a crash-pipe handle to the client";
    return 0;
  }
  return reinterpret_cast<uintptr_t>(duplicate);
}

// Closes a handle that lives in |client|.
void CloseInClient(HANDLE client, uint64_t handle) {
  if (!handle)
    return;
  // Taken over rather than closed where it lies: Wine refuses a close in
  // another process that names no target process.
  HANDLE taken = nullptr;
  if (!::DuplicateHandle(client, reinterpret_cast<HANDLE>(handle), ::GetCurrentProcess(), &taken, 0,
                         FALSE, DUPLICATE_CLOSE_SOURCE | DUPLICATE_SAME_ACCESS)) {
    PLOG(WARNING) << "Cannot close a crash-pipe handle in the client";
    return;
  }
  base::win::ScopedHandle closed_here(taken);
}

}  // namespace

CrashPipeServer::CrashPipeServer(std::wstring pipe_name, SECURITY_ATTRIBUTES* security_attributes,
                                 ConnectCallback connect_callback, void* connect_context,
                                 DumpCallback dump_callback, void* dump_context,
                                 ExitCallback exit_callback, void* exit_context,
                                 UploadCallback upload_callback, void* upload_context,
                                 bool generate_dumps, const std::wstring* dump_folder)
    : pipe_name_(std::move(pipe_name)),
      security_attributes_(security_attributes),
      connect_callback_(connect_callback),
      connect_context_(connect_context),
      dump_callback_(dump_callback),
      dump_context_(dump_context),
      exit_callback_(exit_callback),
      exit_context_(exit_context),
      upload_callback_(upload_callback),
      upload_context_(upload_context),
      generate_dumps_(generate_dumps),
      dump_folder_(dump_folder ? std::optional<std::wstring>(*dump_folder) : std::nullopt),
      client_step_timeout_ms_(kClientStepTimeoutMs) {}

CrashPipeServer::~CrashPipeServer() {
  {
    base::AutoLock hold(lock_);
    shutting_down_ = true;
  }
  if (state_.load() != kServerStateUninitialized) {
    {
      base::AutoLock hold(lock_);
      if (pipe_.IsValid())
        ::DisconnectNamedPipe(pipe_.Get());
    }
    // The dispatcher notices the flag on its next run; wake it rather than
    // wait for an operation that may never complete.
    if (pipe_event_.IsValid())
      ::SetEvent(pipe_event_.Get());
    for (int i = 0; i < kShutdownPolls && state_.load() != kServerStateError; ++i)
      ::Sleep(kShutdownPollMs);
  }
  base::ScopedWaitHandle pipe_wait;
  {
    base::AutoLock hold(lock_);
    pipe_wait = std::move(pipe_wait_);
  }
  pipe_wait.Reset();  // waits for a dispatcher still running
  client_step_timer_wait_.Reset();
  CancelPendingIo();
  pipe_.Reset();
  // Each record unregisters its waits, waiting for running callbacks.
  std::list<std::unique_ptr<CrashPipeClientRecord>> clients;
  {
    base::AutoLock hold(lock_);
    clients.swap(clients_);
  }
  clients.clear();
  if (server_alive_mutex_.IsValid() && !::ReleaseMutex(server_alive_mutex_.Get()))
    PLOG(WARNING) << "The crash server's mutex was not released by its owner";
  server_alive_mutex_.Reset();
  pipe_event_.Reset();
}

bool CrashPipeServer::Start() {
  CrashPipeServerState expected = kServerStateUninitialized;
  if (!state_.compare_exchange_strong(expected, kServerStateInitial)) {
    LOG(ERROR) << "The crash server was started twice";
    return false;
  }
  server_alive_mutex_.Reset(::CreateMutexW(nullptr, TRUE, nullptr));
  pipe_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!server_alive_mutex_.IsValid() || !pipe_event_.IsValid()) {
    PLOG(ERROR) << "Cannot create the crash server's objects";
    state_ = kServerStateError;
    return false;
  }
  overlapped_.hEvent = pipe_event_.Get();
  HANDLE wait = nullptr;
  if (!::RegisterWaitForSingleObject(&wait, pipe_event_.Get(), &OnPipeEvent, this, INFINITE,
                                     WT_EXECUTEINWAITTHREAD)) {
    PLOG(ERROR) << "Cannot wait on the crash server's pipe event";
    state_ = kServerStateError;
    return false;
  }
  // Bounds each step of a client. A wait's own time-out cannot: Wine
  // reports it once per registration, not once per period.
  client_step_timer_.Reset(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
  HANDLE timer_wait = nullptr;
  if (!client_step_timer_.IsValid() ||
      !::RegisterWaitForSingleObject(&timer_wait, client_step_timer_.Get(), &OnClientStepTimer,
                                     this, INFINITE, WT_EXECUTEINWAITTHREAD)) {
    PLOG(ERROR) << "Cannot time the crash server's connections";
    state_ = kServerStateError;
    return false;
  }
  client_step_timer_wait_.Reset(timer_wait);
  {
    base::AutoLock hold(lock_);
    pipe_wait_.Reset(wait);
  }
  HANDLE pipe = ::CreateNamedPipeW(
      pipe_name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBufferBytes, kPipeBufferBytes,
      0, security_attributes_);
  if (pipe == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "Cannot create the crash pipe";
    state_ = kServerStateError;
    return false;
  }
  {
    base::AutoLock hold(lock_);
    pipe_.Reset(pipe);
  }
  if (!::SetEvent(pipe_event_.Get())) {
    PLOG(ERROR) << "Cannot start the crash server";
    state_ = kServerStateError;
    return false;
  }
  return true;
}

// static
void CrashPipeServer::SetFailClientAddsForTesting(bool fail) { g_fail_client_adds = fail; }

size_t CrashPipeServer::ClientCountForTesting() {
  base::AutoLock hold(lock_);
  return clients_.size();
}

// static
void CALLBACK CrashPipeServer::OnPipeEvent(void* context, BOOLEAN) {
  static_cast<CrashPipeServer*>(context)->Dispatch();
}

// static
void CALLBACK CrashPipeServer::OnClientStepTimer(void* context, BOOLEAN) {
  auto* server = static_cast<CrashPipeServer*>(context);
  // The dispatcher alone decides; a wake that finds the connection over (or
  // a later one under way) does nothing.
  if (IsWaitingState(server->state_.load()) &&
      ::GetTickCount64() >= server->client_step_deadline_.load())
    ::SetEvent(server->pipe_event_.Get());
}

void CrashPipeServer::Dispatch() {
  if (!IsShuttingDown() && !TakeTimerWake())
    return;
  // A transition to a state that needs no I/O first runs that state right
  // here. Signalling the event instead would cost a round through the wait
  // thread per transition, which dominates the time of a registration.
  do {
    {
      base::AutoLock hold(lock_);
      if (shutting_down_) {
        state_ = kServerStateError;
        ::ResetEvent(pipe_event_.Get());
        return;
      }
    }
    dispatch_again_ = false;
    switch (state_.load()) {
      case kServerStateError: HandleErrorState(); break;
      case kServerStateInitial: HandleInitialState(); break;
      case kServerStateConnecting: HandleConnectingState(); break;
      case kServerStateConnected: HandleConnectedState(); break;
      case kServerStateReading: HandleReadingState(); break;
      case kServerStateReadDone: HandleReadDoneState(); break;
      case kServerStateWriting: HandleWritingState(); break;
      case kServerStateWriteDone: HandleWriteDoneState(); break;
      case kServerStateReadingAck: HandleReadingAckState(); break;
      case kServerStateDisconnecting: HandleDisconnectingState(); break;
      default:
        LOG(ERROR) << "The crash server is in unknown state " << state_.load();
        state_ = kServerStateError;
        break;
    }
  } while (dispatch_again_);
}

bool CrashPipeServer::IsShuttingDown() {
  base::AutoLock hold(lock_);
  return shutting_down_;
}

bool CrashPipeServer::TakeTimerWake() {
  const CrashPipeServerState state = state_.load();
  if (!IsWaitingState(state) || HasOverlappedIoCompleted(&overlapped_))
    return true;
  // Woken by the step timer, not by the operation. The operation may
  // end right now: it signals the event again after this reset.
  ::ResetEvent(pipe_event_.Get());
  if (HasOverlappedIoCompleted(&overlapped_))
    return true;
  // Listening for a client has no end.
  if (state == kServerStateConnecting || ::GetTickCount64() < client_step_deadline_.load())
    return false;
  DropSlowClient();
  return true;
}

void CrashPipeServer::GoTo(CrashPipeServerState state) {
  state_ = state;
  dispatch_again_ = true;
}

void CrashPipeServer::WaitFor(CrashPipeServerState state) {
  if (state != kServerStateConnecting) {
    // Times the client's step; the deadline is in place before the state
    // that a wake of the timer looks at.
    client_step_deadline_ = ::GetTickCount64() + client_step_timeout_ms_;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(client_step_timeout_ms_) * 10000;  // relative, 100 ns
    if (!::SetWaitableTimer(client_step_timer_.Get(), &due, 0, nullptr, nullptr, FALSE))
      PLOG(ERROR) << "Cannot time a crash client's step; it is not bounded";
  }
  state_ = state;
}

void CrashPipeServer::ContinueWhenDone(CrashPipeServerState state) {
  // An operation that has already completed has also signalled the event;
  // every state after this one starts an operation or resets the event, so
  // running it now leaves no stray dispatch behind.
  if (HasOverlappedIoCompleted(&overlapped_))
    GoTo(state);
  else
    WaitFor(state);
}

void CrashPipeServer::EnterErrorState() {
  state_ = kServerStateError;
  dispatch_again_ = true;
}

void CrashPipeServer::DropSlowClient() {
  LOG(WARNING) << "A crash client did not take its next step within " << client_step_timeout_ms_
               << " ms (state " << state_.load() << "); dropping it";
  CancelPendingIo();
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::CancelPendingIo() {
  if (!pipe_.IsValid())
    return;
  // The system writes into |overlapped_| when a pending operation ends: it
  // must have ended before |overlapped_| serves the next operation or the
  // server's memory goes. A cancellation from a thread other than the one
  // that started the operation may end it only after CancelIoEx returned
  // (the emulator does so), so the wait is needed.
  if (::CancelIoEx(pipe_.Get(), &overlapped_) || !HasOverlappedIoCompleted(&overlapped_)) {
    DWORD bytes = 0;
    ::GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, TRUE);
  }
  if (!HasOverlappedIoCompleted(&overlapped_))
    LOG(ERROR) << "A cancelled operation on the crash pipe has not ended";
}

void CrashPipeServer::HandleErrorState() {
  // The server serves no new clients from here on; registered ones keep
  // their own waits. The pipe is cleared as it is closed, so that nothing
  // closes it again. The wait itself stays registered on the now quiet event
  // until the destructor removes it, waiting for this very callback: removing
  // it here, without waiting, would let the destructor free the server while
  // the callback still runs.
  ::ResetEvent(pipe_event_.Get());
  base::AutoLock hold(lock_);
  if (shutting_down_)
    return;
  CancelPendingIo();
  pipe_.Reset();
}

void CrashPipeServer::HandleInitialState() {
  if (!::ResetEvent(pipe_event_.Get())) {
    PLOG(ERROR) << "Cannot reset the crash server's pipe event";
    EnterErrorState();
    return;
  }
  if (::ConnectNamedPipe(pipe_.Get(), &overlapped_)) {
    // An overlapped connect never succeeds at once.
    LOG(ERROR) << "The crash pipe connected unexpectedly";
    EnterErrorState();
    return;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_PIPE_CONNECTED) {
    GoTo(kServerStateConnected);
  } else if (error == ERROR_IO_PENDING) {
    WaitFor(kServerStateConnecting);
    MakeSpareEvents();
  } else {
    LOG(ERROR) << "Cannot listen on the crash pipe (error " << error << ")";
    EnterErrorState();
  }
}

void CrashPipeServer::MakeSpareEvents() {
  if (spare_dump_request_event_.IsValid() && spare_dump_generated_event_.IsValid())
    return;
  // A failure here is not reported: the registration then creates the
  // events itself, and reports it if that fails too.
  spare_dump_request_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  spare_dump_generated_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

void CrashPipeServer::HandleConnectingState() {
  DWORD bytes = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE)) {
    GoTo(kServerStateConnected);
    return;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_IO_INCOMPLETE)
    return;
  LOG(WARNING) << "A crash client's connection failed (error " << error << ")";
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::HandleConnectedState() {
  message_ = CrashPipeMessage();
  if (::ReadFile(pipe_.Get(), &message_, sizeof(message_), nullptr, &overlapped_) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    ContinueWhenDone(kServerStateReading);
    return;
  }
  PLOG(WARNING) << "Cannot read a crash client's request";
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::HandleReadingState() {
  DWORD bytes = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE) &&
      bytes == sizeof(message_)) {
    GoTo(kServerStateReadDone);
    return;
  }
  LOG(WARNING) << "A crash client sent a malformed request";
  GoTo(kServerStateDisconnecting);
}

bool CrashPipeServer::IsAcceptableRegistration(const CrashPipeMessage& message) {
  if (message.tag != kRegistrationRequest || message.id == 0 || message.thread_id_address == 0 ||
      message.exception_pointers_address == 0 || message.assertion_info_address == 0) {
    LOG(WARNING) << "A crash client sent an unusable request (tag " << message.tag << ")";
    return false;
  }
  // The reporter opens the named process with full access and later reads
  // its memory: only that process itself may ask for it.
  ULONG sender = 0;
  if (!::GetNamedPipeClientProcessId(pipe_.Get(), &sender)) {
    PLOG(WARNING) << "Cannot identify the crash client behind the pipe";
    return false;
  }
  if (sender != message.id) {
    LOG(WARNING) << "Process " << sender << " asked to register process " << message.id;
    return false;
  }
  return true;
}

void CrashPipeServer::HandleReadDoneState() {
  if (message_.tag == kUploadRequest) {
    if (upload_callback_)
      upload_callback_(upload_context_, message_.id);
    GoTo(kServerStateDisconnecting);
    return;
  }
  if (!IsAcceptableRegistration(message_)) {
    GoTo(kServerStateDisconnecting);
    return;
  }
  auto record = std::make_unique<CrashPipeClientRecord>(this, message_);
  CrashPipeClientRecord* client = record.get();
  if (!record->Initialize(&spare_dump_request_event_, &spare_dump_generated_event_) ||
      !AnswerRegistration(std::move(record))) {
    GoTo(kServerStateDisconnecting);
    return;
  }
  current_client_ = client;
  ContinueWhenDone(kServerStateWriting);
}

bool CrashPipeServer::BuildReply(const CrashPipeClientRecord& record, CrashPipeMessage* reply) {
  *reply = CrashPipeMessage();
  reply->tag = kRegistrationReply;
  reply->id = ::GetCurrentProcessId();
  reply->dump_request_event =
      DuplicateIntoClient(record.process(), record.dump_request_event(), EVENT_MODIFY_STATE);
  if (reply->dump_request_event)
    reply->dump_generated_event = DuplicateIntoClient(
        record.process(), record.dump_generated_event(), SYNCHRONIZE | EVENT_MODIFY_STATE);
  if (reply->dump_generated_event)
    reply->server_alive_mutex =
        DuplicateIntoClient(record.process(), server_alive_mutex_.Get(), SYNCHRONIZE);
  if (reply->server_alive_mutex)
    return true;
  CloseInClient(record.process(), reply->dump_request_event);
  CloseInClient(record.process(), reply->dump_generated_event);
  return false;
}

bool CrashPipeServer::AnswerRegistration(std::unique_ptr<CrashPipeClientRecord> record) {
  CrashPipeMessage reply;
  if (!BuildReply(*record, &reply))
    return false;
  // The reply goes out of |message_|, which outlives the overlapped write.
  message_ = reply;
  if (!::WriteFile(pipe_.Get(), &message_, sizeof(message_), nullptr, &overlapped_) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    PLOG(WARNING) << "Cannot answer crash client " << record->pid();
    CloseReplyHandles(*record, reply);
    return false;
  }
  if (AddClient(&record))
    return true;
  // The reply may still be on its way: it should not reach the client, whose
  // handles would lead nowhere, and the write owns |overlapped_| until it
  // has ended.
  CancelPendingIo();
  // A reply that went out is the client's, and so are its handles: the
  // client closes them (at once, when its acknowledgement finds the
  // connection gone). Closing them here too would close, at the client's
  // own close, whatever handle of the client then has the same value.
  DWORD written = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &written, FALSE) &&
      written == sizeof(message_)) {
    return false;
  }
  CloseReplyHandles(*record, reply);
  return false;
}

// static
void CrashPipeServer::CloseReplyHandles(const CrashPipeClientRecord& record,
                                        const CrashPipeMessage& reply) {
  CloseInClient(record.process(), reply.dump_request_event);
  CloseInClient(record.process(), reply.dump_generated_event);
  CloseInClient(record.process(), reply.server_alive_mutex);
}

bool CrashPipeServer::AddClient(std::unique_ptr<CrashPipeClientRecord>* owned) {
  CrashPipeClientRecord* record = owned->get();
  // Read while the client takes in the reply: only a dump request needs it,
  // and its wait does not exist yet.
  record->ReadCreationTime();
  HANDLE dump_request_wait = nullptr;
  if (!::RegisterWaitForSingleObject(&dump_request_wait, record->dump_request_event(),
                                     &OnDumpRequest, record, INFINITE,
                                     WT_EXECUTEINWAITTHREAD | WT_EXECUTELONGFUNCTION)) {
    PLOG(ERROR) << "Cannot wait for crash client " << record->pid();
    return false;
  }
  record->dump_request_wait_.Reset(dump_request_wait);
  // The client may already be gone, and its exit callback then runs at
  // once. Holding the lock until the record is listed with its wait makes
  // that callback find it; a callback that missed it would leave it listed
  // for good.
  base::AutoLock hold(lock_);
  if (shutting_down_)
    return false;
  HANDLE process_wait = nullptr;
  if (g_fail_client_adds.load()) {
    LOG(ERROR) << "Not watching crash client " << record->pid() << ": refused for a test";
    return false;
  }
  if (!::RegisterWaitForSingleObject(&process_wait, record->process(), &OnClientExited, record,
                                     INFINITE, WT_EXECUTEONLYONCE)) {
    PLOG(ERROR) << "Cannot watch crash client " << record->pid();
    // The caller deletes the record, after the lock is released, which
    // unregisters the first wait, waiting for its callback, before it goes.
    return false;
  }
  record->process_wait_.Reset(process_wait);
  clients_.push_back(std::move(*owned));
  return true;
}

void CrashPipeServer::HandleWritingState() {
  DWORD bytes = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE)) {
    GoTo(kServerStateWriteDone);
    return;
  }
  PLOG(WARNING) << "Cannot send the registration reply";
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::HandleWriteDoneState() {
  if (::ReadFile(pipe_.Get(), &message_, sizeof(message_), nullptr, &overlapped_)) {
    GoTo(kServerStateReadingAck);
    return;
  }
  if (::GetLastError() == ERROR_IO_PENDING) {
    WaitFor(kServerStateReadingAck);
    return;
  }
  PLOG(WARNING) << "Cannot read the registration acknowledgement";
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::HandleReadingAckState() {
  DWORD bytes = 0;
  if (::GetOverlappedResult(pipe_.Get(), &overlapped_, &bytes, FALSE) && connect_callback_) {
    base::AutoLock hold(lock_);
    for (const auto& client : clients_) {
      if (client.get() == current_client_) {
        connect_callback_(connect_context_, client.get());
        break;
      }
    }
  }
  GoTo(kServerStateDisconnecting);
}

void CrashPipeServer::HandleDisconnectingState() {
  // A state may end its connection with an operation still pending (a
  // reply the client never took): that operation owns |overlapped_| until
  // it has ended.
  CancelPendingIo();
  overlapped_.Internal = 0;
  overlapped_.InternalHigh = 0;
  overlapped_.Offset = 0;
  overlapped_.OffsetHigh = 0;
  current_client_ = nullptr;
  // A pipe that is no longer connected (the destructor disconnected it
  // first) is where this state wants it.
  if (!::ResetEvent(pipe_event_.Get()) ||
      (!::DisconnectNamedPipe(pipe_.Get()) && ::GetLastError() != ERROR_PIPE_NOT_CONNECTED)) {
    PLOG(ERROR) << "Cannot end a crash client's connection";
    EnterErrorState();
    return;
  }
  {
    base::AutoLock hold(lock_);
    if (shutting_down_)
      return;
  }
  GoTo(kServerStateInitial);
}

// static
void CALLBACK CrashPipeServer::OnDumpRequest(void* context, BOOLEAN) {
  auto* record = static_cast<CrashPipeClientRecord*>(context);
  record->server()->HandleDumpRequest(record);
}

void CrashPipeServer::HandleDumpRequest(CrashPipeClientRecord* record) {
  if (read_custom_info_)
    record->ReadCustomInfo();
  bool call_back = true;
  std::wstring dump_path;
  std::wstring full_memory_path;
  if (generate_dumps_) {
    // The crash details must be readable before a dump can be written.
    uint64_t exception_pointers = 0;
    DWORD thread_id = 0;
    SIZE_T read = 0;
    if (!::ReadProcessMemory(record->process(),
                             reinterpret_cast<const void*>(record->exception_pointers_address()),
                             &exception_pointers, sizeof(exception_pointers), &read) ||
        read != sizeof(exception_pointers) ||
        !::ReadProcessMemory(record->process(),
                             reinterpret_cast<const void*>(record->thread_id_address()), &thread_id,
                             sizeof(thread_id), &read) ||
        read != sizeof(thread_id)) {
      PLOG(WARNING) << "Cannot read the crash details of client " << record->pid();
      call_back = false;
    } else {
      ServerMinidumpWriter writer(dump_folder_.value_or(std::wstring()), record->process(),
                                  record->pid(), thread_id, thread_id, exception_pointers,
                                  record->assertion_info_address(), record->dump_type(),
                                  /*client_pointers=*/true);
      call_back = writer.CreateDumpFile(&dump_path, &full_memory_path) && writer.WriteMinidump();
    }
  }
  if (call_back && dump_callback_)
    dump_callback_(dump_context_, record, dump_path.empty() ? nullptr : &dump_path,
                   full_memory_path.empty() ? nullptr : &full_memory_path);
  // Also after a failure: the client must not wait for nothing.
  if (!::SetEvent(record->dump_generated_event()))
    PLOG(ERROR) << "Cannot release crash client " << record->pid();
  if (!::ResetEvent(record->dump_request_event()))
    PLOG(ERROR) << "Cannot re-arm crash client " << record->pid();
}

// static
void CALLBACK CrashPipeServer::OnClientExited(void* context, BOOLEAN) {
  auto* record = static_cast<CrashPipeClientRecord*>(context);
  record->server()->HandleClientExit(record);
}

void CrashPipeServer::HandleClientExit(CrashPipeClientRecord* record) {
  // A dump request still being handled finishes first.
  record->dump_request_wait_.Reset();
  if (exit_callback_)
    exit_callback_(exit_context_, record);
  std::unique_ptr<CrashPipeClientRecord> owned;
  {
    base::AutoLock hold(lock_);
    // During shutdown, or before the record made it into the list, its
    // owner deletes it.
    if (shutting_down_)
      return;
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
      if (it->get() == record) {
        owned = std::move(*it);
        clients_.erase(it);
        break;
      }
    }
  }
  if (!owned)
    return;
  // Without waiting: this is the process wait's own callback.
  HANDLE wait = owned->process_wait_.Release();
  if (wait && !::UnregisterWaitEx(wait, nullptr) && ::GetLastError() != ERROR_IO_PENDING)
    PLOG(WARNING) << "Cannot stop watching crash client " << owned->pid();
}

}  // namespace crash_reporter
