#include "base/win/crash_hook.h"

#include <atomic>

#include "base/logging.h"
#include "base/win/vectored_guard.h"

namespace base::win {
namespace {

std::atomic<CrashHook> g_crash_hook{nullptr};

// One active guard of a thread. Guards form a stack through |outer|; the
// innermost one sits in the thread's TLS slot.
struct GuardFrame {
  // For __builtin_setjmp: frame pointer, resume address, stack pointer and
  // two words of slack.
  void* jump_buffer[5];
  GuardFrame* outer = nullptr;
  // Set while the crash hook runs for this frame, so that an exception raised
  // by the hook itself is not fed back to it.
  bool in_hook = false;
  DWORD exception_code = 0;
  int hook_result = 0;
};

LONG CALLBACK GuardExceptionHandler(EXCEPTION_POINTERS* pointers);

// The handler reads the thread's frame from a raw TLS slot for every
// exception of the process: TlsGetValue neither allocates nor locks.
// Called last, so that handlers of narrower guards (such as those around
// reads of mapped files) see their exceptions first.
VectoredGuard g_guard(&GuardExceptionHandler, /*first=*/false, "crash guard");

// Exceptions raised by the processor or by the system on a processor fault.
// Software-raised ones (debug prints, thread names, RPC and language
// exceptions) are left to the handlers that expect them.
bool IsHardwareException(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_NONCONTINUABLE_EXCEPTION: return true;
    default: return false;
  }
}

LONG CALLBACK GuardExceptionHandler(EXCEPTION_POINTERS* exception_pointers) {
  GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_guard.tls_index()));
  if (!frame || frame->in_hook ||
      !IsHardwareException(exception_pointers->ExceptionRecord->ExceptionCode)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CrashHook hook = g_crash_hook.load(std::memory_order_acquire);
  if (!hook)
    return EXCEPTION_CONTINUE_SEARCH;

  frame->in_hook = true;
  const int decision = hook(exception_pointers);
  frame->in_hook = false;
  if (decision == EXCEPTION_CONTINUE_SEARCH)
    return EXCEPTION_CONTINUE_SEARCH;
  if (decision == EXCEPTION_CONTINUE_EXECUTION)
    return EXCEPTION_CONTINUE_EXECUTION;

  frame->exception_code = exception_pointers->ExceptionRecord->ExceptionCode;
  frame->hook_result = decision;
  // The guard is over: its call will not come back.
  TlsSetValue(g_guard.tls_index(), frame->outer);
  __builtin_longjmp(frame->jump_buffer, 1);
}

}  // namespace

CrashHook ExchangeCrashHook(CrashHook hook) {
  return g_crash_hook.exchange(hook, std::memory_order_acq_rel);
}

// Not inlined: the frame that holds the jump buffer must stay a frame of its
// own while the guarded call runs.
__attribute__((noinline)) bool RunGuardedCall(void (*function)(void* context), void* context) {
  if (!g_guard.EnsureInstalled()) {
    LOG(ERROR) << "crash guard unavailable; running the call unguarded";
    function(context);
    return true;
  }
  GuardFrame frame;
  frame.outer = static_cast<GuardFrame*>(TlsGetValue(g_guard.tls_index()));
  TlsSetValue(g_guard.tls_index(), &frame);
  if (__builtin_setjmp(frame.jump_buffer) == 0) {
    function(context);
    TlsSetValue(g_guard.tls_index(), frame.outer);
    return true;
  }
  // Back from the exception handler, which has already left this guard.
  LOG(ERROR) << "guarded call raised exception 0x" << std::hex << frame.exception_code
             << "; the crash hook returned " << std::dec << frame.hook_result;
  return false;
}

namespace {

struct WindowProcedureCall {
  WNDPROC procedure;
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result;
};

void CallWindowProcedure(void* context) {
  auto* call = static_cast<WindowProcedureCall*>(context);
  call->result = call->procedure(call->hwnd, call->message, call->wparam, call->lparam);
}

}  // namespace

bool RunGuardedWindowProcedure(WNDPROC procedure, HWND hwnd, UINT message, WPARAM wparam,
                               LPARAM lparam, LRESULT* result) {
  WindowProcedureCall call = {procedure, hwnd, message, wparam, lparam, 0};
  if (!RunGuardedCall(&CallWindowProcedure, &call)) {
    *result = 0;
    return false;
  }
  *result = call.result;
  return true;
}

}  // namespace base::win
