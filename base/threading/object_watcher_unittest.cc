#include "base/threading/object_watcher.h"

#include <windows.h>

#include "base/bind.h"
#include "base/process.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/os_thread.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base {
namespace {

CHILD_PROCESS_MAIN(ObjectWatcherShortLivedChild) {
  OsThread::Sleep(TimeSpan::FromMilliseconds(200));
  return 7;
}

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  explicit RecordingDelegate(Closure on_signal = Closure()) : on_signal_(std::move(on_signal)) {}
  void OnObjectSignaled(HANDLE object) override {
    ++signal_count;
    last_object = object;
    if (!on_signal_.is_null())
      on_signal_.Run();
  }
  int signal_count = 0;
  HANDLE last_object = nullptr;

 private:
  Closure on_signal_;
};

// Waits until a task is queued (the wait callback has posted the signal).
// The bound is sized for a loaded machine: the callback runs on the thread
// pool, which may not be scheduled for seconds.
bool WaitUntilTaskQueued(MessageLoop* loop) {
  const ULONGLONG deadline = ::GetTickCount64() + 60000;
  while (::GetTickCount64() < deadline) {
    if (!loop->IsIdleForTesting())
      return true;
    OsThread::Sleep(TimeSpan::FromMilliseconds(10));
  }
  return false;
}

TEST(ObjectWatcherTest, TellsTheDelegateWhenAChildProcessExits) {
  MessageLoop loop;
  LoopRunner runner;
  RecordingDelegate delegate(runner.QuitClosure());
  Process child =
      LaunchProcess(testing::GetChildCommandLine("ObjectWatcherShortLivedChild"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());

  ObjectWatcher watcher;
  ASSERT_TRUE(watcher.StartWatchingOnce(child.Handle(), &delegate));
  EXPECT_TRUE(watcher.IsWatching());
  EXPECT_EQ(watcher.GetWatchedObject(), child.Handle());
  // One watch at a time.
  EXPECT_FALSE(watcher.StartWatchingOnce(child.Handle(), &delegate));
  runner.Run();

  EXPECT_EQ(delegate.signal_count, 1);
  EXPECT_EQ(delegate.last_object, child.Handle());
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_FALSE(watcher.StopWatching());
  int exit_code = 0;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(exit_code, 7);
}

TEST(ObjectWatcherTest, StopOrDestructionCancelsASignalAlreadyPosted) {
  MessageLoop loop;
  WaitableEvent event(WaitableEvent::ResetPolicy::kManual,
                      WaitableEvent::InitialState::kNotSignaled);
  RecordingDelegate delegate;
  {
    ObjectWatcher watcher;
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
    event.Signal();
    ASSERT_TRUE(WaitUntilTaskQueued(&loop));
    EXPECT_TRUE(watcher.StopWatching());
    EXPECT_FALSE(watcher.IsWatching());
    LoopRunner().RunUntilIdle();
    EXPECT_EQ(delegate.signal_count, 0);

    // The watcher can watch again after a stop; now the destructor stops it.
    ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
    ASSERT_TRUE(WaitUntilTaskQueued(&loop));
  }
  LoopRunner().RunUntilIdle();
  EXPECT_EQ(delegate.signal_count, 0);
}

TEST(ObjectWatcherTest, DelegateMayWatchAgainFromItsCallback) {
  MessageLoop loop;
  LoopRunner runner;
  WaitableEvent event(WaitableEvent::ResetPolicy::kAutomatic,
                      WaitableEvent::InitialState::kSignaled);
  ObjectWatcher watcher;
  RecordingDelegate* delegate_ptr = nullptr;
  RecordingDelegate delegate(Bind([&] {
    if (delegate_ptr->signal_count == 1) {
      EXPECT_TRUE(watcher.StartWatchingOnce(event.handle(), delegate_ptr));
      event.Signal();
    } else {
      runner.Quit();
    }
  }));
  delegate_ptr = &delegate;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.handle(), &delegate));
  runner.Run();
  EXPECT_EQ(delegate.signal_count, 2);
  EXPECT_FALSE(watcher.IsWatching());
}

TEST(ObjectWatcherTest, RefusesWithoutATaskRunnerOrAnObject) {
  RecordingDelegate delegate;
  WaitableEvent event(WaitableEvent::ResetPolicy::kManual,
                      WaitableEvent::InitialState::kNotSignaled);
  bool started = true;
  PlainThread thread("NoLoopThread", Bind([&] {
                       ObjectWatcher watcher;
                       started = watcher.StartWatchingOnce(event.handle(), &delegate);
                     }));
  ASSERT_TRUE(thread.Start());
  thread.Join();
  EXPECT_FALSE(started);

  MessageLoop loop;
  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.StartWatchingOnce(nullptr, &delegate));
  EXPECT_FALSE(watcher.StartWatchingOnce(event.handle(), nullptr));
  EXPECT_FALSE(watcher.IsWatching());
}

}  // namespace
}  // namespace base
