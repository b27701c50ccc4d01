#include "desktop/windows/crash_reporter/crash_dump_handler.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/guid_string.h"

extern "C" void __cdecl _invalid_parameter_noinfo(void);

namespace crash_reporter {

namespace {

constexpr DWORD kHandlerThreadStackBytes = 64 * 1024;
constexpr DWORD kHandlerThreadExitWaitMs = 60000;
// Bytes kept on each side of the faulting instruction.
constexpr ULONG64 kInstructionMemoryBytes = 128;

constexpr DWORD kDbgPrintExceptionC = 0x40010006;
constexpr DWORD kDbgPrintExceptionWideC = 0x4001000A;

// The handlers installed in this process, the last one on top. Created with
// the first handler that installs itself and deleted when it empties.
std::vector<CrashDumpHandler*>* g_handler_stack = nullptr;
// Serialises installing and removing handlers and every run of the system
// handlers: a second crashing thread waits until the first is done. A
// critical section, since a fault inside a handler reaches the next handler
// down the stack on the same thread. Never deleted: handlers may come and go
// on several threads, and a crash may come during exit.
CRITICAL_SECTION g_handler_lock;
INIT_ONCE g_handler_lock_once = INIT_ONCE_STATIC_INIT;
// How many system handlers run nested on the calling thread, in a slot of
// its own: a fault inside a handler reaches the next handler down the stack
// on the same thread, while other threads wait for the lock. A plain TLS
// slot, since the compiler's thread-local variables may allocate on first
// use, which a crashed thread must not do.
DWORD g_handler_depth_slot = TLS_OUT_OF_INDEXES;

BOOL CALLBACK InitializeHandlerLock(INIT_ONCE*, void*, void**) {
  ::InitializeCriticalSection(&g_handler_lock);
  g_handler_depth_slot = ::TlsAlloc();
  return TRUE;
}

int GetHandlerDepth() {
  return static_cast<int>(reinterpret_cast<intptr_t>(::TlsGetValue(g_handler_depth_slot)));
}

void SetHandlerDepth(int depth) {
  ::TlsSetValue(g_handler_depth_slot, reinterpret_cast<void*>(static_cast<intptr_t>(depth)));
}

void EnsureHandlerLock() {
  ::InitOnceExecuteOnce(&g_handler_lock_once, &InitializeHandlerLock, nullptr, nullptr);
}

bool IsDebugException(DWORD code) {
  return code == EXCEPTION_BREAKPOINT || code == EXCEPTION_SINGLE_STEP ||
         code == kDbgPrintExceptionC || code == kDbgPrintExceptionWideC;
}

// Copies a runtime text into an assertion field; the runtime passes null
// for every text in release builds.
void CopyAssertionText(wchar_t* field, const wchar_t* text) {
  swprintf(field, kAssertionTextUnits, L"%ls", text ? text : L"");
  field[kAssertionTextUnits - 1] = L'\0';
}

}  // namespace

// Held by each system handler for its whole run. It serialises the crashing
// threads and picks the handler that serves this level of nesting: the top
// one first, the next one down when a handler faults (or passes the event on
// to the handler it replaced) on the same thread. Beyond the bottom of the
// stack, the system handlers that the bottom handler replaced take over.
//
// The replaced system handlers are not put back while a handler runs: they
// are process-wide, and another thread crashing in that window would go
// straight to them, which may end the process before the first crash is
// reported.
class CurrentHandlerScope {
 public:
  CurrentHandlerScope() {
    EnsureHandlerLock();
    ::EnterCriticalSection(&g_handler_lock);
    depth_ = GetHandlerDepth() + 1;
    SetHandlerDepth(depth_);
    if (g_handler_stack && !g_handler_stack->empty()) {
      size_t size = g_handler_stack->size();
      if (depth_ <= static_cast<int>(size))
        handler_ = (*g_handler_stack)[size - depth_];
      else
        bottom_ = g_handler_stack->front();
    }
  }
  ~CurrentHandlerScope() {
    SetHandlerDepth(depth_ - 1);
    ::LeaveCriticalSection(&g_handler_lock);
  }
  CurrentHandlerScope(const CurrentHandlerScope&) = delete;
  CurrentHandlerScope& operator=(const CurrentHandlerScope&) = delete;

  // The handler serving this level; null beyond the bottom of the stack.
  CrashDumpHandler* handler() const { return handler_; }
  // The bottom handler, whose replaced handlers serve beyond the stack.
  CrashDumpHandler* bottom() const { return bottom_; }

