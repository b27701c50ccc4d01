#include "base/trace_event/memory_dump_manager.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/json_reader.h"
#include "base/process.h"
#include "base/threading/lock.h"
#include "base/threading/waitable_event.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base::trace_event {
namespace {

int RunChild(const char* name, const char* extra_switch) {
  CommandLine command_line = testing::GetChildCommandLine(name);
  if (extra_switch)
    command_line.AppendSwitch(extra_switch);
  Process child = LaunchProcess(command_line, LaunchOptions());
  int exit_code = -1;
  if (!child.IsValid() || !child.WaitForExit(&exit_code))
    return -1;
  return exit_code;
}

TraceConfig MemoryInfraConfig() {
  TraceConfig config(std::string(MemoryDumpManager::kTraceCategory) + ",velmo.mdm");
  config.memory_dump_config().allowed_dump_modes.insert(MemoryDumpLevelOfDetail::kDetailed);
  return config;
}

class NoticeProvider : public MemoryDumpProvider {
 public:
  bool WriteDump(const MemoryDumpArgs&, ProcessMemoryDump*) override { return true; }
  void OnHeapProfilingEnabled(bool enabled) override { noticed = enabled; }
  bool noticed = false;
};

CHILD_PROCESS_MAIN(HeapProfilingMetadata) {
  TraceLog* log = TraceLog::GetInstance();
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  if (!manager->heap_profiling_enabled())
    return 10;
  if (HeapProfilerContextTracker::GetHeapProfilingMode() != kHeapProfilingModePseudoStack)
    return 11;
  NoticeProvider provider;
  manager->AddProvider(&provider, "Late", nullptr);
  if (!provider.noticed)
    return 12;
  manager->RemoveProvider(&provider);
  log->SetEnabled(MemoryInfraConfig(), TraceLog::kRecordUntilFull);
  if (!manager->memory_tracing_enabled())
    return 13;
  const std::string json = log->Flush();
  if (manager->memory_tracing_enabled())
    return 14;
  std::unique_ptr<Value> parsed = JsonReader::Read(json);
  DictValue* root = nullptr;
  ListValue* events = nullptr;
  if (!parsed || !parsed->GetAsDictionary(&root) || !root->GetList("traceEvents", &events))
    return 15;
  int found = 0;
  for (size_t i = 0; i < events->size(); ++i) {
    DictValue* event = nullptr;
    std::string name, phase;
    DictValue* args = nullptr;
    events->GetDictionary(i, &event);
    event->GetString("name", &name);
    event->GetString("ph", &phase);
    if ((name == "stackFrames" || name == "typeNames") && phase == "M" &&
        event->GetDictionary("args." + name, &args)) {
      ++found;
    }
  }
  return found == 2 ? 0 : 16;
}

TEST(MemoryDumpManagerTest, HeapProfilingSwitchPutsDeduplicatorsInTheTrace) {
  EXPECT_EQ(0, RunChild("HeapProfilingMetadata", "enable-heap-profiling"));
}

// The first trace site may run before the entry point reads its command
// line: the manager then sees no switch, and looks again later.
CHILD_PROCESS_MAIN(HeapProfilingBeforeCommandLine) {
  CommandLine::ResetForCurrentProcess();
  TraceLog::GetInstance();
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  if (manager->heap_profiling_enabled())
    return 10;
  CommandLine::InitForCurrentProcess();
  manager->EnableHeapProfilingIfNeeded();
  return manager->heap_profiling_enabled() ? 0 : 11;
}

TEST(MemoryDumpManagerTest, UninitialisedCommandLineCountsAsNoSwitch) {
  EXPECT_EQ(0, RunChild("HeapProfilingBeforeCommandLine", "enable-heap-profiling"));
}

class RecordingDelegate : public MemoryDumpManagerDelegate {
 public:
  void RequestGlobalDump(const MemoryDumpRequestArgs& args,
                         GlobalMemoryDumpCallback callback) override {
    requests.push_back(args);
    callback.Run(args.dump_guid, true);
  }
  std::vector<MemoryDumpRequestArgs> requests;
};

struct DumpResult {
  uint64_t guid = 12345;
  bool success = true;
  int calls = 0;
};

void StoreResult(DumpResult* result, uint64_t guid, bool success) {
  result->guid = guid;
  result->success = success;
  ++result->calls;
}

// A fresh process, so that this is the first dump of its sequence.
CHILD_PROCESS_MAIN(GlobalDumpGuid) {
  TraceLog* log = TraceLog::GetInstance();
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  RecordingDelegate delegate;
  manager->SetDelegate(&delegate);
  log->SetEnabled(MemoryInfraConfig(), TraceLog::kRecordUntilFull);
  DumpResult result;
  // A level the configuration does not allow fails without a guid.
  manager->RequestDump(MemoryDumpLevelOfDetail::kLight, Bind(&StoreResult, &result));
  if (result.calls != 1 || result.guid != 0 || result.success)
    return 10;
  manager->RequestDump(MemoryDumpLevelOfDetail::kDetailed, Bind(&StoreResult, &result));
  const uint64_t expected = log->process_id_hash() ^ 1;
  if (result.calls != 2 || !result.success || result.guid != expected)
    return 11;
  if (delegate.requests.size() != 1 || delegate.requests[0].dump_guid != expected ||
      delegate.requests[0].level_of_detail != MemoryDumpLevelOfDetail::kDetailed ||
      delegate.requests[0].dump_type != MemoryDumpType::kPeriodicInterval) {
    return 12;
  }
  const std::string json = log->Flush();
  manager->SetDelegate(nullptr);
  // The pair carries the guid mangled with the same hash: the sequence number.
  const size_t begin = json.find(
      "\"ph\":\"b\",\"cat\":\"disabled-by-default-memory-infra\","
      "\"name\":\"GlobalMemoryDump\",\"args\":{},\"id\":\"0x1\"");
  const size_t end = json.find(
      "\"ph\":\"e\",\"cat\":\"disabled-by-default-memory-infra\","
      "\"name\":\"GlobalMemoryDump\",\"args\":{\"success\":true},"
      "\"id\":\"0x1\"");
  if (begin == std::string::npos || end == std::string::npos || end < begin)
    return 13;
  return 0;
}

TEST(MemoryDumpManagerTest, GlobalDumpGuidIsPidHashXorSequence) {
  EXPECT_EQ(0, RunChild("GlobalDumpGuid", nullptr));
}

TEST(MemoryDumpManagerTest, RequestWithoutMemoryTracingFails) {
  DumpResult result;
  MemoryDumpManager::Instance()->RequestDump(MemoryDumpLevelOfDetail::kDetailed,
                                             Bind(&StoreResult, &result));
  EXPECT_EQ(1, result.calls);
  EXPECT_EQ(0u, result.guid);
  EXPECT_FALSE(result.success);
}

TEST(MemoryDumpManagerTest, PeriodicScheduleLevels) {
  PeriodicDumpSchedule schedule;
  ASSERT_TRUE(schedule.Configure(
      {{250, MemoryDumpLevelOfDetail::kLight}, {2000, MemoryDumpLevelOfDetail::kDetailed}}));
  EXPECT_EQ(250u, schedule.min_period_ms());
  std::vector<MemoryDumpLevelOfDetail> levels;
  for (int i = 0; i < 17; ++i)
    levels.push_back(schedule.NextLevel());
  for (int i = 0; i < 17; ++i) {
    EXPECT_EQ(i % 8 == 0 ? MemoryDumpLevelOfDetail::kDetailed : MemoryDumpLevelOfDetail::kLight,
              levels[i])
        << i;
  }
  // Only detailed triggers: background between them.
  ASSERT_TRUE(schedule.Configure(
      {{100, MemoryDumpLevelOfDetail::kDetailed}, {50, MemoryDumpLevelOfDetail::kBackground}}));
  EXPECT_EQ(MemoryDumpLevelOfDetail::kDetailed, schedule.NextLevel());
  EXPECT_EQ(MemoryDumpLevelOfDetail::kBackground, schedule.NextLevel());
  EXPECT_EQ(MemoryDumpLevelOfDetail::kDetailed, schedule.NextLevel());
  // A 0 ms trigger would divide by zero: refused.
  EXPECT_FALSE(schedule.Configure(
      {{0, MemoryDumpLevelOfDetail::kLight}, {100, MemoryDumpLevelOfDetail::kDetailed}}));
  EXPECT_FALSE(schedule.Configure({}));
}

// Records the levels of the requested dumps; signals after |wanted| of them.
class PeriodicDelegate : public MemoryDumpManagerDelegate {
 public:
  explicit PeriodicDelegate(size_t wanted)
      : wanted_(wanted),
        done(WaitableEvent::ResetPolicy::kManual, WaitableEvent::InitialState::kNotSignaled) {}
  void RequestGlobalDump(const MemoryDumpRequestArgs& args,
                         GlobalMemoryDumpCallback callback) override {
    {
      AutoLock hold(lock_);
      levels_.push_back(args.level_of_detail);
      if (levels_.size() == wanted_)
        done.Signal();
    }
    callback.Run(args.dump_guid, true);
  }
  std::vector<MemoryDumpLevelOfDetail> levels() {
    AutoLock hold(lock_);
    return levels_;
  }

