#include "base/threading/sequenced_worker_pool.h"

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/metrics/histogram_macros.h"
#include "base/ref_counted_thread_safe.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/os_thread.h"
#include "base/threading/scoped_task_run_activity.h"
#include "base/trace_event/heap_profiler_context_tracker.h"
#include "base/trace_event/trace_site.h"

namespace base {

namespace {

using ShutdownBehavior = SequencedWorkerPool::ShutdownBehavior;

// What the calling thread runs, when it is a worker.
thread_local const void* t_current_inner = nullptr;
thread_local int t_current_sequence = 0;

constexpr uint32_t kFlowFlags = TRACE_EVENT_FLAG_HAS_ID | TRACE_EVENT_FLAG_MANGLE_ID;

DWORD ToWaitMilliseconds(TimeSpan wait) {
  if (wait.is_max())
    return INFINITE;
  int64_t ms = wait.InMillisecondsRoundedUp();
  if (ms < 0)
    return 0;
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

}  // namespace

class SequencedWorkerPool::Inner : public RefCountedThreadSafe<Inner> {
 public:
  Inner(size_t max_threads, std::string thread_name_prefix)
      : max_threads_(max_threads ? max_threads : 1),
        thread_name_prefix_(std::move(thread_name_prefix)) {}

  int NewSequenceId() {
    AutoLock hold(lock_);
    return next_sequence_id_++;
  }

  int NamedSequenceId(std::string_view name) {
    AutoLock hold(lock_);
    auto it = named_sequences_.find(name);
    if (it != named_sequences_.end())
      return it->second;
    int id = next_sequence_id_++;
    named_sequences_.emplace(std::string(name), id);
    return id;
  }

  bool PostTask(int sequence_id, ShutdownBehavior behavior, const CodeLocation& from_here,
                Closure task, TimeSpan delay);

  bool IsWorkerThread() const { return t_current_inner == this; }
  bool IsRunningSequenceOnCurrentThread(int sequence_id) const {
    return IsWorkerThread() && sequence_id != 0 && t_current_sequence == sequence_id;
  }

  void Shutdown(int max_new_blocking_tasks_after_shutdown);
  bool IsShutdownInProgress() const {
    AutoLock hold(lock_);
    return shutdown_called_;
  }

  // Tells the workers to end once idle and joins them (except the calling
  // thread, should it be one).
  void JoinWorkers();

  size_t WorkerCount() const {
    AutoLock hold(lock_);
    return workers_.size();
  }

 private:
  friend class RefCountedThreadSafe<Inner>;
  class Worker;

  struct Task {
    Closure task;
    CodeLocation posted_from;
    int sequence_id = 0;
    ShutdownBehavior behavior = ShutdownBehavior::kBlockShutdown;
    uint64_t sequence_num = 0;
  };
  // Run order: due time, then posting order.
  using TaskKey = std::pair<MonotonicTime, uint64_t>;

  ~Inner() = default;

  // Under the lock: moves the first runnable task to |*task|. Otherwise
  // false, with how long until a delayed task is due in |*wait|.
  bool TakeNextTask(Task* task, TimeSpan* wait);
  void RunTask(Task* task);
  void ThreadLoop();
  // Under the lock. False (logged) when no worker runs at all.
  bool EnsureWorker();
  bool ShutdownWaitDone() const { return pending_blocking_ + running_counted_ == 0; }

  mutable Lock lock_;
  CONDITION_VARIABLE work_cv_ = CONDITION_VARIABLE_INIT;
  CONDITION_VARIABLE shutdown_cv_ = CONDITION_VARIABLE_INIT;

  const size_t max_threads_;
  const std::string thread_name_prefix_;
  std::vector<std::unique_ptr<Worker>> workers_;
  size_t idle_workers_ = 0;

  std::map<std::string, int, std::less<>> named_sequences_;
  int next_sequence_id_ = 1;
  uint64_t next_sequence_num_ = 0;
  std::map<TaskKey, Task> pending_;
  std::set<int> running_sequences_;

  // Pending blocking tasks, and running tasks that Shutdown() waits for.
  size_t pending_blocking_ = 0;
  size_t running_counted_ = 0;
  bool shutdown_called_ = false;
  int max_new_blocking_after_shutdown_ = 0;
  bool terminating_ = false;
};

// One worker thread. It keeps the pool's state alive while it runs.
class SequencedWorkerPool::Inner::Worker : public OsThread::Delegate {
 public:
  Worker(Inner* inner, std::string name) : inner_(inner), name_(std::move(name)) {}

