#include "base/trace_event/memory_dump_manager.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/trace_category_registry.h"

namespace base::trace_event {
namespace {

// The manager word: 0 none, 1 being built, otherwise the manager.
constexpr uintptr_t kBeingBuilt = 1;
std::atomic<uintptr_t> g_instance_word{0};

// The process-wide dump-guid sequence.
std::atomic<uint64_t> g_dump_guid_sequence{0};

constexpr const char* kBackgroundWhitelist[] = {
    "android::ResourceManagerImpl",
    "LayoutGC",
    "ChildDiscardableSharedMemoryManager",
    "DOMStorage",
    "HostDiscardableSharedMemoryManager",
    "IndexedDBBackingStore",
    "JavaHeap",
    "KeyValueDB",
    "KeyValueStore",
    "Malloc",
    "MemoryCache",
    "PartitionHeap",
    "ProcessMemoryMetrics",
    "Graphics2D",
    "Sql",
    "ScriptIsolate",
    "WinHeap",
};

bool IsWhitelistedProvider(const char* name) {
  for (const char* entry : kBackgroundWhitelist) {
    if (std::strcmp(entry, name) == 0)
      return true;
  }
  return false;
}

const TraceCategory* MemoryInfraCategory() {
  return TraceLog::GetCategoryEntry(MemoryDumpManager::kTraceCategory);
}

}  // namespace

// Writes (and estimates) one deduplicator of the run state it shares, so
// that the metadata event outlives neither.
class MemoryDumpManager::DeduplicatorForwarder : public ConvertableToTraceFormat {
 public:
  DeduplicatorForwarder(SharedRef<RunState> run_state, bool stack_frames)
      : run_state_(std::move(run_state)), stack_frames_(stack_frames) {}

  void AppendAsTraceFormat(std::string* out) const override {
    if (const ConvertableToTraceFormat* target = Target())
      target->AppendAsTraceFormat(out);
    else
      *out += "{}";
  }
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override {
    if (ConvertableToTraceFormat* target = Target())
      target->EstimateTraceMemoryOverhead(overhead);
  }

 private:
  ConvertableToTraceFormat* Target() const {
    if (stack_frames_)
      return run_state_->stack_frame_deduplicator.get();
    return run_state_->type_name_deduplicator.get();
  }