 private:
  int depth_ = 0;
  CrashDumpHandler* handler_ = nullptr;
  CrashDumpHandler* bottom_ = nullptr;
};

CrashDumpHandler::CrashDumpHandler(std::wstring dump_folder, Filter filter,
                                   DumpCallback dump_callback, void* context, int handler_kinds,
                                   MINIDUMP_TYPE dump_type, const wchar_t* pipe_name,
                                   CustomInfo custom_info)
    : CrashDumpHandler(std::move(dump_folder), filter, dump_callback, context, handler_kinds,
                       dump_type, ReporterPipe{pipe_name, nullptr, nullptr}, custom_info) {}

CrashDumpHandler::CrashDumpHandler(std::wstring dump_folder, Filter filter,
                                   DumpCallback dump_callback, void* context, int handler_kinds,
                                   MINIDUMP_TYPE dump_type, ReporterPipe pipe,
                                   CustomInfo custom_info)
    : filter_(filter),
      dump_callback_(dump_callback),
      callback_context_(context),
      handler_kinds_(handler_kinds),
      dump_type_(dump_type) {
  swprintf(dump_folder_, MAX_PATH, L"%ls", dump_folder.c_str());
  Initialize(std::move(pipe), custom_info);
}

void CrashDumpHandler::Initialize(ReporterPipe pipe, CustomInfo custom_info) {
  base::win::ScopedHandle given_pipe(pipe.handle);  // closed here when unused
  std::unique_ptr<CrashPipeClient> client = std::move(pipe.client);
  if (!client && pipe.name)
    client = std::make_unique<CrashPipeClient>(pipe.name, dump_type_, custom_info);
  else if (!client && given_pipe.IsValid())
    client = std::make_unique<CrashPipeClient>(given_pipe.Release(), dump_type_, custom_info);

  memory_ranges_.push_back(MemoryRange{0, 0});
  bool installed = false;
  if (client) {
    // The system handlers come first: a crash on another thread while the
    // client registers (which may take a while on a loaded machine) is
    // then reported once the registration is done, instead of going to
    // whatever handled crashes before.
    pipe_client_ = std::move(client);
    InstallSystemHandlers();
    installed = true;
    if (!pipe_client_->Register()) {
      // A client that cannot register goes, and the handler works
      // in-process. A crash that waited for the registration has left the
      // client before the lock is free.
      EnsureHandlerLock();
      ::EnterCriticalSection(&g_handler_lock);
      std::unique_ptr<CrashPipeClient> unregistered = std::move(pipe_client_);
      ::LeaveCriticalSection(&g_handler_lock);
    }
  }

  if (!pipe_client_) {
    ::InitializeCriticalSection(&handler_lock_);
    handler_lock_initialized_ = true;
    request_semaphore_.Reset(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
    done_semaphore_.Reset(::CreateSemaphoreW(nullptr, 0, 1, nullptr));
    if (request_semaphore_.IsValid() && done_semaphore_.IsValid()) {
      handler_thread_.Reset(::CreateThread(nullptr, kHandlerThreadStackBytes, &HandlerThreadMain,
                                           this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
      if (!handler_thread_.IsValid())
        PLOG(ERROR) << "Cannot start the crash handler thread";
    } else {
      PLOG(ERROR) << "Cannot create the crash handler's semaphores";
    }
    if (dbghelp_.Load(L"dbghelp.dll"))
      write_dump_ = dbghelp_.GetFunction<decltype(&::MiniDumpWriteDump)>("MiniDumpWriteDump");
    if (rpcrt4_.Load(L"rpcrt4.dll"))
      create_uuid_ = rpcrt4_.GetFunction<decltype(create_uuid_)>("UuidCreate");
    UpdateNextDumpPath();
  }
  if (!installed)
    InstallSystemHandlers();
}

void CrashDumpHandler::InstallSystemHandlers() {
  EnsureHandlerLock();
  if (handler_kinds_ != 0) {
    ::EnterCriticalSection(&g_handler_lock);
    if (!g_handler_stack)
      g_handler_stack = new std::vector<CrashDumpHandler*>();
    g_handler_stack->push_back(this);
    if (handler_kinds_ & kHandlerUnhandledException)
      previous_filter_ = ::SetUnhandledExceptionFilter(&HandleException);
    if (handler_kinds_ & kHandlerInvalidParameter)
      previous_invalid_parameter_handler_ = _set_invalid_parameter_handler(&HandleInvalidParameter);
    if (handler_kinds_ & kHandlerPureCall)
      previous_pure_call_handler_ = _set_purecall_handler(&HandlePureCall);
    ::LeaveCriticalSection(&g_handler_lock);
  }
}

CrashDumpHandler::~CrashDumpHandler() {
  write_dump_ = nullptr;
  create_uuid_ = nullptr;
  dbghelp_.Reset();
  rpcrt4_.Reset();

  if (handler_kinds_ != 0) {
    ::EnterCriticalSection(&g_handler_lock);
    RestorePreviousHandlers();
    if (g_handler_stack) {
      if (!g_handler_stack->empty() && g_handler_stack->back() == this) {
        g_handler_stack->pop_back();
      } else {
        fprintf(stderr, "warning: removing crash handler out of order\n");
        auto it = std::find(g_handler_stack->begin(), g_handler_stack->end(), this);
        if (it != g_handler_stack->end())
          g_handler_stack->erase(it);
      }
      if (g_handler_stack->empty()) {
        delete g_handler_stack;
        g_handler_stack = nullptr;
      }
    }
    ::LeaveCriticalSection(&g_handler_lock);
  }

  if (handler_thread_.IsValid()) {
    handler_thread_shutdown_ = true;
    ::ReleaseSemaphore(request_semaphore_.Get(), 1, nullptr);
    if (::WaitForSingleObject(handler_thread_.Get(), kHandlerThreadExitWaitMs) != WAIT_OBJECT_0)
      LOG(ERROR) << "The crash handler thread did not end";
    handler_thread_.Reset();
  }
  if (handler_lock_initialized_)
    ::DeleteCriticalSection(&handler_lock_);
  request_semaphore_.Reset();
  done_semaphore_.Reset();
}

void CrashDumpHandler::RestorePreviousHandlers() {
  if (handler_kinds_ & kHandlerUnhandledException)
    ::SetUnhandledExceptionFilter(previous_filter_);
  if (handler_kinds_ & kHandlerInvalidParameter)
    _set_invalid_parameter_handler(previous_invalid_parameter_handler_);
  if (handler_kinds_ & kHandlerPureCall)
    _set_purecall_handler(previous_pure_call_handler_);
}

void CrashDumpHandler::UpdateNextDumpPath() {
  UUID id = {};
  if (create_uuid_)
    create_uuid_(&id);
  swprintf(next_dump_id_, 40, L"%ls", GuidToWideString(id).c_str());
  int written = swprintf(next_dump_path_, MAX_PATH, L"%ls\\%ls.dmp", dump_folder_, next_dump_id_);
  if (written < 0 || written >= MAX_PATH)
    next_dump_path_[MAX_PATH - 1] = L'\0';
}

bool CrashDumpHandler::WriteMinidumpForException(EXCEPTION_POINTERS* exception_pointers) {
  if (pipe_client_)
    return WriteMinidumpWithException(::GetCurrentThreadId(), exception_pointers, nullptr);
  bool result = WriteMinidumpOnHandlerThread(exception_pointers, nullptr);
  UpdateNextDumpPath();
  return result;
}

// static
LONG WINAPI CrashDumpHandler::HandleException(EXCEPTION_POINTERS* exception_pointers) {
  CurrentHandlerScope scope;
  CrashDumpHandler* handler = scope.handler();
  if (!handler) {
    if (scope.bottom() && scope.bottom()->previous_filter_)
      return scope.bottom()->previous_filter_(exception_pointers);
    return EXCEPTION_CONTINUE_SEARCH;
  }
  DWORD code = exception_pointers && exception_pointers->ExceptionRecord
                   ? exception_pointers->ExceptionRecord->ExceptionCode
                   : 0;
  if (code == static_cast<DWORD>(STATUS_INVALID_HANDLE) &&
      handler->consume_invalid_handle_exceptions_) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!IsDebugException(code) || handler->handle_debug_exceptions_) {
    bool written = handler->pipe_client_
                       ? handler->WriteMinidumpWithException(::GetCurrentThreadId(),
                                                             exception_pointers, nullptr)
                       : handler->WriteMinidumpOnHandlerThread(exception_pointers, nullptr);
    if (written)
      return EXCEPTION_EXECUTE_HANDLER;
  }
  if (handler->previous_filter_)
    return handler->previous_filter_(exception_pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

bool CrashDumpHandler::WriteAssertionDump(DWORD code, AssertionInfo* assertion) {
  // The report looks like an exception raised right here, whose parameters
  // point at the assertion's texts.
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  record.NumberParameters = 3;
  record.ExceptionInformation[0] = reinterpret_cast<ULONG_PTR>(assertion->expression);
  record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(assertion->file);
  record.ExceptionInformation[2] = assertion->line;
  EXCEPTION_POINTERS pointers = {&record, &context};
  if (pipe_client_)
    return WriteMinidumpWithException(::GetCurrentThreadId(), &pointers, assertion);
  return WriteMinidumpOnHandlerThread(&pointers, assertion);
}

// static
void __cdecl CrashDumpHandler::HandleInvalidParameter(const wchar_t* expression,
                                                      const wchar_t* function, const wchar_t* file,
                                                      unsigned int line, uintptr_t reserved) {
  {
    CurrentHandlerScope scope;
    CrashDumpHandler* handler = scope.handler();
    if (!handler && scope.bottom() && scope.bottom()->previous_invalid_parameter_handler_) {
      scope.bottom()->previous_invalid_parameter_handler_(expression, function, file, line,
                                                          reserved);
    } else if (handler) {
      AssertionInfo assertion = {};
      CopyAssertionText(assertion.expression, expression);
      CopyAssertionText(assertion.function, function);
      CopyAssertionText(assertion.file, file);
      assertion.line = line;
      assertion.type = kInvalidParameterAssertion;
      if (!handler->WriteAssertionDump(kInvalidParameterExitCode, &assertion)) {
        if (handler->previous_invalid_parameter_handler_) {
          handler->previous_invalid_parameter_handler_(expression, function, file, line, reserved);
        } else {
          // The runtime handles the call itself only while no handler is
          // set: with this one in place the call would come straight back
          // here. Its handling ends the process.
          _set_invalid_parameter_handler(nullptr);
          _invalid_parameter_noinfo();
        }
      }
    }
  }
  // The call cannot go on. An exit code of 0 would report the crash as a
  // success to whoever waits for this process.
  ::TerminateProcess(::GetCurrentProcess(), kInvalidParameterExitCode);
}

// static
void __cdecl CrashDumpHandler::HandlePureCall() {
  {
    CurrentHandlerScope scope;
    CrashDumpHandler* handler = scope.handler();
    if (!handler) {
      if (!scope.bottom() || !scope.bottom()->previous_pure_call_handler_)
        return;  // the runtime's own handling follows
      scope.bottom()->previous_pure_call_handler_();
    } else {
      AssertionInfo assertion = {};
      assertion.type = kPureCallAssertion;
      if (!handler->WriteAssertionDump(kPureCallExitCode, &assertion)) {
        if (!handler->previous_pure_call_handler_)
          return;  // the runtime's own handling follows
        handler->previous_pure_call_handler_();
      }
    }
  }
  ::TerminateProcess(::GetCurrentProcess(), kPureCallExitCode);
}

bool CrashDumpHandler::WriteMinidumpWithException(DWORD requesting_thread_id,
                                                  EXCEPTION_POINTERS* exception_pointers,
                                                  const AssertionInfo* assertion) {
  if (filter_ && !filter_(callback_context_, exception_pointers, assertion))
    return false;
  bool succeeded = pipe_client_
                       ? pipe_client_->RequestDump(exception_pointers, assertion)
                       : WriteOwnProcessDump(requesting_thread_id, exception_pointers, assertion);
  if (dump_callback_)
    return dump_callback_(dump_folder_, next_dump_id_, callback_context_, exception_pointers,
                          assertion, succeeded);
  return succeeded;
}

bool CrashDumpHandler::WriteMinidumpOnHandlerThread(EXCEPTION_POINTERS* exception_pointers,
                                                    const AssertionInfo* assertion) {
  if (!handler_lock_initialized_)
    return false;
  ::EnterCriticalSection(&handler_lock_);
  bool result = false;
  if (handler_thread_.IsValid()) {
    request_thread_id_ = ::GetCurrentThreadId();
    request_exception_pointers_ = exception_pointers;
    request_assertion_ = assertion;
    ::ReleaseSemaphore(request_semaphore_.Get(), 1, nullptr);
    ::WaitForSingleObject(done_semaphore_.Get(), INFINITE);
    result = request_result_;
    request_thread_id_ = 0;
    request_exception_pointers_ = nullptr;
    request_assertion_ = nullptr;
  }
  ::LeaveCriticalSection(&handler_lock_);
  return result;
}

// static
DWORD WINAPI CrashDumpHandler::HandlerThreadMain(void* parameter) {
  auto* handler = static_cast<CrashDumpHandler*>(parameter);
  for (;;) {
    ::WaitForSingleObject(handler->request_semaphore_.Get(), INFINITE);
    if (handler->handler_thread_shutdown_)
      return 0;
    handler->request_result_ = handler->WriteMinidumpWithException(
        handler->request_thread_id_, handler->request_exception_pointers_,
        handler->request_assertion_);
    ::ReleaseSemaphore(handler->done_semaphore_.Get(), 1, nullptr);
  }
}

bool CrashDumpHandler::WriteOwnProcessDump(DWORD requesting_thread_id,
                                           EXCEPTION_POINTERS* exception_pointers,
                                           const AssertionInfo* assertion) {
  if (!write_dump_)
    return false;
  base::win::ScopedHandle file(::CreateFileW(next_dump_path_, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return false;

  MINIDUMP_EXCEPTION_INFORMATION dump_exception = {};
  dump_exception.ThreadId = requesting_thread_id;
  dump_exception.ExceptionPointers = exception_pointers;
  dump_exception.ClientPointers = FALSE;

  struct {
    uint32_t validity;
    uint32_t dump_thread_id;
    uint32_t requesting_thread_id;
  } requester = {kRequesterStreamValidity, ::GetCurrentThreadId(), requesting_thread_id};
  static_assert(sizeof(requester) == 12);
  MINIDUMP_USER_STREAM streams[2] = {};
  streams[0].Type = kRequesterStreamType;
  streams[0].BufferSize = sizeof(requester);
  streams[0].Buffer = &requester;
  ULONG stream_count = 1;
  if (assertion) {
    streams[1].Type = kAssertionStreamType;
    streams[1].BufferSize = sizeof(AssertionInfo);
    streams[1].Buffer = const_cast<AssertionInfo*>(assertion);
    stream_count = 2;
  }
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};

  memory_ranges_[0] = MemoryRange{0, 0};
  if (exception_pointers && exception_pointers->ContextRecord) {
    ULONG64 pointer = exception_pointers->ContextRecord->Rip;
    MEMORY_BASIC_INFORMATION region = {};
    if (::VirtualQueryEx(::GetCurrentProcess(), reinterpret_cast<void*>(pointer), &region,
                         sizeof(region)) == sizeof(region) &&
        region.State == MEM_COMMIT) {
      ULONG64 region_start = reinterpret_cast<ULONG64>(region.BaseAddress);
      ULONG64 region_end = region_start + region.RegionSize;
      ULONG64 start = std::max(
          region_start, pointer > kInstructionMemoryBytes ? pointer - kInstructionMemoryBytes : 0);
      ULONG64 end = std::min(region_end, pointer + kInstructionMemoryBytes);
      memory_ranges_[0] = MemoryRange{start, static_cast<ULONG>(end - start)};
    }
  }
  next_memory_range_ = 0;
  MINIDUMP_CALLBACK_INFORMATION callback = {&DumpMemoryRangesCallback, this};

  BOOL written =
      write_dump_(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), dump_type_,
                  exception_pointers ? &dump_exception : nullptr, &user_streams, &callback);
  return written == TRUE;
}

// static
BOOL CALLBACK CrashDumpHandler::DumpMemoryRangesCallback(void* parameter,
                                                         MINIDUMP_CALLBACK_INPUT* input,
                                                         MINIDUMP_CALLBACK_OUTPUT* output) {
  auto* handler = static_cast<CrashDumpHandler*>(parameter);
  switch (input->CallbackType) {
    case ModuleCallback:
    case ThreadCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback: return TRUE;
    case MemoryCallback: {
      std::vector<MemoryRange>& ranges = handler->memory_ranges_;
      if (handler->next_memory_range_ == 0 && !ranges.empty() && ranges[0].base == 0)
        handler->next_memory_range_ = 1;
      if (handler->next_memory_range_ >= ranges.size())
        return FALSE;
      const MemoryRange& range = ranges[handler->next_memory_range_++];
      output->MemoryBase = range.base;
      output->MemorySize = range.size;
      return TRUE;
    }
    case CancelCallback:
      output->Cancel = FALSE;
      output->CheckCancel = FALSE;
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace crash_reporter
