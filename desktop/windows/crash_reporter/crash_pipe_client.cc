#include "desktop/windows/crash_reporter/crash_pipe_client.h"

#include <string.h>

#include <atomic>

#include <utility>

#include "base/logging.h"

namespace crash_reporter {

namespace {

std::atomic<CrashPipeClient::PipeBusyObserver> g_pipe_busy_observer{nullptr};

}  // namespace

// static
void CrashPipeClient::SetPipeBusyObserverForTesting(PipeBusyObserver observer) {
  g_pipe_busy_observer.store(observer);
}

CrashPipeClient::CrashPipeClient(std::wstring pipe_name, uint32_t dump_type, CustomInfo custom_info)
    : pipe_name_(std::move(pipe_name)), dump_type_(dump_type), custom_info_(custom_info) {}

CrashPipeClient::CrashPipeClient(HANDLE pipe, uint32_t dump_type, CustomInfo custom_info)
    : given_pipe_(pipe), dump_type_(dump_type), custom_info_(custom_info) {}

CrashPipeClient::~CrashPipeClient() = default;

// Failures to reach or register with the reporter are logged at verbose
// level only: they mean just that the process runs without crash reporting,
// which the installer accepts silently, and they come before the installer's
// log exists, so that anything louder would land in a stray default log
// beside the executable.
base::win::ScopedHandle CrashPipeClient::ConnectToPipe(bool* busy) {
  *busy = false;
  if (given_pipe_.IsValid())
    return std::move(given_pipe_);
  base::win::ScopedHandle pipe;
  for (int attempt = 0; attempt < 2; ++attempt) {
    pipe.Reset(::CreateFileW(
        pipe_name_.c_str(), FILE_READ_DATA | FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES, 0, nullptr,
        OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (pipe.IsValid())
      break;
    DWORD error = ::GetLastError();
    if (error != ERROR_PIPE_BUSY || attempt == 1) {
      VLOG(1) << "Cannot connect to the crash reporter's pipe (error " << error << ")";
      *busy = error == ERROR_PIPE_BUSY;
      return base::win::ScopedHandle();
    }
    // Another process is registering; the server takes one at a time. A
    // wait that fails (the time ran out just as the pipe came free, or the
    // server was between two connections) still leaves the second attempt.
    const bool waited = ::WaitNamedPipeW(pipe_name_.c_str(), kPipeBusyWaitMs) != FALSE;
    if (!waited)
      VLOG(1) << "The crash reporter's pipe stayed busy (error " << ::GetLastError() << ")";
    if (PipeBusyObserver observer = g_pipe_busy_observer.load())
      observer(waited);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr)) {
    VLOG(1) << "Cannot switch the crash reporter's pipe to message mode (error " << ::GetLastError()
            << ")";
    *busy = true;  // the reporter let the connection go: it may take the next one
    return base::win::ScopedHandle();
  }
  return pipe;
}

bool CrashPipeClient::Register() {
  if (IsRegistered())
    return true;
  // A crash on another thread meanwhile waits until this is back at 0.
  registering_thread_.store(::GetCurrentThreadId());
  const ULONGLONG deadline = ::GetTickCount64() + kRegistrationPatienceMs;
  bool worth_another_attempt = false;
  bool registered = RegisterOnce(&worth_another_attempt);
  int attempts = 1;
  // A pipe that does not exist has no server behind it (the launch waited
  // for the reporter to listen): no point in trying again, also when the
  // process of that id is another one by now.
  while (!registered && worth_another_attempt && server_process_.IsValid() &&
         ServerProcessLives() && ::GetTickCount64() < deadline) {
    // A busy pipe has already been waited for; a connection the reporter
    // dropped is tried again after a short pause.
    ::Sleep(50);
    registered = RegisterOnce(&worth_another_attempt);
    ++attempts;
  }
  if (attempts > 1) {
    VLOG(1) << (registered ? "Registered with the crash reporter after "
                           : "Could not register with the crash reporter in ")
            << attempts << " attempts";
  }
  registering_thread_.store(0);
  return registered;
}

bool CrashPipeClient::RegisterOnce(bool* worth_another_attempt) {
  base::win::ScopedHandle pipe = ConnectToPipe(worth_another_attempt);
  if (!pipe.IsValid())
    return false;
  // Past the connection every failure is the reporter ending it.
  *worth_another_attempt = true;
  return RegisterOverPipe(pipe.Get());
}

bool CrashPipeClient::ServerProcessLives() const {
  return ::WaitForSingleObject(server_process_.Get(), 0) == WAIT_TIMEOUT;
}

bool CrashPipeClient::RegisterOverPipe(HANDLE pipe) {
  CrashPipeMessage request = {};
  request.tag = kRegistrationRequest;
  request.id = ::GetCurrentProcessId();
  request.dump_type = dump_type_;
  request.thread_id_address = reinterpret_cast<uintptr_t>(&crashing_thread_id_);
  request.exception_pointers_address = reinterpret_cast<uintptr_t>(&exception_pointers_);
  request.assertion_info_address = reinterpret_cast<uintptr_t>(&assertion_info_);
  request.custom_info_entries_address = reinterpret_cast<uintptr_t>(custom_info_.entries);
  request.custom_info_count = custom_info_.count;

  CrashPipeMessage reply = {};
  DWORD read = 0;
  if (!::TransactNamedPipe(pipe, &request, sizeof(request), &reply, sizeof(reply), &read,
                           nullptr)) {
    VLOG(1) << "The crash reporter did not answer the registration (error " << ::GetLastError()
            << ")";
    return false;
  }
  if (read != sizeof(reply) || reply.tag != kRegistrationReply || reply.id == 0 ||
      reply.dump_request_event == 0 || reply.dump_generated_event == 0 ||
      reply.server_alive_mutex == 0) {
    VLOG(1) << "The crash reporter's registration reply is malformed";
    return false;
  }
  // The handles are ours from here on, whatever the acknowledgement does.
  base::win::ScopedHandle dump_request(reinterpret_cast<HANDLE>(reply.dump_request_event));
  base::win::ScopedHandle dump_generated(reinterpret_cast<HANDLE>(reply.dump_generated_event));
  base::win::ScopedHandle server_alive(reinterpret_cast<HANDLE>(reply.server_alive_mutex));

  CrashPipeMessage ack = {};
  ack.tag = kRegistrationAck;
  DWORD written = 0;
  if (!::WriteFile(pipe, &ack, sizeof(ack), &written, nullptr)) {
    VLOG(1) << "Cannot acknowledge the crash reporter's registration (error " << ::GetLastError()
            << ")";
    return false;
  }
  dump_request_event_ = std::move(dump_request);
  dump_generated_event_ = std::move(dump_generated);
  server_alive_mutex_ = std::move(server_alive);
  server_pid_ = reply.id;
  return true;
}

bool CrashPipeClient::RequestDump(EXCEPTION_POINTERS* exception_pointers,
                                  const AssertionInfo* assertion) {
  // A crash that comes while another thread registers is reported once the
  // registration is done, which its patience bounds. (Polled: a
  // registration, the common path, then costs no event of its own.) A crash
  // of the registering thread itself cannot wait for it.
  for (DWORD registering = registering_thread_.load();
       registering != 0 && registering != ::GetCurrentThreadId();
       registering = registering_thread_.load()) {
    ::Sleep(10);
  }
  if (!IsRegistered())
    return false;
  crashing_thread_id_ = ::GetCurrentThreadId();
  exception_pointers_ = exception_pointers;
  if (assertion)
    memcpy(&assertion_info_, assertion, sizeof(assertion_info_));
  else
    memset(&assertion_info_, 0, sizeof(assertion_info_));

  if (!::ResetEvent(dump_generated_event_.Get()) || !::SetEvent(dump_request_event_.Get()))
    return false;
  HANDLE waits[] = {dump_generated_event_.Get(), server_alive_mutex_.Get()};
  // A reporter that dies abandons its mutex, which ends the wait at once.
  DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, dump_request_timeout_ms_);
  return result == WAIT_OBJECT_0;
}

}  // namespace crash_reporter
