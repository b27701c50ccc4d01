#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/trace_event/etw_trace_export.h"
#include "base/json_reader.h"
#include "base/logging.h"
#include "base/bind.h"
#include "base/threading/thread.h"
#include "base/threading/thread_name_registry.h"
#include "base/threading/waitable_event.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/thread_local_event_buffer.h"
#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_category_registry.h"
#include "base/values.h"
#include "base/trace_event/trace_site.h"
#include "base/process.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

// This test executable's allocations, counted on one watched thread by
// whether the heap profiler would attribute them.
namespace {

std::atomic<DWORD> g_watched_thread{0};
const base::trace_event::HeapProfilerContextTracker* g_watched_tracker = nullptr;
std::atomic<int> g_attributed_allocations{0};
std::atomic<int> g_ignored_allocations{0};

}  // namespace

void* operator new(size_t size) {
  if (g_watched_thread.load(std::memory_order_relaxed) == ::GetCurrentThreadId()) {
    if (g_watched_tracker->ignore_counter() > 0)
      g_ignored_allocations.fetch_add(1);
    else
      g_attributed_allocations.fetch_add(1);
  }
  void* memory = std::malloc(size ? size : 1);
  if (!memory)
    std::abort();
  return memory;
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }

namespace base::trace_event {
namespace {

TraceCategory* BuiltinEntry(size_t index) { return TraceCategoryRegistry::GetCategoryAt(index); }

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

// The events of a flushed trace, parsed.
struct ParsedTrace {
  std::unique_ptr<Value> root;
  ListValue* events = nullptr;

  // The events named |name|.
  std::vector<DictValue*> Named(const std::string& name) const {
    std::vector<DictValue*> found;
    for (size_t i = 0; i < events->size(); ++i) {
      DictValue* event = nullptr;
      std::string event_name;
      if (events->GetDictionary(i, &event) && event->GetString("name", &event_name) &&
          event_name == name) {
        found.push_back(event);
      }
    }
    return found;
  }
};

ParsedTrace ParseTrace(const std::string& json) {
  ParsedTrace trace;
  trace.root = JsonReader::Read(json);
  DictValue* dict = nullptr;
  if (trace.root && trace.root->GetAsDictionary(&dict))
    dict->GetList("traceEvents", &trace.events);
  return trace;
}

void AddPlainEvents(const TraceCategory* category, int count) {
  for (int i = 0; i < count; ++i) {
    TraceLog::GetInstance()->AddTraceEvent('I', category, "velmo.plain", 0, 0, 0, 0, nullptr,
                                           nullptr);
  }
}

TEST_F(TraceLogTest, RecordedSitesFlushAsTraceFile) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.rec.*"), TraceLog::kRecordUntilFull);
  EXPECT_EQ(TraceLog::kRecordingMode, log->enabled_modes());
  {
    TRACE_EVENT_SCOPE2("velmo.rec.site", "RecordedScope", "number", -3, "text", "a\"b");
    Sleep(2);
  }
  TRACE_EVENT_INSTANT_FLOW(
      "velmo.rec.flow", "RecordedFlow", 42,
      TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID | TRACE_EVENT_FLAG_FLOW_OUT);
  TRACE_EVENT_SCOPE1("velmo.off", "NotRecorded", "x", 1);

  const std::string json = log->Flush();
  EXPECT_EQ(0, log->enabled_modes());
  const ParsedTrace trace = ParseTrace(json);
  ASSERT_NE(nullptr, trace.events) << json;
  EXPECT_TRUE(trace.Named("NotRecorded").empty());

  std::vector<DictValue*> scopes = trace.Named("RecordedScope");
  ASSERT_EQ(1u, scopes.size());
  int value = 0;
  EXPECT_TRUE(scopes[0]->GetInteger("pid", &value));
  EXPECT_EQ(static_cast<int>(GetCurrentProcessId()), value);
  EXPECT_TRUE(scopes[0]->GetInteger("tid", &value));
  EXPECT_EQ(static_cast<int>(GetCurrentThreadId()), value);
  EXPECT_TRUE(scopes[0]->GetInteger("dur", &value));
  EXPECT_GE(value, 1000);
  EXPECT_TRUE(scopes[0]->GetInteger("args.number", &value));
  EXPECT_EQ(-3, value);
  std::string text;
  EXPECT_TRUE(scopes[0]->GetString("args.text", &text));
  EXPECT_EQ("a\"b", text);
  EXPECT_TRUE(scopes[0]->GetString("ph", &text));
  EXPECT_EQ("X", text);