  SharedRef<RunState> run_state_;
  bool stack_frames_;
};

bool PeriodicDumpSchedule::Configure(const std::vector<MemoryDumpConfig::Trigger>& triggers) {
  min_period_ms_ = 0;
  light_dump_rate_ = 0;
  heavy_dump_rate_ = 0;
  dump_count_ = 0;
  if (triggers.empty())
    return false;
  uint32_t min_period = UINT32_MAX;
  uint32_t light_period = 0;
  uint32_t heavy_period = 0;
  for (const MemoryDumpConfig::Trigger& trigger : triggers) {
    // The rates divide by the smallest period.
    if (trigger.period_ms == 0) {
      LOG(ERROR) << "A periodic memory dump trigger with a period of 0 ms is refused";
      return false;
    }
    min_period = std::min(min_period, trigger.period_ms);
    if (trigger.level_of_detail == MemoryDumpLevelOfDetail::kLight)
      light_period = trigger.period_ms;
    else if (trigger.level_of_detail == MemoryDumpLevelOfDetail::kDetailed)
      heavy_period = trigger.period_ms;
  }
  min_period_ms_ = min_period;
  light_dump_rate_ = light_period / min_period;
  heavy_dump_rate_ = heavy_period / min_period;
  return true;
}

MemoryDumpLevelOfDetail PeriodicDumpSchedule::NextLevel() {
  MemoryDumpLevelOfDetail level = MemoryDumpLevelOfDetail::kBackground;
  if (light_dump_rate_ != 0 && dump_count_ % light_dump_rate_ == 0)
    level = MemoryDumpLevelOfDetail::kLight;
  if (heavy_dump_rate_ != 0 && dump_count_ % heavy_dump_rate_ == 0)
    level = MemoryDumpLevelOfDetail::kDetailed;
  ++dump_count_;
  return level;
}

// static
MemoryDumpManager* MemoryDumpManager::Instance() {
  uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  if (word > kBeingBuilt)
    return reinterpret_cast<MemoryDumpManager*>(word);
  if (internal::NeedsLazyInstance(&g_instance_word)) {
    // Lives for the process: providers unregister from it at any time.
    auto* instance = new MemoryDumpManager();
    internal::CompleteLazyInstance(&g_instance_word, reinterpret_cast<uintptr_t>(instance),
                                   nullptr);
    return instance;
  }
  return reinterpret_cast<MemoryDumpManager*>(g_instance_word.load(std::memory_order_acquire));
}

MemoryDumpManager::MemoryDumpManager() {
  // The first dump uses sequence number 1.
  g_dump_guid_sequence.fetch_add(1);
  EnableHeapProfilingIfNeeded();
}

MemoryDumpManager::~MemoryDumpManager() {
  if (TraceLog* log = TraceLog::GetInstanceIfExists())
    log->RemoveEnabledStateObserver(this);
  JoinStoppedThread();
  if (thread_)
    thread_->Stop();
}

void MemoryDumpManager::EnableHeapProfilingIfNeeded() {
  {
    AutoLock hold(lock_);
    if (heap_profiling_enabled_)
      return;
  }
  // The first trace site may run before the entry point has read its command
  // line; asking for it then would stop the process.
  if (!CommandLine::IsInitializedForCurrentProcess())
    return;
  const CommandLine& command_line = *CommandLine::ForCurrentProcess();
  if (!command_line.HasSwitch("enable-heap-profiling"))
    return;
  const std::string mode = command_line.GetSwitchValueASCII("enable-heap-profiling");
  if (!mode.empty()) {
    LOG(ERROR) << "Heap profiling mode \"" << mode << "\" is not supported";
    return;
  }
  if (!HeapProfilerContextTracker::InitializeThreadLocalSlot())
    return;
  HeapProfilerContextTracker::SetHeapProfilingMode(kHeapProfilingModePseudoStack);
  std::vector<MemoryDumpProvider*> providers;
  {
    AutoLock hold(lock_);
    for (const auto& record : providers_)
      providers.push_back(record->provider);
    heap_profiling_enabled_ = true;
  }
  for (MemoryDumpProvider* provider : providers)
    provider->OnHeapProfilingEnabled(true);
}

bool MemoryDumpManager::heap_profiling_enabled() const {
  AutoLock hold(lock_);
  return heap_profiling_enabled_;
}

bool MemoryDumpManager::memory_tracing_enabled() const {
  AutoLock hold(lock_);
  return memory_tracing_enabled_;
}

void MemoryDumpManager::AddProvider(MemoryDumpProvider* provider, const char* name,
                                    SharedRef<OrderedTaskRunner> task_runner) {
  AddProvider(provider, name, std::move(task_runner), MemoryDumpProvider::Options());
}

void MemoryDumpManager::AddProvider(MemoryDumpProvider* provider, const char* name,
                                    SharedRef<OrderedTaskRunner> task_runner,
                                    const MemoryDumpProvider::Options& options) {
  bool notify = false;
  {
    AutoLock hold(lock_);
    if (registrations_ignored_)
      return;
    for (const auto& record : providers_) {
      if (record->provider == provider)
        return;
    }
    auto record = std::make_unique<ProviderRecord>(
        ProviderRecord{provider, name, std::move(task_runner), options});
    record->whitelisted_for_background = IsWhitelistedProvider(name);
    providers_.push_back(std::move(record));
    notify = heap_profiling_enabled_;
  }
  if (notify)
    provider->OnHeapProfilingEnabled(true);
}

void MemoryDumpManager::RemoveProvider(MemoryDumpProvider* provider) {
  AutoLock hold(lock_);
  std::erase_if(providers_, [provider](const std::unique_ptr<ProviderRecord>& record) {
    return record->provider == provider;
  });
}

bool MemoryDumpManager::IsProviderRegistered(const char* name) const {
  AutoLock hold(lock_);
  for (const auto& record : providers_) {
    if (std::strcmp(record->name, name) == 0)
      return true;
  }
  return false;
}

void MemoryDumpManager::SetDelegate(MemoryDumpManagerDelegate* delegate) {
  AutoLock hold(lock_);
  delegate_ = delegate;
}

void MemoryDumpManager::set_periodic_dumps_allowed(bool allowed) {
  AutoLock hold(lock_);
  periodic_dumps_allowed_ = allowed;
}

SharedRef<OrderedTaskRunner> MemoryDumpManager::memory_infra_task_runner() const {
  AutoLock hold(lock_);
  return thread_ ? thread_->task_runner() : SharedRef<OrderedTaskRunner>();
}

void MemoryDumpManager::JoinStoppedThread() {
  std::unique_ptr<Thread> stopping;
  {
    AutoLock hold(lock_);
    stopping = std::move(stopping_thread_);
  }
  if (stopping)
    stopping->Stop();
}

void MemoryDumpManager::OnTraceLogEnabled() {
  if (!MemoryInfraCategory()->is_enabled())
    return;
  JoinStoppedThread();
  // Dumps requested from this thread record into its own buffer.
  TraceLog::GetInstance()->GetOrCreateThreadLocalEventBuffer();
  // The command line may not have existed when the manager was built.
  EnableHeapProfilingIfNeeded();

  auto thread = std::make_unique<Thread>("MemoryInfra");
  if (!thread->Start()) {
    LOG(ERROR) << "Failed to start the memory-infra thread for tracing";
    return;
  }
  const TraceConfig config = TraceLog::GetInstance()->GetCurrentTraceConfig();
  SharedRef<RunState> run_state = MakeShared<RunState>(config.memory_dump_config());
  const bool heap_profiling = heap_profiling_enabled();
  if (heap_profiling) {
    run_state->stack_frame_deduplicator = std::make_unique<StackFrameDeduplicator>();
    run_state->type_name_deduplicator = std::make_unique<TypeNameDeduplicator>();
    TraceLog* log = TraceLog::GetInstance();
    const TraceCategory* metadata =
        TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryMetadata);
    for (const char* name : {"stackFrames", "typeNames"}) {
      const uint8_t type = TRACE_VALUE_TYPE_CONVERTABLE;
      const uint64_t value = 0;
      std::unique_ptr<ConvertableToTraceFormat> forwarder =
          std::make_unique<DeduplicatorForwarder>(run_state, std::strcmp(name, "stackFrames") == 0);
      log->QueueMetadataEvent(metadata, name, 1, &name, &type, &value, &forwarder,
                              kTraceEventFlagNone);
    }
  }

