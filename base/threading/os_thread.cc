#include "base/threading/os_thread.h"

#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/threading/scoped_thread_join_activity.h"
#include "base/threading/thread_name_registry.h"

namespace base {

namespace {

struct ThreadStart {
  OsThread::Delegate* delegate;
};

DWORD WINAPI ThreadFunction(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  OsThread::Delegate* delegate = start->delegate;
  delete start;
  delegate->ThreadMain();
  return 0;
}

int NativePriority(OsThread::Priority priority) {
  switch (priority) {
    case OsThread::Priority::kBackground: return THREAD_PRIORITY_LOWEST;
    case OsThread::Priority::kDisplay: return THREAD_PRIORITY_ABOVE_NORMAL;
    case OsThread::Priority::kRealtimeAudio: return THREAD_PRIORITY_TIME_CRITICAL;
    case OsThread::Priority::kNormal: break;
  }
  return THREAD_PRIORITY_NORMAL;
}

using SetThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE, PCWSTR);

}  // namespace

// static
bool OsThread::Create(size_t stack_size, Delegate* delegate, Handle* out_handle,
                      Priority priority) {
  if (!delegate || !out_handle) {
    LOG(ERROR) << "OsThread::Create without a delegate or an out handle";
    return false;
  }
  auto* start = new ThreadStart{delegate};
  DWORD thread_id = 0;
  // Suspended, so that the priority is in place before the thread runs.
  HANDLE thread = CreateThread(
      nullptr, stack_size, &ThreadFunction, start,
      CREATE_SUSPENDED | (stack_size ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0), &thread_id);
  if (!thread) {
    PLOG(ERROR) << "CreateThread failed";
    delete start;
    return false;
  }
  out_handle->handle.Reset(thread);
  out_handle->id = thread_id;
  if (priority != Priority::kNormal && !SetThreadPriority(thread, NativePriority(priority)))
    PLOG(ERROR) << "SetThreadPriority failed; the thread runs at normal priority";
  if (ResumeThread(thread) == static_cast<DWORD>(-1)) {
    PLOG(ERROR) << "ResumeThread of a new thread failed";
    TerminateThread(thread, 1);
    delete start;
    out_handle->handle.Reset();
    out_handle->id = 0;
    return false;
  }
  return true;
}

// static
void OsThread::Join(Handle* handle) {
  if (!handle || !handle->IsValid()) {
    LOG(ERROR) << "OsThread::Join of a thread that is not running";
    return;
  }
  {
    ScopedThreadJoinActivity activity(__builtin_return_address(0), handle->id);
    if (WaitForSingleObject(handle->handle.Get(), INFINITE) != WAIT_OBJECT_0)
      PLOG(ERROR) << "Waiting for thread " << handle->id << " failed";
  }
  handle->handle.Reset();
  handle->id = 0;
}

// static
void OsThread::Sleep(TimeSpan duration) {
  int64_t ms = duration.InMilliseconds();
  if (ms < 0)
    ms = 0;
  ::Sleep(static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF));
}

// static
DWORD OsThread::CurrentId() { return GetCurrentThreadId(); }

// static
void OsThread::SetName(const char* name) {
  if (!name)
    return;
  ThreadNameRegistry::GetInstance()->SetName(GetCurrentThreadId(), name);
  // Windows 10 1607 and later; optional everywhere else.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return;
  auto set_description = reinterpret_cast<SetThreadDescriptionFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "SetThreadDescription")));
  if (!set_description)
    return;
  std::wstring wide = UTF8ToWide(name);
  HRESULT hr = set_description(GetCurrentThread(), wide.c_str());
  if (FAILED(hr))
    ELOG(ERROR, hr) << "SetThreadDescription failed";
}

}  // namespace base
