#include "base/activity_tracker.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/global_activity_tracker.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/threading/lock.h"
#include "base/threading/plain_thread.h"
#include "base/threading/sequenced_worker_pool.h"
#include "base/threading/thread.h"
#include "base/threading/worker_pool.h"
#include "base/threading/waitable_event.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"
#include "testing/scoped_histogram_registry.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

// Publishes a tracker over a local segment for one test. Released trackers
// are kept: a thread of another test may still be leaving a scope.
class ScopedGlobalTracker {
 public:
  ScopedGlobalTracker(size_t segment_size, uint32_t stack_depth) {
    auto memory = std::make_unique<LocalPersistentMemoryAllocator>(segment_size, 0);
    allocator_ = memory.get();
    created_ = GlobalActivityTracker::CreateWithAllocator(std::move(memory), stack_depth);
  }
  ~ScopedGlobalTracker() {
    static std::vector<std::unique_ptr<GlobalActivityTracker>> kept;
    kept.push_back(GlobalActivityTracker::ReleaseForTesting());
  }
  bool created() const { return created_; }
  PersistentMemoryAllocator* allocator() const { return allocator_; }

 private:
  PersistentMemoryAllocator* allocator_ = nullptr;
  bool created_ = false;
};

bool FindSnapshot(const PersistentMemoryAllocator& allocator, uint32_t thread_id,
                  ActivitySnapshot* found) {
  for (ActivitySnapshot& snapshot : GlobalActivityTracker::ReadSnapshots(allocator)) {
    if (snapshot.thread_id == thread_id) {
      *found = std::move(snapshot);
      return true;
    }
  }
  return false;
}

TEST(ActivityTrackerTest, WithoutGlobalTrackerScopesDoNothing) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
  Lock lock;
  ScopedEventWaitActivity wait(nullptr, &lock);
  ScopedProcessWaitActivity process_wait(nullptr, nullptr);
  AutoLock hold(lock);
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

TEST(ActivityTrackerTest, NestingPastTheSlotsCountsWithoutRecording) {
  ScopedGlobalTracker global(64 * 1024, 2);
  ASSERT_TRUE(global.created());
  PersistentMemoryAllocator* allocator = global.allocator();
  bool guard_intact = false;
  ActivitySnapshot deepest;
  ActivitySnapshot unwound;
  bool have_deepest = false;
  bool have_unwound = false;
  std::thread thread([&] {
    ThreadActivityTracker* tracker =
        GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
    if (!tracker || tracker->stack_slots() != 2)
      return;
    // The block right after the tracker's: leaving the unrecorded levels
    // must not write into it.
    const Reference guard = allocator->Allocate(1024, 0x6A4D);
    auto* guard_bytes = static_cast<uint8_t*>(allocator->GetBlockData(guard, 0x6A4D, 1024));
    if (!guard_bytes)
      return;
    std::memset(guard_bytes, 0xAB, 1024);
    {
      int objects[5];
      ScopedEventWaitActivity a(nullptr, &objects[0]);
      ScopedEventWaitActivity b(nullptr, &objects[1]);
      ScopedEventWaitActivity c(nullptr, &objects[2]);
      ScopedEventWaitActivity d(nullptr, &objects[3]);
      ScopedEventWaitActivity e(nullptr, &objects[4]);
      have_deepest = FindSnapshot(*allocator, GetCurrentThreadId(), &deepest);
      if (deepest.activity_stack.size() == 2 &&
          deepest.activity_stack[1].data[0] != reinterpret_cast<uintptr_t>(&objects[1])) {
        have_deepest = false;
      }
    }
    have_unwound = FindSnapshot(*allocator, GetCurrentThreadId(), &unwound);
    guard_intact = true;
    for (int i = 0; i < 1024; ++i)
      guard_intact = guard_intact && guard_bytes[i] == 0xAB;
  });
  thread.join();
  ASSERT_TRUE(have_deepest);
  EXPECT_EQ(5u, deepest.activity_depth);
  ASSERT_EQ(2u, deepest.activity_stack.size());
  EXPECT_EQ(kActivityEventWait, deepest.activity_stack[0].activity_type);
  EXPECT_EQ(kActivityEventWait, deepest.activity_stack[1].activity_type);
  EXPECT_EQ(GetCurrentProcessId(), deepest.process_id);
  ASSERT_TRUE(have_unwound);
  EXPECT_EQ(0u, unwound.activity_depth);
  EXPECT_TRUE(guard_intact);
}