  bool start_periodic = false;
  {
    AutoLock hold(lock_);
    run_state_ = run_state;
    thread_ = std::move(thread);
    memory_tracing_enabled_ = true;
    start_periodic = periodic_dumps_allowed_;
  }
  if (start_periodic &&
      !(CommandLine::IsInitializedForCurrentProcess() &&
        CommandLine::ForCurrentProcess()->HasSwitch("enable-memory-benchmarking"))) {
    StartPeriodicDumps(run_state->memory_dump_config.triggers);
  }
}

void MemoryDumpManager::StartPeriodicDumps(const std::vector<MemoryDumpConfig::Trigger>& triggers) {
  SharedRef<OrderedTaskRunner> runner;
  {
    AutoLock hold(lock_);
    if (!schedule_.Configure(triggers) || !thread_)
      return;
    runner = thread_->task_runner();
  }
  // The timer belongs to the "MemoryInfra" thread: started, ticking and
  // stopped there.
  runner->PostTask(FROM_HERE,
                   Bind(
                       [](MemoryDumpManager* manager, uint32_t period_ms) {
                         manager->periodic_timer_ = std::make_unique<Timer>();
                         manager->periodic_timer_->Start(
                             CodeLocation("Start", __FILE__, __LINE__, nullptr),
                             TimeSpan::FromMilliseconds(period_ms),
                             Bind(&MemoryDumpManager::OnPeriodicTick, Unretained(manager)));
                       },
                       this, schedule_.min_period_ms()));
}

