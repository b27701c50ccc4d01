// IoMessagePump: the pump of an I/O loop, waiting on an I/O completion port.
// Wake-ups for tasks are completion packets with the pump's own key, at most
// one outstanding at a time; every other packet is the completion of an
// operation on a registered handle, whose key is its IoHandler.
#ifndef BASE_THREADING_MESSAGE_PUMP_IO_H_
#define BASE_THREADING_MESSAGE_PUMP_IO_H_

#include <windows.h>

#include <atomic>
#include <deque>

#include "base/threading/io_completion_context.h"
#include "base/threading/io_handler.h"
#include "base/threading/message_pump.h"
#include "base/win/scoped_handle.h"

namespace base {

class IoMessagePump : public MessagePump {
 public:
  IoMessagePump();
  ~IoMessagePump() override;

  void Run(Delegate* delegate, MessageDispatcher* dispatcher) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(MonotonicTime delayed_work_time) override;

  bool RegisterIOHandler(HANDLE file, IoHandler* handler);
  bool WaitForIOCompletion(TimeSpan timeout, IoHandler* filter);
  bool PostIOCompletion(IoHandler* handler, IoCompletionContext* context, DWORD bytes_transferred);

 private:
  struct IoItem {
    IoHandler* handler;
    IoCompletionContext* context;
    DWORD bytes_transferred;
    DWORD error;
  };

  struct RunState {
    bool should_quit = false;
  };

  // Takes one packet within |timeout_ms|. False when none came. A wake-up
  // packet only clears the wake-up flag and gives false with |*woken| set.
  bool GetIoItem(DWORD timeout_ms, IoItem* item, bool* woken);
  // Dispatches the oldest kept completion; false when none is kept.
  bool DispatchKeptCompletion();
  void WaitForWork();

  win::ScopedHandle port_;
  std::atomic<bool> work_scheduled_{false};
  // Completions taken while waiting for another handler's, in arrival order.
  std::deque<IoItem> kept_completions_;
  MonotonicTime delayed_work_time_;
  RunState* state_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_PUMP_IO_H_
