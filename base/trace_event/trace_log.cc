#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/string_printf.h"
#include "base/threading/thread_name_registry.h"
#include "base/trace_event/etw_trace_export.h"
#include "base/bind.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/waitable_event.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/thread_local_event_buffer.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/trace_event/string_tokenizer.h"
#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_category_registry.h"

namespace base::trace_event {
namespace {

// The instance word: 0 none, 1 being built, otherwise the instance.
constexpr uintptr_t kInstanceBeingBuilt = 1;
std::atomic<uintptr_t> g_instance_word{0};

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

constexpr size_t kTraceEventVectorBufferChunks = 4000;
constexpr size_t kTraceEventVectorBigBufferChunks = 8000000;
constexpr size_t kTraceEventRingBufferChunks = 1000;
constexpr size_t kEchoToConsoleTraceEventBufferChunks = 256;

// Set while the thread is inside AddTraceEvent or UpdateEventDuration: an
// event emitted meanwhile (by an observer, the ETW export or a filter)
// vanishes instead of recursing.
thread_local bool t_in_add_trace_event = false;
// Set while the thread hands in its buffer, so that no new one is made.
thread_local bool t_keep_event_buffer_away = false;
// The name this thread last reported, compared by address.
thread_local const char* t_reported_thread_name = nullptr;

class ScopedReentrancyFlag {
 public:
  ScopedReentrancyFlag() { t_in_add_trace_event = true; }
  ~ScopedReentrancyFlag() { t_in_add_trace_event = false; }
};

TraceCategory* MetadataCategory() {
  return TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryMetadata);
}

uint64_t StringBits(const char* text) { return reinterpret_cast<uintptr_t>(text); }

// Keeps the heap profiler from attributing the tracing code's own
// allocations.
class ScopedHeapProfilerIgnore {
 public:
  ScopedHeapProfilerIgnore()
      : tracker_(HeapProfilerContextTracker::GetHeapProfilingMode() != kHeapProfilingModeDisabled
                     ? HeapProfilerContextTracker::GetForCurrentThread()
                     : nullptr) {
    if (tracker_)
      tracker_->BeginIgnore();
  }
  ~ScopedHeapProfilerIgnore() {
    if (tracker_)
      tracker_->EndIgnore();
  }

 private:
  HeapProfilerContextTracker* tracker_;
};

// The loops that still have to hand in their thread's chunk.
class FlushWait : public RefCountedThreadSafe<FlushWait> {
 public:
  explicit FlushWait(int pending)
      : pending_(pending),
        done_(WaitableEvent::ResetPolicy::kManual, WaitableEvent::InitialState::kNotSignaled) {}

  void OneDone() {
    if (pending_.fetch_sub(1) == 1)
      done_.Signal();
  }
  bool Wait(TimeSpan timeout) { return done_.TimedWait(timeout); }
  int pending() const { return pending_.load(); }

 private:
  friend class RefCountedThreadSafe<FlushWait>;
  ~FlushWait() = default;

  std::atomic<int> pending_;
  WaitableEvent done_;
};

void HandInThreadBuffer() {
  t_keep_event_buffer_away = true;
  delete ThreadLocalEventBuffer::GetForCurrentThread();
  t_keep_event_buffer_away = false;
}

void HandInThreadBufferForFlush(SharedRef<FlushWait> wait) {
  HandInThreadBuffer();
  wait->OneDone();
}

}  // namespace

TraceLog::TraceLog()
    : process_id_(GetCurrentProcessId()), process_id_hash_(ComputeProcessIdHash(process_id_)) {
  filters_.reserve(kMaxEventFilters);
  {
    AutoLock hold(lock_);
    logged_events_ = CreateTraceBufferLocked();
  }
  // Building the trace log builds the memory-dump manager, which learns of
  // every tracing run.
  MemoryDumpManager* manager = MemoryDumpManager::Instance();
  manager->AddProvider(this, "TraceLog", nullptr);
  AddEnabledStateObserver(manager);
}

