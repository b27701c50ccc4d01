// The process-wide histogram registry: histograms by name, bucket boundaries
// by checksum and per-name sample callbacks, so that every get-or-create of
// one name yields one histogram and equal boundaries are kept once. The
// registry exists only once a program creates it; without it registering
// returns its argument and nothing is ever found.
#ifndef BASE_METRICS_HISTOGRAM_REGISTRY_H_
#define BASE_METRICS_HISTOGRAM_REGISTRY_H_

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/callback.h"
#include "base/metrics/histogram_base.h"
#include "base/threading/lock.h"

namespace base {

class BucketBoundaries;

class HistogramRegistry {
 public:
  using SampleCallback = Callback<void(HistogramSample)>;

  HistogramRegistry();
  HistogramRegistry(const HistogramRegistry&) = delete;
  HistogramRegistry& operator=(const HistogramRegistry&) = delete;
  // Registered histograms and boundaries are not deleted: histograms live
  // until the process ends and call sites keep pointers to them.
  ~HistogramRegistry();

  // Publishes a registry for the rest of the process (once; later calls do
  // nothing).
  static void Initialize();
  // Publishes |registry| (may be null) in place of the current one and
  // returns that one, so that a test can run with a registry of its own or
  // with none.
  static HistogramRegistry* SwapForTesting(HistogramRegistry* registry);
  static bool IsActive();

  // Takes |histogram|. A different histogram of the same name registered
  // before wins and |histogram| is deleted; otherwise |histogram| is
  // registered, with the callback flag set exactly when a callback exists
  // for its name. Without a registry |histogram| is returned as it is.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);
  // Takes |boundaries|: registered boundaries of the same values win and
  // |boundaries| is deleted.
  static const BucketBoundaries* RegisterOrDeleteDuplicateRanges(
      const BucketBoundaries* boundaries);
  static HistogramBase* FindHistogram(std::string_view name);
  // Null when there is no registry or no callback for |name|.
  static SampleCallback FindCallback(std::string_view name);
  // Sets (or replaces) the callback of |name|, and the callback flag of the
  // histogram of that name. False without a registry.
  static bool SetCallback(std::string_view name, SampleCallback callback);
  static void ClearCallback(std::string_view name);
  static std::vector<HistogramBase*> GetHistograms();

 private:
  Lock lock_;
  std::map<std::string, HistogramBase*, std::less<>> histograms_;
  std::map<uint32_t, std::list<const BucketBoundaries*>> boundaries_;
  std::map<std::string, SampleCallback, std::less<>> callbacks_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_REGISTRY_H_
