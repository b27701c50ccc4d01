#include "base/threading/timer.h"

#include <memory>

#include "base/bind.h"
#include "base/ref_counted_thread_safe.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class Counted : public RefCountedThreadSafe<Counted> {
 public:
  void Touch() {}

 private:
  friend class RefCountedThreadSafe<Counted>;
  ~Counted() = default;
};

TEST(TimerTest, RepeatsAtItsIntervalUntilStopped) {
  MessageLoop loop;
  LoopRunner runner;
  Timer timer;
  int runs = 0;
  const MonotonicTime start = MonotonicTime::Now();
  timer.Start(FROM_HERE, TimeSpan::FromMilliseconds(20), Bind([&] {
                if (++runs == 3) {
                  timer.Stop();
                  runner.Quit();
                }
              }));
  EXPECT_TRUE(timer.IsRunning());
  EXPECT_EQ(timer.GetCurrentDelay(), TimeSpan::FromMilliseconds(20));
  runner.Run();
  EXPECT_EQ(runs, 3);
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_GE((MonotonicTime::Now() - start).InMilliseconds(), 55);

  // Nothing more arrives once stopped.
  LoopRunner wait;
  loop.task_runner()->PostDelayedTask(FROM_HERE, wait.QuitClosure(),
                                      TimeSpan::FromMilliseconds(80));
  wait.Run();
  EXPECT_EQ(runs, 3);
}

TEST(TimerTest, OneShotRunsOnceAndResetRestartsIt) {
  MessageLoop loop;
  Timer timer(Timer::Mode::kOneShot);
  int runs = 0;
  std::unique_ptr<LoopRunner> runner = std::make_unique<LoopRunner>();
  timer.Start(FROM_HERE, TimeSpan::FromMilliseconds(10), Bind([&] {
                ++runs;
                runner->Quit();
              }));
  runner->Run();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(timer.IsRunning());

  // A reset after the run (or after a stop) starts the held task again.
  timer.Stop();
  timer.Reset();
  EXPECT_TRUE(timer.IsRunning());
  runner = std::make_unique<LoopRunner>();
  runner->Run();
  EXPECT_EQ(runs, 2);
}

TEST(TimerTest, DestructionReleasesTheCallbackAndMayHappenInsideIt) {
  MessageLoop loop;
  SharedRef<Counted> counted = MakeShared<Counted>();
  {
    Timer timer;
    timer.Start(FROM_HERE, TimeSpan::FromSeconds(60), Bind(&Counted::Touch, counted));
    EXPECT_FALSE(counted->HasOneRef());
  }
  // Only the destroyed posted task may still be queued; it holds no reference.
  EXPECT_TRUE(counted->HasOneRef());

  LoopRunner runner;
  auto* timer = new Timer();
  int runs = 0;
  timer->Start(FROM_HERE, TimeSpan::FromMilliseconds(5), Bind([&] {
                 ++runs;
                 delete timer;
                 timer = nullptr;
                 runner.Quit();
               }));
  runner.Run();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(timer, nullptr);
}

TEST(TimerTest, DoesNotStartWithoutATaskRunner) {
  bool running = true;
  PlainThread thread("NoLoopTimerThread", Bind([&running] {
                       Timer timer;
                       timer.Start(FROM_HERE, TimeSpan::FromMilliseconds(1), Bind([] {}));
                       running = timer.IsRunning();
                     }));
  ASSERT_TRUE(thread.Start());
  thread.Join();
  EXPECT_FALSE(running);
}

}  // namespace
}  // namespace base
