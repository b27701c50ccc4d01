#include "base/threading/io_message_loop.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/string_printf.h"
#include "base/threading/loop_runner.h"
#include "base/threading/plain_thread.h"
#include "base/threading/thread.h"
#include "base/threading/waitable_event.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Reads from a pipe's server end and logs "<name>:<data>" per completion.
class PipeReader : public IoHandler {
 public:
  PipeReader(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}

  bool StartRead(HANDLE pipe) {
    context_.ResetOverlapped();
    if (ReadFile(pipe, buffer_, sizeof(buffer_), nullptr, &context_.overlapped))
      return true;  // The completion is queued anyway.
    return GetLastError() == ERROR_IO_PENDING;
  }

  void OnIOCompleted(IoCompletionContext* context, DWORD bytes_transferred, DWORD error) override {
    EXPECT_EQ(context, &context_);
    EXPECT_EQ(context->handler, this);
    EXPECT_EQ(error, 0u);
    log_->push_back(name_ + ":" + std::string(buffer_, bytes_transferred));
    if (on_complete_)
      on_complete_.Run();
  }

  Closure on_complete_;

 private:
  std::string name_;
  std::vector<std::string>* log_;
  IoCompletionContext context_{this};
  char buffer_[64];
};

// A connected pipe: overlapped inbound server end, client end for writing.
struct Pipe {
  bool Create(const std::string& tag, bool overlapped_client) {
    std::wstring name = UTF8ToWide(
        FormatString("\\\\.\\pipe\\io_loop_test_%lu_%s", GetCurrentProcessId(), tag.c_str()));
    server.Reset(CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    if (!server.IsValid())
      return false;
    client.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             overlapped_client ? FILE_FLAG_OVERLAPPED : 0, nullptr));
    if (!client.IsValid())
      return false;
    OVERLAPPED connect = {};
    return !ConnectNamedPipe(server.Get(), &connect) && GetLastError() == ERROR_PIPE_CONNECTED;
  }
  win::ScopedHandle server;
  win::ScopedHandle client;
};

// Writes on its own I/O thread with an overlapped write.
class PipeWriter : public IoHandler {
 public:
  void OnIOCompleted(IoCompletionContext* context, DWORD bytes_transferred, DWORD error) override {
    EXPECT_EQ(context, &context_);
    EXPECT_EQ(error, 0u);
    written_ = bytes_transferred;
    completed_on_ = GetCurrentThreadId();
    done_.Signal();
  }
  void Write(HANDLE pipe, const char* text) {
    ASSERT_TRUE(IoMessageLoop::Current()->RegisterIOHandler(pipe, this));
    context_.ResetOverlapped();
    BOOL ok =
        WriteFile(pipe, text, static_cast<DWORD>(strlen(text)), nullptr, &context_.overlapped);
    ASSERT_TRUE(ok || GetLastError() == ERROR_IO_PENDING);
  }
  DWORD written_ = 0;
  DWORD completed_on_ = 0;
  WaitableEvent done_{WaitableEvent::ResetPolicy::kManual,
                      WaitableEvent::InitialState::kNotSignaled};

 private:
  IoCompletionContext context_{this};
};

TEST(IoMessageLoopTest, DispatchesCompletionsOfAPipeBetweenTwoThreads) {
  IoMessageLoop loop;
  ASSERT_EQ(IoMessageLoop::Current(), &loop);
  Pipe pipe;
  ASSERT_TRUE(pipe.Create("between", /*overlapped_client=*/true));
  std::vector<std::string> log;
  PipeReader reader("server", &log);
  ASSERT_TRUE(loop.RegisterIOHandler(pipe.server.Get(), &reader));
  ASSERT_TRUE(reader.StartRead(pipe.server.Get()));
  LoopRunner runner;
  reader.on_complete_ = runner.QuitClosure();

  Thread writer_thread("PipeWriterThread");
  Thread::Options options;
  options.type = MessageLoop::TYPE_IO;
  ASSERT_TRUE(writer_thread.StartWithOptions(options));
  PipeWriter writer;
  writer_thread.task_runner()->PostTask(
      FROM_HERE, Bind([&writer, &pipe] { writer.Write(pipe.client.Get(), "hello"); }));
  runner.Run();
  // The write's completion is dispatched on the writer's loop; Stop() only
  // waits for tasks, not for completions still in the port.
  EXPECT_TRUE(writer.done_.TimedWait(TimeSpan::FromSeconds(10)));
  writer_thread.Stop();
  EXPECT_EQ(log, (std::vector<std::string>{"server:hello"}));
  EXPECT_EQ(writer.written_, 5u);
  EXPECT_NE(writer.completed_on_, 0u);
  EXPECT_NE(writer.completed_on_, GetCurrentThreadId());
}

TEST(IoMessageLoopTest, WaitForIOCompletionKeepsOtherHandlersCompletionsInOrder) {
  IoMessageLoop loop;
  Pipe pipe_a, pipe_b, pipe_c;
  ASSERT_TRUE(pipe_a.Create("a", false));
  ASSERT_TRUE(pipe_b.Create("b", false));
  ASSERT_TRUE(pipe_c.Create("c", false));
  std::vector<std::string> log;
  PipeReader a("a", &log), b("b", &log), c("c", &log);
  ASSERT_TRUE(loop.RegisterIOHandler(pipe_a.server.Get(), &a));
  ASSERT_TRUE(loop.RegisterIOHandler(pipe_b.server.Get(), &b));
  ASSERT_TRUE(loop.RegisterIOHandler(pipe_c.server.Get(), &c));
  ASSERT_TRUE(a.StartRead(pipe_a.server.Get()));
  ASSERT_TRUE(b.StartRead(pipe_b.server.Get()));
  ASSERT_TRUE(c.StartRead(pipe_c.server.Get()));

  // B, then C, then A complete, one after the other.
  PlainThread writer("PipeWriter", Bind([&] {
                       DWORD written;
                       WriteFile(pipe_b.client.Get(), "1", 1, &written, nullptr);
                       Sleep(30);
                       WriteFile(pipe_c.client.Get(), "2", 1, &written, nullptr);
                       Sleep(30);
                       WriteFile(pipe_a.client.Get(), "3", 1, &written, nullptr);
                     }));
  ASSERT_TRUE(writer.Start());
  EXPECT_TRUE(loop.WaitForIOCompletion(TimeSpan::FromSeconds(10), &a));
  writer.Join();
  EXPECT_EQ(log, (std::vector<std::string>{"a:3"}));
  // Nothing more of A's is coming.
  EXPECT_FALSE(loop.WaitForIOCompletion(TimeSpan::FromMilliseconds(20), &a));

  // The loop dispatches the kept ones, in their order.
  LoopRunner().RunUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"a:3", "b:1", "c:2"}));
}

}  // namespace
}  // namespace base
