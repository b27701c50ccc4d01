#include "components/prefs/published_histogram.h"

#include "base/metrics/histogram_registry.h"

namespace prefs {

base::HistogramBase* PublishHistogram(std::atomic<base::HistogramBase*>* slot,
                                      base::HistogramBase* built) {
  if (!built)
    return slot->load(std::memory_order_acquire);
  base::HistogramBase* published = nullptr;
  if (slot->compare_exchange_strong(published, built, std::memory_order_acq_rel))
    return built;
  if (published != built &&
      base::HistogramRegistry::FindHistogram(built->histogram_name()) != built) {
    delete built;  // nobody else knows it
  }
  return published;
}

}  // namespace prefs
