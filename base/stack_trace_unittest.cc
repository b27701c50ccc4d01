#include "base/stack_trace.h"

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

// Captures at |depth| extra frames below the caller. The empty asm after the
// call keeps the recursion from becoming a loop or a tail call.
__attribute__((noinline)) size_t FramesAtDepth(int depth) {
  if (depth == 0) {
    StackTrace trace;
    return trace.count();
  }
  size_t frames = FramesAtDepth(depth - 1);
  __asm__ volatile("" ::: "memory");
  return frames;
}

TEST(StackTraceTest, ShallowCaptureCountsEveryFrame) {
  const size_t base_frames = FramesAtDepth(0);
  ASSERT_GT(base_frames, 1u);
  ASSERT_LT(base_frames + 5, StackTrace::kMaxFrames) << "the test needs room below the limit";
  // Each level of recursion adds exactly one frame while below the limit:
  // the count is the true depth, not a fixed or rounded number.
  EXPECT_EQ(base_frames + 1, FramesAtDepth(1));
  EXPECT_EQ(base_frames + 5, FramesAtDepth(5));
}

TEST(StackTraceTest, DeepRecursionCapsAtTheLimit) {
  EXPECT_EQ(StackTrace::kMaxFrames, FramesAtDepth(100));
  EXPECT_EQ(StackTrace::kMaxFrames, FramesAtDepth(300));
}

TEST(StackTraceTest, AddressesAndOutput) {
  StackTrace trace;
  size_t count = 0;
  const void* const* frames = trace.Addresses(&count);
  ASSERT_EQ(trace.count(), count);
  for (size_t i = 0; i < count; ++i)
    EXPECT_NE(nullptr, frames[i]) << "frame " << i;
  EXPECT_EQ(nullptr, trace.frame(count));

  std::ostringstream out;
  trace.OutputToStream(&out);
  const std::string text = out.str();
  EXPECT_EQ(count, static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
  EXPECT_EQ(0u, text.rfind("#0 0x", 0));
  EXPECT_EQ(text, trace.ToString());
}

TEST(StackTraceTest, CopyFromAddressesClampsTheCount) {
  const void* addresses[StackTrace::kMaxFrames + 10];
  for (size_t i = 0; i < std::size(addresses); ++i)
    addresses[i] = reinterpret_cast<const void*>(0x1000 + i);
  StackTrace copy(addresses, std::size(addresses));
  EXPECT_EQ(StackTrace::kMaxFrames, copy.count());
  EXPECT_EQ(addresses[StackTrace::kMaxFrames - 1], copy.frame(StackTrace::kMaxFrames - 1));

  StackTrace none(nullptr, 5);
  EXPECT_EQ(0u, none.count());
}

}  // namespace
}  // namespace base
