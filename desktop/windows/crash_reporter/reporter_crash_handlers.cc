#include "desktop/windows/crash_reporter/reporter_crash_handlers.h"

#include <atomic>
#include <cstdlib>
#include <cwchar>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_switches.h"

namespace crash_reporter {
namespace {

ExceptionInfoBlock g_block = {};
bool g_handlers_installed = false;
bool g_prepared = false;
std::atomic<LONG> g_first_crash{0};
// Built before any crash: a crash handler must not allocate.
std::wstring* g_command_line = nullptr;
base::win::ScopedHandle g_event;  // kept for the life of the process

std::wstring EventName(DWORD pid) { return kSelfReportEventPrefix + std::to_wstring(pid); }

// Only the first crashing thread reports; any later one stops where it is,
// so that the report describes the first crash.
void StopUnlessFirstCrash() {
  LONG expected = 0;
  if (!g_first_crash.compare_exchange_strong(expected, 1))
    ::SuspendThread(::GetCurrentThread());
}

void StartSelfReportAndWait() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, g_command_line->data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
    return;
  }
  base::win::ScopedHandle process(info.hProcess);
  base::win::ScopedHandle thread(info.hThread);
  if (g_event.IsValid())
    ::WaitForSingleObject(g_event.Get(), kSelfReportWaitMs);
  else
    ::Sleep(kSelfReportWaitMs);
}

void CopyText(wchar_t* field, const wchar_t* text) {
  if (!text || !*text)
    return;
  std::wcsncpy(field, text, kAssertionTextUnits - 1);
  field[kAssertionTextUnits - 1] = L'\0';
}

// Reports an invalid call of the C runtime as if it had raised |code| here.
// The record and context live on this stack while the reporting process
// reads them, since this thread waits.
void ReportRuntimeCrash(DWORD code, uint32_t type, const wchar_t* expression,
                        const wchar_t* function, const wchar_t* file, unsigned int line) {
  StopUnlessFirstCrash();
  if (g_prepared) {
    EXCEPTION_RECORD record = {};
    alignas(16) CONTEXT context = {};
    ::RtlCaptureContext(&context);
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    EXCEPTION_POINTERS pointers = {&record, &context};
    g_block.exception_pointers = reinterpret_cast<uint64_t>(&pointers);
    g_block.assertion.type = type;
    if (type == kInvalidParameterAssertion) {
      CopyText(g_block.assertion.expression, expression);
      CopyText(g_block.assertion.function, function);
      CopyText(g_block.assertion.file, file);
      g_block.assertion.line = line;
    }
    g_block.thread_id = ::GetCurrentThreadId();
    StartSelfReportAndWait();
  }
  // The process cannot go on; its exit code says how it ended, never 0,
  // which would read as success to whoever waits for it.
  ::TerminateProcess(::GetCurrentProcess(), code);
}

LONG WINAPI OnReporterUnhandledException(EXCEPTION_POINTERS* pointers) {
  StopUnlessFirstCrash();
  if (!g_prepared)
    return EXCEPTION_EXECUTE_HANDLER;
  g_block.assertion.type = kNoAssertion;
  g_block.thread_id = ::GetCurrentThreadId();
  g_block.exception_pointers = reinterpret_cast<uint64_t>(pointers);
  StartSelfReportAndWait();
  return EXCEPTION_EXECUTE_HANDLER;
}

void __cdecl OnReporterInvalidParameter(const wchar_t* expression, const wchar_t* function,
                                        const wchar_t* file, unsigned int line, uintptr_t) {
  ReportRuntimeCrash(STATUS_INVALID_PARAMETER, kInvalidParameterAssertion, expression, function,
                     file, line);
}

void __cdecl OnReporterPureCall() {
  ReportRuntimeCrash(STATUS_NONCONTINUABLE_EXCEPTION, kPureCallAssertion, nullptr, nullptr, nullptr,
                     0);
}

}  // namespace

void InstallReporterCrashHandlers() {
  if (g_handlers_installed)
    return;
  g_handlers_installed = true;
  ::SetUnhandledExceptionFilter(&OnReporterUnhandledException);
  _set_invalid_parameter_handler(&OnReporterInvalidParameter);
  _set_purecall_handler(&OnReporterPureCall);
}

bool GetOwnExecutablePath(std::wstring* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return false;
  path->assign(buffer, length);
  return true;
}

void PrepareSelfReportCommandLine(bool with_minidump_switch) {
  if (g_prepared)
    return;
  std::wstring exe;
  if (!GetOwnExecutablePath(&exe)) {
    PLOG(ERROR) << "Cannot find the reporter's own executable";
    return;
  }
  g_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, EventName(::GetCurrentProcessId()).c_str()));
  if (!g_event.IsValid()) {
    PLOG(ERROR) << "Cannot create the self-report event";
    return;
  }
  base::CommandLine command_line{base::FilePath(exe)};
  command_line.AppendSwitchASCII(installer::kCrashReporterExceptionInfoSwitch,
                                 std::to_string(reinterpret_cast<uint64_t>(&g_block)));
  command_line.AppendSwitchASCII(installer::kCrashReporterParentIdSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  if (with_minidump_switch)
    command_line.AppendSwitch(installer::kCrashReporterMinidumpSwitch);
  g_command_line = new std::wstring(command_line.GetCommandLineString());
  g_prepared = true;
}

const std::wstring& GetSelfReportCommandLineForTesting() {
  static const std::wstring empty;
  return g_command_line ? *g_command_line : empty;
}

const ExceptionInfoBlock* GetSelfReportBlock() { return &g_block; }

void SignalSelfReportDone(DWORD pid) {
  base::win::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, EventName(pid).c_str()));
  if (!event.IsValid()) {
    PLOG(ERROR) << "Cannot open the self-report event of " << pid;
    return;
  }
  ::SetEvent(event.Get());
}

}  // namespace crash_reporter