// static
TraceLog* TraceLog::GetInstance() {
  uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  if (word > kInstanceBeingBuilt)
    return reinterpret_cast<TraceLog*>(word);
  if (internal::NeedsLazyInstance(&g_instance_word)) {
    // Never destroyed: trace sites may run during process shutdown.
    TraceLog* instance = new TraceLog();
    internal::CompleteLazyInstance(&g_instance_word, reinterpret_cast<uintptr_t>(instance),
                                   nullptr);
    return instance;
  }
  return reinterpret_cast<TraceLog*>(g_instance_word.load(std::memory_order_acquire));
}

// static
TraceLog* TraceLog::GetInstanceIfExists() {
  const uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  return word > kInstanceBeingBuilt ? reinterpret_cast<TraceLog*>(word) : nullptr;
}

// static
uint64_t TraceLog::ComputeProcessIdHash(uint32_t pid) {
  // Sign extension: a pid with the top bit set fills the upper half with ones.
  const uint64_t extended = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(pid)));
  return (extended ^ kFnvOffsetBasis) * kFnvPrime;
}

// static
const TraceCategory* TraceLog::GetCategoryEntry(const char* category_name) {
  TraceLog* instance = GetInstanceIfExists();
  if (!instance) {
    return TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryAlreadyShutdown);
  }
  TraceCategory* category = nullptr;
  if (TraceCategoryRegistry::GetOrCreateCategory(category_name, &category))
    instance->UpdateCategoryState(category);
  return category;
}

void TraceLog::UpdateCategoryState(TraceCategory* category) {
  AutoLock hold(lock_);
  UpdateCategoryStateLocked(category);
}

void TraceLog::UpdateCategoryStateLocked(TraceCategory* category) {
  const char* name = category->name();
  uint8_t state = 0;
  uint32_t mask = 0;
  if (enabled_modes_ & kRecordingMode) {
    if (trace_config_.IsCategoryGroupEnabled(name))
      state |= TraceCategory::kEnabledForRecording;
    // Metadata events go with every recording.
    if (category == MetadataCategory())
      state |= TraceCategory::kEnabledForRecording;
  }
  // Asked on every update, recording or not: the first question builds the
  // export and registers its provider.
  if (EtwTraceExport::IsCategoryGroupEnabled(name))
    state |= TraceCategory::kEnabledForEtwExport;
  size_t index = 0;
  for (const EventFilterConfig& filter : trace_config_.event_filters()) {
    if (index >= kMaxEventFilters)
      break;
    if (filter.IsCategoryGroupEnabled(name)) {
      state |= TraceCategory::kEnabledForFilters;
      mask |= 1u << index;
    }
    ++index;
  }
  category->set_filter_mask(mask);
  category->set_state(state);
}

void TraceLog::CreateFiltersLocked() {
  if (!(enabled_modes_ & kFilteringMode) || !filters_.empty())
    return;
  for (const EventFilterConfig& config : trace_config_.event_filters()) {
    if (filters_.size() >= kMaxEventFilters)
      break;
    // An unknown predicate keeps its place, so later filters keep their bits.
    filters_.push_back(TraceEventFilter::Create(config));
  }
}

void TraceLog::RefreshAllCategoryStates() {
  AutoLock hold(lock_);
  RefreshAllCategoryStatesLocked();
}

void TraceLog::RefreshAllCategoryStatesLocked() {
  CreateFiltersLocked();
  const size_t count = TraceCategoryRegistry::GetCategoryCount();
  for (size_t i = 0; i < count; ++i)
    UpdateCategoryStateLocked(TraceCategoryRegistry::GetCategoryAt(i));
}

const TraceEventFilter* TraceLog::GetEventFilter(size_t index) const {
  AutoLock hold(lock_);
  return index < filters_.size() ? filters_[index].get() : nullptr;
}

std::unique_ptr<TraceBuffer> TraceLog::CreateTraceBufferLocked() const {
  const uint32_t options = trace_options_.load(std::memory_order_relaxed);
  if (options & kRecordContinuously)
    return std::make_unique<TraceBufferRingBuffer>(kTraceEventRingBufferChunks);
  if (options & kEchoToConsole)
    return std::make_unique<TraceBufferRingBuffer>(kEchoToConsoleTraceEventBufferChunks);
  if (options & kRecordAsMuchAsPossible)
    return std::make_unique<TraceBufferVector>(kTraceEventVectorBigBufferChunks);
  return std::make_unique<TraceBufferVector>(kTraceEventVectorBufferChunks);
}

