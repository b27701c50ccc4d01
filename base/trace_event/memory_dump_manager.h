// The process-wide coordinator of memory dumps: components register as dump
// providers; while "disabled-by-default-memory-infra" is traced the manager
// runs its own thread, writes heap-profiler metadata into the trace and can
// run periodic dumps. It also owns the heap-profiling switch.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/threading/lock.h"
#include "base/threading/ordered_task_runner.h"
#include "base/threading/thread.h"
#include "base/threading/timer.h"
#include "base/trace_event/heap_profiler_deduplicators.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"

namespace base::trace_event {

enum class MemoryDumpType : uint32_t { kPeriodicInterval = 2 };

struct MemoryDumpRequestArgs {
  uint64_t dump_guid = 0;
  MemoryDumpType dump_type = MemoryDumpType::kPeriodicInterval;
  MemoryDumpLevelOfDetail level_of_detail = MemoryDumpLevelOfDetail::kBackground;
};

// Runs with the dump's guid and whether it succeeded.
using GlobalMemoryDumpCallback = Callback<void(uint64_t, bool)>;

// Runs global dumps; nothing in the program installs one.
class MemoryDumpManagerDelegate {
 public:
  virtual ~MemoryDumpManagerDelegate() = default;
  virtual void RequestGlobalDump(const MemoryDumpRequestArgs& args,
                                 GlobalMemoryDumpCallback callback) = 0;
};

// The level of each tick of the periodic dumps: from the triggers, a light
// dump every light-period/minimum ticks and a detailed one every
// detailed-period/minimum ticks, starting with both at the first tick.
class PeriodicDumpSchedule {
 public:
  // False (logged) for triggers with a period of 0; then nothing runs.
  bool Configure(const std::vector<MemoryDumpConfig::Trigger>& triggers);
  // The level of the next tick.
  MemoryDumpLevelOfDetail NextLevel();
  uint32_t min_period_ms() const { return min_period_ms_; }

 private:
  uint32_t min_period_ms_ = 0;
  uint32_t light_dump_rate_ = 0;
  uint32_t heavy_dump_rate_ = 0;
  uint32_t dump_count_ = 0;
};

class MemoryDumpManager : public TraceLogEnabledStateObserver {
 public:
  static constexpr char kTraceCategory[] = "disabled-by-default-memory-infra";

  static MemoryDumpManager* Instance();

  void AddProvider(MemoryDumpProvider* provider, const char* name,
                   SharedRef<OrderedTaskRunner> task_runner,
                   const MemoryDumpProvider::Options& options);
  void AddProvider(MemoryDumpProvider* provider, const char* name,
                   SharedRef<OrderedTaskRunner> task_runner);
  void RemoveProvider(MemoryDumpProvider* provider);
  bool IsProviderRegistered(const char* name) const;

  void OnTraceLogEnabled() override;
  void OnTraceLogDisabled() override;

  // Asks the delegate for a global dump; without memory tracing, or for a
  // level the configuration does not allow, |callback| gets (0, false).
  void RequestDump(MemoryDumpLevelOfDetail level, GlobalMemoryDumpCallback callback);

  // Reads "enable-heap-profiling" once the process command line exists; a
  // process without one yet counts as having no switch.
  void EnableHeapProfilingIfNeeded();
  bool heap_profiling_enabled() const;
  bool memory_tracing_enabled() const;

  void SetDelegate(MemoryDumpManagerDelegate* delegate);
  void set_periodic_dumps_allowed(bool allowed);
  // The "MemoryInfra" thread's runner while memory tracing runs.
  SharedRef<OrderedTaskRunner> memory_infra_task_runner() const;

 private:
  struct ProviderRecord {
    MemoryDumpProvider* provider;
    const char* name;
    SharedRef<OrderedTaskRunner> task_runner;
    MemoryDumpProvider::Options options;
    int consecutive_failures = 0;
    bool disabled = false;
    bool whitelisted_for_background = false;
  };

  // What one tracing run keeps.
  class RunState : public RefCountedThreadSafe<RunState> {
   public:
    explicit RunState(const MemoryDumpConfig& config) : memory_dump_config(config) {}
    std::unique_ptr<StackFrameDeduplicator> stack_frame_deduplicator;
    std::unique_ptr<TypeNameDeduplicator> type_name_deduplicator;
    MemoryDumpConfig memory_dump_config;

   private:
    friend class RefCountedThreadSafe<RunState>;
    ~RunState() = default;
  };

  class DeduplicatorForwarder;

  MemoryDumpManager();
  ~MemoryDumpManager() override;

  void StartPeriodicDumps(const std::vector<MemoryDumpConfig::Trigger>& triggers);
  void OnPeriodicTick();
  void FinishGlobalDump(GlobalMemoryDumpCallback callback, uint64_t guid, bool success);
  // Joins a thread whose loop was told to end from the thread itself.
  void JoinStoppedThread();

  mutable Lock lock_;
  std::vector<std::unique_ptr<ProviderRecord>> providers_;
  SharedRef<RunState> run_state_;
  MemoryDumpManagerDelegate* delegate_ = nullptr;
  bool memory_tracing_enabled_ = false;
  bool periodic_dumps_allowed_ = false;
  bool registrations_ignored_ = false;
  bool heap_profiling_enabled_ = false;
  PeriodicDumpSchedule schedule_;
  // Lives on the "MemoryInfra" thread.
  std::unique_ptr<Timer> periodic_timer_;
  std::unique_ptr<Thread> thread_;
  // A thread told to end from itself, joined at the next enable.
  std::unique_ptr<Thread> stopping_thread_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_MANAGER_H_
