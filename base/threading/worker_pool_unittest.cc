#include "base/threading/worker_pool.h"

#include <windows.h>

#include <atomic>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/thread.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Records the thread on which it is destroyed.
class DestructionRecorder {
 public:
  explicit DestructionRecorder(std::atomic<DWORD>* destroyed_on) : destroyed_on_(destroyed_on) {}
  DestructionRecorder(DestructionRecorder&& other) : destroyed_on_(other.destroyed_on_) {
    other.destroyed_on_ = nullptr;
  }
  DestructionRecorder(const DestructionRecorder& other) = default;
  ~DestructionRecorder() {
    if (destroyed_on_)
      destroyed_on_->store(GetCurrentThreadId());
  }

 private:
  std::atomic<DWORD>* destroyed_on_;
};

// Signals an event when the last holder lets go of it.
class SignalOnDestruction {
 public:
  explicit SignalOnDestruction(WaitableEvent* event) : event_(event) {}
  SignalOnDestruction(SignalOnDestruction&& other) : event_(other.event_) {
    other.event_ = nullptr;
  }
  SignalOnDestruction(const SignalOnDestruction&) = delete;
  ~SignalOnDestruction() {
    if (event_)
      event_->Signal();
  }

 private:
  WaitableEvent* event_;
};

// Counts the ERROR lines logged while it is installed; the lines still go
// to the other outputs.
class ScopedErrorCount {
 public:
  ScopedErrorCount() {
    count_ = 0;
    previous_handler_ = logging::GetLogMessageHandler();
    logging::SetLogMessageHandler(&OnLine);
  }
  ScopedErrorCount(const ScopedErrorCount&) = delete;
  ScopedErrorCount& operator=(const ScopedErrorCount&) = delete;
  ~ScopedErrorCount() { logging::SetLogMessageHandler(previous_handler_); }

  int count() const { return count_.load(); }

 private:
  static bool OnLine(int severity, const char* file, int line, size_t start,
                     const std::string& text) {
    if (severity >= logging::LOG_ERROR)
      ++count_;
    return previous_handler_ && previous_handler_(severity, file, line, start, text);
  }

  static std::atomic<int> count_;
  static logging::LogMessageHandlerFunction previous_handler_;
};

std::atomic<int> ScopedErrorCount::count_{0};
logging::LogMessageHandlerFunction ScopedErrorCount::previous_handler_ = nullptr;

TEST(WorkerPoolTest, TaskRunsOnThePoolThenReplyOnThePostingThread) {
  MessageLoop loop;
  LoopRunner runner;
  DWORD task_thread = 0;
  DWORD reply_thread = 0;
  bool task_done_before_reply = false;
  std::atomic<bool> task_done{false};
  ASSERT_TRUE(WorkerPool::PostTaskAndReply(FROM_HERE, Bind([&] {
                                             task_thread = GetCurrentThreadId();
                                             task_done = true;
                                           }),
                                           Bind([&] {
                                             reply_thread = GetCurrentThreadId();
                                             task_done_before_reply = task_done;
                                             runner.Quit();
                                           })));
  runner.Run();
  EXPECT_NE(task_thread, 0u);
  EXPECT_NE(task_thread, GetCurrentThreadId());
  EXPECT_EQ(reply_thread, GetCurrentThreadId());
  EXPECT_TRUE(task_done_before_reply);
}

// The reply is dropped with its loop, on its own thread; the pool thread
// then has nothing to post, and logs no error about a loop that is gone (a
// process that ends leaves its log ending with its own last words).
TEST(WorkerPoolTest, ReplyIsDroppedOnItsOwnThreadWhenTheLoopIsGone) {
  WaitableEvent release_task(WaitableEvent::ResetPolicy::kManual,
                             WaitableEvent::InitialState::kNotSignaled);
  WaitableEvent task_finished(WaitableEvent::ResetPolicy::kManual,
                              WaitableEvent::InitialState::kNotSignaled);
  // The pool lets go of the task only once it has dealt with the reply.
  WaitableEvent task_let_go(WaitableEvent::ResetPolicy::kManual,
                            WaitableEvent::InitialState::kNotSignaled);
  ScopedErrorCount errors;
  std::atomic<DWORD> reply_destroyed_on{0};
  std::atomic<bool> reply_ran{false};
  std::atomic<bool> posted{false};
  Thread thread("ReplyOwnerThread");
  ASSERT_TRUE(thread.Start());
  const DWORD owner_thread = thread.thread_id();
  thread.task_runner()->PostTask(
      FROM_HERE, Bind([&] {
        DestructionRecorder recorder(&reply_destroyed_on);
        posted = WorkerPool::PostTaskAndReply(
            FROM_HERE,
            Bind(
                [&](const SignalOnDestruction&) {
                  release_task.Wait();
                  task_finished.Signal();
                },
                SignalOnDestruction(&task_let_go)),
            Bind([&reply_ran](const DestructionRecorder&) { reply_ran = true; },
                 std::move(recorder)));
      }));
  // The owner's loop goes away while the task still runs.
  thread.Stop();
  EXPECT_TRUE(posted);
  EXPECT_EQ(reply_destroyed_on.load(), owner_thread);
  release_task.Signal();
  ASSERT_TRUE(task_finished.TimedWait(TimeSpan::FromSeconds(60)));
  ASSERT_TRUE(task_let_go.TimedWait(TimeSpan::FromSeconds(60)));
  // The reply was destroyed with its loop, before the task ended: nothing
  // the pool thread does afterwards can run it.
  EXPECT_FALSE(reply_ran);
  EXPECT_EQ(0, errors.count());
}

TEST(WorkerPoolTest, RefusesWithoutALoop) {
  // A refused task is let go of at once: it was never handed to a pool
  // thread, so it can never run.
  std::atomic<DWORD> task_destroyed_on{0};
  EXPECT_FALSE(WorkerPool::PostTaskAndReply(
      FROM_HERE,
      Bind([](const DestructionRecorder&) { ADD_FAILURE() << "A refused task ran"; },
           DestructionRecorder(&task_destroyed_on)),
      Bind([] {})));
  EXPECT_EQ(GetCurrentThreadId(), task_destroyed_on.load());
  EXPECT_FALSE(WorkerPool::PostTask(FROM_HERE, Closure()));
}

}  // namespace
}  // namespace base
