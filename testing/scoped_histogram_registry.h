// Runs a test with a histogram registry of its own, and gives the previous
// one back at the end. Registries are never deleted: call sites may still
// point at the histograms they hold.
#ifndef TESTING_SCOPED_HISTOGRAM_REGISTRY_H_
#define TESTING_SCOPED_HISTOGRAM_REGISTRY_H_

#include "base/metrics/histogram_registry.h"

namespace testing {

class ScopedHistogramRegistry {
 public:
  ScopedHistogramRegistry()
      : previous_(base::HistogramRegistry::SwapForTesting(new base::HistogramRegistry())) {}
  ScopedHistogramRegistry(const ScopedHistogramRegistry&) = delete;
  ScopedHistogramRegistry& operator=(const ScopedHistogramRegistry&) = delete;
  ~ScopedHistogramRegistry() { base::HistogramRegistry::SwapForTesting(previous_); }

 private:
  base::HistogramRegistry* const previous_;
};

}  // namespace testing

#endif  // TESTING_SCOPED_HISTOGRAM_REGISTRY_H_
