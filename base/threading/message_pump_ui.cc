#include "base/threading/message_pump_ui.h"

#include "base/logging.h"
#include "base/threading/loop_diagnostics.h"
#include "base/threading/message_dispatcher.h"
#include "base/win/crash_hook.h"

namespace base {

namespace {

constexpr wchar_t kWindowClassName[] = L"Base_MessagePumpWindow";
constexpr UINT kMsgHaveWork = WM_USER + 1;
constexpr UINT_PTR kTimerId = 1;

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleInstance), &module)) {
    PLOG(ERROR) << "GetModuleHandleExW failed";
  }
  return module;
}

// Registered once per process and left registered: windows of the class may
// exist on any thread until the module unloads.
bool EnsureWindowClass(WNDPROC window_proc) {
  static const ATOM atom = [window_proc] {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = ModuleInstance();
    window_class.lpszClassName = kWindowClassName;
    ATOM result = RegisterClassExW(&window_class);
    if (!result)
      PLOG(ERROR) << "RegisterClassExW of the message pump window failed";
    return result;
  }();
  return atom != 0;
}

}  // namespace

void MessageWindowTraits::Free(HWND& window) {
  if (!DestroyWindow(window))
    PLOG(ERROR) << "DestroyWindow of the message pump window failed";
}

UiMessagePump::UiMessagePump() {
  if (!EnsureWindowClass(win::GuardedProcedure<&UiMessagePump::WindowProc>))
    return;
  HWND window = CreateWindowExW(0, kWindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ModuleInstance(), nullptr);
  if (!window) {
    PLOG(ERROR) << "CreateWindowExW of the message pump window failed";
    return;
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_.Reset(window);
}

UiMessagePump::~UiMessagePump() {
  KillTimerIfSet();
  if (window_.IsValid())
    SetWindowLongPtrW(window_.Get(), GWLP_USERDATA, 0);
}

// static
LRESULT CALLBACK UiMessagePump::WindowProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
  auto* pump = reinterpret_cast<UiMessagePump*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (pump) {
    if (message == kMsgHaveWork) {
      pump->HandleWorkMessage();
      return 0;
    }
    if (message == WM_TIMER && wparam == kTimerId) {
      pump->HandleTimerMessage();
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void UiMessagePump::Run(Delegate* delegate, MessageDispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.previous = state_;
  state_ = &state;
  for (;;) {
    bool did_work = ProcessNextWindowsMessage();
    if (state.should_quit)
      break;
    did_work |= delegate->DoWork();
    if (state.should_quit)
      break;
    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (delayed_work_time_.is_null())
      KillTimerIfSet();
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    did_work = delegate->DoIdleWork();
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    if (!delegate->PrepareToWait())
      continue;
    WaitForWork();
  }
  state_ = state.previous;
}

void UiMessagePump::Quit() {
  if (state_)
    state_->should_quit = true;
}

void UiMessagePump::ScheduleWork() {
  if (work_scheduled_.exchange(true, std::memory_order_acq_rel))
    return;  // A wake-up is already on its way.
  if (window_.IsValid() && PostMessageW(window_.Get(), kMsgHaveWork, 0, 0))
    return;
  PLOG(ERROR) << "Posting the message pump's wake-up failed";
  loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kPostMessageFailed);
  // Let a later post try again; the running loop finds the task meanwhile.
  work_scheduled_.store(false, std::memory_order_release);
}

void UiMessagePump::ScheduleDelayedWork(MonotonicTime delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  UpdateTimer();
}

void UiMessagePump::HandleWorkMessage() {
  work_scheduled_.store(false, std::memory_order_release);
  // Outside a run (a message box before the loop runs) nothing may run;
  // the run does the work when it starts.
  if (!state_)
    return;
  // Reached here only from a native modal loop or a foreign dispatch: run
  // one task and ask for another turn, so the modal loop's own messages get
  // theirs in between.
  // When nothing more is ready, the next post must wake the modal loop.
  // When tasks may not run here (the modal loop runs inside a task), they
  // wait for the run to come back, without more wake-ups.
  if (state_->delegate->DoWork() ||
      (!state_->delegate->PrepareToWait() && state_->delegate->DoWork()))
    ScheduleWork();
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  UpdateTimer();
}

void UiMessagePump::HandleTimerMessage() {
  KillTimerIfSet();
  if (!state_)
    return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  UpdateTimer();
}

bool UiMessagePump::ProcessNextWindowsMessage() {
  MSG message;
  if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    return false;
  return ProcessMessageHelper(message);
}

bool UiMessagePump::ProcessMessageHelper(const MSG& message) {
  LOOP_TRACE_PROCESS_MESSAGE(message.message);
  if (message.message == WM_QUIT) {
    LOG(ERROR) << "WM_QUIT reached the message pump; ending the run";
    loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kQuitMessageReceived);
    state_->should_quit = true;
    // An outer run ends too.
    if (state_->previous)
      PostQuitMessage(static_cast<int>(message.wParam));
    return false;
  }
  if (message.hwnd == window_.Get() && message.message == kMsgHaveWork) {
    // The run itself does the work right after this message.
    work_scheduled_.store(false, std::memory_order_release);
    return true;
  }
  if (message.hwnd != window_.Get() && state_->dispatcher) {
    if (state_->dispatcher->Dispatch(message) != MessageDispatcher::kTranslateAndDispatch)
      return true;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
  return true;
}

void UiMessagePump::WaitForWork() {
  DWORD timeout = INFINITE;
  if (!delayed_work_time_.is_null()) {
    int64_t ms = (delayed_work_time_ - MonotonicTime::Now()).InMillisecondsRoundedUp();
    if (ms <= 0)
      return;
    timeout = static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
  }
  DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  if (result == WAIT_FAILED) {
    PLOG(ERROR) << "MsgWaitForMultipleObjectsEx failed";
    // Do not spin: the next iteration peeks and waits again.
    Sleep(1);
  }
}

void UiMessagePump::UpdateTimer() {
  if (delayed_work_time_.is_null()) {
    KillTimerIfSet();
    return;
  }
  if (!window_.IsValid())
    return;
  int64_t ms = (delayed_work_time_ - MonotonicTime::Now()).InMillisecondsRoundedUp();
  if (ms < USER_TIMER_MINIMUM)
    ms = USER_TIMER_MINIMUM;
  if (ms > 0x7FFFFFFF)
    ms = 0x7FFFFFFF;
  if (!SetTimer(window_.Get(), kTimerId, static_cast<UINT>(ms), nullptr)) {
    PLOG(ERROR) << "SetTimer for delayed tasks failed";
    loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kTimerFailed);
    timer_set_ = false;
    return;
  }
  timer_set_ = true;
}

void UiMessagePump::KillTimerIfSet() {
  if (!timer_set_)
    return;
  timer_set_ = false;
  if (!KillTimer(window_.Get(), kTimerId)) {
    PLOG(ERROR) << "KillTimer for delayed tasks failed";
    loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kTimerFailed);
  }
}

}  // namespace base