 private:
  Lock lock_;
  size_t wanted_;
  std::vector<MemoryDumpLevelOfDetail> levels_;

 public:
  WaitableEvent done;
};

TEST(MemoryDumpManagerTest, PeriodicDumpsRunOnTheMemoryInfraThread) {
  TraceLog* log = TraceLog::GetInstance();
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  PeriodicDelegate delegate(9);
  manager->SetDelegate(&delegate);
  manager->set_periodic_dumps_allowed(true);
  TraceConfig config = MemoryInfraConfig();
  config.memory_dump_config().allowed_dump_modes.insert(MemoryDumpLevelOfDetail::kLight);
  config.memory_dump_config().triggers = {{5, MemoryDumpLevelOfDetail::kLight},
                                          {40, MemoryDumpLevelOfDetail::kDetailed}};
  log->SetEnabled(config, TraceLog::kRecordUntilFull);
  const bool done = delegate.done.TimedWait(TimeSpan::FromSeconds(60));
  log->SetDisabled();
  manager->set_periodic_dumps_allowed(false);
  manager->SetDelegate(nullptr);
  log->Flush();
  ASSERT_TRUE(done);
  const std::vector<MemoryDumpLevelOfDetail> levels = delegate.levels();
  ASSERT_GE(levels.size(), 9u);
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(i % 8 == 0 ? MemoryDumpLevelOfDetail::kDetailed : MemoryDumpLevelOfDetail::kLight,
              levels[i])
        << i;
  }
}

