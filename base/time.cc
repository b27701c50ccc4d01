#include "base/time.h"

#include <intrin.h>

#include <atomic>

#include "base/logging.h"

namespace base {

namespace {

using time_internal::kInt64Max;

constexpr int64_t kMicrosecondsPerSecond = TimeSpan::kMicrosecondsPerSecond;

uint64_t FileTimeToUint64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME Uint64ToFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

// Floor division, so that times before an epoch round towards the past.
int64_t FloorDiv(int64_t value, int64_t divisor) {
  int64_t q = value / divisor;
  if ((value % divisor != 0) && ((value < 0) != (divisor < 0)))
    --q;
  return q;
}

// ticks * 1e6 / frequency without overflowing for any realistic counter.
int64_t TicksToMicroseconds(int64_t ticks, int64_t frequency) {
  const int64_t whole_seconds = ticks / frequency;
  const int64_t remainder = ticks % frequency;
  return time_internal::SaturatedAdd(
      time_internal::SaturatedMul(whole_seconds, kMicrosecondsPerSecond),
      remainder * kMicrosecondsPerSecond / frequency);
}

int64_t QpcFrequency() {
  // QueryPerformanceFrequency is fixed at boot and never fails on XP and
  // later; a failing call would leave 0, which Now() guards against.
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f) || f.QuadPart <= 0) {
      PLOG(ERROR) << "QueryPerformanceFrequency failed";
      return int64_t{0};
    }
    return static_cast<int64_t>(f.QuadPart);
  }();
  return frequency;
}

}  // namespace

// TimeSpan -------------------------------------------------------------------

int64_t TimeSpan::InMillisecondsRoundedUp() const {
  if (time_internal::IsInfinite(us_))
    return us_;
  int64_t ms = us_ / kMicrosecondsPerMillisecond;
  if (us_ > 0 && us_ % kMicrosecondsPerMillisecond != 0)
    ++ms;
  return ms;
}

double TimeSpan::InSecondsF() const {
  if (is_max())
    return std::numeric_limits<double>::infinity();
  if (is_min())
    return -std::numeric_limits<double>::infinity();
  return static_cast<double>(us_) / kMicrosecondsPerSecond;
}

double TimeSpan::InMillisecondsF() const {
  if (is_max())
    return std::numeric_limits<double>::infinity();
  if (is_min())
    return -std::numeric_limits<double>::infinity();
  return static_cast<double>(us_) / kMicrosecondsPerMillisecond;
}

// Time -------------------------------------------------------------------------

bool Time::Exploded::HasValidValues() const {
  return year >= 1601 && year <= 30827 && month >= 1 && month <= 12 && day_of_week >= 0 &&
         day_of_week <= 6 && day_of_month >= 1 && day_of_month <= 31 && hour >= 0 && hour <= 23 &&
         minute >= 0 && minute <= 59 && second >= 0 && second <= 60 && millisecond >= 0 &&
         millisecond <= 999;
}

// static
Time Time::Now() {
  // GetSystemTimePreciseAsFileTime would be finer, but it does not exist
  // before Windows 8 and a static import of it would keep the program from
  // loading on Windows 7.
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return FromFileTime(ft);
}

// static
Time Time::NowFromSystemTime() {
  SYSTEMTIME st;
  GetSystemTime(&st);
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) {
    PLOG(ERROR) << "SystemTimeToFileTime failed for the current time";
    return Now();
  }
  return FromFileTime(ft);
}

time_t Time::ToTimeT() const {
  if (is_null())
    return 0;
  if (is_max())
    return std::numeric_limits<time_t>::max();
  if (is_min())
    return std::numeric_limits<time_t>::min();
  const int64_t since_epoch = time_internal::SaturatedSub(us_, kTimeTToMicrosecondsOffset);
  return static_cast<time_t>(FloorDiv(since_epoch, kMicrosecondsPerSecond));
}

// static
Time Time::FromTimeT(time_t t) {
  if (t == std::numeric_limits<time_t>::max())
    return Max();
  return UnixEpoch() + TimeSpan::FromSeconds(t);
}

int64_t Time::ToJavaTime() const {
  if (is_null())
    return 0;
  if (time_internal::IsInfinite(us_))
    return us_;
  const int64_t since_epoch = time_internal::SaturatedSub(us_, kTimeTToMicrosecondsOffset);
  return FloorDiv(since_epoch, TimeSpan::kMicrosecondsPerMillisecond);
}

