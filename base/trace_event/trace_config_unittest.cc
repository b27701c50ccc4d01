#include "base/trace_event/trace_config.h"

#include <memory>
#include <vector>

#include "base/trace_event/event_filter_config.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base::trace_event {
namespace {

TEST(TraceConfigTest, DefaultEnabledRuleNeedsEmptyIncludes) {
  const TraceConfig empty;
  // a is on by default, so the group is on.
  EXPECT_TRUE(empty.IsCategoryGroupEnabled("a,disabled-by-default-b"));
  EXPECT_FALSE(empty.IsCategoryGroupEnabled("disabled-by-default-b"));
  EXPECT_TRUE(TraceConfig("disabled-by-default-b").IsCategoryGroupEnabled("disabled-by-default-b"));
  EXPECT_TRUE(
      TraceConfig("disabled-by-default-*").IsCategoryGroupEnabled("x,disabled-by-default-b"));

  const TraceConfig exclude_a("-a");
  EXPECT_FALSE(exclude_a.IsCategoryGroupEnabled("a"));
  EXPECT_TRUE(exclude_a.IsCategoryGroupEnabled("a,b"));
  EXPECT_TRUE(exclude_a.IsCategoryGroupEnabled("c"));

  // Any include pattern switches the default rule off.
  const TraceConfig include_x("x");
  EXPECT_TRUE(include_x.IsCategoryGroupEnabled("x"));
  EXPECT_FALSE(include_x.IsCategoryGroupEnabled("a"));
  EXPECT_FALSE(include_x.IsCategoryGroupEnabled("a,b"));
  const TraceConfig include_and_exclude("x,-a");
  EXPECT_FALSE(include_and_exclude.IsCategoryGroupEnabled("b"));
}

TEST(TraceConfigTest, ClearRestoresConstructionState) {
  TraceConfig config("x,-y,disabled-by-default-z");
  config.set_record_mode(3);
  config.memory_dump_config().triggers.push_back({250, MemoryDumpLevelOfDetail::kLight});
  config.memory_dump_config().allowed_dump_modes.insert(MemoryDumpLevelOfDetail::kLight);
  config.memory_dump_config().heap_breakdown_threshold_bytes = 7;
  config.event_filters().emplace_back("heap_profiler_predicate");
  EXPECT_FALSE(config.IsCategoryGroupEnabled("a"));

  config.Clear();
  EXPECT_EQ(0u, config.record_mode());
  EXPECT_TRUE(config.memory_dump_config().triggers.empty());
  EXPECT_TRUE(config.memory_dump_config().allowed_dump_modes.empty());
  EXPECT_EQ(1024u, config.memory_dump_config().heap_breakdown_threshold_bytes);
  EXPECT_TRUE(config.event_filters().empty());
  EXPECT_TRUE(config.IsCategoryGroupEnabled("a"));
  EXPECT_FALSE(config.IsCategoryGroupEnabled("disabled-by-default-z"));
}

TEST(EventFilterConfigTest, OwnRuleAndDeepCopy) {
  // An exclude-only filter admits nothing: only included patterns admit.
  EventFilterConfig exclude_only("p");
  exclude_only.AddExcludedCategory("a");
  EXPECT_FALSE(exclude_only.IsCategoryGroupEnabled("b"));
  EXPECT_FALSE(exclude_only.IsCategoryGroupEnabled("a"));

  EventFilterConfig config("p");
  config.AddIncludedCategory("*");
  config.AddExcludedCategory("secret");
  EXPECT_TRUE(config.IsCategoryGroupEnabled("a,secret"));
  EXPECT_FALSE(config.IsCategoryGroupEnabled("secret,a"));
  EXPECT_FALSE(config.IsCategoryGroupEnabled(""));

  auto args = std::make_unique<DictValue>();
  args->SetString("key", "one");
  config.SetArgs(std::move(args));
  EventFilterConfig copy = config;
  const_cast<DictValue*>(config.args())->SetString("key", "two");
  std::string value;
  ASSERT_NE(nullptr, copy.args());
  EXPECT_TRUE(copy.args()->GetString("key", &value));
  EXPECT_EQ("one", value);
}

TEST(TraceEventFilterTest, CreationByPredicateName) {
  EventFilterConfig names("event_whitelist_predicate");
  auto args = std::make_unique<DictValue>();
  auto list = std::make_unique<ListValue>();
  list->AppendString("wanted");
  list->AppendInteger(5);  // not a name: skipped
  args->Set("event_name_whitelist", std::move(list));
  names.SetArgs(std::move(args));
  std::unique_ptr<TraceEventFilter> filter = TraceEventFilter::Create(names);
  ASSERT_NE(nullptr, filter);
  TraceCategory category("c");
  TraceEvent event;
  event.Initialize(1, 1, 0, 'X', &category, "wanted", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                   nullptr, 0);
  EXPECT_TRUE(filter->Admit(event));
  event.Initialize(1, 1, 0, 'X', &category, "other", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                   nullptr, 0);
  EXPECT_FALSE(filter->Admit(event));

  EXPECT_NE(nullptr, TraceEventFilter::Create(EventFilterConfig("heap_profiler_predicate")));
  EXPECT_EQ(nullptr, TraceEventFilter::Create(EventFilterConfig("testing_predicate")));
  EXPECT_EQ(nullptr, TraceEventFilter::Create(EventFilterConfig("heap_profiler_predicate ")));
}

TEST(HeapProfilerEventFilterTest, PopsOnlyFramesItPushed) {
  ASSERT_TRUE(HeapProfilerContextTracker::InitializeThreadLocalSlot());
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModePseudoStack);
  HeapProfilerContextTracker* tracker = HeapProfilerContextTracker::GetForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  const size_t depth = tracker->pseudo_stack().size();

