#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/trace_event/etw_trace_export.h"
#include "base/trace_event/trace_category_registry.h"
#include "base/trace_event/trace_site.h"
#include "gtest/gtest.h"

namespace base::trace_event {
namespace {

TraceCategory* BuiltinEntry(size_t index) {
  return TraceCategoryRegistry::GetCategoryAt(index);
}

EventFilterConfig FilterFor(const char* predicate, const char* included) {
  EventFilterConfig config(predicate);
  config.AddIncludedCategory(included);
  return config;
}

// Every test leaves tracing off, as the rest of the process expects.
class TraceLogTest : public ::testing::Test {
 protected:
  void TearDown() override { TraceLog::GetInstance()->SetDisabledForTesting(); }
};

TEST_F(TraceLogTest, SingletonHoldsProcessIdAndItsHash) {
  TraceLog* log = TraceLog::GetInstance();
  ASSERT_NE(nullptr, log);
  EXPECT_EQ(log, TraceLog::GetInstance());
  EXPECT_EQ(log, TraceLog::GetInstanceIfExists());
  EXPECT_EQ(GetCurrentProcessId(), log->process_id());
  EXPECT_EQ(TraceLog::ComputeProcessIdHash(log->process_id()), log->process_id_hash());
  EXPECT_EQ(0, log->enabled_modes());
  EXPECT_EQ(TraceLog::kRecordUntilFull, log->trace_options());
}

TEST_F(TraceLogTest, ProcessIdHashSignExtends) {
  // FNV-1a offset basis XOR the id, times the 64-bit FNV prime.
  EXPECT_EQ(0xaf63bc4c8601b62cull, TraceLog::ComputeProcessIdHash(1));
  // With the top bit set the upper 32 bits of the operand are ones.
  EXPECT_EQ(0x94e28ae80601b62cull, TraceLog::ComputeProcessIdHash(0x80000001u));
  EXPECT_NE(TraceLog::ComputeProcessIdHash(0x80000001u), TraceLog::ComputeProcessIdHash(1));
}

TEST_F(TraceLogTest, BuiltinStateChangesOnlyOnRefresh) {
  TraceLog* log = TraceLog::GetInstance();
  TraceCategory* toplevel = BuiltinEntry(TraceCategoryRegistry::kCategoryTopLevel);
  EXPECT_EQ(0, toplevel->state());

  // Recording that includes "toplevel", switched on without a refresh: a
  // lookup finds the entry and leaves its state alone.
  log->SetEnabledForTesting(TraceLog::kRecordingMode, TraceConfig("toplevel"), {});
  log->SetDisabledForTesting();
  EXPECT_EQ(toplevel, TraceLog::GetCategoryEntry("toplevel"));
  EXPECT_EQ(0, toplevel->state());

  log->SetEnabledForTesting(TraceLog::kRecordingMode, TraceConfig("toplevel"), {});
  EXPECT_EQ(toplevel, TraceLog::GetCategoryEntry("toplevel"));
  EXPECT_EQ(TraceCategory::kEnabledForRecording, toplevel->state());
  EXPECT_TRUE(toplevel->is_enabled());

  log->SetDisabledForTesting();
  EXPECT_EQ(0, toplevel->state());
}

TEST_F(TraceLogTest, MetadataRecordsWhateverTheConfigurationExcludes) {
  TraceLog* log = TraceLog::GetInstance();
  TraceCategory* metadata = BuiltinEntry(TraceCategoryRegistry::kCategoryMetadata);

  log->SetEnabledForTesting(TraceLog::kRecordingMode, TraceConfig("-*"), {});
  EXPECT_EQ(TraceCategory::kEnabledForRecording, metadata->state());
  EXPECT_EQ(0, BuiltinEntry(TraceCategoryRegistry::kCategoryTopLevel)->state());
  EXPECT_EQ(0, TraceLog::GetCategoryEntry("velmo.log.excluded")->state());

  // Filtering alone does not turn metadata on.
  log->SetEnabledForTesting(TraceLog::kFilteringMode, TraceConfig("*"), {});
  EXPECT_EQ(0, metadata->state());
}

TEST_F(TraceLogTest, NewEntryGetsItsStateAtOnce) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabledForTesting(TraceLog::kRecordingMode, TraceConfig("velmo.log.on*"), {});
  EXPECT_EQ(TraceCategory::kEnabledForRecording,
            TraceLog::GetCategoryEntry("velmo.log.on.new")->state());
  EXPECT_EQ(0, TraceLog::GetCategoryEntry("velmo.log.off.new")->state());
}

TEST_F(TraceLogTest, FilterMaskFollowsFilterOrder) {
  TraceLog* log = TraceLog::GetInstance();
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.log.filtered");
  EXPECT_EQ(0u, category->filter_mask());
  EXPECT_EQ(0, category->state() & TraceCategory::kEnabledForFilters);

  std::vector<EventFilterConfig> filters;
  filters.push_back(FilterFor("first", "velmo.log.filtered"));
  filters.push_back(FilterFor("second", "other"));
  filters.push_back(FilterFor("third", "velmo.log.*"));
  log->SetEnabledForTesting(TraceLog::kFilteringMode, TraceConfig(), std::move(filters));
  EXPECT_EQ(0b101u, category->filter_mask());
  EXPECT_EQ(TraceCategory::kEnabledForFilters, category->state());

  // Only the first 32 filters can be told apart; the 33rd and later ones are
  // ignored.
  std::vector<EventFilterConfig> many;
  for (int i = 0; i < 34; ++i)
    many.push_back(FilterFor("any", i < 32 ? "none" : "velmo.log.filtered"));
  log->SetEnabledForTesting(TraceLog::kFilteringMode, TraceConfig(), std::move(many));
  EXPECT_EQ(0u, category->filter_mask());
  EXPECT_EQ(0, category->state());

  log->SetDisabledForTesting();
  EXPECT_EQ(0u, category->filter_mask());
}

TEST_F(TraceLogTest, EtwExportIsAskedEvenWhenNotRecording) {
  EtwTraceExport* etw_export = EtwTraceExport::GetInstance();
  ASSERT_NE(nullptr, etw_export);
  etw_export->SetCategoryEnabledForTesting("velmo.log.etw", true);
  etw_export->SetExportOnForTesting(true);
  const TraceCategory* etw = TraceLog::GetCategoryEntry("velmo.log.etw");
  EXPECT_EQ(TraceCategory::kEnabledForEtwExport, etw->state());
  EXPECT_TRUE(etw->is_enabled());
  EXPECT_EQ(0, TraceLog::GetCategoryEntry("velmo.log.not-etw")->state());
  etw_export->SetExportOnForTesting(false);
  etw_export->SetCategoryEnabledForTesting("velmo.log.etw", false);
  TraceLog::GetInstance()->RefreshAllCategoryStates();
  EXPECT_EQ(0, etw->state());
}

TEST(TraceConfigTest, IncludeExcludeAndDisabledByDefault) {
  // An empty configuration records every category that is on by default.
  EXPECT_TRUE(TraceConfig().IsCategoryGroupEnabled("toplevel"));
  EXPECT_FALSE(TraceConfig().IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));