// static
Time Time::FromJavaTime(int64_t ms) {
  if (ms == 0)
    return Time();
  if (ms == kInt64Max)
    return Max();
  return UnixEpoch() + TimeSpan::FromMilliseconds(ms);
}

// static
Time Time::FromFileTime(FILETIME ft) {
  const uint64_t value = FileTimeToUint64(ft);
  if (value == 0)
    return Time();
  if (value == ~uint64_t{0})
    return Max();
  // Every other value divided by ten fits an int64.
  return Time(static_cast<int64_t>(value / 10));
}

FILETIME Time::ToFileTime() const {
  if (is_null() || us_ < 0)
    return Uint64ToFileTime(0);
  if (is_max())
    return Uint64ToFileTime(~uint64_t{0});
  const uint64_t us = static_cast<uint64_t>(us_);
  if (us > (~uint64_t{0} - 1) / 10)
    return Uint64ToFileTime(~uint64_t{0});
  return Uint64ToFileTime(us * 10);
}

bool Time::Explode(bool is_local, Exploded* exploded) const {
  *exploded = Exploded();
  if (us_ < 0) {
    LOG(ERROR) << "Cannot explode a time before 1601: " << us_;
    return false;
  }
  // FILETIME conversions take signed 64-bit hundreds of nanoseconds.
  if (us_ > kInt64Max / 10) {
    LOG(ERROR) << "Cannot explode a time this far in the future: " << us_;
    return false;
  }
  const FILETIME utc = Uint64ToFileTime(static_cast<uint64_t>(us_) * 10);
  SYSTEMTIME st;
  if (is_local) {
    SYSTEMTIME utc_st;
    if (!FileTimeToSystemTime(&utc, &utc_st)) {
      PLOG(ERROR) << "FileTimeToSystemTime failed for " << us_;
      return false;
    }
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc_st, &st)) {
      PLOG(ERROR) << "SystemTimeToTzSpecificLocalTime failed for " << us_;
      return false;
    }
  } else if (!FileTimeToSystemTime(&utc, &st)) {
    PLOG(ERROR) << "FileTimeToSystemTime failed for " << us_;
    return false;
  }
  exploded->year = st.wYear;
  exploded->month = st.wMonth;
  exploded->day_of_week = st.wDayOfWeek;
  exploded->day_of_month = st.wDay;
  exploded->hour = st.wHour;
  exploded->minute = st.wMinute;
  exploded->second = st.wSecond;
  exploded->millisecond = st.wMilliseconds;
  return true;
}

// static
bool Time::FromExploded(bool is_local, const Exploded& exploded, Time* time) {
  *time = Time();
  if (!exploded.HasValidValues()) {
    LOG(ERROR) << "Exploded time out of range: " << exploded.year << "-" << exploded.month << "-"
               << exploded.day_of_month << " " << exploded.hour << ":" << exploded.minute << ":"
               << exploded.second << "." << exploded.millisecond;
    return false;
  }
  SYSTEMTIME st = {};
  st.wYear = static_cast<WORD>(exploded.year);
  st.wMonth = static_cast<WORD>(exploded.month);
  st.wDayOfWeek = static_cast<WORD>(exploded.day_of_week);
  st.wDay = static_cast<WORD>(exploded.day_of_month);
  st.wHour = static_cast<WORD>(exploded.hour);
  st.wMinute = static_cast<WORD>(exploded.minute);
  st.wSecond = static_cast<WORD>(exploded.second);
  st.wMilliseconds = static_cast<WORD>(exploded.millisecond);
  if (is_local) {
    SYSTEMTIME utc_st;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc_st)) {
      PLOG(ERROR) << "TzSpecificLocalTimeToSystemTime failed";
      return false;
    }
    st = utc_st;
  }
  FILETIME ft;
  if (!SystemTimeToFileTime(&st, &ft)) {
    PLOG(ERROR) << "SystemTimeToFileTime failed for " << exploded.year << "-" << exploded.month
                << "-" << exploded.day_of_month;
    return false;
  }
  *time = FromFileTime(ft);
  return true;
}

// MonotonicTime --------------------------------------------------------------

