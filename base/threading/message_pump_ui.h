// UiMessagePump: the pump of a UI loop. It processes the thread's Windows
// messages and the loop's tasks in turn (one message, then one task).
//
// Wake-ups are a private message to a message-only window, at most one
// outstanding at a time; delayed tasks arm a window timer. Both reach the
// window's procedure even while a native modal loop (message box, dialog,
// menu, window move) pumps the thread's messages, so tasks keep running
// there, provided the modal loop was not entered from inside a task.
#ifndef BASE_THREADING_MESSAGE_PUMP_UI_H_
#define BASE_THREADING_MESSAGE_PUMP_UI_H_

#include <windows.h>

#include <atomic>

#include "base/scoped_generic.h"
#include "base/threading/message_pump.h"

namespace base {

struct MessageWindowTraits {
  static HWND InvalidValue() { return nullptr; }
  static void Free(HWND& window);
};

class UiMessagePump : public MessagePump {
 public:
  UiMessagePump();
  ~UiMessagePump() override;

  void Run(Delegate* delegate, MessageDispatcher* dispatcher) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(MonotonicTime delayed_work_time) override;

  HWND message_window() const { return window_.Get(); }

 private:
  struct RunState {
    Delegate* delegate = nullptr;
    MessageDispatcher* dispatcher = nullptr;
    bool should_quit = false;
    RunState* previous = nullptr;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // The wake-up and the timer, however they arrive.
  void HandleWorkMessage();
  void HandleTimerMessage();

  // True when a message was processed.
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& message);
  void WaitForWork();
  // Arms the timer for |delayed_work_time_|, or kills it when none is due.
  void UpdateTimer();
  void KillTimerIfSet();

  ScopedGeneric<HWND, MessageWindowTraits> window_;
  // Whether a wake-up message is outstanding.
  std::atomic<bool> work_scheduled_{false};
  bool timer_set_ = false;
  MonotonicTime delayed_work_time_;
  RunState* state_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_PUMP_UI_H_
