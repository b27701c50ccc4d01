#include "components/prefs/suffixed_histogram.h"

#include <map>
#include <string>

#include "base/metrics/histogram.h"
#include "base/threading/lock.h"

namespace prefs {

base::HistogramBase* GetSuffixedExponentialHistogram(std::string_view name,
                                                     base::HistogramSample minimum,
                                                     base::HistogramSample maximum,
                                                     uint32_t bucket_count) {
  // Never destroyed: histograms are read until the process ends.
  static base::Lock* lock = new base::Lock();
  static auto* histograms = new std::map<std::string, base::HistogramBase*, std::less<>>();
  base::AutoLock hold(*lock);
  auto it = histograms->find(name);
  if (it != histograms->end())
    return it->second;
  base::HistogramBase* histogram = base::Histogram::GetOrCreate(
      name, minimum, maximum, bucket_count, base::HistogramBase::kUmaTargetedHistogramFlag);
  if (histogram)
    histograms->emplace(std::string(name), histogram);
  return histogram;
}

}  // namespace prefs