  const TraceConfig include("toplevel,ui*");
  EXPECT_TRUE(include.IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(include.IsCategoryGroupEnabled("other,uix"));
  EXPECT_FALSE(include.IsCategoryGroupEnabled("other"));

  const TraceConfig exclude("-toplevel");
  EXPECT_FALSE(exclude.IsCategoryGroupEnabled("toplevel"));
  EXPECT_TRUE(exclude.IsCategoryGroupEnabled("base"));
  EXPECT_FALSE(exclude.IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));

  EXPECT_FALSE(TraceConfig("*").IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_TRUE(TraceConfig("disabled-by-default-toplevel.flow")
                  .IsCategoryGroupEnabled("disabled-by-default-toplevel.flow"));
  EXPECT_FALSE(TraceConfig("-*").IsCategoryGroupEnabled("base"));
}

int RunScopedSite() {
  TRACE_EVENT_SCOPE2("velmo.log.site", "RunScopedSite", "src_file", __FILE__, "src_func",
                     "RunScopedSite");
  return 7;
}

void RunFlowSite() {
  TRACE_EVENT_INSTANT_FLOW("velmo.log.flow", "RunFlowSite", 42,
                           TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_FLOW_OUT);
}

TEST_F(TraceLogTest, SitesResolveTheirCategoryOnce) {
  const size_t count_before = TraceCategoryRegistry::GetCategoryCount();
  EXPECT_EQ(7, RunScopedSite());
  RunFlowSite();
  EXPECT_EQ(count_before + 2, TraceCategoryRegistry::GetCategoryCount());
  const TraceCategory* site = TraceLog::GetCategoryEntry("velmo.log.site");
  EXPECT_EQ(0, site->state());

  // Switched on, the sites go through the event path.
  TraceLog::GetInstance()->SetEnabledForTesting(TraceLog::kRecordingMode,
                                                TraceConfig("velmo.log.*"), {});
  EXPECT_TRUE(site->is_enabled());
  EXPECT_EQ(7, RunScopedSite());
  RunFlowSite();
  EXPECT_EQ(count_before + 2, TraceCategoryRegistry::GetCategoryCount());
}

}  // namespace
}  // namespace base::trace_event
