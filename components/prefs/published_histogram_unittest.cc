#include "components/prefs/published_histogram.h"

#include <atomic>
#include <memory>

#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/linear_histogram.h"
#include "gtest/gtest.h"
#include "testing/scoped_histogram_registry.h"

namespace prefs {
namespace {

// A histogram that tells when it is deleted.
class WatchedHistogram : public base::LinearHistogram {
 public:
  WatchedHistogram(const char* name, const base::BucketBoundaries* boundaries, bool* deleted)
      : base::LinearHistogram(name, 1, 6, boundaries), deleted_(deleted) {}
  ~WatchedHistogram() override { *deleted_ = true; }

 private:
  bool* deleted_;
};

class PublishHistogramTest : public testing::Test {
 protected:
  PublishHistogramTest() : boundaries_(7) { base::Histogram::FillLinearRanges(1, 6, &boundaries_); }
  base::BucketBoundaries boundaries_;
};

TEST_F(PublishHistogramTest, TheRegisteredHistogramOfTwoRacingThreadsStays) {
  testing::ScopedHistogramRegistry registry;
  bool deleted = false;
  base::HistogramBase* registered = base::HistogramRegistry::RegisterOrDeleteDuplicate(
      new WatchedHistogram("Publish.Registered", &boundaries_, &deleted));
  std::atomic<base::HistogramBase*> slot{nullptr};
  // The first thread publishes it; the second was handed the very same one
  // by the registry and loses the race.
  EXPECT_EQ(registered, PublishHistogram(&slot, registered));
  EXPECT_EQ(registered, PublishHistogram(&slot, registered));
  EXPECT_FALSE(deleted);
  // A different histogram that the registry holds is kept too.
  bool other_deleted = false;
  testing::ScopedHistogramRegistry other_registry;
  base::HistogramBase* other = base::HistogramRegistry::RegisterOrDeleteDuplicate(
      new WatchedHistogram("Publish.Registered", &boundaries_, &other_deleted));
  EXPECT_EQ(registered, PublishHistogram(&slot, other));
  EXPECT_FALSE(other_deleted);
  EXPECT_FALSE(deleted);
}

TEST_F(PublishHistogramTest, WithoutARegistryTheLoserIsDeleted) {
  base::HistogramRegistry* previous = base::HistogramRegistry::SwapForTesting(nullptr);
  bool first_deleted = false;
  bool second_deleted = false;
  auto first = std::make_unique<WatchedHistogram>("Publish.Plain", &boundaries_, &first_deleted);
  std::atomic<base::HistogramBase*> slot{nullptr};
  EXPECT_EQ(first.get(), PublishHistogram(&slot, first.get()));
  EXPECT_EQ(first.get(), PublishHistogram(&slot, new WatchedHistogram("Publish.Plain", &boundaries_,
                                                                      &second_deleted)));
  EXPECT_TRUE(second_deleted);
  EXPECT_FALSE(first_deleted);
  EXPECT_EQ(first.get(), PublishHistogram(&slot, nullptr));
  base::HistogramRegistry::SwapForTesting(previous);
}

}  // namespace
}  // namespace prefs
