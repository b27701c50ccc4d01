#include "base/trace_event/trace_category_registry.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/process.h"
#include "base/string_printf.h"
#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base::trace_event {
namespace {

TEST(TraceCategoryRegistryTest, BuiltinEntriesAreFoundNotCreated) {
  const char* const kNames[] = {
      "tracing categories exhausted; must increase kMaxCategories",
      "tracing already shutdown",
      "__metadata",
      "toplevel",
  };
  for (size_t i = 0; i < 4; ++i) {
    TraceCategory* category = nullptr;
    EXPECT_FALSE(TraceCategoryRegistry::GetOrCreateCategory(kNames[i], &category));
    EXPECT_EQ(TraceCategoryRegistry::GetCategoryAt(i), category) << kNames[i];
  }
  EXPECT_GE(TraceCategoryRegistry::GetCategoryCount(), 4u);
}

TEST(TraceCategoryRegistryTest, NewNameIsCopiedAndAddedOnce) {
  const size_t count_before = TraceCategoryRegistry::GetCategoryCount();
  char name[] = "velmo.registry.copy";
  TraceCategory* first = nullptr;
  ASSERT_TRUE(TraceCategoryRegistry::GetOrCreateCategory(name, &first));
  EXPECT_EQ(count_before + 1, TraceCategoryRegistry::GetCategoryCount());
  EXPECT_TRUE(TraceCategoryRegistry::IsValidCategoryPtr(first));
  EXPECT_NE(name, first->name());  // the registry owns a copy
  EXPECT_EQ(0, first->state());

  name[0] = 'X';  // the caller's buffer may change afterwards
  TraceCategory* again = nullptr;
  EXPECT_FALSE(TraceCategoryRegistry::GetOrCreateCategory("velmo.registry.copy", &again));
  EXPECT_EQ(first, again);
  EXPECT_EQ(count_before + 1, TraceCategoryRegistry::GetCategoryCount());
}

TEST(TraceCategoryRegistryTest, RacingThreadsAddOneEntry) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 5; ++round) {
    const std::string name = FormatString("velmo.registry.race.%d", round);
    const size_t count_before = TraceCategoryRegistry::GetCategoryCount();
    std::atomic<int> ready{0};
    std::atomic<int> created{0};
    std::vector<TraceCategory*> results(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) {
        }
        if (TraceCategoryRegistry::GetOrCreateCategory(name.c_str(), &results[t]))
          created.fetch_add(1);
      });
    }
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_EQ(1, created.load());
    EXPECT_EQ(count_before + 1, TraceCategoryRegistry::GetCategoryCount());
    for (TraceCategory* result : results)
      EXPECT_EQ(results[0], result);
    EXPECT_STREQ(name.c_str(), results[0]->name());
  }
}

// Filling the table changes it for good, so it happens in a process of its
// own. Exit codes tell which expectation failed.
CHILD_PROCESS_MAIN(FillCategoryTable) {
  size_t created = 0;
  for (size_t i = TraceCategoryRegistry::GetCategoryCount();
       i < TraceCategoryRegistry::kMaxCategories; ++i) {
    TraceCategory* category = nullptr;
    const std::string name = FormatString("velmo.fill.%zu", i);
    if (!TraceCategoryRegistry::GetOrCreateCategory(name.c_str(), &category))
      return 10;
    if (category != TraceCategoryRegistry::GetCategoryAt(i))
      return 11;
    ++created;
  }
  if (TraceCategoryRegistry::GetCategoryCount() != TraceCategoryRegistry::kMaxCategories)
    return 12;
  // The 201st distinct name.
  TraceCategory* overflow = nullptr;
  if (TraceCategoryRegistry::GetOrCreateCategory("velmo.fill.overflow", &overflow))
    return 13;
  if (overflow != TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryExhausted))
    return 14;
  if (TraceCategoryRegistry::GetCategoryCount() != TraceCategoryRegistry::kMaxCategories)
    return 15;
  // Existing names are still found once the table is full.
  TraceCategory* last = nullptr;
  const std::string last_name =
      FormatString("velmo.fill.%zu", TraceCategoryRegistry::kMaxCategories - 1);
  if (TraceCategoryRegistry::GetOrCreateCategory(last_name.c_str(), &last) ||
      last != TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kMaxCategories - 1)) {
    return 16;
  }
  // Nothing has built the trace log in this process yet.
  if (TraceLog::GetInstanceIfExists() ||
      TraceLog::GetCategoryEntry("velmo.fill.overflow2") !=
          TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryAlreadyShutdown)) {
    return 17;
  }
  // A trace site builds it and then caches the exhausted entry.
  TraceLog::GetInstance();
  if (TraceLog::GetCategoryEntry("velmo.fill.overflow2") !=
      TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryExhausted)) {
    return 19;
  }
  return created == TraceCategoryRegistry::kMaxCategories - 4 ? 0 : 18;
}

TEST(TraceCategoryRegistryTest, FullTableGivesExhaustedEntry) {
  base::LaunchOptions options;
  options.wait = true;
  base::Process child =
      base::LaunchProcess(testing::GetChildCommandLine("FillCategoryTable"), options);
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
}

}  // namespace
}  // namespace base::trace_event