TEST(ActivityTrackerTest, LockScopesNeverCreateAndProcessWaitDefaultsToSelf) {
  ScopedGlobalTracker global(64 * 1024, 4);
  ASSERT_TRUE(global.created());
  bool created_by_lock = true;
  ActivitySnapshot inside;
  bool found = false;
  std::thread thread([&] {
    GlobalActivityTracker* tracker = GlobalActivityTracker::Get();
    Lock lock;
    { AutoLock hold(lock); }
    created_by_lock = tracker->GetTrackerForCurrentThread() != nullptr;
    ScopedProcessWaitActivity wait(&lock, nullptr);
    found = FindSnapshot(*global.allocator(), GetCurrentThreadId(), &inside);
  });
  thread.join();
  EXPECT_FALSE(created_by_lock);
  ASSERT_TRUE(found);
  ASSERT_EQ(1u, inside.activity_stack.size());
  EXPECT_EQ(kActivityProcessWait, inside.activity_stack[0].activity_type);
  EXPECT_EQ(GetCurrentProcessId(), inside.activity_stack[0].data[0]);
}

// A running task records where it was posted from and its sequence number,
// on a thread's loop, in the worker pool and on the system thread pool.
TEST(ActivityTrackerTest, RunningTasksRecordTheirPostingPlaceAndSequence) {
  ScopedGlobalTracker global(256 * 1024, 4);
  ASSERT_TRUE(global.created());
  static const char kPostingPlace = 0;
  const CodeLocation from_here("Poster", __FILE__, __LINE__, &kPostingPlace);
  Thread thread("ActivityLoop");
  ASSERT_TRUE(thread.Start());
  SharedRef<SequencedWorkerPool> pool = MakeShared<SequencedWorkerPool>(1, "Activity");
  struct Case {
    const char* runner;
    std::function<bool(Closure)> post;
    uint64_t sequence_step;
  };
  const Case cases[] = {
      {"loop",
       [&](Closure task) { return thread.task_runner()->PostTask(from_here, std::move(task)); }, 1},
      {"worker pool",
       [&](Closure task) { return pool->PostWorkerTask(from_here, std::move(task)); }, 1},
      {"thread pool",
       [&](Closure task) { return WorkerPool::PostTask(from_here, std::move(task)); }, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.runner);
    ActivityEntry tops[2] = {};
    bool found[2] = {};
    std::atomic<int> running{2};
    WaitableEvent done(WaitableEvent::ResetPolicy::kManual,
                       WaitableEvent::InitialState::kNotSignaled);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(test.post(Bind([&, i] {
        ActivitySnapshot snapshot;
        found[i] = FindSnapshot(*global.allocator(), GetCurrentThreadId(), &snapshot) &&
                   !snapshot.activity_stack.empty();
        if (found[i])
          tops[i] = snapshot.activity_stack.back();
        if (--running == 0)
          done.Signal();
      })));
    }
    done.Wait();
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(found[i]);
      EXPECT_EQ(kActivityTaskRun, tops[i].activity_type);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(&kPostingPlace), tops[i].data[0]);
    }
    EXPECT_EQ(tops[0].data[1] + test.sequence_step, tops[1].data[1]);
  }
  pool->Shutdown();
  thread.Stop();
}

TEST(ActivityTrackerTest, EndedThreadsBlockIsClearedAndReused) {
  ScopedGlobalTracker global(64 * 1024, 4);
  ASSERT_TRUE(global.created());
  PersistentMemoryAllocator* allocator = global.allocator();
  auto run_thread = [allocator](uint32_t* thread_id, Reference* block) {
    std::thread thread([=] {
      *thread_id = GetCurrentThreadId();
      GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
      ActivitySnapshot snapshot;
      // The block of this thread: the one whose snapshot names it.
      PersistentMemoryAllocator::Iterator iterator(allocator);
      while (Reference ref =
                 iterator.GetNextOfType(GlobalActivityTracker::kTypeIdActivityTracker)) {
        const uint32_t size = allocator->GetAllocSize(ref);
        if (ThreadActivityTracker::CreateSnapshot(allocator->GetBlockData(ref, 0, size), size,
                                                  &snapshot) &&
            snapshot.thread_id == GetCurrentThreadId()) {
          *block = ref;
        }
      }
    });
    thread.join();
  };
  uint32_t first_thread = 0;
  Reference first_block = 0;
  run_thread(&first_thread, &first_block);
  ASSERT_NE(0u, first_block);
  ActivitySnapshot snapshot;
  EXPECT_FALSE(FindSnapshot(*allocator, first_thread, &snapshot));
  const uint32_t size = allocator->GetAllocSize(first_block);
  const auto* bytes = static_cast<const uint8_t*>(allocator->GetBlockData(first_block, 0, size));
  bool zero = true;
  for (uint32_t i = 0; i < size; ++i)
    zero = zero && bytes[i] == 0;
  EXPECT_TRUE(zero);

  uint32_t second_thread = 0;
  Reference second_block = 0;
  run_thread(&second_thread, &second_block);
  EXPECT_EQ(first_block, second_block);
  EXPECT_NE(first_thread, second_thread);
}

