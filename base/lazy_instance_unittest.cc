#include "base/lazy_instance.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/bind.h"

#include "base/exit_callback_manager.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::atomic<int> g_constructed{0};
std::atomic<int> g_destroyed{0};

struct Slow {
  Slow() {
    ++g_constructed;
    Sleep(50);  // Let the other threads find it being built.
  }
  ~Slow() { ++g_destroyed; }
  int value = 7;
};

LazyInstance<Slow> g_slow;

TEST(LazyInstanceTest, BuiltOnceUnderARaceAndDestroyedAtExit) {
  g_constructed = 0;
  g_destroyed = 0;
  {
    ExitCallbackManager manager;
    WaitableEvent go(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
    Slow* seen[8] = {};
    std::vector<std::unique_ptr<PlainThread>> threads;
    for (Slow*& slot : seen) {
      threads.push_back(std::make_unique<PlainThread>("LazyRacer", Bind([&go, &slot] {
                                                        go.Wait();
                                                        slot = g_slow.Pointer();
                                                      })));
      ASSERT_TRUE(threads.back()->Start());
    }
    go.Signal();
    for (auto& thread : threads)
      thread->Join();
    EXPECT_EQ(g_constructed.load(), 1);
    for (Slow* instance : seen) {
      ASSERT_NE(instance, nullptr);
      EXPECT_EQ(instance, seen[0]);
      EXPECT_EQ(instance->value, 7);
    }
    EXPECT_EQ(g_destroyed.load(), 0);
  }
  EXPECT_EQ(g_destroyed.load(), 1);
  EXPECT_FALSE(g_slow.IsBuilt());
}

TEST(LazyInstanceTest, WaitForLazyInstanceReturnsTheFinalWord) {
  std::atomic<uintptr_t> word{0};
  EXPECT_EQ(WaitForLazyInstance(&word), 0u);
  word = internal::kLazyInstanceStateBuilding;
  static int target;
  PlainThread setter("LazySetter", Bind([&word] {
                       Sleep(30);
                       word.store(reinterpret_cast<uintptr_t>(&target));
                     }));
  ASSERT_TRUE(setter.Start());
  EXPECT_EQ(WaitForLazyInstance(&word), reinterpret_cast<uintptr_t>(&target));
  setter.Join();
}

}  // namespace
}  // namespace base