void FillBufferFromMemoryInfra(WaitableEvent* done) {
  TraceLog* log = TraceLog::GetInstance();
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.mdm");
  while (log->enabled_modes() & TraceLog::kRecordingMode)
    log->AddTraceEvent('I', category, "Filler", 0, 0, 0, 0, nullptr, nullptr);
  done->Signal();
}

TEST(MemoryDumpManagerTest, BufferFilledOnMemoryInfraThreadStopsItWithoutSelfJoin) {
  TraceLog* log = TraceLog::GetInstance();
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  log->SetEnabled(MemoryInfraConfig(), TraceLog::kRecordUntilFull);
  log->SetTraceBufferForTesting(std::make_unique<TraceBufferVector>(4));
  SharedRef<OrderedTaskRunner> runner = manager->memory_infra_task_runner();
  ASSERT_NE(nullptr, runner.get());
  WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                     WaitableEvent::InitialState::kNotSignaled);
  ASSERT_TRUE(runner->PostTask(FROM_HERE, Bind(&FillBufferFromMemoryInfra, &done)));
  ASSERT_TRUE(done.TimedWait(TimeSpan::FromSeconds(30)));
  EXPECT_FALSE(manager->memory_tracing_enabled());
  EXPECT_NE(std::string::npos, log->Flush().find("trace_buffer_overflowed"));

  // The next run joins the old thread and starts a new one.
  log->SetEnabled(MemoryInfraConfig(), TraceLog::kRecordUntilFull);
  EXPECT_TRUE(manager->memory_tracing_enabled());
  log->SetDisabled();
  EXPECT_FALSE(manager->memory_tracing_enabled());
  log->Flush();
}