TEST(ActivityTrackerTest, NoBlockLeftIsCounted) {
  testing::ScopedHistogramRegistry registry;
  {
    // Room for a handful of trackers only.
    ScopedGlobalTracker global(8192, 8);
    ASSERT_TRUE(global.created());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    win::ScopedHandle release_holder(release);
    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    for (int i = 0; i < 12 && refused.load() == 0; ++i) {
      HANDLE started = CreateEventW(nullptr, FALSE, FALSE, nullptr);
      win::ScopedHandle started_holder(started);
      threads.emplace_back([&refused, started, release] {
        if (!GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread())
          refused.fetch_add(1);
        SetEvent(started);
        WaitForSingleObject(release, INFINITE);
      });
      WaitForSingleObject(started, INFINITE);
    }
    SetEvent(release);
    for (std::thread& thread : threads)
      thread.join();
    EXPECT_EQ(1, refused.load());
    HistogramBase* limit =
        HistogramRegistry::FindHistogram("ActivityTracker.ThreadTrackers.MemLimitTrackerCount");
    ASSERT_NE(nullptr, limit);
    EXPECT_GE(limit->TakeSnapshot()->TotalCount(), 1);
  }
}

constexpr char kSegmentSwitch[] = "segment";
constexpr char kMappingSwitch[] = "mapping";
constexpr char kInfoSwitch[] = "info";
constexpr char kReadySwitch[] = "ready";
constexpr char kNextSwitch[] = "next";
constexpr uint64_t kTrackerSegmentId = 0xAC7;

struct WorkerContext {
  Lock* lock;
  WaitableEvent* event;
  PlainThread* sub;
  HANDLE stop;
  DWORD parent_pid;
};

void WorkerMain(WorkerContext* context) {
  // Lock scopes never create a tracker: the thread gets one first.
  GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
  context->lock->Acquire();
  context->lock->Release();
  context->event->Wait();
  context->sub->Join();
  Process parent = Process::Open(context->parent_pid);
  while (WaitForSingleObject(context->stop, 0) != WAIT_OBJECT_0)
    parent.WaitForExitWithTimeout(50, nullptr);
}

void SubMain(HANDLE done) { WaitForSingleObject(done, INFINITE); }

CHILD_PROCESS_MAIN(ActivityChild) {
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  std::unique_ptr<SharedPersistentMemoryAllocator> memory = SharedPersistentMemoryAllocator::Create(
      command_line->GetSwitchValuePath(kSegmentSwitch),
      command_line->GetSwitchValueNative(kMappingSwitch), 256 * 1024, kTrackerSegmentId);
  if (!memory || !GlobalActivityTracker::CreateWithAllocator(std::move(memory), 4))
    return 2;
  win::ScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE,
                                     command_line->GetSwitchValueNative(kReadySwitch).c_str()));
  win::ScopedHandle next(
      OpenEventW(SYNCHRONIZE, FALSE, command_line->GetSwitchValueNative(kNextSwitch).c_str()));
  win::ScopedHandle sub_done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win::ScopedHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ready.IsValid() || !next.IsValid())
    return 3;

  Lock lock;
  lock.Acquire();
  WaitableEvent event(WaitableEvent::ResetPolicy::kAutomatic,
                      WaitableEvent::InitialState::kNotSignaled);
  PlainThread sub("ActivitySub", Bind(&SubMain, sub_done.Get()));
  WorkerContext context = {&lock, &event, &sub, stop.Get(), 0};
  int parent_pid = 0;
  StringToInt(command_line->GetSwitchValueASCII("parent"), &parent_pid);
  context.parent_pid = static_cast<DWORD>(parent_pid);
  PlainThread worker("ActivityWorker", Bind(&WorkerMain, &context));
  if (!sub.Start() || !worker.Start())
    return 4;

  char info[200];
  snprintf(info, sizeof(info), "%llu %llu %lu %lu",
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&lock)),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&event)), sub.thread_id(),
           worker.thread_id());
  const int length = static_cast<int>(strlen(info));
  if (WriteFileBytes(command_line->GetSwitchValuePath(kInfoSwitch), info, length) != length)
    return 5;
  SetEvent(ready.Get());

  // Each step waits for the parent to have seen the worker blocked.
  if (WaitForSingleObject(next.Get(), 60000) != WAIT_OBJECT_0)
    return 6;
  lock.Release();
  if (WaitForSingleObject(next.Get(), 60000) != WAIT_OBJECT_0)
    return 6;
  event.Signal();
  if (WaitForSingleObject(next.Get(), 60000) != WAIT_OBJECT_0)
    return 6;
  SetEvent(sub_done.Get());
  if (WaitForSingleObject(next.Get(), 60000) != WAIT_OBJECT_0)
    return 6;
  SetEvent(stop.Get());
  worker.Join();
  return 0;
}

