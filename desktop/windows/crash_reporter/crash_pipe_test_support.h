// A crash server for tests: it serves "\\.\pipe\VelmoCrashReporter<own pid>"
// (so that a child given "crash-reporter-pid=<this pid>" registers with it)
// and records what each dump request showed, read out of the client the way
// the reporter reads it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_TEST_SUPPORT_H_

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/crash_info.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"

namespace crash_reporter {

struct RecordedDump {
  DWORD pid = 0;
  DWORD thread_id = 0;
  DWORD exception_code = 0;
  uint32_t assertion_type = 0;
  bool has_dump_path = false;
  // The files the dump callback was told of ("" for none).
  std::wstring dump_path;
  std::wstring full_memory_path;
  // The copied custom info, in order, each text cut where the reporter's
  // readers cut it.
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  // The crash-log metadata the reporter makes of it.
  CrashInfo crash_info;

  // The value of |name| (the first slot that carries it), or "<missing>".
  std::wstring Value(const std::wstring& name) const {
    for (const auto& entry : entries) {
      if (entry.first == name)
        return entry.second;
    }
    return L"<missing>";
  }
};

inline std::wstring CrashPipeNameFor(DWORD pid) {
  return kCrashPipeNamePrefix + std::to_wstring(pid);
}

// Opens the crash pipe |name| in message mode, waiting while every instance
// is busy; invalid when none came free.
inline base::win::ScopedHandle OpenCrashPipe(const std::wstring& name, DWORD flags = 0) {
  base::win::ScopedHandle pipe;
  for (int attempt = 0; attempt < 50 && !pipe.IsValid(); ++attempt) {
    pipe.Reset(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             flags, nullptr));
    if (!pipe.IsValid())
      ::WaitNamedPipeW(name.c_str(), 2000);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (pipe.IsValid() && !::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr))
    pipe.Reset();
  return pipe;
}

// The slots a registration request of this process points at; the request
// is only good while they live.
struct RegistrationSlots {
  DWORD thread_id = 0;
  EXCEPTION_POINTERS* pointers = nullptr;
  AssertionInfo assertion = {};

  CrashPipeMessage Request() {
    CrashPipeMessage request = {};
    request.tag = kRegistrationRequest;
    request.id = ::GetCurrentProcessId();
    request.thread_id_address = reinterpret_cast<uintptr_t>(&thread_id);
    request.exception_pointers_address = reinterpret_cast<uintptr_t>(&pointers);
    request.assertion_info_address = reinterpret_cast<uintptr_t>(&assertion);
    return request;
  }
};

class RecordingCrashServer {
 public:
  RecordingCrashServer() : dumped_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

  // Starts serving |pipe_name| (the own pid's name by default).
  // Starts serving the own pid's pipe; |generate_dumps| asks the server to
  // read the crash details before the callback.
  // With |generate_dumps| the server writes each dump into |dump_folder|.
  bool Start(bool generate_dumps = false, const std::wstring* dump_folder = nullptr) {
    server_ = std::make_unique<CrashPipeServer>(CrashPipeNameFor(::GetCurrentProcessId()), nullptr,
                                                nullptr, nullptr, &OnDump, this, nullptr, nullptr,
                                                nullptr, nullptr, generate_dumps, dump_folder);
    return server_->Start();
  }
  void Stop() { server_.reset(); }
  CrashPipeServer* server() { return server_.get(); }

  // Waits for the next dump request; false after |timeout_ms|.
  bool WaitForDump(DWORD timeout_ms = 120000) {
    return ::WaitForSingleObject(dumped_.Get(), timeout_ms) == WAIT_OBJECT_0;
  }
  std::vector<RecordedDump> dumps() {
    base::AutoLock hold(lock_);
    return dumps_;
  }
  // Makes the dump callback wait for |release| after signalling |entered|.
  void HoldCallbacks(HANDLE entered, HANDLE release) {
    entered_ = entered;
    release_ = release;
  }

 private:
  template <typename T>
  static bool ReadClient(HANDLE process, uint64_t address, T* value) {
    SIZE_T read = 0;
    return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), value, sizeof(T),
                               &read) &&
           read == sizeof(T);
  }

  static void OnDump(void* context, const CrashPipeClientRecord* client,
                     const std::wstring* dump_path, const std::wstring* full_memory_path) {
    auto* self = static_cast<RecordingCrashServer*>(context);
    RecordedDump dump;
    dump.pid = client->pid();
    dump.has_dump_path = dump_path != nullptr;
    if (dump_path)
      dump.dump_path = *dump_path;
    if (full_memory_path)
      dump.full_memory_path = *full_memory_path;
    HANDLE process = client->process();
    ReadClient(process, client->thread_id_address(), &dump.thread_id);
    uint64_t pointers_address = 0;
    EXCEPTION_POINTERS pointers = {};
    EXCEPTION_RECORD record = {};
    if (ReadClient(process, client->exception_pointers_address(), &pointers_address) &&
        pointers_address && ReadClient(process, pointers_address, &pointers) &&
        ReadClient(process, reinterpret_cast<uintptr_t>(pointers.ExceptionRecord), &record)) {
      dump.exception_code = record.ExceptionCode;
    }
    AssertionInfo assertion = {};
    if (ReadClient(process, client->assertion_info_address(), &assertion))
      dump.assertion_type = assertion.type;
    CustomInfo info = client->GetCustomInfo();
    for (size_t i = 0; i < info.count; ++i)
      dump.entries.emplace_back(CrashKeyText(info.entries[i].name),
                                CrashKeyText(info.entries[i].value));
    FillCrashInfoFromKeys(info, &dump.crash_info);
    if (self->entered_) {
      ::SetEvent(self->entered_);
      ::WaitForSingleObject(self->release_, 30000);
    }
    {
      base::AutoLock hold(self->lock_);
      self->dumps_.push_back(std::move(dump));
    }
    ::SetEvent(self->dumped_.Get());
  }

  std::unique_ptr<CrashPipeServer> server_;
  base::win::ScopedHandle dumped_;
  base::Lock lock_;
  std::vector<RecordedDump> dumps_;
  HANDLE entered_ = nullptr;
  HANDLE release_ = nullptr;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_TEST_SUPPORT_H_
