// Histograms whose name ends in a suffix chosen at run time (one per
// preference file). The macros of base/metrics keep one histogram per call
// site, which suits only fixed names; these are kept per name instead, for
// the life of the process.
#ifndef COMPONENTS_PREFS_SUFFIXED_HISTOGRAM_H_
#define COMPONENTS_PREFS_SUFFIXED_HISTOGRAM_H_

#include <cstdint>
#include <string_view>

#include "base/metrics/histogram_base.h"

namespace prefs {

// The exponential histogram |name| (flag 1), built on the first request;
// later requests for the name give the same one. Null (logged) when the
// arguments cannot make a histogram.
base::HistogramBase* GetSuffixedExponentialHistogram(std::string_view name,
                                                     base::HistogramSample minimum,
                                                     base::HistogramSample maximum,
                                                     uint32_t bucket_count);

}  // namespace prefs

#endif  // COMPONENTS_PREFS_SUFFIXED_HISTOGRAM_H_
