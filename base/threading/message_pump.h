// MessagePump: the waiting part of a MessageLoop. Run() calls the delegate
// for work until Quit(); ScheduleWork() (any thread) wakes it for new tasks;
// ScheduleDelayedWork() (loop thread) tells it when the next delayed task is
// due. Runs may nest (a LoopRunner inside a task); Quit() ends the innermost.
#ifndef BASE_THREADING_MESSAGE_PUMP_H_
#define BASE_THREADING_MESSAGE_PUMP_H_

#include "base/time.h"

namespace base {

class MessageDispatcher;

class MessagePump {
 public:
  class Delegate {
   public:
    // Runs one immediate task if one may run; true when more may be ready.
    virtual bool DoWork() = 0;
    // Runs one due delayed task; sets |*next_delayed_work_time| to when the
    // next is due (a null time when none). True when more may be ready.
    virtual bool DoDelayedWork(MonotonicTime* next_delayed_work_time) = 0;
    // Called when nothing is ready; true when it found more to do.
    virtual bool DoIdleWork() = 0;
    // Called right before the pump sleeps: false when tasks arrived
    // meanwhile (do not sleep); true when the next post will wake the pump.
    // Until then posts do not wake it, so a pump must call this before
    // every sleep.
    virtual bool PrepareToWait() = 0;
    // Whether tasks were posted since the loop last took them; cheap and
    // lock-free, for spinning briefly before sleeping.
    virtual bool HasIncomingTasks() const = 0;

   protected:
    virtual ~Delegate() = default;
  };

  virtual ~MessagePump() = default;

  // |dispatcher| is only used by the UI pump and may be null.
  virtual void Run(Delegate* delegate, MessageDispatcher* dispatcher) = 0;
  virtual void Quit() = 0;
  virtual void ScheduleWork() = 0;
  virtual void ScheduleDelayedWork(MonotonicTime delayed_work_time) = 0;
};

}  // namespace base

#endif  // BASE_THREADING_MESSAGE_PUMP_H_