  bool Start() { return OsThread::Create(0, this, &handle_); }

  // Hands the join handle over (emptying this one); null for the calling
  // thread's own worker.
  OsThread::Handle TakeHandle() {
    OsThread::Handle handle;
    if (handle_.id != GetCurrentThreadId())
      handle = std::move(handle_);
    return handle;
  }

  void ThreadMain() override {
    OsThread::SetName(name_.c_str());
    // The last reference may destroy this worker; it is not touched after.
    SharedRef<Inner> inner = std::move(inner_);
    inner->ThreadLoop();
  }

 private:
  SharedRef<Inner> inner_;
  const std::string name_;
  OsThread::Handle handle_;
};

namespace {

// The runner of one sequence. It keeps the pool's state alive, not its
// workers: once the pool is shut down, posts fail.
class SequenceRunner : public OrderedTaskRunner {
 public:
  SequenceRunner(SharedRef<SequencedWorkerPool::Inner> inner, int sequence_id,
                 ShutdownBehavior behavior)
      : inner_(std::move(inner)), sequence_id_(sequence_id), behavior_(behavior) {}

  bool PostDelayedTask(const CodeLocation& from_here, Closure task, TimeSpan delay) override;
  bool RunsTasksOnCurrentThread() const override;

 private:
  ~SequenceRunner() override = default;

  const SharedRef<SequencedWorkerPool::Inner> inner_;
  const int sequence_id_;
  const ShutdownBehavior behavior_;
};

}  // namespace

bool SequencedWorkerPool::Inner::PostTask(int sequence_id, ShutdownBehavior behavior,
                                          const CodeLocation& from_here, Closure task,
                                          TimeSpan delay) {
  if (task.is_null()) {
    LOG(ERROR) << "SequencedWorkerPool: null task posted from " << from_here.ToString();
    return false;
  }
  if (delay < TimeSpan())
    delay = TimeSpan();
  // A delayed task may never be due before the process ends: it cannot
  // hold up a shutdown.
  if (!delay.is_zero())
    behavior = ShutdownBehavior::kSkipOnShutdown;
  const MonotonicTime due = MonotonicTime::Now() + delay;
  {
    AutoLock hold(lock_);
    bool refused = terminating_;
    if (!refused && shutdown_called_) {
      refused =
          behavior != ShutdownBehavior::kBlockShutdown || max_new_blocking_after_shutdown_ <= 0;
      if (!refused)
        --max_new_blocking_after_shutdown_;
    }
    if (!refused) {
      const uint64_t sequence_num = next_sequence_num_++;
      pending_.emplace(TaskKey(due, sequence_num),
                       Task{std::move(task), from_here, sequence_id, behavior, sequence_num});
      if (behavior == ShutdownBehavior::kBlockShutdown)
        ++pending_blocking_;
      if (EnsureWorker()) {
        TRACE_EVENT_INSTANT_FLOW("disabled-by-default-toplevel.flow",
                                 "SequencedWorkerPool::Inner::PostTask", sequence_num,
                                 kFlowFlags | TRACE_EVENT_FLAG_FLOW_OUT);
        WakeAllConditionVariable(&work_cv_);
        return true;
      }
      // No thread could be started: take the task back.
      auto it = pending_.find(TaskKey(due, sequence_num));
      task = std::move(it->second.task);
      pending_.erase(it);
      if (behavior == ShutdownBehavior::kBlockShutdown)
        --pending_blocking_;
      return false;  // |task| is destroyed after the lock is released.
    }
  }
  LOG(ERROR) << "SequencedWorkerPool \"" << thread_name_prefix_ << "\" is shut down; the task from "
             << from_here.ToString() << " is dropped";
  return false;
}

bool SequencedWorkerPool::Inner::EnsureWorker() {
  if (idle_workers_ > 0 || workers_.size() >= max_threads_)
    return true;
  auto worker = std::make_unique<Worker>(
      this, thread_name_prefix_ + "Worker" + std::to_string(workers_.size() + 1));
  if (!worker->Start()) {
    LOG(ERROR) << "SequencedWorkerPool \"" << thread_name_prefix_
               << "\" could not start a worker thread";
    return !workers_.empty();
  }
  workers_.push_back(std::move(worker));
  return true;
}

bool SequencedWorkerPool::Inner::TakeNextTask(Task* task, TimeSpan* wait) {
  const MonotonicTime now = MonotonicTime::Now();
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->first.first > now) {
      *wait = it->first.first - now;
      return false;
    }
    // An earlier task of the same sequence is running: this one waits, and
    // so do the later ones of that sequence.
    if (it->second.sequence_id != 0 && running_sequences_.count(it->second.sequence_id))
      continue;
    *task = std::move(it->second);
    pending_.erase(it);
    return true;
  }
  *wait = TimeSpan::Max();
  return false;
}

