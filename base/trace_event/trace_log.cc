#include "base/trace_event/trace_log.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/logging.h"
#include "base/trace_event/etw_category_query.h"
#include "base/trace_event/trace_category_registry.h"

namespace base::trace_event {
namespace {

// The instance word: 0 none, 1 being built, otherwise the instance.
constexpr uintptr_t kInstanceBeingBuilt = 1;
std::atomic<uintptr_t> g_instance_word{0};

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

// Logs the first time event recording is asked for: it is not part of this
// library, so the events are dropped.
void NoteEventDropped() {
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true, std::memory_order_relaxed))
    VLOG(1) << "trace event recording is not available; events are dropped";
}

}  // namespace

TraceLog::TraceLog()
    : process_id_(GetCurrentProcessId()), process_id_hash_(ComputeProcessIdHash(process_id_)) {}

// static
TraceLog* TraceLog::GetInstance() {
  uintptr_t word = g_instance_word.load(std::memory_order_acquire);
  if (word > kInstanceBeingBuilt)
    return reinterpret_cast<TraceLog*>(word);
  uintptr_t expected = 0;
  if (g_instance_word.compare_exchange_strong(expected, kInstanceBeingBuilt,
                                              std::memory_order_acq_rel)) {
    // Never destroyed: trace sites may run during process shutdown.
    TraceLog* instance = new TraceLog();
    g_instance_word.store(reinterpret_cast<uintptr_t>(instance), std::memory_order_release);
    return instance;
  }
  while ((word = g_instance_word.load(std::memory_order_acquire)) == kInstanceBeingBuilt)
    Sleep(0);
  return reinterpret_cast<TraceLog*>(word);
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
    return TraceCategoryRegistry::GetCategoryAt(
        TraceCategoryRegistry::kCategoryAlreadyShutdown);
  }
  TraceCategory* category = nullptr;
  if (TraceCategoryRegistry::GetOrCreateCategory(category_name, &category))
    instance->UpdateCategoryState(category);
  return category;
}

void TraceLog::UpdateCategoryState(TraceCategory* category) {
  const char* name = category->name();
  uint8_t state = 0;
  uint32_t mask = 0;
  {
    AutoLock lock(lock_);
    if (enabled_modes_ & kRecordingMode) {
      if (trace_config_.IsCategoryGroupEnabled(name))
        state |= TraceCategory::kEnabledForRecording;
      // Metadata events go with every recording.
      if (category == TraceCategoryRegistry::GetCategoryAt(TraceCategoryRegistry::kCategoryMetadata))
        state |= TraceCategory::kEnabledForRecording;
    }
    size_t index = 0;
    for (const EventFilterConfig& filter : event_filters_) {
      if (index >= kMaxEventFilters)
        break;
      if (filter.IsCategoryGroupEnabled(name)) {
        state |= TraceCategory::kEnabledForFilters;
        mask |= 1u << index;
      }
      ++index;
    }
  }
  // Asked on every update, recording or not, and outside the lock: the first
  // question builds the export, which may come back to the trace log.
  if (IsEtwCategoryGroupEnabled(name))
    state |= TraceCategory::kEnabledForEtwExport;

  category->set_filter_mask(mask);
  category->set_state(state);
}

void TraceLog::RefreshAllCategoryStates() {
  const size_t count = TraceCategoryRegistry::GetCategoryCount();
  for (size_t i = 0; i < count; ++i)
    UpdateCategoryState(TraceCategoryRegistry::GetCategoryAt(i));
}

TraceEventHandle TraceLog::AddTraceEvent(char /*phase*/, const TraceCategory* /*category*/,
                                         const char* /*name*/, uint64_t /*id*/,
                                         uint32_t /*flags*/, int /*num_args*/,
                                         const char* const* /*arg_names*/,
                                         const TraceArgValue* /*arg_values*/) {
  NoteEventDropped();
  return TraceEventHandle();
}

void TraceLog::UpdateEventDuration(const TraceCategory* /*category*/, const char* /*name*/,
                                   TraceEventHandle /*handle*/) {
  NoteEventDropped();
}

uint8_t TraceLog::enabled_modes() const {
  AutoLock lock(lock_);
  return enabled_modes_;
}

uint32_t TraceLog::trace_options() const {
  AutoLock lock(lock_);
  return trace_options_;
}

void TraceLog::SetEnabledForTesting(uint8_t modes, const TraceConfig& config,
                                    std::vector<EventFilterConfig> filters) {
  {
    AutoLock lock(lock_);
    enabled_modes_ = modes;
    trace_config_ = config;
    event_filters_ = std::move(filters);
  }
  RefreshAllCategoryStates();
}

void TraceLog::SetDisabledForTesting() {
  {
    AutoLock lock(lock_);
    enabled_modes_ = 0;
    trace_config_ = TraceConfig();
    event_filters_.clear();
  }
  RefreshAllCategoryStates();
}

}  // namespace base::trace_event
