#include "desktop/windows/crash_reporter/crash_reporter_client.h"

#include <psapi.h>
#include <stdarg.h>
#include <wchar.h>

#include <atomic>
#include <memory>

#include "base/logging.h"
#include "base/process.h"
#include "base/trace_event/trace_site.h"
#include "base/string_number_conversions.h"
#include "base/win/crash_hook.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_dump_handler.h"
#include "desktop/windows/crash_reporter/crash_keys_page.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {

namespace {

constexpr size_t kNameBufferChars = 38;
constexpr DWORD kExceptionCallbackFilterFlag = 0x1;

std::atomic<uint32_t> g_crash_reporter_pid{0};
// Why this process's crashes are not reported, when they are not; told once
// the installer's log is open (see LogCrashReportingProblem).
std::atomic<const char*> g_crash_reporting_problem{nullptr};
// Lives until the process ends: a crash may come at any moment, also
// during exit, so it is never destroyed once registered.
std::atomic<CrashDumpHandler*> g_crash_handler{nullptr};
std::atomic<uint32_t> g_first_crash{0};

const wchar_t* const kDescribedModules[] = {
    nullptr,  // the main executable
    L"velmo_browser.dll",
    L"velmo_child.dll",
    L"KernelBase.dll",
    L"kernel32.dll",
    L"ntdll.dll",
    L"user32.dll",
    L"msvcrt.dll",
};

// Tells the log when the reporter that serves this process ends: a crash
// after that ends the process unreported, at once (the reporter's mutex is
// released or abandoned, which ends the crash's wait). Lives as long as the
// process.
class ReporterWatch {
 public:
  static void Start(uint32_t pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) {
      PLOG(WARNING) << "Cannot watch the crash reporter (pid " << pid << ")";
      return;
    }
    auto* watch = new ReporterWatch(process, pid);
    HANDLE wait = nullptr;
    if (!::RegisterWaitForSingleObject(&wait, process, &OnEnded, watch, INFINITE,
                                       WT_EXECUTEONLYONCE)) {
      PLOG(WARNING) << "Cannot watch the crash reporter (pid " << pid << ")";
      delete watch;
      return;
    }
    // Never unregistered: the watch lasts as long as the process.
  }

 private:
  ReporterWatch(HANDLE process, uint32_t pid) : process_(process), pid_(pid) {}

  static void CALLBACK OnEnded(void* context, BOOLEAN) {
    auto* watch = static_cast<ReporterWatch*>(context);
    LOG(WARNING) << "The crash reporter (pid " << watch->pid_
                 << ") has ended: a crash of this process from now on is not reported";
  }

  base::win::ScopedHandle process_;
  const uint32_t pid_;
};

template <typename Function>
Function GetKernel32Function(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(kernel32 ? ::GetProcAddress(kernel32, name) : nullptr));
}

}  // namespace

void DisableExceptionCallbackFilter() {
  using GetPolicy = BOOL(WINAPI*)(DWORD*);
  using SetPolicy = BOOL(WINAPI*)(DWORD);
  auto get_policy = GetKernel32Function<GetPolicy>("GetProcessUserModeExceptionPolicy");
  auto set_policy = GetKernel32Function<SetPolicy>("SetProcessUserModeExceptionPolicy");
  DWORD flags = 0;
  if (!get_policy || !set_policy || !get_policy(&flags))
    return;
  if (!set_policy(flags & ~kExceptionCallbackFilterFlag))
    PLOG(WARNING) << "Cannot change the process's exception policy";
}

uint32_t GetCrashReporterPidFromSwitch() {
  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  uint32_t pid = 0;
  if (!command_line ||
      !base::StringToUint(command_line->GetSwitchValueASCII(installer::kCrashReporterPidSwitch),
                          &pid)) {
    return 0;
  }
  return pid;
}

