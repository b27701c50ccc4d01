#include "base/threading/plain_thread.h"

#include <utility>

#include "base/logging.h"

namespace base {

PlainThread::PlainThread(std::string name, Closure function)
    : name_(std::move(name)), function_(std::move(function)) {}

PlainThread::~PlainThread() { Join(); }

bool PlainThread::Start() {
  if (started_) {
    LOG(ERROR) << "PlainThread \"" << name_ << "\" started twice";
    return false;
  }
  if (function_.is_null()) {
    LOG(ERROR) << "PlainThread \"" << name_ << "\" has no function to run";
    return false;
  }
  if (!OsThread::Create(0, this, &handle_)) {
    LOG(ERROR) << "PlainThread \"" << name_ << "\" could not be created";
    return false;
  }
  started_ = true;
  return true;
}

void PlainThread::Join() {
  if (!handle_.IsValid())
    return;
  OsThread::Join(&handle_);
}

void PlainThread::ThreadMain() {
  OsThread::SetName(name_.c_str());
  function_.Run();
}

}  // namespace base
