// A child process that crashed and waits in its unhandled-exception filter,
// frozen by the test's debugger attachment, as the reporter finds a crashed
// installer. The child is this test executable again; it publishes where its
// crash details lie through a named mapping.
//
// Each test executable defines the child once:
//   CHILD_PROCESS_MAIN(CrashIntoWaitingFilter) { return RunCrashedChild(); }
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASHED_CHILD_FOR_TEST_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASHED_CHILD_FOR_TEST_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/command_line.h"
#include "base/files/path_registry.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/size_limited_minidump.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "testing/multiprocess_test.h"

namespace crash_reporter {

inline constexpr char kCrashedChildName[] = "CrashIntoWaitingFilter";
inline constexpr char kCrashDataSwitch[] = "crash-data";
inline constexpr char kExtraThreadsSwitch[] = "extra-threads";
inline constexpr char kAssertionTypeSwitch[] = "assertion-type";
inline constexpr char kExceptionCodeSwitch[] = "exception-code";

// What the child tells the test, at the start of the mapping.
struct CrashedChildData {
  uint64_t exception_pointers_address;
  uint64_t thread_id_address;
  uint64_t assertion_address;
  uint64_t block_address;  // the 792-byte exception-info block
  uint32_t thread_id;      // of the thread that crashes
};

inline std::wstring CrashDataName(uint32_t parent_pid, int serial) {
  return L"Local\\VelmoCrashedChild" + std::to_wstring(parent_pid) + L"_" + std::to_wstring(serial);
}

namespace crashed_child_internal {
inline EXCEPTION_POINTERS* g_pointers = nullptr;
inline DWORD g_thread_id = 0;
inline AssertionInfo g_assertion = {};
inline ExceptionInfoBlock g_block = {};
inline HANDLE g_ready = nullptr;
inline uint32_t g_reported_code = 0;

inline LONG WINAPI WaitingFilter(EXCEPTION_POINTERS* pointers) {
  // Wine continues after a raised STATUS_INVALID_HANDLE instead of letting
  // it reach this filter, so such a crash is made by rewriting the record.
  if (g_reported_code)
    pointers->ExceptionRecord->ExceptionCode = g_reported_code;
  g_pointers = pointers;
  g_thread_id = ::GetCurrentThreadId();
  g_block.thread_id = g_thread_id;
  g_block.exception_pointers = reinterpret_cast<uint64_t>(pointers);
  g_block.assertion = g_assertion;
  ::SetEvent(g_ready);
  ::Sleep(INFINITE);
  return EXCEPTION_CONTINUE_SEARCH;
}

inline DWORD WINAPI SleepingThread(void*) {
  ::Sleep(INFINITE);
  return 0;
}
}  // namespace crashed_child_internal

// The child's main: loads the fixture module, starts the extra threads,
// publishes its addresses and crashes with an access violation.
inline int RunCrashedChild() {
  using namespace crashed_child_internal;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const std::wstring name = command_line.GetSwitchValueNative(kCrashDataSwitch);
  base::win::ScopedHandle mapping(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, name.c_str()));
  g_ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L"_ready").c_str());
  if (!mapping.IsValid() || !g_ready)
    return 2;
  auto* data = static_cast<CrashedChildData*>(
      ::MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, sizeof(CrashedChildData)));
  if (!data)
    return 3;
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  ::LoadLibraryW(exe_dir.Append(L"crash_fixture.dll").c_str());
  int threads = 0;
  base::StringToInt(command_line.GetSwitchValueASCII(kExtraThreadsSwitch), &threads);
  for (int i = 0; i < threads; ++i)
    ::CreateThread(nullptr, 0, &SleepingThread, nullptr, 0, nullptr);
  uint32_t type = 0;
  base::StringToUint(command_line.GetSwitchValueASCII(kAssertionTypeSwitch), &type);
  g_assertion.type = type;
  g_assertion.line = 77;
  data->exception_pointers_address = reinterpret_cast<uint64_t>(&g_pointers);
  data->thread_id_address = reinterpret_cast<uint64_t>(&g_thread_id);
  data->assertion_address = reinterpret_cast<uint64_t>(&g_assertion);
  data->block_address = reinterpret_cast<uint64_t>(&g_block);
  data->thread_id = ::GetCurrentThreadId();  // the thread that crashes below
  ::SetUnhandledExceptionFilter(&WaitingFilter);
  base::StringToUint(command_line.GetSwitchValueASCII(kExceptionCodeSwitch), &g_reported_code);
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
  return 4;
}

// The test's side: starts the child, waits until it has crashed into its
// filter and freezes it; ends it on destruction.
class CrashedChild {
 public:
  CrashedChild() = default;
  CrashedChild(const CrashedChild&) = delete;
  CrashedChild& operator=(const CrashedChild&) = delete;
  ~CrashedChild() {
    if (process_.IsValid()) {
      process_.Terminate(1, false);
      if (attached_)
        ::DebugActiveProcessStop(process_.Pid());
      process_.WaitForExitWithTimeout(10000, nullptr);
    }
  }

  // False when the child did not crash within 30 s or cannot be frozen.
  // The crash is an access violation, reported as |exception_code| when
  // that is not 0.
  bool Start(int extra_threads, uint32_t assertion_type = 0, uint32_t exception_code = 0) {
    static int serial = 0;
    const std::wstring name = CrashDataName(::GetCurrentProcessId(), ++serial);
    mapping_.Reset(
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str()));
    base::win::ScopedHandle ready(::CreateEventW(nullptr, TRUE, FALSE, (name + L"_ready").c_str()));
    if (!mapping_.IsValid() || !ready.IsValid())
      return false;
    base::CommandLine command_line = testing::GetChildCommandLine(kCrashedChildName);
    command_line.AppendSwitchNative(kCrashDataSwitch, name);
    command_line.AppendSwitchASCII(kExtraThreadsSwitch, std::to_string(extra_threads));
    command_line.AppendSwitchASCII(kAssertionTypeSwitch, std::to_string(assertion_type));
    command_line.AppendSwitchASCII(kExceptionCodeSwitch, std::to_string(exception_code));
    base::LaunchOptions options;
    options.start_hidden = true;
    process_ = base::LaunchProcess(command_line, options);
    if (!process_.IsValid())
      return false;
    HANDLE waits[] = {ready.Get(), process_.Handle()};
    if (::WaitForMultipleObjects(2, waits, FALSE, 30000) != WAIT_OBJECT_0)
      return false;
    const void* view = ::MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, sizeof(data_));
    if (!view)
      return false;
    data_ = *static_cast<const CrashedChildData*>(view);
    ::UnmapViewOfFile(view);
    attached_ = ::DebugActiveProcess(process_.Pid()) != FALSE;
    return attached_;
  }

  uint32_t pid() const { return process_.Pid(); }
  HANDLE process() const { return process_.Handle(); }
  const CrashedChildData& data() const { return data_; }

 private:
  base::win::ScopedHandle mapping_;
  base::Process process_;
  CrashedChildData data_ = {};
  bool attached_ = false;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASHED_CHILD_FOR_TEST_H_