bool EnsureCrashReporterProcess() {
  if (installer::GetBuildNumber() < 0)
    return false;
  uint32_t pid = GetCrashReporterPidFromSwitch();
  if (pid == 0)
    pid = LaunchCrashReporter();
  SetCrashReporterPid(pid);
  return pid != 0;
}

base::CommandLine BuildCrashReporterCommandLine() {
  base::CommandLine command_line(*base::CommandLine::ForCurrentProcess());
  command_line.AppendSwitchASCII(installer::kCrashReporterParentIdSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  return command_line;
}

// A reporter that does not start is logged at verbose level only, for the
// reasons given beside the pipe client's connection.
uint32_t LaunchCrashReporter() {
  TRACE_EVENT_SCOPE("toplevel", "LaunchCrashReporter");
  base::CommandLine command_line = BuildCrashReporterCommandLine();
  wchar_t event_name[kNameBufferChars];
  if (FormatWideBounded(event_name, kNameBufferChars, L"%ls%u", kCrashReporterInitEventPrefix,
                        static_cast<unsigned>(::GetCurrentProcessId())) < 0) {
    LOG(ERROR) << "Cannot name the crash reporter's start-up event";
    return 0;
  }
  base::win::ScopedHandle init_event(::CreateEventW(nullptr, TRUE, FALSE, event_name));
  if (!init_event.IsValid()) {
    VLOG(1) << "Cannot create the crash reporter's start-up event (error " << ::GetLastError()
            << ")";
    return 0;
  }
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  if (!base::CreateProcessRetryingInternalErrors(command_line.GetCommandLineString(), false,
                                                 nullptr, &startup_info, &process_info)) {
    VLOG(1) << "Cannot start the crash reporter (error " << ::GetLastError() << ")";
    return 0;
  }
  base::win::ScopedHandle process(process_info.hProcess);
  base::win::ScopedHandle thread(process_info.hThread);
  HANDLE waits[] = {init_event.Get(), process.Get()};
  DWORD result = ::WaitForMultipleObjects(2, waits, FALSE, kCrashReporterStartTimeoutMs);
  if (result != WAIT_OBJECT_0) {
    VLOG(1) << "The crash reporter did not start (wait result " << result << ")";
    g_crash_reporting_problem.store(result == WAIT_OBJECT_0 + 1
                                        ? "the crash reporter ended without serving"
                                        : "the crash reporter did not start in time");
    return 0;
  }
  return process_info.dwProcessId;
}

void ConnectCrashReporterClient() {
  uint32_t pid = GetCrashReporterPid();
  if (g_crash_handler.load() || pid == 0)
    return;
  wchar_t pipe_name[kNameBufferChars];
  if (FormatWideBounded(pipe_name, kNameBufferChars, L"%ls%u", kCrashPipeNamePrefix,
                        static_cast<unsigned>(pid)) < 0) {
    LOG(ERROR) << "Cannot name the crash reporter's pipe";
    return;
  }
  CrashKeysPage* page = CrashKeysPage::GetInstance();
  CustomInfo custom_info = page ? page->GetCustomInfo() : CustomInfo();
  CrashDumpHandler::ReporterPipe pipe;
  pipe.client =
      std::make_unique<CrashPipeClient>(std::wstring(pipe_name), MiniDumpNormal, custom_info);
  // Knowing the reporter's process, the registration goes on while it
  // lives: on a loaded machine the reporter may still be starting, or be
  // busy with other clients.
  if (HANDLE reporter = ::OpenProcess(SYNCHRONIZE, FALSE, pid))
    pipe.client->set_server_process(reporter);
  auto handler = std::make_unique<CrashDumpHandler>(std::wstring(), &CrashFilterFirstThreadOnly,
                                                    &OnCrashDumpDone, nullptr, kHandlerAll,
                                                    MiniDumpNormal, std::move(pipe), custom_info);
  // Without a registration the handler goes again, restoring the handlers it
  // replaced: the process keeps the system's crash handling.
  if (!handler->IsOutOfProcess()) {
    g_crash_reporting_problem.store("the crash reporter could not be reached");
    return;
  }
  handler->set_handle_debug_exceptions(true);
  g_crash_handler.store(handler.release());
  base::win::ExchangeCrashHook(&DumpAndTerminate);
  ReporterWatch::Start(pid);
}

void LogCrashReportingProblem() {
  if (const char* problem = g_crash_reporting_problem.load())
    LOG(INFO) << "Crashes of this process are not reported: " << problem;
}

void InitializeCrashKeys() {
  CrashKeysPage* page = CrashKeysPage::GetInstance();
  page->SetValue(kSlotProcessType, L"installer");
  std::wstring vlauto_test = ReadEnvironmentVariable(kVlautoTestVariable);
  if (!vlauto_test.empty())
    page->SetRangeValue(kSlotVlautoTestFirst, kSlotVlautoTestLast, vlauto_test.c_str());
  std::wstring origin = ReadEnvironmentVariable(kOriginVariable);
  if (!origin.empty())
    page->SetValue(kSlotOrigin, origin.c_str());
  page->SetRangeValue(kSlotModulesFirst, kSlotModulesLast, DescribeNamedModules().c_str());
}

uint32_t GetCrashReporterPid() { return g_crash_reporter_pid.load(); }

void SetCrashReporterPid(uint32_t pid) { g_crash_reporter_pid.store(pid); }

CrashDumpHandler* GetInstallerCrashHandler() { return g_crash_handler.load(); }

bool CrashFilterFirstThreadOnly(void*, EXCEPTION_POINTERS*, const AssertionInfo*) {
  uint32_t expected = 0;
  if (g_first_crash.compare_exchange_strong(expected, 1))
    return true;
  ::Sleep(INFINITE);
  return false;
}

bool OnCrashDumpDone(const wchar_t*, const wchar_t*, void*, EXCEPTION_POINTERS*,
                     const AssertionInfo*, bool) {
  return true;
}

int DumpAndTerminate(EXCEPTION_POINTERS* exception_pointers) {
  if (CrashDumpHandler* handler = g_crash_handler.load())
    handler->WriteMinidumpForException(exception_pointers);
  ::TerminateProcess(::GetCurrentProcess(), 1);
  return 1;
}

std::wstring ReadEnvironmentVariable(const wchar_t* name) {
  wchar_t value[kEnvironmentValueUnits];
  DWORD length = ::GetEnvironmentVariableW(name, value, kEnvironmentValueUnits);
  if (length == 0 || length >= kEnvironmentValueUnits)
    return std::wstring();
  return std::wstring(value, length);
}

std::wstring DescribeNamedModules() {
  std::wstring description;
  for (const wchar_t* name : kDescribedModules) {
    HMODULE module = ::GetModuleHandleW(name);
    if (!module)
      continue;
    MODULEINFO info = {};
    if (!::GetModuleInformation(::GetCurrentProcess(), module, &info, sizeof(info)))
      continue;
    wchar_t path[MAX_PATH];
    DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
      continue;
    const wchar_t* shown_name = name;
    if (!shown_name) {
      const wchar_t* separator = wcsrchr(path, L'\\');
      if (!separator)
        continue;
      shown_name = separator + 1;
    }
    wchar_t record[MAX_PATH * 2 + 64];
    if (FormatWideBounded(
            record, sizeof(record) / sizeof(record[0]), L"%ls:%llx:%lx:%ls::", shown_name,
            static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(info.lpBaseOfDll)),
            static_cast<unsigned long>(info.SizeOfImage), path) < 0) {
      continue;
    }
    description += record;
  }
  return description;
}

int FormatWideBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) {
  if (capacity == 0)
    return -1;
  va_list arguments;
  va_start(arguments, format);
  int written = vswprintf(buffer, capacity, format, arguments);
  va_end(arguments);
  if (written < 0 || static_cast<size_t>(written) >= capacity) {
    buffer[capacity - 1] = L'\0';
    return -1;
  }
  return written;
}

}  // namespace crash_reporter