void MemoryDumpManager::OnPeriodicTick() {
  MemoryDumpLevelOfDetail level;
  {
    AutoLock hold(lock_);
    level = schedule_.NextLevel();
  }
  RequestDump(level, GlobalMemoryDumpCallback());
}

void MemoryDumpManager::OnTraceLogDisabled() {
  std::unique_ptr<Thread> thread;
  SharedRef<RunState> run_state;
  {
    AutoLock hold(lock_);
    thread = std::move(thread_);
    run_state = std::move(run_state_);
    memory_tracing_enabled_ = false;
  }
  if (!thread)
    return;
  if (GetCurrentThreadId() == thread->thread_id()) {
    // Recording stopped from a task of the thread itself: a thread cannot
    // join itself, so its loop is only told to end and joined later.
    periodic_timer_.reset();
    thread->StopSoon();
    AutoLock hold(lock_);
    stopping_thread_ = std::move(thread);
    return;
  }
  thread->task_runner()->PostTask(
      FROM_HERE, Bind([](MemoryDumpManager* manager) { manager->periodic_timer_.reset(); }, this));
  thread->Stop();
}

void MemoryDumpManager::RequestDump(MemoryDumpLevelOfDetail level,
                                    GlobalMemoryDumpCallback callback) {
  MemoryDumpManagerDelegate* delegate = nullptr;
  bool allowed = false;
  {
    AutoLock hold(lock_);
    allowed = memory_tracing_enabled_ && run_state_ &&
              run_state_->memory_dump_config.allowed_dump_modes.count(level) != 0;
    delegate = delegate_;
  }
  if (!allowed) {
    VLOG(1) << "Memory-infra dump failed because " << kTraceCategory
            << " tracing category is not enabled or the requested dump mode is not allowed by "
               "trace config.";
    if (callback)
      callback.Run(0, false);
    return;
  }
  const uint64_t guid =
      TraceLog::GetInstance()->process_id_hash() ^ g_dump_guid_sequence.fetch_add(1);
  const TraceCategory* category = MemoryInfraCategory();
  if (category->is_enabled()) {
    TraceLog::GetInstance()->AddTraceEvent('b', category, "GlobalMemoryDump", guid, 0,
                                           kTraceEventFlagHasId | kTraceEventFlagMangleId, 0,
                                           nullptr, nullptr);
  }
  GlobalMemoryDumpCallback wrapped =
      Bind(&MemoryDumpManager::FinishGlobalDump, Unretained(this), std::move(callback));
  if (!delegate) {
    LOG(ERROR) << "No memory dump delegate runs global dumps";
    wrapped.Run(guid, false);
    return;
  }
  delegate->RequestGlobalDump(MemoryDumpRequestArgs{guid, MemoryDumpType::kPeriodicInterval, level},
                              std::move(wrapped));
}

void MemoryDumpManager::FinishGlobalDump(GlobalMemoryDumpCallback callback, uint64_t guid,
                                         bool success) {
  const TraceCategory* category = MemoryInfraCategory();
  if (category->is_enabled()) {
    const char* name = "success";
    const TraceArgValue value(success);
    TraceLog::GetInstance()->AddTraceEvent('e', category, "GlobalMemoryDump", guid, 0,
                                           kTraceEventFlagHasId | kTraceEventFlagMangleId, 1, &name,
                                           &value);
  }
  if (callback)
    callback.Run(guid, success);
}

}  // namespace base::trace_event
