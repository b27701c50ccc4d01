#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"

#include "base/logging.h"
#include "base/win/vectored_guard.h"

namespace installer {
namespace {

struct GuardFrame {
  // For __builtin_setjmp: frame pointer, resume address, stack pointer and
  // two words of slack.
  void* jump_buffer[5];
  GuardFrame* outer = nullptr;
  GuardedAddressFilter filter = nullptr;
  void* filter_context = nullptr;
  DWORD nt_status = 0;
};

LONG CALLBACK InPageErrorHandler(EXCEPTION_POINTERS* pointers);

// The handler reads the thread's frame from a raw TLS slot for every
// exception of the process: TlsGetValue neither allocates nor locks.
// First in the chain: the process-wide crash guard, registered last, must
// not see an in-page error that this guard handles.
base::win::VectoredGuard g_guard(&InPageErrorHandler, /*first=*/true, "in-page error guard");

LONG CALLBACK InPageErrorHandler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 3)
    return EXCEPTION_CONTINUE_SEARCH;
  const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  for (GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_guard.tls_index())); frame;
       frame = frame->outer) {
    if (!frame->filter(frame->filter_context, address))
      continue;
    frame->nt_status = static_cast<DWORD>(record->ExceptionInformation[2]);
    // This guard and every inner one are over: their calls will not return.
    TlsSetValue(g_guard.tls_index(), frame->outer);
    __builtin_longjmp(frame->jump_buffer, 1);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

// Not inlined: the frame that holds the jump buffer must stay a frame of its
// own while the guarded call runs.
__attribute__((noinline)) bool RunWithInPageErrorGuard(void (*function)(void* context),
                                                       void* context, GuardedAddressFilter filter,
                                                       void* filter_context, DWORD* nt_status) {
  if (!g_guard.EnsureInstalled()) {
    // Without the guard an in-page error ends the process, as it would
    // anywhere else; the call itself still has to run.
    function(context);
    return true;
  }
  // Volatile: the frame is read again after the jump back.
  GuardFrame frame;
  GuardFrame* volatile frame_pointer = &frame;
  frame.outer = static_cast<GuardFrame*>(TlsGetValue(g_guard.tls_index()));
  frame.filter = filter;
  frame.filter_context = filter_context;
  TlsSetValue(g_guard.tls_index(), &frame);
  if (__builtin_setjmp(frame.jump_buffer) == 0) {
    function(context);
    TlsSetValue(g_guard.tls_index(), frame.outer);
    return true;
  }
  *nt_status = frame_pointer->nt_status;
  return false;
}

}  // namespace installer