int64_t TraceLog::TraceClockNow() const {
  return time_internal::SaturatedSub(MonotonicTime::Now().ToInternalValue(), time_offset_);
}

// static
int64_t TraceLog::ThreadNow() {
  // The CPU clock converts the cycle count through its calibrated rate, so
  // the result is microseconds (0 where the platform cannot measure it).
  return ThreadCpuTime::Now().ToInternalValue();
}

void TraceLog::NoteThreadName() {
  const DWORD thread_id = GetCurrentThreadId();
  const char* name = ThreadNameRegistry::GetInstance()->GetName(thread_id);
  if (name == t_reported_thread_name || !name || !*name)
    return;
  t_reported_thread_name = name;
  AutoLock hold(thread_info_lock_);
  auto it = thread_names_.find(static_cast<int>(thread_id));
  if (it == thread_names_.end()) {
    thread_names_[static_cast<int>(thread_id)] = name;
    return;
  }
  StringTokenizer parts(it->second, ",");
  while (parts.GetNext()) {
    if (parts.token() == name)
      return;
  }
  if (!it->second.empty())
    it->second += ",";
  it->second += name;
}

TraceEvent* TraceLog::AddEventToSharedChunkLocked(TraceEventHandle* handle, bool check_full) {
  if (thread_shared_chunk_ && thread_shared_chunk_->IsFull()) {
    logged_events_->ReturnChunk(thread_shared_chunk_index_, std::move(thread_shared_chunk_));
  }
  if (!thread_shared_chunk_) {
    thread_shared_chunk_ = logged_events_->GetChunk(&thread_shared_chunk_index_);
    if (check_full)
      CheckIfBufferIsFullWhileLocked();
  }
  if (!thread_shared_chunk_)
    return nullptr;
  return thread_shared_chunk_->AddTraceEvent(thread_shared_chunk_index_, handle);
}

void TraceLog::CheckIfBufferIsFullWhileLocked() {
  if (!logged_events_->IsFull())
    return;
  if (buffer_limit_reached_timestamp_ == 0)
    buffer_limit_reached_timestamp_ = TraceClockNow();
  SetDisabledWhileLocked();
}

TraceEventHandle TraceLog::AddTraceEvent(char phase, const TraceCategory* category,
                                         const char* name, uint64_t id, uint64_t bind_id,
                                         uint32_t flags, int num_args, const char* const* arg_names,
                                         const TraceArgValue* arg_values) {
  uint8_t types[kTraceMaxNumArgs] = {};
  uint64_t values[kTraceMaxNumArgs] = {};
  const int count = std::min(num_args, kTraceMaxNumArgs);
  for (int i = 0; i < count; ++i) {
    types[i] = arg_values[i].type;
    values[i] = arg_values[i].bits;
  }
  return AddTraceEvent(phase, category, name, nullptr, id, bind_id,
                       static_cast<int>(GetCurrentThreadId()), MonotonicTime::Now(), count,
                       arg_names, types, values, nullptr, flags);
}

