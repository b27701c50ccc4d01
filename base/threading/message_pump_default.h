// DefaultMessagePump: waits on an automatic-reset event, with a time-out at
// the next delayed task.
#ifndef BASE_THREADING_MESSAGE_PUMP_DEFAULT_H_
#define BASE_THREADING_MESSAGE_PUMP_DEFAULT_H_

#include "base/threading/message_pump.h"
#include "base/threading/waitable_event.h"

namespace base {

class DefaultMessagePump : public MessagePump {
 public:
  DefaultMessagePump();
  ~DefaultMessagePump() override;

  void Run(Delegate* delegate, MessageDispatcher* dispatcher) override;
  void Quit() override;
  void ScheduleWork() override;
  void ScheduleDelayedWork(MonotonicTime delayed_work_time) override;

 private:
  struct RunState {
    bool should_quit = false;
  };

  WaitableEvent event_;
  RunState* state_ = nullptr;
  MonotonicTime delayed_work_time_;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_PUMP_DEFAULT_H_
