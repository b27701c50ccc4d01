#include "base/threading/waitable_event.h"

#include <algorithm>
#include <utility>

#include "base/activity_tracker.h"
#include "base/logging.h"

namespace base {

namespace {

// Longest single wait below INFINITE; longer finite waits are made in pieces.
constexpr int64_t kMaxWaitChunkMs = INFINITE - 1;

}  // namespace

WaitableEvent::WaitableEvent(ResetPolicy reset_policy, InitialState initial_state) {
  handle_.Reset(CreateEventW(nullptr, reset_policy == ResetPolicy::kManual,
                             initial_state == InitialState::kSignaled, nullptr));
  if (!handle_.IsValid())
    PLOG(ERROR) << "CreateEventW failed";
}

WaitableEvent::WaitableEvent(win::ScopedHandle handle) : handle_(std::move(handle)) {
  if (!handle_.IsValid())
    LOG(ERROR) << "WaitableEvent given no event handle";
}

WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::Reset() {
  if (!ResetEvent(handle_.Get()))
    PLOG(ERROR) << "ResetEvent failed";
}

void WaitableEvent::Signal() {
  if (!SetEvent(handle_.Get()))
    PLOG(ERROR) << "SetEvent failed";
}

bool WaitableEvent::IsSignaled() {
  const DWORD result = WaitForSingleObject(handle_.Get(), 0);
  if (result == WAIT_OBJECT_0)
    return true;
  if (result != WAIT_TIMEOUT)
    PLOG(ERROR) << "WaitForSingleObject failed";
  return false;
}

void WaitableEvent::Wait() {
  ScopedEventWaitActivity activity(__builtin_return_address(0), this);
  const DWORD result = WaitForSingleObject(handle_.Get(), INFINITE);
  if (result != WAIT_OBJECT_0)
    PLOG(ERROR) << "WaitForSingleObject failed: " << result;
}

bool WaitableEvent::TimedWait(TimeSpan timeout) {
  if (timeout.is_max()) {
    Wait();
    return IsValid();
  }
  ScopedEventWaitActivity activity(__builtin_return_address(0), this);
  const MonotonicTime deadline = MonotonicTime::Now() + timeout;
  int64_t remaining_ms = std::max<int64_t>(0, timeout.InMillisecondsRoundedUp());
  for (;;) {
    const DWORD chunk = static_cast<DWORD>(std::min(remaining_ms, kMaxWaitChunkMs));
    const DWORD result = WaitForSingleObject(handle_.Get(), chunk);
    if (result == WAIT_OBJECT_0)
      return true;
    if (result != WAIT_TIMEOUT) {
      PLOG(ERROR) << "WaitForSingleObject failed: " << result;
      return false;
    }
    // The system may wake a wait up to a tick early; go on until the
    // monotonic clock has really passed the deadline.
    remaining_ms = (deadline - MonotonicTime::Now()).InMillisecondsRoundedUp();
    if (remaining_ms <= 0)
      return false;
  }
}

// static
size_t WaitableEvent::WaitMany(WaitableEvent** events, size_t count) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS) {
    LOG(ERROR) << "WaitMany needs 1 to " << MAXIMUM_WAIT_OBJECTS << " events, got " << count;
    return count;
  }
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  for (size_t i = 0; i < count; ++i)
    handles[i] = events[i]->handle();
  ScopedEventWaitActivity activity(__builtin_return_address(0), events[0]);
  const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, INFINITE);
  if (result >= WAIT_OBJECT_0 + count) {
    PLOG(ERROR) << "WaitForMultipleObjects failed: " << result;
    return count;
  }
  return result - WAIT_OBJECT_0;
}

}  // namespace base
