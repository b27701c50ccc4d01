// The common steps of get-or-create for the bucketed kinds. Each kind
// supplies its boundaries, its object and a finishing step.
#ifndef BASE_METRICS_HISTOGRAM_FACTORY_H_
#define BASE_METRICS_HISTOGRAM_FACTORY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/metrics/histogram_base.h"

namespace base {

class BucketBoundaries;
class PersistentHistogramAllocator;

enum class HistogramActivity { kCreated, kLookedUp };

// Counts histogram creation in the activity histogram. Nothing creates that
// histogram in this program, so this does nothing.
void ReportHistogramActivity(const HistogramBase& histogram, HistogramActivity activity);

// The steps every get-or-create shares, the sparse kind's included.
namespace histogram_factory_internal {

// The registered histogram of |name| (after importing what the global
// persistent segment holds), or null; null at once without a registry.
HistogramBase* FindRegistered(std::string_view name);
// Registers |created| (which may be deleted for a duplicate) and, when it was
// built in |allocator|'s segment at |ref|, makes it visible to readers once
// it is the registered one. Returns the histogram to use.
HistogramBase* RegisterCreated(HistogramBase* created, PersistentHistogramAllocator* allocator,
                               uint32_t ref);
// |histogram| when it is of |type|. Another kind is refused (null, logged)
// for a histogram read from a segment, which is input; for one this program
// built it is a programming error that stops the process.
HistogramBase* CheckType(HistogramBase* histogram, HistogramType type, std::string_view name);

}  // namespace histogram_factory_internal

class HistogramFactory {
 public:
  HistogramFactory(std::string_view name, HistogramType type, HistogramSample minimum,
                   HistogramSample maximum, uint32_t bucket_count, int32_t flags);
  HistogramFactory(const HistogramFactory&) = delete;
  HistogramFactory& operator=(const HistogramFactory&) = delete;
  virtual ~HistogramFactory();

  // The registered histogram of this name, else a new one: in the global
  // persistent histogram allocator's segment when there is one, else on the
  // heap. Null when the result does not match the arguments.
  HistogramBase* Build();

 protected:
  virtual std::unique_ptr<BucketBoundaries> CreateBoundaries() = 0;
  virtual std::unique_ptr<HistogramBase> CreateHistogram(const BucketBoundaries* boundaries) = 0;
  virtual void FinishHistogram(HistogramBase* histogram);

  const std::string name_;
  const HistogramType histogram_type_;
  HistogramSample minimum_;
  HistogramSample maximum_;
  uint32_t bucket_count_;
  const int32_t flags_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_FACTORY_H_
