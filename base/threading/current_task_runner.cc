#include "base/threading/current_task_runner.h"

#include "base/threading/thread_local_slot.h"

namespace base {

// static
SharedRef<OrderedTaskRunner> CurrentTaskRunner::Get() {
  return SharedRef<OrderedTaskRunner>(
      static_cast<OrderedTaskRunner*>(GetCurrentTaskRunnerSlot().Get()));
}

// static
bool CurrentTaskRunner::IsSet() { return GetCurrentTaskRunnerSlot().Get() != nullptr; }

CurrentTaskRunner::Scope::Scope(OrderedTaskRunner* runner)
    : previous_(GetCurrentTaskRunnerSlot().Get()) {
  GetCurrentTaskRunnerSlot().Set(runner);
}

CurrentTaskRunner::Scope::~Scope() { GetCurrentTaskRunnerSlot().Set(previous_); }

}  // namespace base
