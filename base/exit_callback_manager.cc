#include "base/exit_callback_manager.h"

#include <atomic>
#include <utility>

#include "base/logging.h"

namespace base {

namespace {
// Managers are made and destroyed on the entry point's thread; callbacks may
// be registered from any thread.
std::atomic<ExitCallbackManager*> g_current_manager{nullptr};
}  // namespace

ExitCallbackManager::ExitCallbackManager()
    : previous_(g_current_manager.load(std::memory_order_acquire)) {
  g_current_manager.store(this, std::memory_order_release);
}

ExitCallbackManager::~ExitCallbackManager() {
  RunCallbacks();
  g_current_manager.store(previous_, std::memory_order_release);
}

bool ExitCallbackManager::RegisterCallback(CallbackFunction function, void* argument) {
  if (!function) {
    LOG(ERROR) << "ExitCallbackManager: null callback function";
    return false;
  }
  return Push(Entry{function, argument, Closure()});
}

bool ExitCallbackManager::RegisterTask(Closure task) {
  if (task.is_null()) {
    LOG(ERROR) << "ExitCallbackManager: null task";
    return false;
  }
  return Push(Entry{nullptr, nullptr, std::move(task)});
}

bool ExitCallbackManager::Push(Entry entry) {
  ExitCallbackManager* manager = g_current_manager.load(std::memory_order_acquire);
  if (!manager) {
    LOG(ERROR) << "ExitCallbackManager: callback registered without a current manager";
    return false;
  }
  AutoLock hold(manager->lock_);
  manager->stack_.push_back(std::move(entry));
  return true;
}

void ExitCallbackManager::ProcessCallbacksNow() {
  ExitCallbackManager* manager = g_current_manager.load(std::memory_order_acquire);
  if (!manager) {
    LOG(ERROR) << "ExitCallbackManager: no current manager to process";
    return;
  }
  manager->RunCallbacks();
}

bool ExitCallbackManager::HasCurrent() {
  return g_current_manager.load(std::memory_order_acquire) != nullptr;
}

void ExitCallbackManager::RunCallbacks() {
  // One at a time, outside the lock: a callback may register another.
  for (;;) {
    Entry entry;
    {
      AutoLock hold(lock_);
      if (stack_.empty())
        return;
      entry = std::move(stack_.back());
      stack_.pop_back();
    }
    if (entry.function)
      entry.function(entry.argument);
    else
      entry.task.Run();
  }
}

}  // namespace base
