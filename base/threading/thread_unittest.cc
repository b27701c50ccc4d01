#include "base/threading/thread.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/threading/io_message_loop.h"
#include "base/threading/os_thread.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread_name_registry.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ThreadTest, StopRunsTasksAlreadyPosted) {
  std::vector<int> log;
  std::string name_seen;
  SharedRef<OrderedTaskRunner> runner;
  {
    Thread thread("StopTestThread");
    EXPECT_EQ(thread.task_runner(), nullptr);
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    runner = thread.task_runner();
    ASSERT_TRUE(runner);
    EXPECT_FALSE(runner->RunsTasksOnCurrentThread());
    runner->PostTask(FROM_HERE, Bind([&name_seen] {
                       name_seen = ThreadNameRegistry::GetInstance()->GetName(GetCurrentThreadId());
                       OsThread::Sleep(TimeSpan::FromMilliseconds(50));
                     }));
    for (int i = 0; i < 100; ++i)
      runner->PostTask(FROM_HERE, Bind([&log, i] { log.push_back(i); }));
    thread.Stop();
    EXPECT_EQ(thread.task_runner(), nullptr);
    EXPECT_FALSE(thread.IsRunning());
    // A stopped thread starts again.
    ASSERT_TRUE(thread.Start());
    EXPECT_NE(thread.task_runner(), runner);
  }  // The destructor stops it.
  ASSERT_EQ(log.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(log[i], i);
  EXPECT_EQ(name_seen, "StopTestThread");
  // The old loop is gone.
  EXPECT_FALSE(runner->PostTask(FROM_HERE, Bind([] {})));
}

TEST(ThreadTest, StartWithIoOptionsMakesAnIoLoop) {
  Thread thread("IoThread");
  Thread::Options options;
  options.type = MessageLoop::TYPE_IO;
  ASSERT_TRUE(thread.StartWithOptions(options));
  std::atomic<bool> is_io{false};
  thread.task_runner()->PostTask(FROM_HERE,
                                 Bind([&is_io] { is_io = IoMessageLoop::Current() != nullptr; }));
  thread.Stop();
  EXPECT_TRUE(is_io);
}

TEST(ThreadNameRegistryTest, NamesAreInternedAndUnknownIsEmpty) {
  ThreadNameRegistry* registry = ThreadNameRegistry::GetInstance();
  const char* first = registry->SetName(0x7FFF0001, "Worker name");
  const char* second = registry->SetName(0x7FFF0002, std::string("Worker ") + "name");
  EXPECT_EQ(first, second);
  EXPECT_EQ(registry->GetName(0x7FFF0001), first);
  EXPECT_STREQ(registry->GetName(0x7FFF0003), "");
  EXPECT_EQ(registry->GetName(0x7FFF0003), registry->GetName(0x7FFF0004));
}

TEST(PlainThreadTest, RunsItsFunctionOnAnotherThreadOnce) {
  std::atomic<int> runs{0};
  DWORD ran_on = 0;
  PlainThread thread("Plain", Bind([&] {
                       ++runs;
                       ran_on = GetCurrentThreadId();
                     }));
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  DWORD id = thread.thread_id();
  thread.Join();
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(ran_on, id);
  EXPECT_NE(ran_on, GetCurrentThreadId());
}

}  // namespace
}  // namespace base