TraceEventHandle TraceLog::AddTraceEvent(char phase, const TraceCategory* category,
                                         const char* name, const char* scope, uint64_t id,
                                         uint64_t bind_id, int thread_id, MonotonicTime timestamp,
                                         int num_args, const char* const* arg_names,
                                         const uint8_t* arg_types, const uint64_t* arg_values,
                                         std::unique_ptr<ConvertableToTraceFormat>* convertables,
                                         uint32_t flags) {
  TraceEventHandle handle;
  if (t_in_add_trace_event)
    return handle;
  ScopedReentrancyFlag reentrancy;

  if (flags & kTraceEventFlagMangleId) {
    id ^= process_id_hash_;
    if (flags & (kTraceEventFlagFlowIn | kTraceEventFlagFlowOut))
      bind_id ^= process_id_hash_;
  }
  const int64_t event_time = time_internal::SaturatedSub(timestamp.ToInternalValue(), time_offset_);
  const int64_t thread_time = ThreadNow();
  const uint8_t state = category->state();

  if (thread_id == static_cast<int>(GetCurrentThreadId()))
    NoteThreadName();

  if (state & TraceCategory::kEnabledForEtwExport)
    EtwTraceExport::AddEvent(phase, name, num_args, arg_names, arg_types, arg_values);

  std::unique_ptr<TraceEvent> filtered_event;
  bool disabled_by_filters = false;
  if (state & TraceCategory::kEnabledForFilters) {
    filtered_event = std::make_unique<TraceEvent>();
    filtered_event->Initialize(thread_id, event_time, thread_time, phase, category, name, scope, id,
                               bind_id, num_args, arg_names, arg_types, arg_values, convertables,
                               flags);
    disabled_by_filters = true;
    const uint32_t mask = category->filter_mask();
    for (size_t i = 0; i < filters_.size() && i < kMaxEventFilters; ++i) {
      if ((mask & (1u << i)) && filters_[i] && filters_[i]->Admit(*filtered_event))
        disabled_by_filters = false;
    }
    if (disabled_by_filters)
      filtered_event.reset();
  }

  ThreadLocalEventBuffer* thread_buffer = nullptr;
  if (state & TraceCategory::kEnabledForRecording) {
    GetOrCreateThreadLocalEventBuffer();
    thread_buffer = ThreadLocalEventBuffer::GetForCurrentThread();
  }

  std::string console_line;
  if ((state & TraceCategory::kEnabledForRecording) && !disabled_by_filters) {
    // A thread with its own buffer writes without the lock; the others share
    // a chunk under it. Recording may have stopped since the state byte was
    // read: then neither gives a slot.
    std::optional<AutoLock> hold;
    TraceEvent* slot = nullptr;
    if (thread_buffer) {
      slot = thread_buffer->AddTraceEvent(&handle);
    } else {
      hold.emplace(lock_);
      if (enabled_modes_ & kRecordingMode)
        slot = AddEventToSharedChunkLocked(&handle, true);
    }
    if (slot) {
      if (filtered_event) {
        slot->MoveFrom(std::move(filtered_event));
      } else {
        slot->Initialize(thread_id, event_time, thread_time, phase, category, name, scope, id,
                         bind_id, num_args, arg_names, arg_types, arg_values, convertables, flags);
      }
      if (trace_options_.load(std::memory_order_relaxed) & kEchoToConsole) {
        console_line =
            BuildConsoleLine(phase == 'X' ? 'B' : phase, timestamp.ToInternalValue(), slot);
      }
    }
  }
  if (!console_line.empty())
    LOG(ERROR) << console_line;
  return handle;
}

TraceEvent* TraceLog::GetEventByHandleLocked(TraceEventHandle handle) {
  if (!handle.is_valid())
    return nullptr;
  if (thread_shared_chunk_ && handle.chunk_index == thread_shared_chunk_index_) {
    if (handle.chunk_seq != thread_shared_chunk_->seq() ||
        handle.event_index >= thread_shared_chunk_->size()) {
      return nullptr;
    }
    return thread_shared_chunk_->GetEventAt(handle.event_index);
  }
  return logged_events_->GetEventByHandle(handle);
}

void TraceLog::UpdateEventDuration(const TraceCategory* category, const char* name,
                                   TraceEventHandle handle) {
  const uint8_t state = category->state();
  if (state == 0 || t_in_add_trace_event)
    return;
  ScopedReentrancyFlag reentrancy;
  const int64_t thread_now = ThreadNow();
  const int64_t now = TraceClockNow();

  if (state & TraceCategory::kEnabledForEtwExport)
    EtwTraceExport::AddCompleteEndEvent(name);

  std::string console_line;
  if ((state & TraceCategory::kEnabledForRecording) && handle.is_valid()) {
    // The calling thread's own chunk needs no lock; any other chunk does.
    ThreadLocalEventBuffer* thread_buffer = ThreadLocalEventBuffer::GetForCurrentThread();
    TraceEvent* event = thread_buffer ? thread_buffer->GetEventByHandle(handle) : nullptr;
    std::optional<AutoLock> hold;
    if (!event) {
      hold.emplace(lock_);
      event = GetEventByHandleLocked(handle);
    }
    if (event)
      event->UpdateDuration(now, thread_now);
    // The begin line of a valid handle pushed a start time: an end pops it
    // also when the event's chunk was recycled meanwhile, or the thread's
    // later lines would nest too deep and time against the wrong start.
    if (trace_options_.load(std::memory_order_relaxed) & kEchoToConsole)
      console_line = BuildConsoleLine('E', now, event);
  }
  if (!console_line.empty())
    LOG(ERROR) << console_line;

  if (state & TraceCategory::kEnabledForFilters) {
    const uint32_t mask = category->filter_mask();
    for (size_t i = 0; i < filters_.size() && i < kMaxEventFilters; ++i) {
      if ((mask & (1u << i)) && filters_[i])
        filters_[i]->NoteEventEnd(name, category->name());
    }
  }
}