// static
MonotonicTime MonotonicTime::Now() {
  const int64_t frequency = QpcFrequency();
  LARGE_INTEGER counter;
  if (frequency == 0 || !QueryPerformanceCounter(&counter)) {
    // Cannot happen on any supported system; GetTickCount64 keeps the clock
    // monotonic (at millisecond resolution) should it ever.
    return MonotonicTime(time_internal::SaturatedMul(static_cast<int64_t>(GetTickCount64()),
                                                     TimeSpan::kMicrosecondsPerMillisecond));
  }
  return MonotonicTime(TicksToMicroseconds(counter.QuadPart, frequency));
}

// ThreadCpuTime ----------------------------------------------------------------

namespace {

bool HasInvariantTsc() {
  int regs[4] = {};
  __cpuid(regs, 0x80000000);
  if (static_cast<unsigned>(regs[0]) < 0x80000007u)
    return false;
  __cpuid(regs, 0x80000007);
  return (regs[3] & (1 << 8)) != 0;
}

// Counts time-stamp-counter ticks across at least 50 ms of the performance
// counter. Sleeping in between keeps the calibration cheap; the invariant
// counter runs at a constant rate whether the thread runs or not.
int64_t CalibrateTsc() {
  const int64_t qpc_frequency = QpcFrequency();
  if (qpc_frequency == 0) {
    LOG(ERROR) << "Cannot calibrate the time-stamp counter: no performance counter";
    return 0;
  }
  LARGE_INTEGER qpc_start, qpc_now;
  if (!QueryPerformanceCounter(&qpc_start)) {
    PLOG(ERROR) << "QueryPerformanceCounter failed";
    return 0;
  }
  const uint64_t tsc_start = __rdtsc();
  const int64_t min_ticks = qpc_frequency / 20;  // 50 ms
  do {
    Sleep(10);
    if (!QueryPerformanceCounter(&qpc_now)) {
      PLOG(ERROR) << "QueryPerformanceCounter failed";
      return 0;
    }
  } while (qpc_now.QuadPart - qpc_start.QuadPart < min_ticks);
  const uint64_t tsc_end = __rdtsc();
  const int64_t qpc_elapsed = qpc_now.QuadPart - qpc_start.QuadPart;
  if (tsc_end <= tsc_start || qpc_elapsed <= 0) {
    LOG(ERROR) << "The time-stamp counter did not advance during calibration";
    return 0;
  }
  const double ticks_per_second = static_cast<double>(tsc_end - tsc_start) *
                                  static_cast<double>(qpc_frequency) /
                                  static_cast<double>(qpc_elapsed);
  return static_cast<int64_t>(ticks_per_second);
}

// Probed once: Wine, for one, does not implement QueryThreadCycleTime.
bool ThreadCycleTimeWorks() {
  static const bool works = [] {
    ULONG64 cycles = 0;
    if (!QueryThreadCycleTime(GetCurrentThread(), &cycles)) {
      PLOG(ERROR) << "QueryThreadCycleTime failed; thread CPU time is not measurable";
      return false;
    }
    return true;
  }();
  return works;
}

}  // namespace

// static
bool ThreadCpuTime::IsSupported() { return TscTicksPerSecond() > 0 && ThreadCycleTimeWorks(); }

// static
int64_t ThreadCpuTime::TscTicksPerSecond() {
  // -1: not calibrated yet. Concurrent first callers may both calibrate; they
  // store comparable results.
  static std::atomic<int64_t> ticks_per_second{-1};
  int64_t value = ticks_per_second.load(std::memory_order_acquire);
  if (value >= 0)
    return value;
  if (!HasInvariantTsc()) {
    LOG(ERROR) << "No invariant time-stamp counter; thread CPU time is not measurable";
    value = 0;
  } else {
    value = CalibrateTsc();
  }
  ticks_per_second.store(value, std::memory_order_release);
  return value;
}

// static
ThreadCpuTime ThreadCpuTime::Now() {
  if (!IsSupported())
    return ThreadCpuTime();
  ULONG64 cycles = 0;
  if (!QueryThreadCycleTime(GetCurrentThread(), &cycles)) {
    PLOG(ERROR) << "QueryThreadCycleTime failed";
    return ThreadCpuTime();
  }
  const int64_t signed_cycles =
      cycles > static_cast<ULONG64>(kInt64Max) ? kInt64Max : static_cast<int64_t>(cycles);
  return ThreadCpuTime(TicksToMicroseconds(signed_cycles, TscTicksPerSecond()));
}

}  // namespace base
