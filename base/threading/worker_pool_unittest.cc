#include "base/threading/worker_pool.h"

#include <windows.h>

#include <atomic>

#include "base/bind.h"
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

TEST(WorkerPoolTest, ReplyIsDroppedOnItsOwnThreadWhenTheLoopIsGone) {
  WaitableEvent release_task(WaitableEvent::ResetPolicy::kManual,
                             WaitableEvent::InitialState::kNotSignaled);
  WaitableEvent task_finished(WaitableEvent::ResetPolicy::kManual,
                              WaitableEvent::InitialState::kNotSignaled);
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
            FROM_HERE, Bind([&] {
              release_task.Wait();
              task_finished.Signal();
            }),
            Bind([&reply_ran](const DestructionRecorder&) { reply_ran = true; },
                 std::move(recorder)));
      }));
  // The owner's loop goes away while the task still runs.
  thread.Stop();
  EXPECT_TRUE(posted);
  EXPECT_EQ(reply_destroyed_on.load(), owner_thread);
  release_task.Signal();
  ASSERT_TRUE(task_finished.TimedWait(TimeSpan::FromSeconds(10)));
  // The reply was destroyed with its loop, before the task ended: nothing
  // the pool thread does afterwards can run it.
  EXPECT_FALSE(reply_ran);
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