TEST(ActivityTrackerTest, ParentReadsWhatAChildThreadWaitsFor) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
  const std::wstring mapping = L"Local\\velmo-activity-" + suffix;
  const std::wstring ready_name = L"Local\\velmo-activity-ready-" + suffix;
  const std::wstring next_name = L"Local\\velmo-activity-next-" + suffix;
  win::ScopedHandle ready(CreateEventW(nullptr, FALSE, FALSE, ready_name.c_str()));
  win::ScopedHandle next(CreateEventW(nullptr, FALSE, FALSE, next_name.c_str()));
  const FilePath segment_path = temp.GetPath().AppendASCII("activity.seg");
  const FilePath info_path = temp.GetPath().AppendASCII("info.txt");

  CommandLine command_line = testing::GetChildCommandLine("ActivityChild");
  command_line.AppendSwitchPath(kSegmentSwitch, segment_path);
  command_line.AppendSwitchNative(kMappingSwitch, mapping);
  command_line.AppendSwitchPath(kInfoSwitch, info_path);
  command_line.AppendSwitchNative(kReadySwitch, ready_name);
  command_line.AppendSwitchNative(kNextSwitch, next_name);
  command_line.AppendSwitchASCII("parent", std::to_string(GetCurrentProcessId()));
  Process child = LaunchProcess(command_line, LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));

  std::string info;
  ASSERT_TRUE(ReadFileToString(info_path, &info));
  unsigned long long lock_address = 0, event_address = 0;
  unsigned long sub_id = 0, worker_id = 0;
  ASSERT_EQ(4, sscanf(info.c_str(), "%llu %llu %lu %lu", &lock_address, &event_address, &sub_id,
                      &worker_id));

  struct Expected {
    uint8_t type;
    uint64_t data;
  };
  const Expected steps[] = {
      {kActivityLockAcquire, lock_address},
      {kActivityEventWait, event_address},
      {kActivityThreadJoin, sub_id},
      {kActivityProcessWait, GetCurrentProcessId()},
  };
  for (const Expected& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.type));
    bool seen = false;
    ActivitySnapshot snapshot;
    for (int attempt = 0; attempt < 600 && !seen; ++attempt) {
      std::unique_ptr<SharedPersistentMemoryAllocator> live =
          SharedPersistentMemoryAllocator::Open(mapping, kTrackerSegmentId, true);
      ASSERT_NE(nullptr, live);
      if (FindSnapshot(*live, worker_id, &snapshot) && !snapshot.activity_stack.empty()) {
        const ActivityEntry& top = snapshot.activity_stack.back();
        seen = top.activity_type == step.type && top.data[0] == step.data;
      }
      if (!seen)
        Sleep(50);
    }
    ASSERT_TRUE(seen);
    EXPECT_EQ("ActivityWorker", snapshot.thread_name);
    EXPECT_EQ(child.Pid(), snapshot.process_id);
    EXPECT_EQ(worker_id, snapshot.thread_id);
    SetEvent(next.Get());
  }
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0, exit_code);

  // The file outlives the child; the worker ended, so its block is clear.
  std::unique_ptr<FilePersistentMemoryAllocator> file =
      FilePersistentMemoryAllocator::OpenReadOnly(segment_path, kTrackerSegmentId);
  ASSERT_NE(nullptr, file);
  ActivitySnapshot ended;
  EXPECT_FALSE(FindSnapshot(*file, worker_id, &ended));
  EXPECT_FALSE(file->IsCorrupt());
}

}  // namespace
}  // namespace base
