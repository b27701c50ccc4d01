// ExitCallbackManager: the callbacks that run when the program's entry point
// ends. Constructed on the entry point's stack, it becomes the current
// manager; a manager constructed while another exists shadows it until it is
// destroyed. Destruction runs the callbacks registered with it, last
// registered first, and restores the previous manager.
//
// Lazily created singletons register their destruction here; without a
// current manager they live until the process ends.
#ifndef BASE_EXIT_CALLBACK_MANAGER_H_
#define BASE_EXIT_CALLBACK_MANAGER_H_

#include <vector>

#include "base/callback.h"
#include "base/threading/lock.h"

namespace base {

class ExitCallbackManager {
 public:
  using CallbackFunction = void (*)(void* argument);

  ExitCallbackManager();
  ExitCallbackManager(const ExitCallbackManager&) = delete;
  ExitCallbackManager& operator=(const ExitCallbackManager&) = delete;
  ~ExitCallbackManager();

  // Pushes |function| with |argument| onto the current manager's stack.
  // False (and logged) when there is no current manager.
  static bool RegisterCallback(CallbackFunction function, void* argument);
  // The same for a closure.
  static bool RegisterTask(Closure task);

  // Runs the current manager's callbacks now, last registered first
  // (including ones they register meanwhile). For tests.
  static void ProcessCallbacksNow();

  // Whether a manager exists.
  static bool HasCurrent();

 private:
  struct Entry {
    CallbackFunction function = nullptr;
    void* argument = nullptr;
    Closure task;
  };

  static bool Push(Entry entry);
  void RunCallbacks();

  Lock lock_;
  std::vector<Entry> stack_;
  ExitCallbackManager* previous_;
};

}  // namespace base

#endif  // BASE_EXIT_CALLBACK_MANAGER_H_
