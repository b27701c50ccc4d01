#include "base/threading/in_flight_counter.h"

#include "base/logging.h"

namespace base {

InFlightCounter::InFlightCounter()
    : idle_(WaitableEvent::ResetPolicy::kManual, WaitableEvent::InitialState::kSignaled) {}

InFlightCounter::~InFlightCounter() = default;

void InFlightCounter::Add() {
  AutoLock lock(lock_);
  if (count_++ == 0)
    idle_.Reset();
}

void InFlightCounter::Remove() {
  AutoLock lock(lock_);
  CHECK(count_ > 0) << "More work ended than was counted";
  if (--count_ == 0)
    idle_.Signal();
}

int InFlightCounter::count() {
  AutoLock lock(lock_);
  return count_;
}

bool InFlightCounter::WaitForIdle(TimeSpan bound) { return idle_.TimedWait(bound); }

}  // namespace base
