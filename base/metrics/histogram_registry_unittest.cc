#include "base/metrics/histogram_registry.h"

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/sparse_histogram.h"
#include "base/process.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"
#include "testing/scoped_histogram_registry.h"

namespace base {
namespace {

TEST(HistogramRegistryTest, WithoutRegistryNothingIsLookedUp) {
  HistogramRegistry* previous = HistogramRegistry::SwapForTesting(nullptr);
  HistogramBase* first = Histogram::GetOrCreate("Registry.None", 1, 100, 10, 0);
  HistogramBase* second = Histogram::GetOrCreate("Registry.None", 1, 100, 10, 0);
  ASSERT_NE(nullptr, first);
  EXPECT_NE(first, second);
  EXPECT_NE(SparseHistogram::GetOrCreate("Registry.NoneSparse"),
            SparseHistogram::GetOrCreate("Registry.NoneSparse"));
  EXPECT_EQ(first, HistogramRegistry::RegisterOrDeleteDuplicate(first));
  EXPECT_EQ(nullptr, HistogramRegistry::FindHistogram("Registry.None"));
  EXPECT_FALSE(HistogramRegistry::FindCallback("Registry.None"));
  EXPECT_FALSE(HistogramRegistry::SetCallback("Registry.None", nullptr));
  HistogramRegistry::SwapForTesting(previous);
}

TEST(HistogramRegistryTest, DuplicatesByNameAndBoundariesResolveToOne) {
  testing::ScopedHistogramRegistry registry;
  HistogramBase* first = Histogram::GetOrCreate("Registry.Same", 1, 100, 10, 0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, Histogram::GetOrCreate("Registry.Same", 1, 100, 10, 0));
  EXPECT_EQ(first, HistogramRegistry::FindHistogram("Registry.Same"));
  // Other arguments for a registered name give nothing rather than a
  // histogram that records elsewhere.
  EXPECT_EQ(nullptr, Histogram::GetOrCreate("Registry.Same", 1, 100, 20, 0));

  HistogramBase* sparse = SparseHistogram::GetOrCreate("Registry.Sparse");
  EXPECT_EQ(sparse, SparseHistogram::GetOrCreate("Registry.Sparse"));

  // Two names over the same boundaries share one set of them.
  auto* other = static_cast<Histogram*>(Histogram::GetOrCreate("Registry.Other", 1, 100, 10, 0));
  EXPECT_EQ(static_cast<Histogram*>(first)->bucket_boundaries(), other->bucket_boundaries());
  auto* custom_a =
      static_cast<Histogram*>(CustomHistogram::GetOrCreate("Registry.CustomA", {5, 9}, 0));
  auto* custom_b =
      static_cast<Histogram*>(CustomHistogram::GetOrCreate("Registry.CustomB", {9, 5, 5}, 0));
  EXPECT_EQ(custom_a->bucket_boundaries(), custom_b->bucket_boundaries());

  auto copy = std::make_unique<BucketBoundaries>(other->GetBucketCount());
  for (size_t i = 0; i <= other->GetBucketCount(); ++i)
    copy->set_range(i, other->GetBoundary(i));
  copy->ResetChecksum();
  EXPECT_EQ(other->bucket_boundaries(),
            HistogramRegistry::RegisterOrDeleteDuplicateRanges(copy.release()));

  const std::vector<HistogramBase*> all = HistogramRegistry::GetHistograms();
  EXPECT_EQ(5u, all.size());
}

struct Recorded {
  std::vector<HistogramSample> values;
  void Record(HistogramSample value) { values.push_back(value); }
};

TEST(HistogramRegistryTest, CallbackFlagFollowsCallbacks) {
  testing::ScopedHistogramRegistry registry;
  Recorded recorded;
  ASSERT_TRUE(HistogramRegistry::SetCallback("Registry.Callback",
                                             Bind(&Recorded::Record, Unretained(&recorded))));
  HistogramBase* histogram = LinearHistogram::GetOrCreate("Registry.Callback", 10, 11);
  ASSERT_NE(nullptr, histogram);
  EXPECT_TRUE(histogram->flags() & HistogramBase::kCallbackExists);
  histogram->Add(3);
  histogram->AddCount(20, 2);
  EXPECT_EQ((std::vector<HistogramSample>{3, 20}), recorded.values);

  HistogramRegistry::ClearCallback("Registry.Callback");
  EXPECT_FALSE(histogram->flags() & HistogramBase::kCallbackExists);
  histogram->Add(4);
  EXPECT_EQ(2u, recorded.values.size());

  // A flag asked for by the caller is dropped when no callback exists, and
  // set for a histogram registered before its callback.
  HistogramBase* flagged =
      Histogram::GetOrCreate("Registry.Flagged", 1, 10, 5, HistogramBase::kCallbackExists);
  EXPECT_FALSE(flagged->flags() & HistogramBase::kCallbackExists);
  HistogramRegistry::SetCallback("Registry.Flagged",
                                 Bind(&Recorded::Record, Unretained(&recorded)));
  EXPECT_TRUE(flagged->flags() & HistogramBase::kCallbackExists);
  HistogramBase* sparse = SparseHistogram::GetOrCreate("Registry.SparseCallback");
  HistogramRegistry::SetCallback("Registry.SparseCallback",
                                 Bind(&Recorded::Record, Unretained(&recorded)));
  sparse->Add(-9);
  EXPECT_EQ(-9, recorded.values.back());

  // Registering a registered histogram again brings its flag back in line
  // with the callbacks, whatever set or cleared it meanwhile.
  flagged->ClearFlags(HistogramBase::kCallbackExists);
  EXPECT_EQ(flagged, HistogramRegistry::RegisterOrDeleteDuplicate(flagged));
  EXPECT_TRUE(flagged->flags() & HistogramBase::kCallbackExists);
  histogram->SetFlags(HistogramBase::kCallbackExists);
  EXPECT_EQ(histogram, HistogramRegistry::RegisterOrDeleteDuplicate(histogram));
  EXPECT_FALSE(histogram->flags() & HistogramBase::kCallbackExists);
}

TEST(HistogramRegistryTest, ImportedNameOfAnotherKindIsRefused) {
  testing::ScopedHistogramRegistry registry;
  // A segment written by someone else holds a linear histogram under a name
  // this process uses for an exponential one.
  auto segment = std::make_unique<LocalPersistentMemoryAllocator>(64 * 1024, 0);
  PersistentHistogramAllocator allocator(std::move(segment));
  BucketBoundaries boundaries(5);
  Histogram::FillLinearRanges(1, 4, &boundaries);
  PersistentMemoryAllocator::Reference ref = 0;
  std::unique_ptr<HistogramBase> written =
      allocator.AllocateHistogram(LINEAR_HISTOGRAM, "Registry.Kind", 1, 4, &boundaries, 0, &ref);
  ASSERT_NE(nullptr, written);
  allocator.FinalizeHistogram(ref, true);
  HistogramRegistry::RegisterOrDeleteDuplicate(allocator.GetHistogram(ref).release());

  EXPECT_EQ(nullptr, Histogram::GetOrCreate("Registry.Kind", 1, 4, 5, 0));
  EXPECT_EQ(nullptr, SparseHistogram::GetOrCreate("Registry.Kind"));
  EXPECT_NE(nullptr, LinearHistogram::GetOrCreate("Registry.Kind", 4, 5));
}

CHILD_PROCESS_MAIN(RegistryKindClashChild) {
  HistogramRegistry::Initialize();
  LinearHistogram::GetOrCreate("Registry.Clash", 4, 5);
  // A heap histogram of another kind under the name is this program's own
  // mistake: the process stops.
  Histogram::GetOrCreate("Registry.Clash", 1, 4, 5, 0);
  return 0;
}

CHILD_PROCESS_MAIN(LinearRangesTooFewChild) {
  BucketBoundaries boundaries(2);
  Histogram::FillLinearRanges(1, 10, &boundaries);
  return boundaries.range(1) == 1 ? 0 : 1;
}

CHILD_PROCESS_MAIN(LinearRangesInvertedChild) {
  BucketBoundaries boundaries(5);
  Histogram::FillLinearRanges(10, 10, &boundaries);
  return 0;
}

TEST(HistogramRegistryTest, ProgrammingErrorsStopTheProcess) {
  for (const char* child :
       {"RegistryKindClashChild", "LinearRangesTooFewChild", "LinearRangesInvertedChild"}) {
    SCOPED_TRACE(child);
    Process process = LaunchProcess(testing::GetChildCommandLine(child), LaunchOptions());
    ASSERT_TRUE(process.IsValid());
    int exit_code = 0;
    ASSERT_TRUE(process.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_NE(0, exit_code);
    EXPECT_NE(1, exit_code);
  }
}

}  // namespace
}  // namespace base
