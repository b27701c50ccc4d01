// Catches the fatal events of its own process (unhandled exceptions, invalid
// parameters passed to the C runtime, pure virtual calls) and turns each into
// a crash dump, in one of two modes chosen at construction:
//   out-of-process: a registered CrashPipeClient asks the reporter process;
//   in-process: a handler thread of its own writes a minidump of this
//   process into a dump folder.
// Handlers nest: each one that installs itself becomes the current one, and
// the system handlers it replaced are remembered and restored.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_DUMP_HANDLER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_DUMP_HANDLER_H_

#include <windows.h>

#include <dbghelp.h>
#include <rpc.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

// Which system handlers a CrashDumpHandler installs.
enum CrashHandlerKind : int {
  kHandlerUnhandledException = 0x1,
  kHandlerInvalidParameter = 0x2,
  kHandlerPureCall = 0x4,
  kHandlerAll = 0x7,
};

// User streams of the dumps written in-process.
inline constexpr ULONG32 kRequesterStreamType = 0x47670001;
inline constexpr ULONG32 kAssertionStreamType = 0x47670002;
inline constexpr uint32_t kRequesterStreamValidity = 3;

// The exit codes of a process ended after an invalid-parameter or pure
// virtual call; never 0, so that nothing mistakes the crash for success.
inline constexpr DWORD kInvalidParameterExitCode = 0xC000000D;  // STATUS_INVALID_PARAMETER
inline constexpr DWORD kPureCallExitCode = 0xC0000025;          // STATUS_NONCONTINUABLE_EXCEPTION

class CrashDumpHandler {
 public:
  // False cancels the dump.
  using Filter = bool (*)(void* context, EXCEPTION_POINTERS* exception_pointers,
                          const AssertionInfo* assertion);
  // Called after a dump; its result becomes the handler's.
  using DumpCallback = bool (*)(const wchar_t* dump_folder, const wchar_t* dump_id, void* context,
                                EXCEPTION_POINTERS* exception_pointers,
                                const AssertionInfo* assertion, bool succeeded);

  // How the handler reaches the reporter: a ready-made client (registered
  // or not) comes first, then a pipe name, then a pipe that is already
  // connected in message mode (the handler owns it from here on). None of
  // them, or a registration that fails, leaves the handler in-process.
  struct ReporterPipe {
    const wchar_t* name = nullptr;
    HANDLE handle = nullptr;
    std::unique_ptr<CrashPipeClient> client;
  };

  // With |pipe_name| the handler registers with the reporter; when that
  // fails (or without a name) it works in-process. The system handlers are
  // installed before the registration: a crash on another thread meanwhile
  // is reported once the registration is done. |handler_kinds| of 0
  // installs nothing.
  CrashDumpHandler(std::wstring dump_folder, Filter filter, DumpCallback dump_callback,
                   void* context, int handler_kinds, MINIDUMP_TYPE dump_type,
                   const wchar_t* pipe_name, CustomInfo custom_info);
  // |custom_info| serves a client made from the name or the handle.
  CrashDumpHandler(std::wstring dump_folder, Filter filter, DumpCallback dump_callback,
                   void* context, int handler_kinds, MINIDUMP_TYPE dump_type, ReporterPipe pipe,
                   CustomInfo custom_info);
  ~CrashDumpHandler();

  CrashDumpHandler(const CrashDumpHandler&) = delete;
  CrashDumpHandler& operator=(const CrashDumpHandler&) = delete;

  bool IsOutOfProcess() const { return pipe_client_ != nullptr; }
  void set_handle_debug_exceptions(bool value) { handle_debug_exceptions_ = value; }
  void set_consume_invalid_handle_exceptions(bool value) {
    consume_invalid_handle_exceptions_ = value;
  }
  const wchar_t* next_dump_id() const { return next_dump_id_; }
  const wchar_t* next_dump_path() const { return next_dump_path_; }

  // Dumps |exception_pointers| as a crash that something else caught.
  bool WriteMinidumpForException(EXCEPTION_POINTERS* exception_pointers);

  // The system handlers.
  static LONG WINAPI HandleException(EXCEPTION_POINTERS* exception_pointers);
  static void __cdecl HandleInvalidParameter(const wchar_t* expression, const wchar_t* function,
                                             const wchar_t* file, unsigned int line,
                                             uintptr_t reserved);
  static void __cdecl HandlePureCall();

 private:
  friend class CurrentHandlerScope;

  void Initialize(ReporterPipe pipe, CustomInfo custom_info);
  void InstallSystemHandlers();
  void RestorePreviousHandlers();
  void UpdateNextDumpPath();

  bool WriteMinidumpWithException(DWORD requesting_thread_id,
                                  EXCEPTION_POINTERS* exception_pointers,
                                  const AssertionInfo* assertion);
  bool WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* exception_pointers,
                                    const AssertionInfo* assertion);
  bool WriteOwnProcessDump(DWORD requesting_thread_id, EXCEPTION_POINTERS* exception_pointers,
                           const AssertionInfo* assertion);
  // Dumps an invalid-parameter or pure-call report as an exception of
  // |code| raised here.
  bool WriteAssertionDump(DWORD code, AssertionInfo* assertion);

  static DWORD WINAPI HandlerThreadMain(void* parameter);
  static BOOL CALLBACK DumpMemoryRangesCallback(void* parameter, MINIDUMP_CALLBACK_INPUT* input,
                                                MINIDUMP_CALLBACK_OUTPUT* output);

  Filter filter_;
  DumpCallback dump_callback_;
  void* callback_context_;
  std::unique_ptr<CrashPipeClient> pipe_client_;
  int handler_kinds_;
  MINIDUMP_TYPE dump_type_;
  bool handle_debug_exceptions_ = false;
  bool consume_invalid_handle_exceptions_ = false;

  // Kept as fixed buffers: they are read while crashing.
  wchar_t dump_folder_[MAX_PATH] = {};
  wchar_t next_dump_id_[40] = {};
  wchar_t next_dump_path_[MAX_PATH] = {};

  base::win::LibraryHolder dbghelp_;
  decltype(&::MiniDumpWriteDump) write_dump_ = nullptr;
  base::win::LibraryHolder rpcrt4_;
  RPC_STATUS(RPC_ENTRY* create_uuid_)(UUID*) = nullptr;

  LPTOP_LEVEL_EXCEPTION_FILTER previous_filter_ = nullptr;
  _invalid_parameter_handler previous_invalid_parameter_handler_ = nullptr;
  _purecall_handler previous_pure_call_handler_ = nullptr;

  // In-process mode: one request at a time goes to the handler thread.
  base::win::ScopedHandle handler_thread_;
  volatile bool handler_thread_shutdown_ = false;
  CRITICAL_SECTION handler_lock_ = {};
  bool handler_lock_initialized_ = false;
  base::win::ScopedHandle request_semaphore_;
  base::win::ScopedHandle done_semaphore_;
  DWORD request_thread_id_ = 0;
  EXCEPTION_POINTERS* request_exception_pointers_ = nullptr;
  const AssertionInfo* request_assertion_ = nullptr;
  bool request_result_ = false;

  struct MemoryRange {
    ULONG64 base;
    ULONG size;
  };
  // The first entry is reserved for the memory around the faulting
  // instruction.
  std::vector<MemoryRange> memory_ranges_;
  size_t next_memory_range_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_DUMP_HANDLER_H_
