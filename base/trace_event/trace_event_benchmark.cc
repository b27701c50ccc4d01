// The cost of trace sites, measured in one run against references:
//   - a site whose category is off, against an empty call that is not
//     inlined (goal: at most 1.5 times);
//   - a complete event that is recorded (begin and end), against two reads
//     of the monotonic clock (goal: at most 3 times).
// Prints the times and ratios; exits with 1 when a goal is missed.
//
//   trace_event_benchmark.exe [iterations]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/time.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"
#include "base/trace_event/trace_site.h"

namespace {

using base::MonotonicTime;

int g_sink = 0;

__attribute__((noinline)) void EmptyCall() { asm volatile("" ::: "memory"); }

__attribute__((noinline)) void DisabledSite() {
  TRACE_EVENT_SCOPE("velmo.benchmark.off", "DisabledSite");
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void EnabledSite() {
  TRACE_EVENT_SCOPE("velmo.benchmark.on", "EnabledSite");
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void TwoClockReads() {
  g_sink += static_cast<int>(MonotonicTime::Now().ToInternalValue() & 1);
  g_sink += static_cast<int>(MonotonicTime::Now().ToInternalValue() & 1);
}

// Nanoseconds per call of |function| over one round.
double TimeRound(void (*function)(), int64_t iterations) {
  const MonotonicTime start = MonotonicTime::Now();
  for (int64_t i = 0; i < iterations; ++i)
    function();
  return static_cast<double>((MonotonicTime::Now() - start).InMicroseconds()) * 1000.0 /
         static_cast<double>(iterations);
}

// The best of seven rounds of each of |subject| and |reference|, taken in
// turns so that a busy moment of the machine weighs on both alike.
void CompareFunctions(void (*subject)(), void (*reference)(), int64_t iterations,
                      double* subject_ns, double* reference_ns) {
  *subject_ns = 1e300;
  *reference_ns = 1e300;
  for (int round = 0; round < 7; ++round) {
    *reference_ns = std::min(*reference_ns, TimeRound(reference, iterations));
    *subject_ns = std::min(*subject_ns, TimeRound(subject, iterations));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t iterations = argc > 1 ? std::atoll(argv[1]) : 2000000;
  if (iterations <= 0) {
    std::fprintf(stderr, "usage: trace_event_benchmark.exe [iterations > 0]\n");
    return 2;
  }
  base::trace_event::TraceLog* log = base::trace_event::TraceLog::GetInstance();
  // Resolve both sites once before timing.
  DisabledSite();
  EnabledSite();

  double empty = 0, disabled = 0;
  CompareFunctions(&DisabledSite, &EmptyCall, iterations, &disabled, &empty);

  // A ring buffer never fills, so every timed event is recorded.
  log->SetEnabled(base::trace_event::TraceConfig("velmo.benchmark.on"),
                  base::trace_event::TraceLog::kRecordContinuously);
  double clocks = 0, enabled = 0;
  CompareFunctions(&EnabledSite, &TwoClockReads, iterations / 10, &enabled, &clocks);
  log->SetDisabled();

  const double disabled_ratio = disabled / empty;
  const double enabled_ratio = enabled / clocks;
  std::printf("empty call            %8.2f ns\n", empty);
  std::printf("disabled site         %8.2f ns  (%.2f x empty call, goal <= 1.5)\n", disabled,
              disabled_ratio);
  std::printf("two clock reads       %8.2f ns\n", clocks);
  std::printf("enabled complete event %7.2f ns  (%.2f x two clock reads, goal <= 3)\n", enabled,
              enabled_ratio);
  return disabled_ratio <= 1.5 && enabled_ratio <= 3.0 ? 0 : 1;
}
