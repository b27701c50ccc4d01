// The process-wide tracing singleton. It owns the recording state (modes,
// options, configuration, event filters, trace buffer), computes the state
// byte of every category from it, and records the events of the categories
// that are on.
//
// Threads with a message loop write events into a chunk of their own
// (ThreadLocalEventBuffer); other threads share one chunk under the lock. The
// JSON file form is produced by Flush.
#ifndef BASE_TRACE_EVENT_TRACE_LOG_H_
#define BASE_TRACE_EVENT_TRACE_LOG_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/threading/lock.h"
#include "base/threading/message_loop.h"
#include "base/threading/ordered_task_runner.h"
#include "base/time.h"
#include "base/weak_ref.h"
#include "base/trace_event/event_filter_config.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_event.h"
#include "base/trace_event/trace_event_filter.h"
#include "base/trace_event/trace_event_handle.h"
#include "base/trace_event/memory_dump_provider.h"

namespace base::trace_event {

class TraceLogEnabledStateObserver {
 public:
  virtual ~TraceLogEnabledStateObserver() = default;
  virtual void OnTraceLogEnabled() = 0;
  virtual void OnTraceLogDisabled() = 0;
};

class TraceLog : public MemoryDumpProvider {
 public:
  // Bits of the enabled modes.
  static constexpr uint8_t kRecordingMode = 1;
  static constexpr uint8_t kFilteringMode = 2;

  // Bits of the trace options.
  static constexpr uint32_t kRecordUntilFull = 1;
  static constexpr uint32_t kRecordContinuously = 2;
  static constexpr uint32_t kEchoToConsole = 8;
  static constexpr uint32_t kRecordAsMuchAsPossible = 16;

  // Only the first 32 event filters can be told apart in a category's mask.
  static constexpr size_t kMaxEventFilters = 32;

  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // The singleton, built on the first call and never destroyed.
  static TraceLog* GetInstance();
  // The singleton when it has been built (and published), else null.
  static TraceLog* GetInstanceIfExists();

  // The process-id hash: (|pid| sign-extended to 64 bits XOR the 64-bit FNV
  // offset basis) times the 64-bit FNV prime, modulo 2^64.
  static uint64_t ComputeProcessIdHash(uint32_t pid);

  // The entry of |category_name|; with no instance the "tracing already
  // shutdown" entry. A newly added entry gets its state computed at once.
  static const TraceCategory* GetCategoryEntry(const char* category_name);

  // Recomputes one entry's state byte and filter mask from the current modes,
  // configuration, ETW export and event filters.
  void UpdateCategoryState(TraceCategory* category);
  // Creates the event filters, then runs UpdateCategoryState over every used
  // entry, index 0 upwards.
  void RefreshAllCategoryStates();

  // Adds an event; the handle names it for UpdateEventDuration (empty when
  // nothing was recorded). |thread_id| is the calling thread's unless the
  // flags say it holds a process id.
  TraceEventHandle AddTraceEvent(char phase, const TraceCategory* category, const char* name,
                                 const char* scope, uint64_t id, uint64_t bind_id, int thread_id,
                                 MonotonicTime timestamp, int num_args,
                                 const char* const* arg_names, const uint8_t* arg_types,
                                 const uint64_t* arg_values,
                                 std::unique_ptr<ConvertableToTraceFormat>* convertables,
                                 uint32_t flags);
  // The trace sites' form: the calling thread, now, typed argument values.
  TraceEventHandle AddTraceEvent(char phase, const TraceCategory* category, const char* name,
                                 uint64_t id, uint64_t bind_id, uint32_t flags, int num_args,
                                 const char* const* arg_names, const TraceArgValue* arg_values);
  // Closes the complete event |handle|.
  void UpdateEventDuration(const TraceCategory* category, const char* name,
                           TraceEventHandle handle);
  // Queues an 'M' event for the metadata written when recording stops.
  void QueueMetadataEvent(const TraceCategory* category, const char* name, int num_args,
                          const char* const* arg_names, const uint8_t* arg_types,
                          const uint64_t* arg_values,
                          std::unique_ptr<ConvertableToTraceFormat>* convertables, uint32_t flags);

  // The trace clock: the monotonic clock minus the time offset, in
  // microseconds.
  int64_t TraceClockNow() const;
  // The calling thread's CPU time in microseconds; 0 where it cannot be
  // measured.
  static int64_t ThreadNow();

  // Switches recording on with |config| and |options| (a fresh trace buffer
  // when recording was off or the options change), and filtering when the
  // configuration has event filters; observers learn of it.
  void SetEnabled(const TraceConfig& config, uint32_t options);
  // Switches recording off (metadata is written, observers learn of it).
  void SetDisabled();
  // Switches recording off and hands out every recorded event in the file
  // form trace viewers read: {"traceEvents":[...]}. The buffer is emptied.
  // Each other thread's loop hands in its chunk through a posted task; loops
  // that do not answer within a second are left out (logged).
  std::string Flush();

  // Gives the calling thread an event buffer when it runs a message loop.
  void GetOrCreateThreadLocalEventBuffer();
  // Bumped whenever the trace buffer is replaced; thread buffers of an older
  // generation drop their chunk instead of returning it.
  uint32_t generation() const { return generation_.load(std::memory_order_acquire); }

