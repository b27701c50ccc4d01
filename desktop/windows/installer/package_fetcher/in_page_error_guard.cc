#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"

#include <atomic>

#include "base/logging.h"

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

// Read by the handler for every exception of the process: a raw TLS index,
// which neither allocates nor locks.
DWORD g_tls_index = TLS_OUT_OF_INDEXES;
// 0 not yet, 1 being installed, 2 installed, 3 failed.
std::atomic<int> g_install_state{0};

LONG CALLBACK InPageErrorHandler(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 3)
    return EXCEPTION_CONTINUE_SEARCH;
  const void* address = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
  for (GuardFrame* frame = static_cast<GuardFrame*>(TlsGetValue(g_tls_index)); frame;
       frame = frame->outer) {
    if (!frame->filter(frame->filter_context, address))
      continue;
    frame->nt_status = static_cast<DWORD>(record->ExceptionInformation[2]);
    // This guard and every inner one are over: their calls will not return.
    TlsSetValue(g_tls_index, frame->outer);
    __builtin_longjmp(frame->jump_buffer, 1);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

bool EnsureHandlerInstalled() {
  int state = g_install_state.load(std::memory_order_acquire);
  if (state == 2)
    return true;
  int expected = 0;
  if (g_install_state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    g_tls_index = TlsAlloc();
    if (g_tls_index == TLS_OUT_OF_INDEXES) {
      PLOG(ERROR) << "TlsAlloc for the in-page error guard failed";
      g_install_state.store(3, std::memory_order_release);
      return false;
    }
    // First in the chain: the process-wide crash guard, registered last,
    // must not see an in-page error that this guard handles.
    if (!AddVectoredExceptionHandler(1, &InPageErrorHandler)) {
      PLOG(ERROR) << "AddVectoredExceptionHandler for the in-page error guard failed";
      g_install_state.store(3, std::memory_order_release);
      return false;
    }
    g_install_state.store(2, std::memory_order_release);
    return true;
  }
  while ((state = g_install_state.load(std::memory_order_acquire)) == 1)
    Sleep(0);
  return state == 2;
}

}  // namespace

// Not inlined: the frame that holds the jump buffer must stay a frame of its
// own while the guarded call runs.
__attribute__((noinline)) bool RunWithInPageErrorGuard(void (*function)(void* context),
                                                       void* context, GuardedAddressFilter filter,
                                                       void* filter_context, DWORD* nt_status) {
  if (!EnsureHandlerInstalled()) {
    // Without the guard an in-page error ends the process, as it would
    // anywhere else; the call itself still has to run.
    function(context);
    return true;
  }
  // Volatile: the frame is read again after the jump back.
  GuardFrame frame;
  GuardFrame* volatile frame_pointer = &frame;
  frame.outer = static_cast<GuardFrame*>(TlsGetValue(g_tls_index));
  frame.filter = filter;
  frame.filter_context = filter_context;
  TlsSetValue(g_tls_index, &frame);
  if (__builtin_setjmp(frame.jump_buffer) == 0) {
    function(context);
    TlsSetValue(g_tls_index, frame.outer);
    return true;
  }
  *nt_status = frame_pointer->nt_status;
  return false;
}

}  // namespace installer
