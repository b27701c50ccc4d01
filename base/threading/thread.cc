#include "base/threading/thread.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/io_message_loop.h"
#include "base/threading/loop_runner.h"
#include "base/threading/waitable_event.h"

namespace base {

Thread::Thread(std::string name) : name_(std::move(name)) {}

Thread::~Thread() { Stop(); }

bool Thread::Start() { return StartWithOptions(Options()); }

bool Thread::StartWithOptions(const Options& options) {
  if (started_) {
    LOG(ERROR) << "Thread \"" << name_ << "\" is already running";
    return false;
  }
  WaitableEvent started(WaitableEvent::ResetPolicy::kManual,
                        WaitableEvent::InitialState::kNotSignaled);
  if (!started.IsValid()) {
    LOG(ERROR) << "Thread \"" << name_ << "\" cannot wait for its start";
    return false;
  }
  options_ = options;
  startup_event_ = &started;
  if (!OsThread::Create(options.stack_size, this, &handle_, options.priority)) {
    LOG(ERROR) << "Thread \"" << name_ << "\" could not be created";
    startup_event_ = nullptr;
    return false;
  }
  started.Wait();
  startup_event_ = nullptr;
  started_ = true;
  stop_posted_ = false;
  return true;
}

void Thread::StopSoon() {
  if (!started_ || stop_posted_)
    return;
  stop_posted_ = true;
  task_runner_->PostTask(FROM_HERE, Bind(&Thread::QuitRun, Unretained(this)));
}

void Thread::Stop() {
  if (!started_)
    return;
  CHECK(GetCurrentThreadId() != handle_.id) << "Thread \"" << name_ << "\" stopped from itself";
  StopSoon();
  OsThread::Join(&handle_);
  started_ = false;
  task_runner_.reset();
  message_loop_ = nullptr;
}

void Thread::QuitRun() {
  if (runner_)
    runner_->Quit();
}

void Thread::ThreadMain() {
  OsThread::SetName(name_.c_str());
  std::unique_ptr<MessageLoop> loop;
  if (options_.type == MessageLoop::TYPE_IO)
    loop = std::make_unique<IoMessageLoop>();
  else
    loop = std::make_unique<MessageLoop>(options_.type);
  message_loop_ = loop.get();
  task_runner_ = loop->task_runner();
  Init();
  {
    LoopRunner runner;
    runner_ = &runner;
    // From here the starting thread may return and post.
    startup_event_->Signal();
    runner.Run();
    runner_ = nullptr;
  }
  CleanUp();
  loop.reset();
}

}  // namespace base