TEST(ProcessMemoryDumpTest, WhitelistAndRecords) {
  EXPECT_TRUE(IsMemoryDumpNameWhitelisted("script/isolate_0x1a2B/heap_spaces/new_space"));
  EXPECT_FALSE(IsMemoryDumpNameWhitelisted("script/isolate_6699/heap_spaces/new_space"));
  EXPECT_TRUE(IsMemoryDumpNameWhitelisted("winheap"));
  EXPECT_FALSE(IsMemoryDumpNameWhitelisted("winheap/other"));
  // A trailing "0x" has no number: left as it is.
  EXPECT_FALSE(IsMemoryDumpNameWhitelisted("discardable/child_0x"));

  ProcessMemoryDump background(MemoryDumpLevelOfDetail::kBackground);
  AllocatorDumpRecord* dropped = background.CreateAllocatorDump("velmo/private");
  EXPECT_EQ("discarded", dropped->absolute_name());
  EXPECT_EQ(dropped, background.CreateAllocatorDump("velmo/other"));
  AllocatorDumpRecord* kept = background.CreateAllocatorDump("malloc");
  EXPECT_EQ(kept, background.GetAllocatorDump("malloc"));
  EXPECT_EQ(1u, background.allocator_dumps().size());

  // A second record of the same name is the first one, attributes and all.
  ProcessMemoryDump repeated(MemoryDumpLevelOfDetail::kDetailed);
  AllocatorDumpRecord* first = repeated.CreateAllocatorDump("velmo/repeated");
  first->SetScalar("size", "bytes", 42);
  EXPECT_EQ(first, repeated.CreateAllocatorDump("velmo/repeated"));
  EXPECT_EQ(first, repeated.GetAllocatorDump("velmo/repeated"));
  std::unique_ptr<DictValue> first_attributes = first->attributes().ToValue();
  ASSERT_NE(nullptr, first_attributes);
  std::string kept_value;
  EXPECT_TRUE(first_attributes->GetString("size.value", &kept_value));
  EXPECT_EQ("2a", kept_value);

  ProcessMemoryDump detailed(MemoryDumpLevelOfDetail::kDetailed);
  ASSERT_TRUE(TraceLog::GetInstance()->WriteDump(MemoryDumpArgs(), &detailed));
  AllocatorDumpRecord* record = detailed.GetAllocatorDump("tracing/main_trace_log/TraceLog");
  ASSERT_NE(nullptr, record);
  std::unique_ptr<DictValue> attributes = record->attributes().ToValue();
  ASSERT_NE(nullptr, attributes);
  std::string text;
  EXPECT_TRUE(attributes->GetString("size.type", &text));
  EXPECT_EQ("scalar", text);
  EXPECT_TRUE(attributes->GetString("object_count.units", &text));
  EXPECT_EQ("objects", text);
  EXPECT_TRUE(attributes->GetString("object_count.value", &text));
  EXPECT_EQ("1", text);
  EXPECT_NE(nullptr, detailed.GetAllocatorDump("tracing/main_trace_log/TraceBufferVector"));
  // Records of different names get different guids, the same name the same.
  EXPECT_EQ(AllocatorDumpRecord("a", &detailed).guid(), AllocatorDumpRecord("a", &detailed).guid());
  EXPECT_NE(AllocatorDumpRecord("a", &detailed).guid(), AllocatorDumpRecord("b", &detailed).guid());
}

}  // namespace
}  // namespace base::trace_event
