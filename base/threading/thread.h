// Thread: a named thread with its own MessageLoop.
//
//   Thread thread("Worker");
//   if (!thread.Start()) ...
//   thread.task_runner()->PostTask(FROM_HERE, task);
//   thread.Stop();  // runs the tasks already posted, then joins
#ifndef BASE_THREADING_THREAD_H_
#define BASE_THREADING_THREAD_H_

#include <cstddef>
#include <string>

#include "base/shared_ref.h"
#include "base/threading/lock.h"
#include "base/threading/message_loop.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/os_thread.h"

namespace base {

class LoopRunner;
class WaitableEvent;

class Thread : public OsThread::Delegate {
 public:
  struct Options {
    MessageLoop::Type type = MessageLoop::TYPE_DEFAULT;
    // Bytes of stack to reserve; 0 for the default.
    size_t stack_size = 0;
    OsThread::Priority priority = OsThread::Priority::kNormal;
  };

  explicit Thread(std::string name);
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Stop().
  ~Thread() override;

  // Start a default loop / a loop of |options|.type. Return once the loop
  // exists; false (and logged) when the thread cannot be created or is
  // running.
  bool Start();
  bool StartWithOptions(const Options& options);

  // Runs the tasks posted so far, ends the loop and joins the thread. Must
  // not be called on the thread itself. Nothing when not running.
  void Stop();
  // Posts the end of the loop without waiting; Stop() joins later.
  void StopSoon();

  // Null while not started or after Stop().
  const SharedRef<OrderedTaskRunner>& task_runner() const { return task_runner_; }
  // The thread's loop; null while not running. Use it on the thread only.
  MessageLoop* message_loop() const { return message_loop_; }

  const std::string& thread_name() const { return name_; }
  DWORD thread_id() const { return handle_.id; }
  bool IsRunning() const { return started_; }

 protected:
  // Called on the thread, before the loop runs and after it ended.
  virtual void Init() {}
  virtual void CleanUp() {}

 private:
  void ThreadMain() override;

  const std::string name_;
  Options options_;
  OsThread::Handle handle_;
  bool started_ = false;
  bool stop_posted_ = false;
  // Set by the thread once its loop exists.
  MessageLoop* message_loop_ = nullptr;
  SharedRef<OrderedTaskRunner> task_runner_;
  // Ends the thread's run; on the thread.
  void QuitRun();
  LoopRunner* runner_ = nullptr;
  // Signalled by the thread once its loop exists; valid during the start.
  WaitableEvent* startup_event_ = nullptr;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_H_
