#include "base/threading/loop_runner.h"

#include <windows.h>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/message_loop.h"

namespace base {

LoopRunner::LoopRunner() : LoopRunner(nullptr) {}

LoopRunner::LoopRunner(MessageDispatcher* dispatcher)
    : loop_(MessageLoop::Current()), dispatcher_(dispatcher) {
  CHECK(loop_) << "LoopRunner on a thread without a MessageLoop";
  weak_self_ = weak_factory_.GetWeakRef();
}

LoopRunner::~LoopRunner() { CHECK(!running_) << "LoopRunner destroyed while it runs"; }

void LoopRunner::Run() {
  if (!BeforeRun())
    return;
  loop_->pump_->Run(loop_, dispatcher_);
  AfterRun();
}

void LoopRunner::RunUntilIdle() {
  quit_when_idle_ = true;
  Run();
}

bool LoopRunner::BeforeRun() {
  CHECK(GetCurrentThreadId() == loop_->thread_id()) << "LoopRunner run on another thread";
  if (run_called_) {
    LOG(ERROR) << "LoopRunner::Run called twice on one runner";
    return false;
  }
  run_called_ = true;
  if (quit_called_)
    return false;
  previous_runner_ = loop_->current_runner_;
  task_depth_at_start_ = loop_->task_depth_;
  loop_->current_runner_ = this;
  running_ = true;
  return true;
}

void LoopRunner::AfterRun() {
  running_ = false;
  loop_->current_runner_ = previous_runner_;
  // An outer run that was told to quit while this one ran ends now.
  if (previous_runner_ && previous_runner_->quit_called_)
    loop_->pump_->Quit();
}

void LoopRunner::Quit() {
  if (GetCurrentThreadId() != loop_->thread_id()) {
    loop_->task_runner()->PostTask(FROM_HERE, Bind(&LoopRunner::Quit, weak_self_));
    return;
  }
  quit_called_ = true;
  if (running_ && loop_->current_runner_ == this)
    loop_->pump_->Quit();
}

void LoopRunner::QuitWhenIdle() {
  if (GetCurrentThreadId() != loop_->thread_id()) {
    loop_->task_runner()->PostTask(FROM_HERE, Bind(&LoopRunner::QuitWhenIdle, weak_self_));
    return;
  }
  quit_when_idle_ = true;
}

Closure LoopRunner::QuitClosure() { return Bind(&LoopRunner::Quit, weak_self_); }

Closure LoopRunner::QuitWhenIdleClosure() { return Bind(&LoopRunner::QuitWhenIdle, weak_self_); }

}  // namespace base
