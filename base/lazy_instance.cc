#include "base/lazy_instance.h"

#include <windows.h>

#include "base/exit_callback_manager.h"

namespace base {

uintptr_t WaitForLazyInstance(std::atomic<uintptr_t>* state) {
  uintptr_t value = state->load(std::memory_order_acquire);
  while (value == internal::kLazyInstanceStateBuilding) {
    ::Sleep(0);
    value = state->load(std::memory_order_acquire);
  }
  return value;
}

namespace internal {

bool NeedsLazyInstance(std::atomic<uintptr_t>* state) {
  uintptr_t expected = 0;
  if (state->compare_exchange_strong(expected, kLazyInstanceStateBuilding,
                                     std::memory_order_acq_rel, std::memory_order_acquire))
    return true;
  WaitForLazyInstance(state);
  return false;
}

void CompleteLazyInstance(std::atomic<uintptr_t>* state, uintptr_t instance,
                          void (*destructor)(void*)) {
  state->store(instance, std::memory_order_release);
  // Without a manager the instance lives until the process ends; nothing
  // to log then, as that is the normal case outside the entry point.
  if (destructor && ExitCallbackManager::HasCurrent())
    ExitCallbackManager::RegisterCallback(destructor, state);
}

}  // namespace internal
}  // namespace base
