#include "base/threading/sequenced_worker_pool.h"

#include <atomic>
#include <vector>

#include "base/bind.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/os_thread.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using ShutdownBehavior = SequencedWorkerPool::ShutdownBehavior;

// Per sequence: the order its tasks ran in and whether two overlapped.
struct SequenceLog {
  Lock lock;
  std::vector<int> order;
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};

  void Run(int index) {
    if (active.fetch_add(1) != 0)
      overlapped = true;
    OsThread::Sleep(TimeSpan::FromMilliseconds(index % 7 == 0 ? 2 : 0));
    {
      AutoLock hold(lock);
      order.push_back(index);
    }
    active.fetch_sub(1);
  }
};

TEST(SequencedWorkerPoolTest, SequencesRunInOrderOneAtATimeAndInParallel) {
  SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(4, "OrderTest");
  SequenceLog logs[2];
  const char* names[2] = {"C:\\a\\first.json", "C:\\a\\second.json"};
  for (int i = 0; i < 60; ++i) {
    for (int s = 0; s < 2; ++s) {
      ASSERT_TRUE(pool->PostNamedSequencedWorkerTask(names[s], FROM_HERE,
                                                     Bind([&log = logs[s], i] { log.Run(i); })));
    }
  }
  // Two sequences run at once: each waits for the other.
  WaitableEvent a_started(WaitableEvent::ResetPolicy::kManual,
                          WaitableEvent::InitialState::kNotSignaled);
  WaitableEvent b_started(WaitableEvent::ResetPolicy::kManual,
                          WaitableEvent::InitialState::kNotSignaled);
  std::atomic<bool> a_saw_b{false}, b_saw_a{false};
  pool->PostSequencedWorkerTask(pool->GetSequenceToken(), FROM_HERE, Bind([&] {
                                  a_started.Signal();
                                  a_saw_b = b_started.TimedWait(TimeSpan::FromSeconds(60));
                                }));
  pool->PostSequencedWorkerTask(pool->GetSequenceToken(), FROM_HERE, Bind([&] {
                                  b_started.Signal();
                                  b_saw_a = a_started.TimedWait(TimeSpan::FromSeconds(60));
                                }));
  pool->Shutdown();
  EXPECT_TRUE(a_saw_b);
  EXPECT_TRUE(b_saw_a);
  for (SequenceLog& log : logs) {
    EXPECT_FALSE(log.overlapped);
    ASSERT_EQ(log.order.size(), 60u);
    for (int i = 0; i < 60; ++i)
      EXPECT_EQ(log.order[i], i);
  }
  EXPECT_LE(pool->GetWorkerCountForTesting(), 4u);
  EXPECT_GE(pool->GetWorkerCountForTesting(), 2u);
}

TEST(SequencedWorkerPoolTest, TokensAndTheCurrentRunner) {
  SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(2, "TokenTest");
  auto named = pool->GetNamedSequenceToken("x");
  EXPECT_TRUE(named.IsValid());
  EXPECT_TRUE(named == pool->GetNamedSequenceToken("x"));
  EXPECT_FALSE(named == pool->GetNamedSequenceToken("y"));
  EXPECT_FALSE(pool->GetSequenceToken() == pool->GetSequenceToken());
  EXPECT_FALSE(SequencedWorkerPool::SequenceToken().IsValid());

  SharedRef<OrderedTaskRunner> runner = pool->GetSequencedTaskRunner(named);
  ASSERT_TRUE(runner);
  EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
  EXPECT_FALSE(pool->RunsTasksOnCurrentThread());
  WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  std::atomic<bool> in_sequence{false}, current_runs_here{false}, delayed_ran{false};
  std::atomic<int64_t> delayed_after_ms{0};
  const MonotonicTime start = MonotonicTime::Now();
  runner->PostTask(FROM_HERE, Bind([&] {
                     in_sequence =
                         runner->RunsTasksOnCurrentThread() &&
                         pool->IsRunningSequenceOnCurrentThread(named) &&
                         !pool->IsRunningSequenceOnCurrentThread(pool->GetNamedSequenceToken("y"));
                     // Inside a sequence the current runner posts to that sequence.
                     SharedRef<OrderedTaskRunner> current = CurrentTaskRunner::Get();
                     current_runs_here = current && current->RunsTasksOnCurrentThread();
                     if (current) {
                       current->PostDelayedTask(
                           FROM_HERE, Bind([&] {
                             delayed_after_ms = (MonotonicTime::Now() - start).InMilliseconds();
                             delayed_ran = pool->IsRunningSequenceOnCurrentThread(named);
                             done.Signal();
                           }),
                           TimeSpan::FromMilliseconds(60));
                     }
                   }));
  ASSERT_TRUE(done.TimedWait(TimeSpan::FromSeconds(60)));
  EXPECT_TRUE(in_sequence);
  EXPECT_TRUE(current_runs_here);
  EXPECT_TRUE(delayed_ran);
  EXPECT_GE(delayed_after_ms.load(), 60);

  // The runner outlives the pool; its posts then fail.
  pool.reset();
  EXPECT_FALSE(runner->PostTask(FROM_HERE, Bind([] {})));
}

TEST(SequencedWorkerPoolTest, ShutdownWaitsForBlockingTasksAndDropsTheOthers) {
  SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(1, "ShutdownTest");
  WaitableEvent busy(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  std::atomic<int> blocking_runs{0}, skipped_runs{0}, continued_runs{0}, delayed_runs{0};
  std::atomic<bool> posted_during_shutdown{false};
  // Keeps the only worker busy until the shutdown has begun, so that
  // everything else is still queued then, however late this thread posts it.
  pool->PostWorkerTask(FROM_HERE, Bind([&] {
                         busy.Signal();
                         while (!pool->IsShutdownInProgress())
                           OsThread::Sleep(TimeSpan::FromMilliseconds(1));
                       }));
  ASSERT_TRUE(busy.TimedWait(TimeSpan::FromSeconds(60)));
  auto token = pool->GetSequenceToken();
  for (int i = 0; i < 3; ++i) {
    pool->PostSequencedWorkerTask(
        token, FROM_HERE, Bind([&] {
          ++blocking_runs;
          // Blocking tasks may post as many as Shutdown() allows.
          if (pool->PostSequencedWorkerTask(token, FROM_HERE, Bind([&] { ++blocking_runs; })))
            posted_during_shutdown = true;
        }));
  }
  pool->PostWorkerTaskWithShutdownBehavior(FROM_HERE, Bind([&] { ++skipped_runs; }),
                                           ShutdownBehavior::kSkipOnShutdown);
  pool->PostWorkerTaskWithShutdownBehavior(FROM_HERE, Bind([&] { ++continued_runs; }),
                                           ShutdownBehavior::kContinueOnShutdown);
  pool->PostDelayedTask(FROM_HERE, Bind([&] { ++delayed_runs; }), TimeSpan::FromMilliseconds(1));
  pool->Shutdown(1);
  EXPECT_TRUE(pool->IsShutdownInProgress());
  // Three queued blocking tasks plus the one new task allowed.
  EXPECT_EQ(blocking_runs, 4);
  EXPECT_TRUE(posted_during_shutdown);
  EXPECT_EQ(skipped_runs, 0);
  EXPECT_EQ(continued_runs, 0);
  EXPECT_EQ(delayed_runs, 0);
  EXPECT_FALSE(pool->PostWorkerTask(FROM_HERE, Bind([] {})));
  pool->Shutdown();  // A second call does nothing.
}

}  // namespace
}  // namespace base
