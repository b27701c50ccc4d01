// Wall-clock time, durations, the monotonic clock and per-thread CPU time.
//
// Every value is a signed 64-bit count of microseconds. Arithmetic never
// overflows: results clamp to the int64 range, and the extremes behave as
// infinities (the largest time stays the largest whatever finite span is
// added or subtracted; likewise the smallest).
#ifndef BASE_TIME_H_
#define BASE_TIME_H_

#include <windows.h>

#include <compare>
#include <cstdint>
#include <ctime>
#include <limits>

namespace base {

namespace time_internal {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

constexpr bool IsInfinite(int64_t v) { return v == kInt64Max || v == kInt64Min; }

// a + b clamped to the int64 range; an infinite operand wins (when both are
// infinite with opposite signs the first one wins).
constexpr int64_t SaturatedAdd(int64_t a, int64_t b) {
  if (IsInfinite(a))
    return a;
  if (IsInfinite(b))
    return b;
  int64_t result = 0;
  if (__builtin_add_overflow(a, b, &result))
    return b > 0 ? kInt64Max : kInt64Min;
  return result;
}

// a - b with the same rules; subtracting an infinity gives the opposite one.
constexpr int64_t SaturatedSub(int64_t a, int64_t b) {
  if (IsInfinite(a))
    return a;
  if (b == kInt64Max)
    return kInt64Min;
  if (b == kInt64Min)
    return kInt64Max;
  int64_t result = 0;
  if (__builtin_sub_overflow(a, b, &result))
    return b < 0 ? kInt64Max : kInt64Min;
  return result;
}

constexpr int64_t SaturatedMul(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_mul_overflow(a, b, &result))
    return ((a < 0) != (b < 0)) ? kInt64Min : kInt64Max;
  return result;
}

}  // namespace time_internal

// A signed duration in microseconds.
class TimeSpan {
 public:
  static constexpr int64_t kMicrosecondsPerMillisecond = 1000;
  static constexpr int64_t kMicrosecondsPerSecond = 1000 * kMicrosecondsPerMillisecond;
  static constexpr int64_t kMicrosecondsPerMinute = 60 * kMicrosecondsPerSecond;
  static constexpr int64_t kMicrosecondsPerHour = 60 * kMicrosecondsPerMinute;
  static constexpr int64_t kMicrosecondsPerDay = 24 * kMicrosecondsPerHour;

  constexpr TimeSpan() = default;
  // |count| units of |unit_in_microseconds| each (1000 for milliseconds),
  // clamped to the int64 range on overflow.
  constexpr TimeSpan(int64_t count, int64_t unit_in_microseconds)
      : us_(time_internal::SaturatedMul(count, unit_in_microseconds)) {}

  static constexpr TimeSpan FromMicroseconds(int64_t us) { return TimeSpan(us, 1); }
  static constexpr TimeSpan FromMilliseconds(int64_t ms) {
    return TimeSpan(ms, kMicrosecondsPerMillisecond);
  }
  static constexpr TimeSpan FromSeconds(int64_t s) { return TimeSpan(s, kMicrosecondsPerSecond); }
  static constexpr TimeSpan FromMinutes(int64_t m) { return TimeSpan(m, kMicrosecondsPerMinute); }
  static constexpr TimeSpan FromHours(int64_t h) { return TimeSpan(h, kMicrosecondsPerHour); }
  static constexpr TimeSpan FromDays(int64_t d) { return TimeSpan(d, kMicrosecondsPerDay); }
  static constexpr TimeSpan Max() { return FromMicroseconds(time_internal::kInt64Max); }
  static constexpr TimeSpan Min() { return FromMicroseconds(time_internal::kInt64Min); }

  constexpr bool is_zero() const { return us_ == 0; }
  constexpr bool is_max() const { return us_ == time_internal::kInt64Max; }
  constexpr bool is_min() const { return us_ == time_internal::kInt64Min; }

  constexpr int64_t InMicroseconds() const { return us_; }
  // Truncated towards zero; the infinities stay the int64 extremes.
  constexpr int64_t InMilliseconds() const {
    return time_internal::IsInfinite(us_) ? us_ : us_ / kMicrosecondsPerMillisecond;
  }
  // Rounded towards positive infinity, so that a wait of this many
  // milliseconds is never shorter than the span.
  int64_t InMillisecondsRoundedUp() const;
  int64_t InSeconds() const {
    return time_internal::IsInfinite(us_) ? us_ : us_ / kMicrosecondsPerSecond;
  }
  double InSecondsF() const;
  double InMillisecondsF() const;

  constexpr TimeSpan operator+(TimeSpan other) const {
    return FromMicroseconds(time_internal::SaturatedAdd(us_, other.us_));
  }
  constexpr TimeSpan operator-(TimeSpan other) const {
    return FromMicroseconds(time_internal::SaturatedSub(us_, other.us_));
  }
  constexpr TimeSpan operator-() const {
    return FromMicroseconds(time_internal::SaturatedSub(0, us_));
  }
  constexpr TimeSpan operator*(int64_t factor) const {
    if (time_internal::IsInfinite(us_))
      return factor > 0 ? *this : (factor < 0 ? -*this : TimeSpan());
    return TimeSpan(us_, factor);
  }
  TimeSpan& operator+=(TimeSpan other) { return *this = *this + other; }
  TimeSpan& operator-=(TimeSpan other) { return *this = *this - other; }

  constexpr auto operator<=>(const TimeSpan&) const = default;

 private:
  int64_t us_ = 0;
};

