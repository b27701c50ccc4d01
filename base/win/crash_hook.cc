#include "base/win/crash_hook.h"

#include <atomic>

#include "base/logging.h"
#include "base/win/exception_filter_call.h"

namespace base::win {
namespace {

std::atomic<CrashHook> g_crash_hook{nullptr};

// What a guarded call learns of the exception its hook took.
struct TakenException {
  DWORD code = 0;
  int hook_result = 0;
};

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

// Asked only for exceptions that no handler inside the guarded call took.
LONG GuardFilter(void* context, EXCEPTION_POINTERS* exception_pointers) {
  const DWORD code = exception_pointers->ExceptionRecord->ExceptionCode;
  if (!IsHardwareException(code))
    return EXCEPTION_CONTINUE_SEARCH;
  CrashHook hook = g_crash_hook.load(std::memory_order_acquire);
  if (!hook)
    return EXCEPTION_CONTINUE_SEARCH;
  const int decision = hook(exception_pointers);
  if (decision == EXCEPTION_CONTINUE_SEARCH || decision == EXCEPTION_CONTINUE_EXECUTION)
    return decision;
  auto* taken = static_cast<TakenException*>(context);
  taken->code = code;
  taken->hook_result = decision;
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

CrashHook ExchangeCrashHook(CrashHook hook) {
  return g_crash_hook.exchange(hook, std::memory_order_acq_rel);
}

bool RunGuardedCall(void (*function)(void* context), void* context) {
  TakenException taken;
  if (RunWithExceptionFilter(function, context, &GuardFilter, &taken))
    return true;
  LOG(ERROR) << "guarded call raised exception 0x" << std::hex << taken.code
             << "; the crash hook returned " << std::dec << taken.hook_result;
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