  HeapProfilerEventFilter filter;
  TraceCategory category("c");
  TraceEvent outer;
  outer.Initialize(1, 1, 0, 'X', &category, "outer", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                   nullptr, 0);
  TraceEvent copied;
  copied.Initialize(1, 1, 0, 'X', &category, "copied", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                    nullptr, kTraceEventFlagCopy);
  EXPECT_TRUE(filter.Admit(outer));
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  // A copy-flag event is never pushed, so its end leaves the outer frame.
  EXPECT_TRUE(filter.Admit(copied));
  filter.NoteEventEnd(copied.name(), copied.category_name());
  ASSERT_EQ(depth + 1, tracker->pseudo_stack().size());
  filter.NoteEventEnd(outer.name(), outer.category_name());
  EXPECT_EQ(depth, tracker->pseudo_stack().size());

  // Past the depth limit nothing is pushed and nothing of the caller popped.
  while (tracker->pseudo_stack().size() < HeapProfilerContextTracker::kMaxStackDepth)
    filter.Admit(outer);
  TraceEvent deep;
  deep.Initialize(1, 1, 0, 'X', &category, "deep", nullptr, 0, 0, 0, nullptr, nullptr, nullptr,
                  nullptr, 0);
  filter.Admit(deep);
  filter.NoteEventEnd(deep.name(), deep.category_name());
  EXPECT_EQ(HeapProfilerContextTracker::kMaxStackDepth, tracker->pseudo_stack().size());
  while (tracker->pseudo_stack().size() > depth)
    filter.NoteEventEnd(outer.name(), outer.category_name());

  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModeDisabled);
}

// Nested task runs: the 17th context is not pushed, and its end must not pop
// the 16th.
void RunNested(int depth, const HeapProfilerContextTracker* tracker, std::vector<size_t>* seen) {
  static const char kPostingSites[18] = {};
  ScopedTaskContext context(&kPostingSites[depth]);
  seen->push_back(tracker->task_contexts().size());
  if (depth < 17)
    RunNested(depth + 1, tracker, seen);
  seen->push_back(tracker->task_contexts().size());
}

TEST(HeapProfilerContextTrackerTest, TaskContextsPopOnlyWhatWasPushed) {
  ASSERT_TRUE(HeapProfilerContextTracker::InitializeThreadLocalSlot());
  HeapProfilerContextTracker* tracker = HeapProfilerContextTracker::GetForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  {
    // Off: nothing is pushed.
    ScopedTaskContext context(tracker);
    EXPECT_TRUE(tracker->task_contexts().empty());
  }
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModePseudoStack);
  std::vector<size_t> seen;
  RunNested(1, tracker, &seen);
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModeDisabled);
  ASSERT_EQ(34u, seen.size());
  // Going in: 1 to 16, then 16 for the 17th level.
  for (size_t i = 0; i < 16; ++i)
    EXPECT_EQ(i + 1, seen[i]);
  EXPECT_EQ(16u, seen[16]);
  // Coming out: the 17th level leaves 16, then each level pops its own.
  EXPECT_EQ(16u, seen[17]);
  EXPECT_EQ(16u, seen[18]);
  for (size_t i = 19; i < 34; ++i)
    EXPECT_EQ(34 - i, seen[i]);
  EXPECT_TRUE(tracker->task_contexts().empty());
}

}  // namespace
}  // namespace base::trace_event
