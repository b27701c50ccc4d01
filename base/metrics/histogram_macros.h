// Recording a sample at a call site:
//
//   HISTOGRAM_LINEAR("Base.MessageLoopProblem", 2, 4, 5);
//   HISTOGRAM_COUNTS("Some.Count", n, 1000);
//   HISTOGRAM_EXPONENTIAL("Settings.JsonDataReadSizeKilobytes.x", kib, 1, 10000, 50);
//   HISTOGRAM_TIMES("SequencedWorkerPool.ShutdownDelayTime", waited);
//   HISTOGRAM_SPARSE("PlatformFile.UnknownErrors.Windows", error);
//
// Each call site keeps its histogram in a static pointer filled on its first
// sample, without a lock: two threads recording a first sample at once may
// each build a histogram, and the last store wins. The name (and range) must
// therefore be the same on every pass through a site; a site whose name
// varies keeps a histogram of its own instead of using these macros.
// Recording after the first sample takes no lock and allocates nothing.
#ifndef BASE_METRICS_HISTOGRAM_MACROS_H_
#define BASE_METRICS_HISTOGRAM_MACROS_H_

#include <atomic>
#include <cstdint>

#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/sparse_histogram.h"
#include "base/time.h"

namespace base::internal {

// A time span as a sample of whole milliseconds, saturated to 32 bits.
inline HistogramSample TimeSpanToHistogramSample(TimeSpan span) {
  const int64_t ms = span.InMilliseconds();
  if (ms > INT32_MAX)
    return INT32_MAX;
  if (ms < INT32_MIN)
    return INT32_MIN;
  return static_cast<HistogramSample>(ms);
}

}  // namespace base::internal

// |factory_call| builds the site's histogram on its first sample; |sample| is
// recorded on every pass (nothing when the histogram could not be built).
#define VELMO_HISTOGRAM_SITE(factory_call, sample)                                                 \
  do {                                                                                             \
    static std::atomic<::base::HistogramBase*> velmo_histogram_site{nullptr};                      \
    ::base::HistogramBase* velmo_histogram = velmo_histogram_site.load(std::memory_order_acquire); \
    if (!velmo_histogram) {                                                                        \
      velmo_histogram = (factory_call);                                                            \
      velmo_histogram_site.store(velmo_histogram, std::memory_order_release);                      \
    }                                                                                              \
    if (velmo_histogram)                                                                           \
      velmo_histogram->Add(sample);                                                                \
  } while (0)

// Buckets 1, 2, ..., |maximum| evenly spaced (plus the underflow and overflow
// buckets): |bucket_count| is normally |maximum| + 1.
#define HISTOGRAM_LINEAR(name, sample, maximum, bucket_count)                                   \
  VELMO_HISTOGRAM_SITE(::base::LinearHistogram::GetOrCreate((name), (maximum), (bucket_count)), \
                       (sample))

// 1 to |maximum| over 50 exponential buckets.
#define HISTOGRAM_COUNTS(name, sample, maximum) \
  VELMO_HISTOGRAM_SITE(::base::Histogram::GetOrCreateCounts((name), (maximum)), (sample))

// |min| to |max| over |buckets| exponential buckets, flag 1.
#define HISTOGRAM_EXPONENTIAL(name, sample, min, max, buckets)                          \
  VELMO_HISTOGRAM_SITE(                                                                 \
      ::base::Histogram::GetOrCreate((name), (min), (max), (buckets),                   \
                                     ::base::HistogramBase::kUmaTargetedHistogramFlag), \
      (sample))

// A base::TimeSpan in milliseconds, 1 ms to 10 s over 50 buckets.
#define HISTOGRAM_TIMES(name, timespan)                                                  \
  VELMO_HISTOGRAM_SITE(                                                                  \
      ::base::Histogram::GetOrCreateTimes((name), ::base::TimeSpan::FromMilliseconds(1), \
                                          ::base::TimeSpan::FromSeconds(10)),            \
      ::base::internal::TimeSpanToHistogramSample(timespan))

// Any 32-bit value, each its own bucket.
#define HISTOGRAM_SPARSE(name, sample) \
  VELMO_HISTOGRAM_SITE(::base::SparseHistogram::GetOrCreate((name)), (sample))

#endif  // BASE_METRICS_HISTOGRAM_MACROS_H_
