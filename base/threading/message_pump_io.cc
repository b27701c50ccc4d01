#include "base/threading/message_pump_io.h"

#include "base/logging.h"
#include "base/threading/loop_diagnostics.h"

namespace base {

IoMessagePump::IoMessagePump()
    : port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1)) {
  if (!port_.IsValid())
    PLOG(ERROR) << "CreateIoCompletionPort for the I/O loop failed";
}

IoMessagePump::~IoMessagePump() = default;

void IoMessagePump::Run(Delegate* delegate, MessageDispatcher* /*dispatcher*/) {
  RunState state;
  RunState* previous_state = state_;
  state_ = &state;
  for (;;) {
    bool did_work = DispatchKeptCompletion();
    if (state.should_quit)
      break;
    did_work |= delegate->DoWork();
    if (state.should_quit)
      break;
    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    did_work = delegate->DoIdleWork();
    if (state.should_quit)
      break;
    if (did_work)
      continue;
    if (!delegate->PrepareToWait())
      continue;
    WaitForWork();
  }
  state_ = previous_state;
}

void IoMessagePump::Quit() {
  if (state_)
    state_->should_quit = true;
}

void IoMessagePump::ScheduleWork() {
  if (work_scheduled_.exchange(true, std::memory_order_acq_rel))
    return;
  if (port_.IsValid() &&
      PostQueuedCompletionStatus(port_.Get(), 0, reinterpret_cast<ULONG_PTR>(this), nullptr))
    return;
  PLOG(ERROR) << "Posting the I/O loop's wake-up failed";
  loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kCompletionPortPostFailed);
  work_scheduled_.store(false, std::memory_order_release);
}

void IoMessagePump::ScheduleDelayedWork(MonotonicTime delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
}

bool IoMessagePump::RegisterIOHandler(HANDLE file, IoHandler* handler) {
  if (!port_.IsValid() || !handler) {
    LOG(ERROR) << "RegisterIOHandler without a completion port or a handler";
    return false;
  }
  HANDLE port = CreateIoCompletionPort(file, port_.Get(), reinterpret_cast<ULONG_PTR>(handler), 1);
  if (port != port_.Get()) {
    // A warning: some callers read the handle another way then (Wine's
    // mailslots take no completion port); those that cannot say so.
    PLOG(WARNING) << "Associating a handle with the I/O loop's completion port failed";
    return false;
  }
  return true;
}

bool IoMessagePump::PostIOCompletion(IoHandler* handler, IoCompletionContext* context,
                                     DWORD bytes_transferred) {
  if (!port_.IsValid() || !handler || !context) {
    LOG(ERROR) << "PostIOCompletion without a completion port, handler or context";
    return false;
  }
  if (!PostQueuedCompletionStatus(port_.Get(), bytes_transferred,
                                  reinterpret_cast<ULONG_PTR>(handler), &context->overlapped)) {
    PLOG(ERROR) << "PostQueuedCompletionStatus of an I/O completion failed";
    loop_diagnostics::RecordMessageLoopProblem(loop_diagnostics::kCompletionPortPostFailed);
    return false;
  }
  return true;
}

bool IoMessagePump::WaitForIOCompletion(TimeSpan timeout, IoHandler* filter) {
  for (auto it = kept_completions_.begin(); it != kept_completions_.end(); ++it) {
    if (!filter || it->handler == filter) {
      IoItem item = *it;
      kept_completions_.erase(it);
      item.handler->OnIOCompleted(item.context, item.bytes_transferred, item.error);
      return true;
    }
  }
  const MonotonicTime deadline =
      timeout.is_max() ? MonotonicTime() : MonotonicTime::Now() + timeout;
  for (;;) {
    DWORD timeout_ms = INFINITE;
    if (!deadline.is_null()) {
      int64_t ms = (deadline - MonotonicTime::Now()).InMillisecondsRoundedUp();
      timeout_ms = ms <= 0 ? 0 : static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
    }
    IoItem item;
    bool woken = false;
    if (!GetIoItem(timeout_ms, &item, &woken)) {
      if (woken)
        continue;  // A task was posted; the loop runs it after the caller returns.
      return false;
    }
    if (!filter || item.handler == filter) {
      item.handler->OnIOCompleted(item.context, item.bytes_transferred, item.error);
      return true;
    }
    kept_completions_.push_back(item);
  }
}

bool IoMessagePump::GetIoItem(DWORD timeout_ms, IoItem* item, bool* woken) {
  *woken = false;
  if (!port_.IsValid())
    return false;
  DWORD bytes = 0;
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  BOOL ok = GetQueuedCompletionStatus(port_.Get(), &bytes, &key, &overlapped, timeout_ms);
  DWORD error = ok ? 0 : GetLastError();
  if (!overlapped) {
    if (ok && key == reinterpret_cast<ULONG_PTR>(this)) {
      work_scheduled_.store(false, std::memory_order_release);
      *woken = true;
      return false;
    }
    if (!ok && error != WAIT_TIMEOUT)
      ELOG(ERROR, error) << "GetQueuedCompletionStatus failed";
    return false;
  }
  item->handler = reinterpret_cast<IoHandler*>(key);
  item->context = IoCompletionContext::FromOverlapped(overlapped);
  item->bytes_transferred = bytes;
  item->error = error;
  return true;
}

bool IoMessagePump::DispatchKeptCompletion() {
  if (kept_completions_.empty())
    return false;
  IoItem item = kept_completions_.front();
  kept_completions_.pop_front();
  item.handler->OnIOCompleted(item.context, item.bytes_transferred, item.error);
  return true;
}

void IoMessagePump::WaitForWork() {
  DWORD timeout_ms = INFINITE;
  if (!delayed_work_time_.is_null()) {
    int64_t ms = (delayed_work_time_ - MonotonicTime::Now()).InMillisecondsRoundedUp();
    if (ms <= 0)
      return;
    timeout_ms = static_cast<DWORD>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF);
  }
  IoItem item;
  bool woken = false;
  if (GetIoItem(timeout_ms, &item, &woken))
    item.handler->OnIOCompleted(item.context, item.bytes_transferred, item.error);
  else if (!woken && !port_.IsValid())
    Sleep(timeout_ms == INFINITE ? 10 : 1);  // No port: poll rather than spin.
}

}  // namespace base