void SequencedWorkerPool::Inner::RunTask(Task* task) {
  SharedRef<OrderedTaskRunner> runner;
  if (task->sequence_id != 0) {
    runner = MakeShared<SequenceRunner>(SharedRef<Inner>(this), task->sequence_id,
                                        ShutdownBehavior::kBlockShutdown);
  }
  CurrentTaskRunner::Scope runner_scope(runner.get());
  t_current_sequence = task->sequence_id;
  {
    ScopedTaskRunActivity activity(__builtin_return_address(0), task->posted_from.program_counter(),
                                   task->sequence_num);
    trace_event::ScopedTaskContext task_context(task->posted_from.program_counter());
    TRACE_EVENT_SCOPE_FLOW("disabled-by-default-toplevel.flow",
                           "SequencedWorkerPool::Inner::PostTask", task->sequence_num,
                           kFlowFlags | TRACE_EVENT_FLAG_FLOW_IN);
    TRACE_EVENT_SCOPE2("toplevel", "SequencedWorkerPool::Inner::ThreadLoop", "src_file",
                       task->posted_from.file_name(), "src_func",
                       task->posted_from.function_name());
    task->task.Run();
  }
  // Bound objects die while the sequence is still held.
  task->task.Reset();
  t_current_sequence = 0;
}

void SequencedWorkerPool::Inner::ThreadLoop() {
  t_current_inner = this;
  AutoLock hold(lock_);
  for (;;) {
    Task task;
    TimeSpan wait;
    if (TakeNextTask(&task, &wait)) {
      const bool counted = task.behavior != ShutdownBehavior::kContinueOnShutdown;
      if (task.behavior == ShutdownBehavior::kBlockShutdown)
        --pending_blocking_;
      if (counted)
        ++running_counted_;
      if (task.sequence_id != 0)
        running_sequences_.insert(task.sequence_id);
      {
        AutoUnlock unlock(lock_);
        RunTask(&task);
      }
      if (task.sequence_id != 0)
        running_sequences_.erase(task.sequence_id);
      if (counted)
        --running_counted_;
      if (shutdown_called_ && ShutdownWaitDone())
        WakeAllConditionVariable(&shutdown_cv_);
      // The sequence is free again: its next task may go to another worker.
      if (!pending_.empty())
        WakeAllConditionVariable(&work_cv_);
      continue;
    }
    if (terminating_)
      break;
    ++idle_workers_;
    if (!SleepConditionVariableSRW(&work_cv_, lock_.native_handle(), ToWaitMilliseconds(wait), 0) &&
        GetLastError() != ERROR_TIMEOUT) {
      PLOG(ERROR) << "SequencedWorkerPool: waiting for work failed";
    }
    --idle_workers_;
  }
  t_current_inner = nullptr;
}

void SequencedWorkerPool::Inner::Shutdown(int max_new_blocking_tasks_after_shutdown) {
  if (IsWorkerThread()) {
    LOG(ERROR) << "SequencedWorkerPool::Shutdown called from one of its own workers";
    return;
  }
  const MonotonicTime start = MonotonicTime::Now();
  std::vector<Task> dropped;
  {
    AutoLock hold(lock_);
    if (shutdown_called_)
      return;
    shutdown_called_ = true;
    max_new_blocking_after_shutdown_ = max_new_blocking_tasks_after_shutdown;
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->second.behavior == ShutdownBehavior::kBlockShutdown) {
        ++it;
      } else {
        dropped.push_back(std::move(it->second));
        it = pending_.erase(it);
      }
    }
  }
  // Their bound objects die outside the lock (their destructors may post).
  dropped.clear();
  {
    AutoLock hold(lock_);
    while (!ShutdownWaitDone()) {
      if (!SleepConditionVariableSRW(&shutdown_cv_, lock_.native_handle(), INFINITE, 0))
        PLOG(ERROR) << "SequencedWorkerPool: waiting for the shutdown failed";
    }
  }
  HISTOGRAM_TIMES("SequencedWorkerPool.ShutdownDelayTime", MonotonicTime::Now() - start);
}

