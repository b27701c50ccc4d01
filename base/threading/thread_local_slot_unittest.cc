#include "base/threading/thread_local_slot.h"

#include <atomic>

#include "base/bind.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread_local_slots.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::atomic<int> g_destroyed_sum{0};

void AddOnDestroy(void* value) { g_destroyed_sum += *static_cast<int*>(value); }

TEST(ThreadLocalSlotTest, ValuesArePerThreadAndDestroyedAtThreadExit) {
  g_destroyed_sum = 0;
  ThreadLocalSlot slot;
  ASSERT_TRUE(slot.Initialize(&AddOnDestroy));
  EXPECT_FALSE(slot.Initialize(&AddOnDestroy));
  int main_value = 1000;
  EXPECT_TRUE(slot.Set(&main_value));
  int values[3] = {1, 20, 300};
  void* seen_before_set[3] = {&main_value, &main_value, &main_value};
  for (int i = 0; i < 3; ++i) {
    PlainThread thread("SlotThread", Bind([&, i] {
                         seen_before_set[i] = slot.Get();
                         slot.Set(&values[i]);
                       }));
    ASSERT_TRUE(thread.Start());
    thread.Join();
  }
  for (void* seen : seen_before_set)
    EXPECT_EQ(seen, nullptr);
  EXPECT_EQ(g_destroyed_sum.load(), 321);
  EXPECT_EQ(slot.Get(), &main_value);
  slot.Set(nullptr);
  slot.Free();
}

TEST(ThreadLocalSlotTest, AReservedAgainSlotReadsNull) {
  ThreadLocalSlot first;
  ASSERT_TRUE(first.Initialize(nullptr));
  int value = 5;
  first.Set(&value);
  EXPECT_EQ(first.Get(), &value);
  first.Free();
  EXPECT_EQ(first.Get(), nullptr);
  // The lowest free index is reused, under a new version.
  ThreadLocalSlot second;
  ASSERT_TRUE(second.Initialize(nullptr));
  EXPECT_EQ(second.Get(), nullptr);
  int other = 6;
  second.Set(&other);
  EXPECT_EQ(second.Get(), &other);
  second.Free();
}

TEST(ThreadLocalSlotTest, AtMost256Slots) {
  static ThreadLocalSlot slots[ThreadLocalSlots::kMaxSlots];
  size_t reserved = 0;
  while (reserved < ThreadLocalSlots::kMaxSlots && slots[reserved].Initialize(nullptr))
    ++reserved;
  // Some are taken by the loop slots already.
  EXPECT_LT(reserved, ThreadLocalSlots::kMaxSlots);
  EXPECT_GT(reserved, ThreadLocalSlots::kMaxSlots - 8);
  ThreadLocalSlot extra;
  EXPECT_FALSE(extra.Initialize(nullptr));
  EXPECT_FALSE(extra.Set(nullptr));
  for (size_t i = 0; i < reserved; ++i)
    slots[i].Free();
  EXPECT_TRUE(extra.Initialize(nullptr));
  extra.Free();
}

}  // namespace
}  // namespace base