  void AddEnabledStateObserver(TraceLogEnabledStateObserver* observer);
  void RemoveEnabledStateObserver(TraceLogEnabledStateObserver* observer);
  // An observer told on the calling thread's task runner (which must exist),
  // through |observer|, so that it may go away at any time.
  void AddAsyncEnabledStateObserver(WeakRef<TraceLogEnabledStateObserver> observer);
  void RemoveAsyncEnabledStateObserver(TraceLogEnabledStateObserver* observer);

  void SetProcessName(const std::string& name);
  void SetProcessSortIndex(int sort_index);
  void SetProcessLabel(int label_id, const std::string& label);
  void SetThreadSortIndex(int thread_id, int sort_index);

  uint8_t enabled_modes() const;
  uint32_t trace_options() const;
  TraceConfig GetCurrentTraceConfig() const;
  uint32_t process_id() const { return process_id_; }
  uint64_t process_id_hash() const { return process_id_hash_; }
  // The filter at |index| of the process-wide list (null when the place is
  // empty or beyond the list).
  const TraceEventFilter* GetEventFilter(size_t index) const;

  // Switches the category-relevant state without any recording machinery:
  // stores |modes|, |config| and |filters| and refreshes every category state.
  // For tests of the category states.
  void SetEnabledForTesting(uint8_t modes, const TraceConfig& config,
                            std::vector<EventFilterConfig> filters);
  // Back to modes 0, no configuration and no filters; refreshes the states.
  void SetDisabledForTesting();
  // Reports the trace log's own memory as "tracing/main_trace_log".
  bool WriteDump(const MemoryDumpArgs& args, ProcessMemoryDump* process_memory_dump) override;

  // Replaces the trace buffer (for tests of a small buffer filling up).
  void SetTraceBufferForTesting(std::unique_ptr<TraceBuffer> buffer);

 private:
  friend class ThreadLocalEventBuffer;

  TraceLog();
  // Never destroyed: trace sites may run during process shutdown.
  ~TraceLog() override = default;

  void UpdateCategoryStateLocked(TraceCategory* category);
  void RefreshAllCategoryStatesLocked();
  void CreateFiltersLocked();
  std::unique_ptr<TraceBuffer> CreateTraceBufferLocked() const;
  // A slot of the shared chunk; with |check_full| a full buffer stops
  // recording.
  TraceEvent* AddEventToSharedChunkLocked(TraceEventHandle* handle, bool check_full);
  void CheckIfBufferIsFullWhileLocked();
  void SetDisabledWhileLocked();
  void AddMetadataEventsLocked();
  void AddMetadataEventLocked(int thread_id, const char* name, const char* arg_name,
                              uint8_t arg_type, uint64_t arg_value);
  TraceEvent* GetEventByHandleLocked(TraceEventHandle handle);
  // The thread buffers' side of the trace buffer.
  void AddThreadMessageLoop(MessageLoop* message_loop);
  std::unique_ptr<TraceBufferChunk> GetThreadChunk(size_t* index);
  void ReturnThreadChunk(uint32_t generation, size_t index,
                         std::unique_ptr<TraceBufferChunk> chunk);
  void ReleaseThreadBuffer(MessageLoop* message_loop, uint32_t generation, size_t index,
                           std::unique_ptr<TraceBufferChunk> chunk);
  void NoteThreadName();
  std::string BuildConsoleLine(char phase, int64_t timestamp, const TraceEvent* event);

  // Guards everything below but the thread names and console state.
  mutable Lock lock_;
  // Guards the thread names, the begin-time stacks and colours of the echo.
  Lock thread_info_lock_;

  uint8_t enabled_modes_ = 0;
  std::unique_ptr<TraceBuffer> logged_events_;
  std::vector<std::unique_ptr<TraceEvent>> metadata_events_;
  bool dispatching_to_observers_ = false;
  std::vector<TraceLogEnabledStateObserver*> enabled_state_observers_;
  struct AsyncObserver {
    WeakRef<TraceLogEnabledStateObserver> observer;
    SharedRef<OrderedTaskRunner> task_runner;
    TraceLogEnabledStateObserver* key;
  };
  std::vector<AsyncObserver> async_observers_;

  std::string process_name_;
  std::map<int, std::string> process_labels_;
  int process_sort_index_ = 0;
  std::map<int, int> thread_sort_indices_;
  std::map<int, std::string> thread_names_;
  std::map<int, std::vector<int64_t>> thread_event_start_times_;
  std::map<std::string, int> thread_colors_;
  // The loops whose threads own an event buffer, with their task runners.
  std::map<MessageLoop*, SharedRef<OrderedTaskRunner>> thread_message_loops_;

  int64_t buffer_limit_reached_timestamp_ = 0;
  uint32_t process_id_ = 0;
  uint64_t process_id_hash_ = 0;
  int64_t time_offset_ = 0;
  // Written under |lock_|; read without it on the event path.
  std::atomic<uint32_t> trace_options_{kRecordUntilFull};
  TraceConfig trace_config_;
  // Filled once, when filtering is first set up; read by the event path.
  std::vector<std::unique_ptr<TraceEventFilter>> filters_;

  std::unique_ptr<TraceBufferChunk> thread_shared_chunk_;
  size_t thread_shared_chunk_index_ = 0;
  std::atomic<uint32_t> generation_{0};
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_LOG_H_