void SequencedWorkerPool::Inner::JoinWorkers() {
  std::vector<OsThread::Handle> handles;
  {
    AutoLock hold(lock_);
    terminating_ = true;
    for (auto& worker : workers_) {
      OsThread::Handle handle = worker->TakeHandle();
      if (handle.IsValid())
        handles.push_back(std::move(handle));
    }
    WakeAllConditionVariable(&work_cv_);
  }
  for (OsThread::Handle& handle : handles)
    OsThread::Join(&handle);
}

bool SequenceRunner::PostDelayedTask(const CodeLocation& from_here, Closure task, TimeSpan delay) {
  return inner_->PostTask(sequence_id_, behavior_, from_here, std::move(task), delay);
}

bool SequenceRunner::RunsTasksOnCurrentThread() const {
  return inner_->IsRunningSequenceOnCurrentThread(sequence_id_);
}

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads, std::string thread_name_prefix)
    : inner_(MakeShared<Inner>(max_threads, std::move(thread_name_prefix))) {}

SequencedWorkerPool::~SequencedWorkerPool() {
  inner_->Shutdown(0);
  inner_->JoinWorkers();
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetSequenceToken() {
  return SequenceToken(inner_->NewSequenceId());
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetNamedSequenceToken(
    std::string_view name) {
  return SequenceToken(inner_->NamedSequenceId(name));
}

SharedRef<OrderedTaskRunner> SequencedWorkerPool::GetSequencedTaskRunner(
    SequenceToken token, ShutdownBehavior behavior) {
  if (!token.IsValid()) {
    LOG(ERROR) << "SequencedWorkerPool: a sequenced runner needs a sequence token";
    return nullptr;
  }
  return MakeShared<SequenceRunner>(inner_, token.id(), behavior);
}

bool SequencedWorkerPool::PostWorkerTask(const CodeLocation& from_here, Closure task) {
  return inner_->PostTask(0, ShutdownBehavior::kBlockShutdown, from_here, std::move(task),
                          TimeSpan());
}

bool SequencedWorkerPool::PostWorkerTaskWithShutdownBehavior(const CodeLocation& from_here,
                                                             Closure task,
                                                             ShutdownBehavior behavior) {
  return inner_->PostTask(0, behavior, from_here, std::move(task), TimeSpan());
}

bool SequencedWorkerPool::PostSequencedWorkerTask(SequenceToken token,
                                                  const CodeLocation& from_here, Closure task) {
  return inner_->PostTask(token.id(), ShutdownBehavior::kBlockShutdown, from_here, std::move(task),
                          TimeSpan());
}

bool SequencedWorkerPool::PostNamedSequencedWorkerTask(std::string_view name,
                                                       const CodeLocation& from_here,
                                                       Closure task) {
  return PostSequencedWorkerTask(GetNamedSequenceToken(name), from_here, std::move(task));
}

bool SequencedWorkerPool::PostSequencedWorkerTaskWithShutdownBehavior(SequenceToken token,
                                                                      const CodeLocation& from_here,
                                                                      Closure task,
                                                                      ShutdownBehavior behavior) {
  return inner_->PostTask(token.id(), behavior, from_here, std::move(task), TimeSpan());
}

bool SequencedWorkerPool::PostDelayedSequencedWorkerTask(SequenceToken token,
                                                         const CodeLocation& from_here,
                                                         Closure task, TimeSpan delay) {
  return inner_->PostTask(token.id(), ShutdownBehavior::kSkipOnShutdown, from_here, std::move(task),
                          delay);
}

bool SequencedWorkerPool::PostDelayedTask(const CodeLocation& from_here, Closure task,
                                          TimeSpan delay) {
  return inner_->PostTask(0, ShutdownBehavior::kBlockShutdown, from_here, std::move(task), delay);
}

bool SequencedWorkerPool::RunsTasksOnCurrentThread() const { return inner_->IsWorkerThread(); }

bool SequencedWorkerPool::IsRunningSequenceOnCurrentThread(SequenceToken token) const {
  return inner_->IsRunningSequenceOnCurrentThread(token.id());
}

void SequencedWorkerPool::Shutdown(int max_new_blocking_tasks_after_shutdown) {
  inner_->Shutdown(max_new_blocking_tasks_after_shutdown);
}

bool SequencedWorkerPool::IsShutdownInProgress() const { return inner_->IsShutdownInProgress(); }

size_t SequencedWorkerPool::GetWorkerCountForTesting() const { return inner_->WorkerCount(); }

}  // namespace base
