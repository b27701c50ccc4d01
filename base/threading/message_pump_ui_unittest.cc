#include "base/threading/message_pump_ui.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/string_printf.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_dispatcher.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "base/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr UINT kOpenMessageBox = WM_APP + 7;

struct ModalState {
  std::wstring caption;
  bool box_open = false;
  int box_result = 0;
  std::vector<std::string> log;
  // Runs once the box has closed.
  Closure on_closed;
};

ModalState* g_modal_state = nullptr;

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kOpenMessageBox) {
    g_modal_state->box_open = true;
    g_modal_state->box_result =
        MessageBoxW(window, L"A modal box", g_modal_state->caption.c_str(), MB_OK);
    g_modal_state->box_open = false;
    g_modal_state->log.push_back("box closed");
    g_modal_state->on_closed.Run();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

struct WindowTraits {
  static HWND InvalidValue() { return nullptr; }
  static void Free(HWND& window) { DestroyWindow(window); }
};

HWND FindMessageBox(const std::wstring& caption) { return FindWindowW(L"#32770", caption.c_str()); }

// A message box opened from a window message: posted and delayed tasks keep
// running inside its modal loop, and a posted task closes it. Each step
// starts from the one before (never from the clock), so that the order holds
// however late a loaded machine runs any of them.
TEST(UiMessagePumpTest, TasksRunInsideAModalMessageBox) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  ModalState state;
  state.caption = UTF8ToWide(FormatString("ModalPumpTest %lu", GetCurrentProcessId()));
  g_modal_state = &state;

  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &OwnerWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"ModalPumpTestOwner";
  RegisterClassExW(&window_class);
  ScopedGeneric<HWND, WindowTraits> owner(CreateWindowExW(0, L"ModalPumpTestOwner", L"owner", 0, 0,
                                                          0, 10, 10, nullptr, nullptr,
                                                          GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(owner.IsValid());
  ASSERT_TRUE(PostMessageW(owner.Get(), kOpenMessageBox, 0, 0));

  auto log_task = [&state](const char* what) {
    state.log.push_back(std::string(what) + (state.box_open ? " in box" : " outside"));
  };
  LoopRunner runner;
  auto task_runner = loop.task_runner();
  state.on_closed =
      Bind([task_runner, &runner] { task_runner->PostTask(FROM_HERE, runner.QuitClosure()); });
  // Generous: only a pump that never runs the step reaches it.
  const TimeSpan kStepBound = TimeSpan::FromSeconds(60);
  WaitableEvent delayed_ran(WaitableEvent::ResetPolicy::kManual,
                            WaitableEvent::InitialState::kNotSignaled);
  task_runner->PostTask(FROM_HERE, Bind(log_task, "immediate"));
  task_runner->PostDelayedTask(FROM_HERE, Bind([log_task, &delayed_ran] {
                                 log_task("delayed");
                                 delayed_ran.Signal();
                               }),
                               TimeSpan::FromMilliseconds(50));
  auto closer = [&state, log_task] {
    log_task("closer");
    HWND box = FindMessageBox(state.caption);
    ASSERT_NE(box, nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  };
  // Posted from another thread while the box is open, once the delayed task
  // has run; it hands over to a delayed task that closes the box.
  PlainThread poster("ModalPoster", Bind([task_runner, log_task, closer, &delayed_ran, kStepBound] {
                       delayed_ran.TimedWait(kStepBound);
                       task_runner->PostTask(FROM_HERE, Bind([task_runner, log_task, closer] {
                                               log_task("cross-thread");
                                               task_runner->PostDelayedTask(
                                                   FROM_HERE, Bind(closer),
                                                   TimeSpan::FromMilliseconds(50));
                                             }));
                     }));
  ASSERT_TRUE(poster.Start());

  // Should the pump fail, close the box anyway so the test ends.
  WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  PlainThread watchdog("ModalWatchdog", Bind([&state, &done, kStepBound] {
                         if (!done.TimedWait(kStepBound)) {
                           if (HWND box = FindMessageBox(state.caption))
                             PostMessageW(box, WM_COMMAND, IDOK, 0);
                         }
                       }));
  ASSERT_TRUE(watchdog.Start());
  runner.Run();
  done.Signal();
  watchdog.Join();
  poster.Join();
  g_modal_state = nullptr;

  EXPECT_EQ(state.box_result, IDOK);
  EXPECT_EQ(state.log,
            (std::vector<std::string>{"immediate in box", "delayed in box", "cross-thread in box",
                                      "closer in box", "box closed"}));
}

// Gives every message of a run to the dispatcher; 2 hands it back to the pump.
class CountingDispatcher : public MessageDispatcher {
 public:
  int Dispatch(const MSG& message) override {
    if (message.message == WM_APP + 1) {
      ++consumed;
      return kConsumed;
    }
    if (message.message == WM_APP + 2)
      ++passed;
    return kTranslateAndDispatch;
  }
  int consumed = 0;
  int passed = 0;
};

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP + 1 || message == WM_APP + 2) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(UiMessagePumpTest, DispatcherDecidesAndQuitMessageEndsTheRun) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = &CountingWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"DispatcherTestWindow";
  RegisterClassExW(&window_class);
  ScopedGeneric<HWND, WindowTraits> window(CreateWindowExW(0, L"DispatcherTestWindow", L"", 0, 0, 0,
                                                           0, 0, HWND_MESSAGE, nullptr,
                                                           GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(window.IsValid());
  int window_proc_calls = 0;
  SetWindowLongPtrW(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window_proc_calls));
  PostMessageW(window.Get(), WM_APP + 1, 0, 0);
  PostMessageW(window.Get(), WM_APP + 2, 0, 0);
  bool task_ran = false;
  loop.task_runner()->PostTask(FROM_HERE, Bind([&task_ran] {
                                 task_ran = true;
                                 PostQuitMessage(0);
                               }));
  CountingDispatcher dispatcher;
  LoopRunner runner(&dispatcher);
  runner.Run();  // Ended by WM_QUIT.
  EXPECT_TRUE(task_ran);
  EXPECT_EQ(dispatcher.consumed, 1);
  EXPECT_EQ(dispatcher.passed, 1);
  EXPECT_EQ(window_proc_calls, 1);
}

}  // namespace
}  // namespace base
