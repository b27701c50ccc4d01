// LoopRunner: one run of the current thread's MessageLoop.
//
//   LoopRunner runner;
//   PostTask(..., runner.QuitClosure());
//   runner.Run();  // returns once the quit closure ran
//
// Quit() before Run() makes Run() return at once. A run may be started
// inside a task (a nested run); tasks then run inside it.
#ifndef BASE_THREADING_LOOP_RUNNER_H_
#define BASE_THREADING_LOOP_RUNNER_H_

#include "base/callback.h"
#include "base/weak_ref.h"

namespace base {

class MessageDispatcher;
class MessageLoop;

class LoopRunner {
 public:
  // For the calling thread's loop, which must exist.
  LoopRunner();
  // |dispatcher| takes the Windows messages of a UI loop's run (may be null).
  explicit LoopRunner(MessageDispatcher* dispatcher);
  LoopRunner(const LoopRunner&) = delete;
  LoopRunner& operator=(const LoopRunner&) = delete;
  ~LoopRunner();

  // Runs tasks until Quit(). Once per runner.
  void Run();
  // Runs the tasks that are ready (and those they post) until none is, then
  // returns.
  void RunUntilIdle();

  // Ends the run after the current task (or makes Run() return at once when
  // it has not started). Called on another thread, it posts itself to the
  // loop.
  void Quit();
  // Ends the run once no task is ready.
  void QuitWhenIdle();

  // Closures that quit this runner and do nothing once it is gone. Run them
  // on the loop's thread (post them there from other threads).
  Closure QuitClosure();
  Closure QuitWhenIdleClosure();

  bool running() const { return running_; }

 private:
  friend class MessageLoop;

  bool BeforeRun();
  void AfterRun();

  MessageLoop* const loop_;
  MessageDispatcher* const dispatcher_;
  LoopRunner* previous_runner_ = nullptr;
  bool run_called_ = false;
  bool running_ = false;
  bool quit_called_ = false;
  bool quit_when_idle_ = false;
  // The loop's task depth when the run started: tasks may run while the
  // depth is back at this value (not inside a task of this run).
  int task_depth_at_start_ = 0;
  WeakRefFactory<LoopRunner> weak_factory_{this};
  // Made at construction, so that other threads only copy it.
  WeakRef<LoopRunner> weak_self_;
};

}  // namespace base

#endif  // BASE_THREADING_LOOP_RUNNER_H_