void TraceLog::GetOrCreateThreadLocalEventBuffer() {
  if (t_keep_event_buffer_away || !MessageLoop::Current())
    return;
  ScopedHeapProfilerIgnore ignore;
  ThreadLocalEventBuffer* buffer = ThreadLocalEventBuffer::GetForCurrentThread();
  if (buffer && buffer->generation() != generation()) {
    delete buffer;
    buffer = nullptr;
  }
  if (!buffer)
    new ThreadLocalEventBuffer(this);  // owned by the thread's slot and loop
}

void TraceLog::AddThreadMessageLoop(MessageLoop* message_loop) {
  AutoLock hold(lock_);
  thread_message_loops_[message_loop] = message_loop->task_runner();
}

std::unique_ptr<TraceBufferChunk> TraceLog::GetThreadChunk(size_t* index) {
  AutoLock hold(lock_);
  if (!(enabled_modes_ & kRecordingMode))
    return nullptr;
  std::unique_ptr<TraceBufferChunk> chunk = logged_events_->GetChunk(index);
  CheckIfBufferIsFullWhileLocked();
  return chunk;
}

void TraceLog::ReturnThreadChunk(uint32_t generation, size_t index,
                                 std::unique_ptr<TraceBufferChunk> chunk) {
  AutoLock hold(lock_);
  // A chunk of an older trace buffer has no place in the current one.
  if (chunk && generation == generation_.load())
    logged_events_->ReturnChunk(index, std::move(chunk));
}

void TraceLog::ReleaseThreadBuffer(MessageLoop* message_loop, uint32_t generation, size_t index,
                                   std::unique_ptr<TraceBufferChunk> chunk) {
  AutoLock hold(lock_);
  if (chunk && generation == generation_.load())
    logged_events_->ReturnChunk(index, std::move(chunk));
  thread_message_loops_.erase(message_loop);
}

void TraceLog::QueueMetadataEvent(const TraceCategory* category, const char* name, int num_args,
                                  const char* const* arg_names, const uint8_t* arg_types,
                                  const uint64_t* arg_values,
                                  std::unique_ptr<ConvertableToTraceFormat>* convertables,
                                  uint32_t flags) {
  ScopedHeapProfilerIgnore ignore;
  auto event = std::make_unique<TraceEvent>();
  event->Initialize(static_cast<int>(GetCurrentThreadId()), TraceClockNow(), ThreadNow(), 'M',
                    category, name, nullptr, 0, 0, num_args, arg_names, arg_types, arg_values,
                    convertables, flags);
  AutoLock hold(lock_);
  metadata_events_.push_back(std::move(event));
}

void TraceLog::AddMetadataEventLocked(int thread_id, const char* name, const char* arg_name,
                                      uint8_t arg_type, uint64_t arg_value) {
  TraceEvent* slot = AddEventToSharedChunkLocked(nullptr, false);
  if (!slot)
    return;
  slot->Initialize(thread_id, 0, 0, 'M', MetadataCategory(), name, nullptr, 0, 0, 1, &arg_name,
                   &arg_type, &arg_value, nullptr, kTraceEventFlagNone);
}