  // Flow ids are mangled with the process-id hash, and so is the binding.
  std::vector<DictValue*> flows = trace.Named("RecordedFlow");
  ASSERT_EQ(1u, flows.size());
  char expected[32];
  snprintf(expected, sizeof(expected), "0x%llx",
           static_cast<unsigned long long>(42 ^ log->process_id_hash()));
  EXPECT_TRUE(flows[0]->GetString("id", &text));
  EXPECT_EQ(expected, text);
  EXPECT_TRUE(flows[0]->GetString("bind_id", &text));
  EXPECT_EQ(expected, text);

  // Metadata written when recording stopped.
  std::vector<DictValue*> cpus = trace.Named("num_cpus");
  ASSERT_EQ(1u, cpus.size());
  EXPECT_TRUE(cpus[0]->GetInteger("args.number", &value));
  EXPECT_GE(value, 1);

  // The buffer was emptied by the flush.
  EXPECT_EQ(std::string::npos, log->Flush().find("RecordedScope"));
}

TEST_F(TraceLogTest, FullVectorBufferStopsRecording) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.full"), TraceLog::kRecordUntilFull);
  log->SetTraceBufferForTesting(std::make_unique<TraceBufferVector>(3));
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.full");
  ASSERT_TRUE(category->is_enabled());
  // Two chunks fill up; the third is handed out and the buffer is full.
  AddPlainEvents(category, 2 * 64 + 1);
  EXPECT_EQ(0, log->enabled_modes());
  EXPECT_EQ(0, category->state());
  AddPlainEvents(category, 10);

  const ParsedTrace trace = ParseTrace(log->Flush());
  ASSERT_NE(nullptr, trace.events);
  // Events written before the stop stay; nothing after it is added.
  EXPECT_EQ(2u * 64 + 1, trace.Named("velmo.plain").size());
  std::vector<DictValue*> overflow = trace.Named("trace_buffer_overflowed");
  ASSERT_EQ(1u, overflow.size());
  double at = 0;
  EXPECT_TRUE(overflow[0]->GetDouble("args.overflowed_at_ts", &at));
  EXPECT_GT(at, 0);
}

