// One histogram shared by every thread of a call site, published in an
// atomic slot by whichever thread builds it first.
#ifndef COMPONENTS_PREFS_PUBLISHED_HISTOGRAM_H_
#define COMPONENTS_PREFS_PUBLISHED_HISTOGRAM_H_

#include <atomic>

#include "base/metrics/histogram_base.h"

namespace prefs {

// Publishes |built| in |slot| unless another thread published one first, and
// returns the histogram in the slot. A losing |built| is deleted only when
// nothing else holds it: with a histogram registry both threads were handed
// the same registered histogram, which lives for the rest of the process.
base::HistogramBase* PublishHistogram(std::atomic<base::HistogramBase*>* slot,
                                      base::HistogramBase* built);

}  // namespace prefs

#endif  // COMPONENTS_PREFS_PUBLISHED_HISTOGRAM_H_