void TraceLog::AddMetadataEventsLocked() {
  while (!metadata_events_.empty()) {
    std::unique_ptr<TraceEvent> event = std::move(metadata_events_.back());
    metadata_events_.pop_back();
    TraceEvent* slot = AddEventToSharedChunkLocked(nullptr, false);
    if (slot)
      slot->MoveFrom(std::move(event));
  }
  const int current_thread = static_cast<int>(GetCurrentThreadId());
  SYSTEM_INFO system_info;
  GetSystemInfo(&system_info);
  AddMetadataEventLocked(0, "num_cpus", "number", TRACE_VALUE_TYPE_INT,
                         static_cast<uint64_t>(system_info.dwNumberOfProcessors));
  if (process_sort_index_ != 0) {
    AddMetadataEventLocked(current_thread, "process_sort_index", "sort_index", TRACE_VALUE_TYPE_INT,
                           static_cast<uint64_t>(process_sort_index_));
  }
  if (!process_name_.empty()) {
    AddMetadataEventLocked(current_thread, "process_name", "name", TRACE_VALUE_TYPE_COPY_STRING,
                           StringBits(process_name_.c_str()));
  }
  if (!process_labels_.empty()) {
    std::string labels;
    for (const auto& [label_id, label] : process_labels_) {
      if (!labels.empty())
        labels += ",";
      labels += label;
    }
    AddMetadataEventLocked(current_thread, "process_labels", "labels", TRACE_VALUE_TYPE_COPY_STRING,
                           StringBits(labels.c_str()));
  }
  for (const auto& [thread_id, sort_index] : thread_sort_indices_) {
    if (sort_index != 0) {
      AddMetadataEventLocked(thread_id, "thread_sort_index", "sort_index", TRACE_VALUE_TYPE_INT,
                             static_cast<uint64_t>(static_cast<int64_t>(sort_index)));
    }
  }
  {
    AutoLock hold(thread_info_lock_);
    for (const auto& [thread_id, names] : thread_names_) {
      if (!names.empty()) {
        AddMetadataEventLocked(thread_id, "thread_name", "name", TRACE_VALUE_TYPE_COPY_STRING,
                               StringBits(names.c_str()));
      }
    }
  }
  if (buffer_limit_reached_timestamp_ != 0) {
    AddMetadataEventLocked(current_thread, "trace_buffer_overflowed", "overflowed_at_ts",
                           TRACE_VALUE_TYPE_INT,
                           static_cast<uint64_t>(buffer_limit_reached_timestamp_));
  }
}

void TraceLog::SetDisabledWhileLocked() {
  if (!(enabled_modes_ & kRecordingMode) || dispatching_to_observers_)
    return;
  enabled_modes_ &= ~kRecordingMode;
  trace_config_.Clear();
  RefreshAllCategoryStatesLocked();

  AddMetadataEventsLocked();
  metadata_events_.clear();

  dispatching_to_observers_ = true;
  const std::vector<TraceLogEnabledStateObserver*> observers = enabled_state_observers_;
  const std::vector<AsyncObserver> async_observers = async_observers_;
  {
    AutoUnlock unlock(lock_);
    for (TraceLogEnabledStateObserver* observer : observers)
      observer->OnTraceLogDisabled();
    for (const AsyncObserver& async : async_observers) {
      async.task_runner->PostTask(
          CodeLocation("SetDisabledWhileLocked", __FILE__, __LINE__, nullptr),
          Bind(&TraceLogEnabledStateObserver::OnTraceLogDisabled, async.observer));
    }
  }
  dispatching_to_observers_ = false;
}