TEST_F(TraceLogTest, ThreadNamesCollectEveryNameOnce) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.names"), TraceLog::kRecordUntilFull);
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.names");
  ThreadNameRegistry* names = ThreadNameRegistry::GetInstance();
  const DWORD thread_id = GetCurrentThreadId();
  names->SetName(thread_id, "velmo first");
  AddPlainEvents(category, 2);
  names->SetName(thread_id, "velmo second");
  AddPlainEvents(category, 1);
  names->SetName(thread_id, "velmo first");
  AddPlainEvents(category, 1);

  const ParsedTrace trace = ParseTrace(log->Flush());
  ASSERT_NE(nullptr, trace.events);
  bool found = false;
  for (DictValue* event : trace.Named("thread_name")) {
    int tid = 0;
    std::string name;
    if (event->GetInteger("tid", &tid) && tid == static_cast<int>(thread_id) &&
        event->GetString("args.name", &name)) {
      EXPECT_NE(std::string::npos, name.find("velmo first,velmo second")) << name;
      EXPECT_EQ(name.find("velmo first"), name.rfind("velmo first")) << name;
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

struct LoopEvents {
  TraceEventHandle first;
  TraceEventHandle last;
  DWORD thread_id = 0;
  ProcessMemoryDump dump{MemoryDumpLevelOfDetail::kDetailed};
};

void AddEventsOnLoop(LoopEvents* out, WaitableEvent* done) {
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.loop");
  TraceLog* log = TraceLog::GetInstance();
  for (int i = 0; i < 65; ++i) {
    const TraceEventHandle handle =
        log->AddTraceEvent('X', category, "LoopEvent", 0, 0, 0, 0, nullptr, nullptr);
    if (i == 0)
      out->first = handle;
    out->last = handle;
  }
  log->UpdateEventDuration(category, "LoopEvent", out->last);
  out->thread_id = GetCurrentThreadId();
  ThreadLocalEventBuffer* buffer = ThreadLocalEventBuffer::GetForCurrentThread();
  if (buffer)
    buffer->WriteDump(MemoryDumpArgs(), &out->dump);
  done->Signal();
}

void BlockLoop(WaitableEvent* started, WaitableEvent* release) {
  TraceLog::GetInstance()->AddTraceEvent('I', TraceLog::GetCategoryEntry("velmo.loop"),
                                         "BlockedLoopEvent", 0, 0, 0, 0, nullptr, nullptr);
  started->Signal();
  release->Wait();
}

TEST_F(TraceLogTest, LoopThreadsKeepTheirOwnChunksUntilFlush) {
  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.loop"), TraceLog::kRecordUntilFull);
  Thread writer("velmo trace writer");
  Thread blocked("velmo blocked loop");
  ASSERT_TRUE(writer.Start());
  ASSERT_TRUE(blocked.Start());

  LoopEvents events;
  WaitableEvent written(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  writer.task_runner()->PostTask(FROM_HERE, Bind(&AddEventsOnLoop, &events, &written));
  ASSERT_TRUE(written.TimedWait(TimeSpan::FromSeconds(30)));
  // The 65th event starts a new chunk: the first one went back full.
  ASSERT_TRUE(events.first.is_valid());
  ASSERT_TRUE(events.last.is_valid());
  EXPECT_NE(events.first.chunk_index, events.last.chunk_index);
  EXPECT_EQ(0u, events.last.event_index);
  EXPECT_EQ(0u, events.first.event_index);
  // The thread's buffer reports the one event of its current chunk.
  const AllocatorDumpRecord* record = events.dump.GetAllocatorDump(
      "tracing/thread_" + std::to_string(events.thread_id) + "/TraceEvent");
  ASSERT_NE(nullptr, record);
  std::unique_ptr<DictValue> attributes = record->attributes().ToValue();
  std::string count;
  ASSERT_TRUE(attributes && attributes->GetString("object_count.value", &count));
  EXPECT_EQ("1", count);

  // A loop that does not answer within a second is left out.
  WaitableEvent started(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  WaitableEvent release(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  blocked.task_runner()->PostTask(FROM_HERE, Bind(&BlockLoop, &started, &release));
  ASSERT_TRUE(started.TimedWait(TimeSpan::FromSeconds(30)));

  const ParsedTrace trace = ParseTrace(log->Flush());
  release.Signal();
  ASSERT_NE(nullptr, trace.events);
  std::vector<DictValue*> loop_events = trace.Named("LoopEvent");
  // Both chunks of the writer: the returned one and the one its loop handed in.
  EXPECT_EQ(65u, loop_events.size());
  int closed = 0;
  for (DictValue* event : loop_events) {
    int duration = -1;
    if (event->GetInteger("dur", &duration) && duration >= 0)
      ++closed;
  }
  EXPECT_EQ(1, closed);
  EXPECT_TRUE(trace.Named("BlockedLoopEvent").empty());

  blocked.Stop();
  writer.Stop();
  // The late chunk belonged to the flushed trace: not in the next one.
  EXPECT_EQ(std::string::npos, log->Flush().find("BlockedLoopEvent"));
}

class LoopObserver : public TraceLogEnabledStateObserver {
 public:
  LoopObserver()
      : disabled_event(WaitableEvent::ResetPolicy::kManual,
                       WaitableEvent::InitialState::kNotSignaled),
        factory_(this) {}
  void OnTraceLogEnabled() override { enabled_thread = GetCurrentThreadId(); }
  void OnTraceLogDisabled() override {
    disabled_thread = GetCurrentThreadId();
    disabled_event.Signal();
  }
  WeakRef<LoopObserver> GetWeakRef() { return factory_.GetWeakRef(); }

  DWORD enabled_thread = 0;
  DWORD disabled_thread = 0;
  WaitableEvent disabled_event;

 private:
  WeakRefFactory<LoopObserver> factory_;
};

void RegisterOnLoop(LoopObserver* observer, WaitableEvent* done) {
  TraceLog::GetInstance()->AddAsyncEnabledStateObserver(observer->GetWeakRef());
  done->Signal();
}

TEST_F(TraceLogTest, AsyncObserversAreToldOnTheirOwnLoop) {
  Thread observer_thread("velmo trace observer");
  ASSERT_TRUE(observer_thread.Start());
  LoopObserver observer;
  WaitableEvent registered(WaitableEvent::ResetPolicy::kManual,
                           WaitableEvent::InitialState::kNotSignaled);
  observer_thread.task_runner()->PostTask(FROM_HERE, Bind(&RegisterOnLoop, &observer, &registered));
  ASSERT_TRUE(registered.TimedWait(TimeSpan::FromSeconds(30)));

  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.async"), TraceLog::kRecordUntilFull);
  log->SetDisabled();
  ASSERT_TRUE(observer.disabled_event.TimedWait(TimeSpan::FromSeconds(30)));
  EXPECT_EQ(observer_thread.thread_id(), observer.enabled_thread);
  EXPECT_EQ(observer_thread.thread_id(), observer.disabled_thread);

  log->RemoveAsyncEnabledStateObserver(&observer);
  observer.disabled_event.Reset();
  log->SetEnabled(TraceConfig("velmo.async"), TraceLog::kRecordUntilFull);
  log->SetDisabled();
  observer_thread.Stop();  // runs whatever was posted
  EXPECT_FALSE(observer.disabled_event.IsSignaled());
  log->Flush();
}

// A fresh process: the filter list is built once per process.
CHILD_PROCESS_MAIN(TraceLogFilters) {
  TraceLog* log = TraceLog::GetInstance();
  TraceConfig config("velmo.filtered");
  EventFilterConfig unknown("velmo_unknown_predicate");
  unknown.AddIncludedCategory("velmo.filtered");
  EventFilterConfig names("event_whitelist_predicate");
  names.AddIncludedCategory("velmo.*");
  auto args = std::make_unique<DictValue>();
  auto list = std::make_unique<ListValue>();
  list->AppendString("Kept");
  args->Set("event_name_whitelist", std::move(list));
  names.SetArgs(std::move(args));
  config.event_filters().push_back(unknown);
  config.event_filters().push_back(names);
  log->SetEnabled(config, TraceLog::kRecordUntilFull);
  if (log->enabled_modes() != (TraceLog::kRecordingMode | TraceLog::kFilteringMode))
    return 10;
  // The unknown predicate keeps its place: the name filter stays filter 1.
  if (log->GetEventFilter(0) != nullptr || log->GetEventFilter(1) == nullptr)
    return 11;
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.filtered");
  if (category->filter_mask() != 0b11u ||
      category->state() !=
          (TraceCategory::kEnabledForRecording | TraceCategory::kEnabledForFilters)) {
    return 12;
  }
  log->AddTraceEvent('I', category, "Kept", 0, 0, 0, 0, nullptr, nullptr);
  log->AddTraceEvent('I', category, "Dropped", 0, 0, 0, 0, nullptr, nullptr);
  const std::string json = log->Flush();
  if (json.find("\"Kept\"") == std::string::npos)
    return 13;
  if (json.find("Dropped") != std::string::npos)
    return 14;
  return 0;
}

TEST(TraceLogFilterTest, FiltersDecideWhatIsRecorded) {
  Process child = LaunchProcess(testing::GetChildCommandLine("TraceLogFilters"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(0, exit_code);
}

std::vector<std::string>* g_logged_lines = nullptr;

bool CaptureLogLine(int, const char*, int, size_t, const std::string& line) {
  g_logged_lines->push_back(line);
  return true;
}

TEST_F(TraceLogTest, ConsoleEchoNestsAndSurvivesUnmatchedEnd) {
  std::vector<std::string> lines;
  g_logged_lines = &lines;
  logging::LogMessageHandlerFunction previous = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&CaptureLogLine);

  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.echo"), TraceLog::kEchoToConsole);
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.echo");
  // An end whose begin was never seen has no elapsed time (and no crash).
  log->AddTraceEvent('E', category, "Unmatched", 0, 0, 0, 0, nullptr, nullptr);
  {
    TRACE_EVENT_SCOPE("velmo.echo", "Outer");
    TRACE_EVENT_SCOPE("velmo.echo", "Inner");
  }
  log->SetDisabled();
  logging::SetLogMessageHandler(previous);
  g_logged_lines = nullptr;

  ASSERT_EQ(5u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("Unmatched[velmo.echo]"));
  EXPECT_EQ(std::string::npos, lines[0].find(" ms)"));
  EXPECT_EQ(std::string::npos, lines[1].find("| "));
  EXPECT_NE(std::string::npos, lines[2].find("| Inner[velmo.echo]"));
  EXPECT_NE(std::string::npos, lines[3].find("| Inner[velmo.echo] ("));
  EXPECT_NE(std::string::npos, lines[4].find("Outer[velmo.echo] ("));
  EXPECT_EQ(std::string::npos, lines[4].find("| "));
}

TEST_F(TraceLogTest, ConsoleEchoEndsTheNestingOfARecycledEvent) {
  std::vector<std::string> lines;
  g_logged_lines = &lines;
  logging::LogMessageHandlerFunction previous = logging::GetLogMessageHandler();
  logging::SetLogMessageHandler(&CaptureLogLine);

  TraceLog* log = TraceLog::GetInstance();
  log->SetEnabled(TraceConfig("velmo.recycled"), TraceLog::kEchoToConsole);
  log->SetTraceBufferForTesting(std::make_unique<TraceBufferRingBuffer>(2));
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.recycled");
  const TraceEventHandle outer =
      log->AddTraceEvent('X', category, "Outer", 0, 0, 0, 0, nullptr, nullptr);
  ASSERT_TRUE(outer.is_valid());
  // The ring goes round: the chunk that held "Outer" now holds later events.
  AddPlainEvents(category, 3 * 64);
  log->UpdateEventDuration(category, "Outer", outer);
  { TRACE_EVENT_SCOPE("velmo.recycled", "After"); }
  log->SetDisabled();
  logging::SetLogMessageHandler(previous);
  g_logged_lines = nullptr;

  ASSERT_GE(lines.size(), 4u);
  // The end of "Outer" was echoed, and "After" is no longer nested in it.
  const std::string& outer_end = lines[lines.size() - 3];
  EXPECT_EQ(std::string::npos, outer_end.find("velmo.plain")) << outer_end;
  const std::string& after_begin = lines[lines.size() - 2];
  EXPECT_NE(std::string::npos, after_begin.find("After[velmo.recycled]")) << after_begin;
  EXPECT_EQ(std::string::npos, after_begin.find("| ")) << after_begin;
  const std::string& after_end = lines.back();
  EXPECT_NE(std::string::npos, after_end.find("After[velmo.recycled] (")) << after_end;
  EXPECT_EQ(std::string::npos, after_end.find("| ")) << after_end;
}

TEST_F(TraceLogTest, QueuedMetadataEventsAreKeptFromTheHeapProfiler) {
  ASSERT_TRUE(HeapProfilerContextTracker::InitializeThreadLocalSlot());
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModePseudoStack);
  HeapProfilerContextTracker* tracker = HeapProfilerContextTracker::GetForCurrentThread();
  ASSERT_NE(nullptr, tracker);
  const TraceCategory* category = TraceLog::GetCategoryEntry("velmo.queued");
  const char* names[1] = {"text"};
  const uint8_t types[1] = {TRACE_VALUE_TYPE_COPY_STRING};
  const char* text = "a text the event copies";
  const uint64_t values[1] = {reinterpret_cast<uintptr_t>(text)};

  g_attributed_allocations = 0;
  g_ignored_allocations = 0;
  g_watched_tracker = tracker;
  g_watched_thread = ::GetCurrentThreadId();
  TraceLog::GetInstance()->QueueMetadataEvent(category, "velmo_queued", 1, names, types, values,
                                              nullptr, kTraceEventFlagNone);
  g_watched_thread = 0;
  g_watched_tracker = nullptr;
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModeDisabled);

  // The event and its copied text were allocated, none of it attributed.
  EXPECT_GE(g_ignored_allocations.load(), 2);
  EXPECT_EQ(0, g_attributed_allocations.load());
  EXPECT_EQ(0u, tracker->ignore_counter());
}

}  // namespace
}  // namespace base::trace_event