// A point of wall-clock time: microseconds since 1601-01-01 00:00 UTC (the
// FILETIME epoch). The zero value is the "null" time, meaning no time.
class Time {
 public:
  // Microseconds from 1601-01-01 to 1970-01-01.
  static constexpr int64_t kTimeTToMicrosecondsOffset = INT64_C(11644473600000000);

  // A calendar breakdown. month is 1-12, day_of_week 0 (Sunday) to 6,
  // day_of_month 1-31.
  struct Exploded {
    int year = 0;
    int month = 0;
    int day_of_week = 0;
    int day_of_month = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    // Ranges only; does not check the day against the month's length.
    bool HasValidValues() const;
  };

  constexpr Time() = default;

  static Time Now();
  // The same clock read through the calendar form (millisecond resolution).
  static Time NowFromSystemTime();
  static constexpr Time Max() { return Time(time_internal::kInt64Max); }
  static constexpr Time Min() { return Time(time_internal::kInt64Min); }
  static constexpr Time UnixEpoch() { return Time(kTimeTToMicrosecondsOffset); }
  static constexpr Time FromInternalValue(int64_t us) { return Time(us); }

  // Seconds since 1970-01-01 UTC. The null time gives 0 and the largest time
  // the largest time_t; FromTimeT of the largest time_t gives Max().
  time_t ToTimeT() const;
  static Time FromTimeT(time_t t);
  // Milliseconds since 1970-01-01 UTC (floored). The null time gives 0 and
  // the largest time the largest int64; FromJavaTime maps them back.
  int64_t ToJavaTime() const;
  static Time FromJavaTime(int64_t ms);
  // 100-nanosecond units since 1601. A zero FILETIME is the null time and an
  // all-ones FILETIME the largest time, both ways; times before 1601 give 0.
  static Time FromFileTime(FILETIME ft);
  FILETIME ToFileTime() const;

  // Breaks the time down in UTC or, with |is_local|, in the local time zone.
  // False (and a zeroed |exploded|) when the time is outside what the system
  // can convert.
  bool Explode(bool is_local, Exploded* exploded) const;
  // The inverse of Explode (milliseconds precision). False and the null time
  // when |exploded| does not name a valid date.
  static bool FromExploded(bool is_local, const Exploded& exploded, Time* time);

  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const { return us_ == time_internal::kInt64Max; }
  constexpr bool is_min() const { return us_ == time_internal::kInt64Min; }
  constexpr int64_t ToInternalValue() const { return us_; }

  constexpr Time operator+(TimeSpan span) const {
    return Time(time_internal::SaturatedAdd(us_, span.InMicroseconds()));
  }
  constexpr Time operator-(TimeSpan span) const {
    return Time(time_internal::SaturatedSub(us_, span.InMicroseconds()));
  }
  constexpr TimeSpan operator-(Time other) const {
    return TimeSpan::FromMicroseconds(time_internal::SaturatedSub(us_, other.us_));
  }
  Time& operator+=(TimeSpan span) { return *this = *this + span; }
  Time& operator-=(TimeSpan span) { return *this = *this - span; }

  constexpr auto operator<=>(const Time&) const = default;

 private:
  constexpr explicit Time(int64_t us) : us_(us) {}

  int64_t us_ = 0;
};

// The monotonic clock (QueryPerformanceCounter) in microseconds. Its origin
// is arbitrary but shared by every thread of the process; it never goes back.
class MonotonicTime {
 public:
  constexpr MonotonicTime() = default;

  static MonotonicTime Now();
  static constexpr MonotonicTime FromInternalValue(int64_t us) { return MonotonicTime(us); }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr int64_t ToInternalValue() const { return us_; }

  constexpr MonotonicTime operator+(TimeSpan span) const {
    return MonotonicTime(time_internal::SaturatedAdd(us_, span.InMicroseconds()));
  }
  constexpr MonotonicTime operator-(TimeSpan span) const {
    return MonotonicTime(time_internal::SaturatedSub(us_, span.InMicroseconds()));
  }
  constexpr TimeSpan operator-(MonotonicTime other) const {
    return TimeSpan::FromMicroseconds(time_internal::SaturatedSub(us_, other.us_));
  }
  MonotonicTime& operator+=(TimeSpan span) { return *this = *this + span; }

  constexpr auto operator<=>(const MonotonicTime&) const = default;

 private:
  constexpr explicit MonotonicTime(int64_t us) : us_(us) {}

  int64_t us_ = 0;
};

// CPU time consumed by the calling thread, from its cycle count
// (QueryThreadCycleTime) converted through the calibrated time-stamp-counter
// rate. Measurable only with an invariant time-stamp counter and a working
// QueryThreadCycleTime; otherwise Now() gives the null value.
class ThreadCpuTime {
 public:
  constexpr ThreadCpuTime() = default;

  static bool IsSupported();
  // The time-stamp counter's ticks per second, calibrated once against
  // QueryPerformanceCounter; 0 when there is no invariant counter or the
  // calibration fails.
  static int64_t TscTicksPerSecond();
  static ThreadCpuTime Now();
  static constexpr ThreadCpuTime FromInternalValue(int64_t us) { return ThreadCpuTime(us); }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr int64_t ToInternalValue() const { return us_; }

  constexpr TimeSpan operator-(ThreadCpuTime other) const {
    return TimeSpan::FromMicroseconds(time_internal::SaturatedSub(us_, other.us_));
  }
  constexpr auto operator<=>(const ThreadCpuTime&) const = default;

 private:
  constexpr explicit ThreadCpuTime(int64_t us) : us_(us) {}

  int64_t us_ = 0;
};

}  // namespace base

#endif  // BASE_TIME_H_