void TraceLog::SetEnabled(const TraceConfig& config, uint32_t options) {
  std::vector<TraceLogEnabledStateObserver*> observers;
  std::vector<AsyncObserver> async_observers;
  {
    AutoLock hold(lock_);
    if (dispatching_to_observers_) {
      LOG(ERROR) << "Tracing cannot be switched on from an enabled-state observer";
      return;
    }
    const bool was_recording = (enabled_modes_ & kRecordingMode) != 0;
    if (!was_recording || options != trace_options_.load()) {
      trace_options_.store(options);
      thread_shared_chunk_.reset();
      logged_events_ = CreateTraceBufferLocked();
      buffer_limit_reached_timestamp_ = 0;
      generation_.fetch_add(1);
    }
    trace_config_ = config;
    enabled_modes_ |= kRecordingMode;
    if (!trace_config_.event_filters().empty())
      enabled_modes_ |= kFilteringMode;
    RefreshAllCategoryStatesLocked();
    dispatching_to_observers_ = true;
    observers = enabled_state_observers_;
    async_observers = async_observers_;
  }
  for (TraceLogEnabledStateObserver* observer : observers)
    observer->OnTraceLogEnabled();
  for (const AsyncObserver& async : async_observers) {
    async.task_runner->PostTask(
        FROM_HERE, Bind(&TraceLogEnabledStateObserver::OnTraceLogEnabled, async.observer));
  }
  AutoLock hold(lock_);
  dispatching_to_observers_ = false;
}

void TraceLog::SetDisabled() {
  AutoLock hold(lock_);
  SetDisabledWhileLocked();
}

std::string TraceLog::Flush() {
  MessageLoop* current_loop = MessageLoop::Current();
  std::vector<SharedRef<OrderedTaskRunner>> runners;
  {
    AutoLock hold(lock_);
    SetDisabledWhileLocked();
    for (const auto& [loop, runner] : thread_message_loops_) {
      if (loop != current_loop)
        runners.push_back(runner);
    }
  }
  // This thread hands in its own chunk at once; waiting for a posted task
  // here would wait for ourselves.
  if (current_loop)
    HandInThreadBuffer();
  if (!runners.empty()) {
    SharedRef<FlushWait> wait = MakeShared<FlushWait>(static_cast<int>(runners.size()));
    for (const SharedRef<OrderedTaskRunner>& runner : runners) {
      if (!runner->PostTask(FROM_HERE, Bind(&HandInThreadBufferForFlush, wait)))
        wait->OneDone();
    }
    if (!wait->Wait(TimeSpan::FromSeconds(1))) {
      LOG(ERROR) << wait->pending()
                 << " thread(s) did not hand in their trace events within 1 s; their events "
                    "are left out of the trace";
    }
  }

  std::unique_ptr<TraceBuffer> buffer;
  {
    AutoLock hold(lock_);
    // Chunks handed in late belong to the buffer taken out here: dropped.
    generation_.fetch_add(1);
    if (thread_shared_chunk_)
      logged_events_->ReturnChunk(thread_shared_chunk_index_, std::move(thread_shared_chunk_));
    buffer = std::move(logged_events_);
    logged_events_ = CreateTraceBufferLocked();
  }
  std::string json = "{\"traceEvents\":[";
  bool first = true;
  while (const TraceBufferChunk* chunk = buffer->NextChunk()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      if (!first)
        json += ",\n";
      first = false;
      chunk->GetEventAt(i)->AppendAsJSON(&json, process_id_, nullptr);
    }
  }
  json += "]}";
  return json;
}

std::string TraceLog::BuildConsoleLine(char phase, int64_t timestamp, const TraceEvent* event) {
  AutoLock hold(thread_info_lock_);
  const int thread_id = event ? event->thread_id() : static_cast<int>(GetCurrentThreadId());
  std::vector<int64_t>& begin_times = thread_event_start_times_[thread_id];
  bool has_elapsed = false;
  int64_t elapsed = 0;
  // An end without a recorded begin (recording started inside the scope)
  // has no elapsed time.
  if (phase == 'E' && !begin_times.empty()) {
    elapsed = time_internal::SaturatedSub(timestamp, begin_times.back());
    begin_times.pop_back();
    has_elapsed = true;
  }
  std::string thread_name;
  auto name_it = thread_names_.find(thread_id);
  if (name_it != thread_names_.end())
    thread_name = name_it->second;
  auto color_it = thread_colors_.find(thread_name);
  if (color_it == thread_colors_.end()) {
    const int color = static_cast<int>(thread_colors_.size() % 6) + 1;
    color_it = thread_colors_.emplace(thread_name, color).first;
  }
  std::string line = FormatString("%s: \x1b[0;3%dm", thread_name.c_str(), color_it->second);
  for (size_t i = 0; i < begin_times.size(); ++i)
    line += "| ";
  if (event)
    event->AppendPrettyPrinted(&line);
  if (phase == 'E' && has_elapsed) {
    const double ms = elapsed == std::numeric_limits<int64_t>::max()
                          ? std::numeric_limits<double>::infinity()
                          : static_cast<double>(elapsed) / 1000.0;
    AppendFormat(&line, " (%.3f ms)", ms);
  }
  line += "\x1b[0;m";
  if (phase == 'B')
    begin_times.push_back(timestamp);
  return line;
}

