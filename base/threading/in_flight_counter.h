// InFlightCounter: counts work handed to other threads (posted tasks that
// still run) and lets the owner wait, with a bound, until none is left, for
// instance before the process lets go of what that work uses.
//
//   counter.Add();                       // before posting the work
//   ... the work, on any thread, ends with counter.Remove();
//   counter.WaitForIdle(TimeSpan::FromSeconds(2));
#ifndef BASE_THREADING_IN_FLIGHT_COUNTER_H_
#define BASE_THREADING_IN_FLIGHT_COUNTER_H_

#include "base/threading/lock.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"

namespace base {

class InFlightCounter {
 public:
  InFlightCounter();
  InFlightCounter(const InFlightCounter&) = delete;
  InFlightCounter& operator=(const InFlightCounter&) = delete;
  ~InFlightCounter();

  void Add();
  // Each Add is matched by one Remove.
  void Remove();
  int count();
  // Whether nothing was in flight by the end of |bound|.
  bool WaitForIdle(TimeSpan bound);

 private:
  Lock lock_;
  int count_ = 0;
  // Signalled while nothing is in flight.
  WaitableEvent idle_;
};

}  // namespace base

#endif  // BASE_THREADING_IN_FLIGHT_COUNTER_H_
