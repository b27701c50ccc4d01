#include "desktop/windows/crash_reporter/crash_log/memory_range_list.h"

#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

std::vector<std::pair<uint64_t, uint64_t>> Ranges(const MemoryRangeList& list) {
  return {list.ranges().begin(), list.ranges().end()};
}

TEST(MemoryRangeListTest, MergesOverlappingAndTouchingRanges) {
  MemoryRangeList list;
  list.Add(100, 200);
  list.Add(300, 400);
  list.Add(500, 600);
  list.Add(50, 50);  // empty
  EXPECT_EQ(300u, list.total_size());
  list.Add(200, 250);  // touches the first
  EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{100, 250}, {300, 400}, {500, 600}}),
            Ranges(list));
  list.Add(350, 510);  // joins the second and third
  EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{100, 250}, {300, 600}}), Ranges(list));
  EXPECT_EQ(450u, list.total_size());
  list.Add(0, 1000);  // swallows everything
  EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{0, 1000}}), Ranges(list));
  EXPECT_EQ(1000u, list.total_size());
  list.Add(10, 20);  // inside
  EXPECT_EQ(1000u, list.total_size());
  list.Clear();
  EXPECT_TRUE(list.ranges().empty());
  EXPECT_EQ(0u, list.total_size());
}

}  // namespace
}  // namespace crash_reporter
