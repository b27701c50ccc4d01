#include "base/threading/message_loop.h"

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/loop_runner.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"

namespace base {
namespace {

void Record(std::vector<int>* log, int value) { log->push_back(value); }

TEST(MessageLoopTest, CurrentAndTaskRunnerFollowTheLoop) {
  EXPECT_EQ(MessageLoop::Current(), nullptr);
  SharedRef<OrderedTaskRunner> runner;
  {
    MessageLoop loop;
    EXPECT_EQ(MessageLoop::Current(), &loop);
    runner = loop.task_runner();
    EXPECT_TRUE(runner->RunsTasksOnCurrentThread());
    EXPECT_EQ(CurrentTaskRunner::Get(), runner);
  }
  EXPECT_EQ(MessageLoop::Current(), nullptr);
  EXPECT_FALSE(CurrentTaskRunner::IsSet());
  // The runner outlives its loop: posting fails and destroys the task.
  int destroyed = 0;
  struct Tracker {
    explicit Tracker(int* count) : count_(count) {}
    Tracker(const Tracker& other) : count_(other.count_) {}
    ~Tracker() { ++*count_; }
    int* count_;
  };
  auto tracker = std::make_unique<Tracker>(&destroyed);
  EXPECT_FALSE(runner->PostTask(FROM_HERE,
                                Bind([](std::unique_ptr<Tracker>) {}, Passed(std::move(tracker)))));
  EXPECT_EQ(destroyed, 1);
}

TEST(MessageLoopTest, DestructionDeletesPendingTasksAndTellsObservers) {
  class Observer : public MessageLoop::DestructionObserver {
   public:
    void WillDestroyCurrentMessageLoop() override {
      ++calls;
      saw_current = MessageLoop::Current() != nullptr;
    }
    int calls = 0;
    bool saw_current = false;
  };
  Observer observer;
  Observer removed;
  bool ran = false;
  auto owned = std::make_unique<int>(1);
  {
    MessageLoop loop;
    loop.AddDestructionObserver(&observer);
    loop.AddDestructionObserver(&observer);
    loop.AddDestructionObserver(&removed);
    loop.RemoveDestructionObserver(&removed);
    loop.task_runner()->PostTask(FROM_HERE, Bind([](bool* flag) { *flag = true; }, &ran));
    loop.task_runner()->PostDelayedTask(FROM_HERE, Bind([](bool* flag) { *flag = true; }, &ran),
                                        TimeSpan::FromSeconds(100));
  }
  EXPECT_FALSE(ran);
  EXPECT_EQ(observer.calls, 1);
  EXPECT_TRUE(observer.saw_current);
  EXPECT_EQ(removed.calls, 0);
}

TEST(MessageLoopTest, QuitBeforeRunAndQuitClosureAfterRunnerGone) {
  MessageLoop loop;
  std::vector<int> log;
  loop.task_runner()->PostTask(FROM_HERE, Bind(&Record, &log, 1));
  {
    LoopRunner runner;
    runner.Quit();
    runner.Run();  // Returns at once, running nothing.
  }
  EXPECT_TRUE(log.empty());
  Closure stale_quit;
  {
    LoopRunner runner;
    stale_quit = runner.QuitClosure();
    loop.task_runner()->PostTask(FROM_HERE, runner.QuitClosure());
    loop.task_runner()->PostTask(FROM_HERE, Bind(&Record, &log, 2));
    runner.Run();
  }
  // The quit ended the run after its own task; task 2 waits.
  EXPECT_EQ(log, (std::vector<int>{1}));
  stale_quit.Run();  // The runner is gone: nothing happens.
  LoopRunner().RunUntilIdle();
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
}

TEST(MessageLoopTest, DelayedTasksRunByTimeThenPostingOrder) {
  MessageLoop loop;
  std::vector<int> log;
  LoopRunner runner;
  auto runner_ref = loop.task_runner();
  runner_ref->PostDelayedTask(FROM_HERE, Bind(&Record, &log, 3), TimeSpan::FromMilliseconds(60));
  runner_ref->PostDelayedTask(FROM_HERE, Bind(&Record, &log, 1), TimeSpan::FromMilliseconds(20));
  runner_ref->PostDelayedTask(FROM_HERE, Bind(&Record, &log, 2), TimeSpan::FromMilliseconds(20));
  runner_ref->PostTask(FROM_HERE, Bind(&Record, &log, 0));
  runner_ref->PostDelayedTask(FROM_HERE, runner.QuitClosure(), TimeSpan::FromMilliseconds(80));
  MonotonicTime start = MonotonicTime::Now();
  runner.Run();
  EXPECT_GE((MonotonicTime::Now() - start).InMilliseconds(), 60);
  EXPECT_EQ(log, (std::vector<int>{0, 1, 2, 3}));
}

// A task that runs a nested native message loop: posted tasks must not run
// inside it; a nested LoopRunner does run them.
TEST(MessageLoopTest, TasksDoNotNestUnlessANestedRunnerRuns) {
  MessageLoop loop(MessageLoop::TYPE_UI);
  std::vector<int> log;
  LoopRunner runner;
  auto post = [&](int value) {
    loop.task_runner()->PostTask(FROM_HERE, Bind(&Record, &log, value));
  };
  loop.task_runner()->PostTask(FROM_HERE, Bind([&] {
                                 log.push_back(1);
                                 post(2);
                                 // Pump this thread's messages for a while, as a native loop would.
                                 MonotonicTime end =
                                     MonotonicTime::Now() + TimeSpan::FromMilliseconds(100);
                                 while (MonotonicTime::Now() < end) {
                                   MSG message;
                                   while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                                     DispatchMessageW(&message);
                                   Sleep(5);
                                 }
                                 log.push_back(3);
                               }));
  loop.task_runner()->PostTask(FROM_HERE, Bind([&] {
                                 log.push_back(4);
                                 post(5);
                                 LoopRunner nested;
                                 loop.task_runner()->PostTask(FROM_HERE, nested.QuitClosure());
                                 nested.Run();
                                 log.push_back(6);
                               }));
  loop.task_runner()->PostTask(FROM_HERE, runner.QuitClosure());
  runner.Run();
  // 2 waited for the native loop's task to end; the nested run ran the
  // outer quit (which ends the outer run once the nested one returns), 2
  // and 5.
  EXPECT_EQ(log, (std::vector<int>{1, 3, 4, 2, 5, 6}));
  EXPECT_TRUE(loop.IsIdleForTesting());
}

TEST(MessageLoopTest, DeleteSoonDeletesOnTheRunnersThread) {
  struct Owned {
    ~Owned() {
      *deleted_on = GetCurrentThreadId();
      done->Signal();
    }
    DWORD* deleted_on;
    WaitableEvent* done;
  };
  Thread thread("DeleteSoonThread");
  ASSERT_TRUE(thread.Start());
  DWORD deleted_on = 0;
  WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  EXPECT_TRUE(thread.task_runner()->DeleteSoon(FROM_HERE, new Owned{&deleted_on, &done}));
  done.Wait();
  EXPECT_EQ(deleted_on, thread.thread_id());
  EXPECT_NE(deleted_on, GetCurrentThreadId());
}

// Eight threads post 100,000 tasks each to one loop: every task runs once,
// each poster's tasks in order.
TEST(MessageLoopTest, ManyPostersKeepTheirOrder) {
  constexpr int kPosters = 8;
  constexpr int kTasksPerPoster = 100000;
  MessageLoop loop;
  std::vector<int> next(kPosters, 0);
  int errors = 0;
  int total = 0;
  LoopRunner runner;
  auto runner_ref = loop.task_runner();
  auto check = [&](int poster, int index) {
    if (next[poster] != index)
      ++errors;
    next[poster] = index + 1;
    if (++total == kPosters * kTasksPerPoster)
      runner.Quit();
  };
  auto check_callback = Bind([&check](int poster, int index) { check(poster, index); });
  std::vector<std::unique_ptr<PlainThread>> posters;
  for (int poster = 0; poster < kPosters; ++poster) {
    posters.push_back(std::make_unique<PlainThread>(
        "Poster", Bind([runner_ref, check_callback, poster] {
          for (int index = 0; index < kTasksPerPoster; ++index)
            runner_ref->PostTask(FROM_HERE, Bind(check_callback, poster, index));
        })));
    ASSERT_TRUE(posters.back()->Start());
  }
  runner.Run();
  for (auto& poster : posters)
    poster->Join();
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(total, kPosters * kTasksPerPoster);
  for (int poster = 0; poster < kPosters; ++poster)
    EXPECT_EQ(next[poster], kTasksPerPoster);
  EXPECT_TRUE(loop.IsIdleForTesting());
}

}  // namespace
}  // namespace base
