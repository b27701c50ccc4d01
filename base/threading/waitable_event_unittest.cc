#include "base/threading/waitable_event.h"

#include <gtest/gtest.h>
#include <process.h>

#include "base/scoped_generic.h"
#include "base/threading/atomic_flag.h"
#include "base/time.h"

namespace base {
namespace {

using ResetPolicy = WaitableEvent::ResetPolicy;
using InitialState = WaitableEvent::InitialState;

struct ThreadHandleTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE& handle) {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
};
// Joins the thread on destruction.
using ScopedThread = ScopedGeneric<HANDLE, ThreadHandleTraits>;

template <typename Function>
ScopedThread StartThread(Function* function) {
  auto trampoline = [](void* arg) -> unsigned {
    (*static_cast<Function*>(arg))();
    return 0;
  };
  return ScopedThread(
      reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, trampoline, function, 0, nullptr)));
}

TEST(WaitableEventTest, ManualResetStaysSignalled) {
  WaitableEvent event(ResetPolicy::kManual, InitialState::kNotSignaled);
  ASSERT_TRUE(event.IsValid());
  EXPECT_FALSE(event.IsSignaled());
  event.Signal();
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_TRUE(event.TimedWait(TimeSpan::FromMilliseconds(0)));
  event.Wait();
  event.Reset();
  EXPECT_FALSE(event.IsSignaled());

  WaitableEvent initially(ResetPolicy::kManual, InitialState::kSignaled);
  EXPECT_TRUE(initially.IsSignaled());
}

TEST(WaitableEventTest, AutoResetReleasesOneWait) {
  WaitableEvent event(ResetPolicy::kAutomatic, InitialState::kSignaled);
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_FALSE(event.IsSignaled());
  event.Signal();
  event.Wait();
  EXPECT_FALSE(event.TimedWait(TimeSpan::FromMilliseconds(1)));
}

TEST(WaitableEventTest, TimedWaitTimesOutNoEarlierThanAsked) {
  WaitableEvent event(ResetPolicy::kManual, InitialState::kNotSignaled);
  const MonotonicTime start = MonotonicTime::Now();
  EXPECT_FALSE(event.TimedWait(TimeSpan::FromMilliseconds(50)));
  EXPECT_GE((MonotonicTime::Now() - start).InMilliseconds(), 50);
  EXPECT_FALSE(event.TimedWait(TimeSpan::FromMilliseconds(-5)));
}

TEST(WaitableEventTest, SignalFromAnotherThread) {
  WaitableEvent ready(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  WaitableEvent go(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  AtomicFlag seen_go;
  int payload = 0;
  auto body = [&] {
    payload = 42;  // published by the signal
    ready.Signal();
    if (go.TimedWait(TimeSpan::FromSeconds(30)))
      seen_go.Set();
  };
  {
    ScopedThread thread = StartThread(&body);
    ASSERT_TRUE(thread.IsValid());
    EXPECT_TRUE(ready.TimedWait(TimeSpan::FromSeconds(30)));
    EXPECT_EQ(42, payload);
    EXPECT_FALSE(seen_go.IsSet());
    go.Signal();
  }  // joined
  EXPECT_TRUE(seen_go.IsSet());
  seen_go.UnsetForTesting();
  EXPECT_FALSE(seen_go.IsSet());
}

TEST(WaitableEventTest, WaitManyReturnsTheSignalledIndex) {
  WaitableEvent a(ResetPolicy::kManual, InitialState::kNotSignaled);
  WaitableEvent b(ResetPolicy::kAutomatic, InitialState::kNotSignaled);
  WaitableEvent c(ResetPolicy::kManual, InitialState::kNotSignaled);
  WaitableEvent* events[] = {&a, &b, &c};
  auto signal_c = [&] {
    Sleep(20);
    c.Signal();
  };
  {
    ScopedThread thread = StartThread(&signal_c);
    EXPECT_EQ(2u, WaitableEvent::WaitMany(events, 3));
  }
  b.Signal();
  EXPECT_EQ(1u, WaitableEvent::WaitMany(events, 3));  // lowest signalled wins
  EXPECT_FALSE(b.IsSignaled());                       // and its signal was consumed
  EXPECT_EQ(0u, WaitableEvent::WaitMany(events, 0));  // nothing to wait for
}

}  // namespace
}  // namespace base
