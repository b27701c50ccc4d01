#include "base/time.h"

#include <gtest/gtest.h>

#include <limits>

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

FILETIME MakeFileTime(uint64_t value) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

uint64_t FileTimeValue(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

TEST(TimeSpanTest, CountAndUnitSaturate) {
  EXPECT_EQ(2500, TimeSpan(5, 500).InMicroseconds());
  EXPECT_EQ(3, TimeSpan(3, 1000).InMilliseconds());
  EXPECT_EQ(kMax, TimeSpan(kMax / 2, 1000).InMicroseconds());
  EXPECT_EQ(kMin, TimeSpan(kMin / 2, 1000).InMicroseconds());
  EXPECT_EQ(kMin, TimeSpan(kMax / 2, -1000).InMicroseconds());
  EXPECT_TRUE(TimeSpan::FromDays(kMax / 1000).is_max());
  EXPECT_TRUE(TimeSpan::FromHours(kMin / 1000).is_min());

  EXPECT_EQ(90 * TimeSpan::kMicrosecondsPerSecond,
            TimeSpan::FromMinutes(1).InMicroseconds() + TimeSpan::FromSeconds(30).InMicroseconds());
  EXPECT_EQ(TimeSpan::FromHours(48), TimeSpan::FromDays(2));
}

TEST(TimeSpanTest, ArithmeticSaturatesAtBothEnds) {
  const TimeSpan one = TimeSpan::FromMicroseconds(1);
  EXPECT_TRUE((TimeSpan::FromMicroseconds(kMax - 1) + one + one).is_max());
  EXPECT_TRUE((TimeSpan::FromMicroseconds(kMin + 1) - one - one).is_min());
  // The extremes are sticky.
  EXPECT_TRUE((TimeSpan::Max() - TimeSpan::FromDays(1000)).is_max());
  EXPECT_TRUE((TimeSpan::Min() + TimeSpan::FromDays(1000)).is_min());
  EXPECT_TRUE((-TimeSpan::Min()).is_max());
  EXPECT_TRUE((-TimeSpan::Max()).is_min());
  EXPECT_TRUE((TimeSpan::FromSeconds(1) * kMax).is_max());
  EXPECT_TRUE((TimeSpan::FromSeconds(-1) * kMax).is_min());
  EXPECT_TRUE((TimeSpan::Max() * -2).is_min());
  EXPECT_TRUE((TimeSpan::Max() * 0).is_zero());
  EXPECT_TRUE((TimeSpan::FromMicroseconds(0) - TimeSpan::Min()).is_max());
}

TEST(TimeSpanTest, Conversions) {
  const TimeSpan span = TimeSpan::FromMicroseconds(1500);
  EXPECT_EQ(1, span.InMilliseconds());
  EXPECT_EQ(2, span.InMillisecondsRoundedUp());
  EXPECT_EQ(1, TimeSpan::FromMilliseconds(1).InMillisecondsRoundedUp());
  EXPECT_EQ(0, TimeSpan().InMillisecondsRoundedUp());
  EXPECT_EQ(-1, TimeSpan::FromMicroseconds(-1500).InMillisecondsRoundedUp());
  EXPECT_EQ(-1, TimeSpan::FromMicroseconds(-1500).InMilliseconds());
  EXPECT_DOUBLE_EQ(0.0015, span.InSecondsF());
  EXPECT_EQ(kMax, TimeSpan::Max().InMilliseconds());
  EXPECT_EQ(kMax, TimeSpan::Max().InMillisecondsRoundedUp());
  EXPECT_EQ(kMin, TimeSpan::Min().InMilliseconds());
  EXPECT_EQ(std::numeric_limits<double>::infinity(), TimeSpan::Max().InSecondsF());
}

TEST(TimeTest, ArithmeticSaturatesAndMaxStaysLargest) {
  const Time max = Time::Max();
  EXPECT_TRUE((max + TimeSpan::FromDays(1)).is_max());
  EXPECT_TRUE((max - TimeSpan::FromDays(1)).is_max());
  EXPECT_TRUE((Time::Min() + TimeSpan::FromDays(1)).is_min());
  EXPECT_TRUE((Time::Min() - TimeSpan::FromDays(1)).is_min());

  const Time near_max = Time::FromInternalValue(kMax - 10);
  EXPECT_TRUE((near_max + TimeSpan::FromSeconds(1)).is_max());
  const Time near_min = Time::FromInternalValue(kMin + 10);
  EXPECT_TRUE((near_min - TimeSpan::FromSeconds(1)).is_min());
  EXPECT_TRUE((Time::Now() + TimeSpan::Max()).is_max());

  EXPECT_TRUE((max - Time::Now()).is_max());
  EXPECT_TRUE((near_min - near_max).is_min());
  const Time a = Time::FromInternalValue(5000);
  EXPECT_EQ(TimeSpan::FromMilliseconds(4), a - Time::FromInternalValue(1000));
  EXPECT_LT(a, a + TimeSpan::FromMicroseconds(1));
  EXPECT_TRUE(Time().is_null());
  EXPECT_FALSE(a.is_null());
}

TEST(TimeTest, FileTimeEdges) {
  EXPECT_TRUE(Time::FromFileTime(MakeFileTime(0)).is_null());
  EXPECT_TRUE(Time::FromFileTime(MakeFileTime(~uint64_t{0})).is_max());
  // One below all ones is an ordinary, finite time.
  EXPECT_FALSE(Time::FromFileTime(MakeFileTime(~uint64_t{0} - 1)).is_max());
  EXPECT_EQ(123456u, FileTimeValue(Time::FromFileTime(MakeFileTime(1234567)).ToFileTime()) / 10);

  EXPECT_EQ(0u, FileTimeValue(Time().ToFileTime()));
  EXPECT_EQ(~uint64_t{0}, FileTimeValue(Time::Max().ToFileTime()));
  EXPECT_EQ(0u, FileTimeValue(Time::Min().ToFileTime()));
  // Microseconds whose tenfold overflows 64 bits saturate.
  EXPECT_EQ(~uint64_t{0}, FileTimeValue(Time::FromInternalValue(kMax - 1).ToFileTime()));

  const uint64_t now = 133500000000000000ull;  // 2024
  EXPECT_EQ(now, FileTimeValue(Time::FromFileTime(MakeFileTime(now)).ToFileTime()));
}

TEST(TimeTest, UnixAndJavaTime) {
  EXPECT_EQ(0, Time::UnixEpoch().ToTimeT());
  EXPECT_EQ(0, Time::UnixEpoch().ToJavaTime());
  EXPECT_EQ(0, Time().ToJavaTime());
  EXPECT_EQ(kMax, Time::Max().ToJavaTime());
  EXPECT_TRUE(Time::FromJavaTime(kMax).is_max());
  EXPECT_TRUE(Time::FromJavaTime(0).is_null());

  const Time t = Time::UnixEpoch() + TimeSpan::FromMilliseconds(1700000000123);
  EXPECT_EQ(1700000000, t.ToTimeT());
  EXPECT_EQ(1700000000123, t.ToJavaTime());
  EXPECT_EQ(t, Time::FromJavaTime(1700000000123));
  EXPECT_EQ(Time::UnixEpoch() + TimeSpan::FromSeconds(1700000000), Time::FromTimeT(1700000000));
  // Before 1970 the conversions floor.
  EXPECT_EQ(-1, (Time::UnixEpoch() - TimeSpan::FromMicroseconds(1)).ToJavaTime());
  EXPECT_EQ(-1, (Time::UnixEpoch() - TimeSpan::FromMicroseconds(1)).ToTimeT());
  EXPECT_EQ(std::numeric_limits<time_t>::max(), Time::Max().ToTimeT());
}

TEST(TimeTest, ExplodeRoundTripUtc) {
  // 2024-02-29 23:59:58.765 UTC, a Thursday.
  Time::Exploded in;
  in.year = 2024;
  in.month = 2;
  in.day_of_week = 4;
  in.day_of_month = 29;
  in.hour = 23;
  in.minute = 59;
  in.second = 58;
  in.millisecond = 765;
  Time t;
  ASSERT_TRUE(Time::FromExploded(false, in, &t));
  EXPECT_EQ(1709251198765, t.ToJavaTime());

  Time::Exploded out;
  ASSERT_TRUE(t.Explode(false, &out));
  EXPECT_EQ(in.year, out.year);
  EXPECT_EQ(in.month, out.month);
  EXPECT_EQ(in.day_of_week, out.day_of_week);
  EXPECT_EQ(in.day_of_month, out.day_of_month);
  EXPECT_EQ(in.hour, out.hour);
  EXPECT_EQ(in.minute, out.minute);
  EXPECT_EQ(in.second, out.second);
  EXPECT_EQ(in.millisecond, out.millisecond);

  // Local time survives its own round trip too.
  ASSERT_TRUE(t.Explode(true, &out));
  Time back;
  ASSERT_TRUE(Time::FromExploded(true, out, &back));
  EXPECT_EQ(t, back);

  Time::Exploded epoch;
  ASSERT_TRUE(Time::UnixEpoch().Explode(false, &epoch));
  EXPECT_EQ(1970, epoch.year);
  EXPECT_EQ(1, epoch.month);
  EXPECT_EQ(1, epoch.day_of_month);
  EXPECT_EQ(4, epoch.day_of_week);
}

TEST(TimeTest, ExplodeRejectsWhatTheSystemCannotConvert) {
  Time::Exploded out;
  EXPECT_FALSE(Time::Min().Explode(false, &out));
  EXPECT_EQ(0, out.year);
  EXPECT_FALSE(Time::Max().Explode(false, &out));

  Time::Exploded bad;
  bad.year = 2023;
  bad.month = 2;
  bad.day_of_month = 30;  // in range, but no such day
  Time t = Time::UnixEpoch();
  EXPECT_FALSE(Time::FromExploded(false, bad, &t));
  EXPECT_TRUE(t.is_null());
  bad.month = 13;
  EXPECT_FALSE(Time::FromExploded(false, bad, &t));
}

TEST(TimeTest, NowAgreesWithSystemTimeAndMonotonicClockAdvances) {
  // Each reading is bracketed by readings of the other clock, so that no
  // pause between them (a loaded machine may make one of seconds) counts.
  const Time system_before = Time::NowFromSystemTime();
  const Time now = Time::Now();
  const Time system_after = Time::NowFromSystemTime();
  EXPECT_GT((now - system_before).InMicroseconds(), -TimeSpan::FromSeconds(2).InMicroseconds());
  EXPECT_LT((now - system_after).InMicroseconds(), TimeSpan::FromSeconds(2).InMicroseconds());
  EXPECT_GT(now.ToTimeT(), 1600000000);  // after 2020

  const ULONGLONG ticks_before = GetTickCount64();
  const MonotonicTime start = MonotonicTime::Now();
  Sleep(20);
  const TimeSpan slept = MonotonicTime::Now() - start;
  const ULONGLONG ticks = GetTickCount64() - ticks_before;
  EXPECT_GE(slept.InMilliseconds(), 15);
  // Milliseconds, as the tick count has them (which moves in steps of up
  // to 16 ms).
  EXPECT_LE(slept.InMilliseconds(), static_cast<int64_t>(ticks) + 32);
}

TEST(ThreadCpuTimeTest, SupportFollowsCalibration) {
  const int64_t tps = ThreadCpuTime::TscTicksPerSecond();
  EXPECT_GE(tps, 0);
  if (tps > 0) {
    // Any real counter runs between 100 MHz and 10 GHz.
    EXPECT_GT(tps, 100'000'000);
    EXPECT_LT(tps, 10'000'000'000);
  }
  if (!ThreadCpuTime::IsSupported()) {
    EXPECT_TRUE(ThreadCpuTime::Now().is_null());
    return;
  }
  const ThreadCpuTime start = ThreadCpuTime::Now();
  volatile uint64_t sink = 0;
  for (int i = 0; i < 20'000'000; ++i)
    sink = sink + i;
  EXPECT_GT((ThreadCpuTime::Now() - start).InMicroseconds(), 0);
}

}  // namespace
}  // namespace base
