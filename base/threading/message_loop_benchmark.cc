// Posted-and-run tasks per second through a MessageLoop, same-thread and
// cross-thread, beside a minimal queue (a locked std::deque of
// std::function and an event) measured in the same run.
//
//   message_loop_benchmark.exe [tasks]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>

#include "base/bind.h"
#include "base/threading/lock.h"
#include "base/threading/loop_runner.h"
#include "base/threading/message_loop.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"

namespace {

using base::MonotonicTime;

// Same-thread runs post this many tasks, then run them, and repeat: a loop's
// own thread posts in bursts from its tasks, and a burst stays in the cache.
constexpr int64_t kBurst = 1000;

int64_t g_counter = 0;
void Increment() { ++g_counter; }

// The baseline: what a hand-written queue between threads costs.
class BaselineQueue {
 public:
  void Push(std::function<void()> task) {
    bool wake;
    {
      base::AutoLock hold(lock_);
      queue_.push_back(std::move(task));
      wake = waiting_;
      waiting_ = false;
    }
    if (wake)
      event_.Signal();
  }
  // Runs |count| tasks, waiting when the queue is empty.
  void RunTasks(int64_t count) {
    for (int64_t done = 0; done < count;) {
      std::function<void()> task;
      {
        base::AutoLock hold(lock_);
        if (queue_.empty()) {
          waiting_ = true;
        } else {
          task = std::move(queue_.front());
          queue_.pop_front();
        }
      }
      if (!task) {
        event_.Wait();
        continue;
      }
      task();
      ++done;
    }
  }

 private:
  base::Lock lock_;
  std::deque<std::function<void()>> queue_;
  bool waiting_ = false;
  base::WaitableEvent event_{base::WaitableEvent::ResetPolicy::kAutomatic,
                             base::WaitableEvent::InitialState::kNotSignaled};
};

double Rate(int64_t tasks, MonotonicTime start) {
  double seconds = (MonotonicTime::Now() - start).InSecondsF();
  return seconds > 0 ? tasks / seconds : 0;
}

double BaselineSameThread(int64_t tasks) {
  BaselineQueue queue;
  g_counter = 0;
  MonotonicTime start = MonotonicTime::Now();
  for (int64_t done = 0; done < tasks; done += kBurst) {
    for (int64_t i = 0; i < kBurst; ++i)
      queue.Push([] { ++g_counter; });
    queue.RunTasks(kBurst);
  }
  return Rate(tasks, start);
}

double BaselineCrossThread(int64_t tasks) {
  BaselineQueue queue;
  g_counter = 0;
  MonotonicTime start = MonotonicTime::Now();
  base::PlainThread producer("BaselineProducer", base::Bind([&queue, tasks] {
                               for (int64_t i = 0; i < tasks; ++i)
                                 queue.Push([] { ++g_counter; });
                             }));
  producer.Start();
  queue.RunTasks(tasks);
  double rate = Rate(tasks, start);
  producer.Join();
  return rate;
}

double LoopSameThread(int64_t tasks) {
  base::MessageLoop loop;
  auto runner = loop.task_runner();
  g_counter = 0;
  MonotonicTime start = MonotonicTime::Now();
  for (int64_t done = 0; done < tasks; done += kBurst) {
    for (int64_t i = 0; i < kBurst; ++i)
      runner->PostTask(FROM_HERE, base::Bind(&Increment));
    base::LoopRunner().RunUntilIdle();
  }
  return Rate(tasks, start);
}

double LoopCrossThread(int64_t tasks) {
  base::MessageLoop loop;
  auto runner = loop.task_runner();
  g_counter = 0;
  base::LoopRunner run;
  base::Closure quit = run.QuitClosure();
  MonotonicTime start = MonotonicTime::Now();
  base::PlainThread producer("LoopProducer", base::Bind([runner, tasks, quit] {
                               for (int64_t i = 0; i < tasks; ++i)
                                 runner->PostTask(FROM_HERE, base::Bind(&Increment));
                               runner->PostTask(FROM_HERE, quit);
                             }));
  producer.Start();
  run.Run();
  double rate = Rate(tasks, start);
  producer.Join();
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t tasks = argc > 1 ? std::atoll(argv[1]) : 1000000;
  tasks = (tasks + kBurst - 1) / kBurst * kBurst;
  if (tasks <= 0) {
    std::fprintf(stderr, "usage: message_loop_benchmark [tasks]\n");
    return 2;
  }
  // Warm up the allocator and the code paths once.
  BaselineSameThread(tasks / 10);
  LoopSameThread(tasks / 10);

  double best[4] = {};
  for (int round = 0; round < 3; ++round) {
    double rates[4] = {BaselineSameThread(tasks), LoopSameThread(tasks), BaselineCrossThread(tasks),
                       LoopCrossThread(tasks)};
    for (int i = 0; i < 4; ++i)
      best[i] = rates[i] > best[i] ? rates[i] : best[i];
  }
  std::printf("tasks per run: %lld (best of 3)\n", static_cast<long long>(tasks));
  std::printf("same-thread   baseline %12.0f/s  loop %12.0f/s  ratio %.2f\n", best[0], best[1],
              best[1] / best[0]);
  std::printf("cross-thread  baseline %12.0f/s  loop %12.0f/s  ratio %.2f\n", best[2], best[3],
              best[3] / best[2]);
  return 0;
}