void TraceLog::AddEnabledStateObserver(TraceLogEnabledStateObserver* observer) {
  AutoLock hold(lock_);
  enabled_state_observers_.push_back(observer);
}

void TraceLog::RemoveEnabledStateObserver(TraceLogEnabledStateObserver* observer) {
  AutoLock hold(lock_);
  std::erase(enabled_state_observers_, observer);
}

void TraceLog::AddAsyncEnabledStateObserver(WeakRef<TraceLogEnabledStateObserver> observer) {
  SharedRef<OrderedTaskRunner> task_runner = CurrentTaskRunner::Get();
  if (!task_runner) {
    LOG(ERROR) << "An asynchronous trace observer needs a task runner on its thread";
    return;
  }
  AutoLock hold(lock_);
  TraceLogEnabledStateObserver* key = observer.get();
  async_observers_.push_back(AsyncObserver{std::move(observer), std::move(task_runner), key});
}

void TraceLog::RemoveAsyncEnabledStateObserver(TraceLogEnabledStateObserver* observer) {
  AutoLock hold(lock_);
  std::erase_if(async_observers_,
                [observer](const AsyncObserver& async) { return async.key == observer; });
}

void TraceLog::SetProcessName(const std::string& name) {
  AutoLock hold(lock_);
  process_name_ = name;
}

void TraceLog::SetProcessSortIndex(int sort_index) {
  AutoLock hold(lock_);
  process_sort_index_ = sort_index;
}

void TraceLog::SetProcessLabel(int label_id, const std::string& label) {
  AutoLock hold(lock_);
  process_labels_[label_id] = label;
}

void TraceLog::SetThreadSortIndex(int thread_id, int sort_index) {
  AutoLock hold(lock_);
  thread_sort_indices_[thread_id] = sort_index;
}

uint8_t TraceLog::enabled_modes() const {
  AutoLock hold(lock_);
  return enabled_modes_;
}

uint32_t TraceLog::trace_options() const { return trace_options_.load(std::memory_order_relaxed); }

TraceConfig TraceLog::GetCurrentTraceConfig() const {
  AutoLock hold(lock_);
  return trace_config_;
}

void TraceLog::SetEnabledForTesting(uint8_t modes, const TraceConfig& config,
                                    std::vector<EventFilterConfig> filters) {
  AutoLock hold(lock_);
  enabled_modes_ = modes;
  trace_config_ = config;
  trace_config_.event_filters() = std::move(filters);
  RefreshAllCategoryStatesLocked();
}

void TraceLog::SetDisabledForTesting() {
  AutoLock hold(lock_);
  enabled_modes_ = 0;
  trace_config_.Clear();
  RefreshAllCategoryStatesLocked();
}

bool TraceLog::WriteDump(const MemoryDumpArgs& /*args*/, ProcessMemoryDump* process_memory_dump) {
  TraceEventMemoryOverhead overhead;
  {
    AutoLock hold(lock_);
    overhead.Add("TraceLog", sizeof(*this));
    if (logged_events_)
      logged_events_->EstimateTraceMemoryOverhead(&overhead);
    for (const auto& event : metadata_events_)
      event->EstimateTraceMemoryOverhead(&overhead);
  }
  overhead.Add(kOverheadSelf, sizeof(overhead));
  overhead.DumpInto("tracing/main_trace_log", process_memory_dump);
  return true;
}

void TraceLog::SetTraceBufferForTesting(std::unique_ptr<TraceBuffer> buffer) {
  AutoLock hold(lock_);
  thread_shared_chunk_.reset();
  logged_events_ = std::move(buffer);
  generation_.fetch_add(1);
}

}  // namespace base::trace_event
