#include "base/metrics/histogram.h"

#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "base/binary_message.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram_macros.h"
#include "base/metrics/linear_histogram.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

Histogram* AsHistogram(HistogramBase* histogram) {
  EXPECT_NE(nullptr, histogram);
  return static_cast<Histogram*>(histogram);
}

std::vector<HistogramSample> Boundaries(const Histogram* histogram) {
  std::vector<HistogramSample> result;
  for (size_t i = 0; i <= histogram->GetBucketCount(); ++i)
    result.push_back(histogram->GetBoundary(i));
  return result;
}

TEST(HistogramTest, ExponentialAndLinearBoundaries) {
  Histogram* exponential = AsHistogram(Histogram::GetOrCreate("Test.Exp", 1, 10000, 50, 1));
  const std::vector<HistogramSample> expected = {
      0,    1,    2,    3,    4,    5,    6,    7,    8,    10,   12,    14,     17,
      20,   24,   29,   34,   40,   48,   57,   68,   81,   96,   114,   135,    160,
      190,  226,  268,  318,  378,  449,  533,  633,  752,  894,  1062,  1262,   1500,
      1782, 2117, 2516, 2990, 3553, 4222, 5017, 5961, 7083, 8416, 10000, INT_MAX};
  EXPECT_EQ(expected, Boundaries(exponential));
  EXPECT_EQ(HISTOGRAM, exponential->GetHistogramType());
  EXPECT_TRUE(exponential->bucket_boundaries()->HasValidChecksum());

  Histogram* linear = AsHistogram(LinearHistogram::GetOrCreate("Test.Linear", 4, 5));
  EXPECT_EQ((std::vector<HistogramSample>{0, 1, 2, 3, 4, INT_MAX}), Boundaries(linear));
  EXPECT_EQ(LINEAR_HISTOGRAM, linear->GetHistogramType());
  // CRC-32 without inversions, started from the number of boundaries (6).
  EXPECT_EQ(0x922d33bcu, linear->bucket_boundaries()->checksum());
  EXPECT_EQ(HistogramBase::kUmaTargetedHistogramFlag, linear->flags());
}

TEST(HistogramTest, FactoriesClampTheirArguments) {
  Histogram* clamped = AsHistogram(Histogram::GetOrCreate("Test.Clamp", 0, INT_MAX, 20000, 0));
  EXPECT_EQ(16383u, clamped->GetBucketCount());
  EXPECT_EQ(1, clamped->declared_min());
  EXPECT_EQ(INT_MAX - 1, clamped->declared_max());
  EXPECT_TRUE(clamped->MatchesArguments(1, INT_MAX - 1, 16383));
  EXPECT_FALSE(clamped->MatchesArguments(0, INT_MAX - 1, 16383));

  Histogram* counts = AsHistogram(Histogram::GetOrCreateCounts("Test.Counts", 1000000));
  EXPECT_EQ(50u, counts->GetBucketCount());
  EXPECT_EQ(1, counts->declared_min());
  EXPECT_EQ(1000000, counts->declared_max());
  EXPECT_EQ(1, counts->flags());

  Histogram* times = AsHistogram(Histogram::GetOrCreateTimes(
      "Test.Times", TimeSpan::FromMicroseconds(900), TimeSpan::FromMicroseconds(10000999)));
  EXPECT_EQ(1, times->declared_min());
  EXPECT_EQ(10000, times->declared_max());
  EXPECT_EQ(50u, times->GetBucketCount());

  EXPECT_EQ(nullptr, Histogram::GetOrCreate("Test.TooFew", 1, 10, 2, 0));
  EXPECT_EQ(nullptr, Histogram::GetOrCreate("Test.Inverted", 10, 5, 10, 0));
}

TEST(HistogramTest, AddClampsAndCounts) {
  Histogram* histogram = AsHistogram(Histogram::GetOrCreate("Test.Add", 1, 10000, 50, 0));
  histogram->Add(-5);
  histogram->Add(INT_MAX);
  histogram->AddCount(12, 3);
  histogram->AddCount(12, 0);
  histogram->AddCount(12, -4);
  std::unique_ptr<HistogramSampleSet> snapshot = histogram->TakeSnapshot();
  auto* vector = static_cast<BucketCountVector*>(snapshot.get());
  EXPECT_EQ(1, vector->GetCountAtIndex(0));
  EXPECT_EQ(1, vector->GetCountAtIndex(49));
  EXPECT_EQ(3, vector->GetCountAtIndex(10));
  EXPECT_EQ(5, snapshot->TotalCount());
  EXPECT_EQ(5, snapshot->redundant_count());
  EXPECT_EQ(int64_t{INT_MAX - 1} + 36, snapshot->sum());
  EXPECT_EQ(histogram->GetSamplesId(), snapshot->id());
  EXPECT_EQ(HashHistogramName("Test.Add"), histogram->GetSamplesId());
}

TEST(HistogramTest, DeltaSnapshots) {
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Delta", 1, 100, 20, 0);
  ASSERT_NE(nullptr, histogram);
  histogram->Add(1);
  histogram->Add(2);
  std::unique_ptr<HistogramSampleSet> first = histogram->TakeDeltaSnapshot();
  EXPECT_EQ(2, first->TotalCount());
  EXPECT_EQ(3, first->sum());

  histogram->Add(30);
  std::unique_ptr<HistogramSampleSet> second = histogram->TakeDeltaSnapshot();
  EXPECT_EQ(1, second->TotalCount());
  EXPECT_EQ(1, second->GetCount(30));
  EXPECT_EQ(0, second->GetCount(1));
  EXPECT_EQ(30, second->sum());
  EXPECT_EQ(1, second->redundant_count());

  EXPECT_EQ(0, histogram->TakeDeltaSnapshot()->TotalCount());

  // The final delta does not move the logged samples.
  histogram->Add(5);
  EXPECT_EQ(1, histogram->TakeFinalDeltaSnapshot()->GetCount(5));
  EXPECT_EQ(1, histogram->TakeFinalDeltaSnapshot()->TotalCount());
  EXPECT_EQ(1, histogram->TakeDeltaSnapshot()->GetCount(5));
  EXPECT_EQ(4, histogram->TakeSnapshot()->TotalCount());
}

TEST(HistogramTest, TextFormSkipsRunsOfEmptyBuckets) {
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Ascii", 1, 10000, 50, 1);
  ASSERT_NE(nullptr, histogram);
  histogram->Add(0);           // bucket 0
  histogram->AddCount(12, 3);  // bucket 10: [12, 14)
  std::string text;
  histogram->WriteAscii(&text);

  // Densities: bucket 0 is 1/1, bucket 10 is 3/2 (the peak); labels are at
  // most 2 wide, so each is padded to 4 columns.
  const std::string expected =
      "Histogram: Test.Ascii recorded 4 samples, mean = 9.0 (flags = 0x1)\n"
      "0   " +
      std::string(48, '-') + "O" + std::string(24, ' ') +
      " (1 = 25.0%)\n"
      "1   ... \n"
      "12  " +
      std::string(72, '-') + "O" +
      " (3 = 75.0%) {25.0%}\n"
      "14  ... \n";
  EXPECT_EQ(expected, text);

  std::string html;
  histogram->WriteHtml(&html);
  std::string expected_html = expected;
  for (size_t pos; (pos = expected_html.find('\n')) != std::string::npos;)
    expected_html.replace(pos, 1, "<br>");
  EXPECT_EQ("<PRE>" + expected_html + "</PRE>", html);

  std::string empty;
  Histogram::GetOrCreate("Test.Empty", 1, 100, 10, 0)->WriteAscii(&empty);
  EXPECT_EQ("Histogram: Test.Empty recorded 0 samples\n0 ... \n", empty);
}

TEST(HistogramTest, FindCorruption) {
  Histogram* histogram = AsHistogram(Histogram::GetOrCreate("Test.Corrupt", 1, 10000, 50, 0));
  histogram->Add(3);
  EXPECT_EQ(0u, histogram->FindCorruption(*histogram->TakeSnapshot()));

  // Stand-in for memory corruption of the shared boundaries.
  auto* boundaries = const_cast<BucketBoundaries*>(histogram->bucket_boundaries());
  boundaries->set_range(10, 13);
  EXPECT_EQ(uint32_t{HistogramBase::RANGE_CHECKSUM_ERROR},
            histogram->FindCorruption(*histogram->TakeSnapshot()));
  boundaries->set_range(10, 9);
  EXPECT_EQ(uint32_t{HistogramBase::RANGE_CHECKSUM_ERROR | HistogramBase::BUCKET_ORDER_ERROR},
            histogram->FindCorruption(*histogram->TakeSnapshot()));
  boundaries->set_range(10, 12);
  EXPECT_EQ(0u, histogram->FindCorruption(*histogram->TakeSnapshot()));

  // Redundant counts off by the tolerated race (5) or more.
  auto with_counters = [&](int redundant) {
    BucketCountVector samples(1, histogram->bucket_boundaries());
    BinaryMessage message;
    message.WriteInt64(0);
    message.WriteInt(redundant);
    BinaryMessageReader reader(message);
    EXPECT_TRUE(samples.AddSerialized(&reader));
    return histogram->FindCorruption(samples);
  };
  EXPECT_EQ(0u, with_counters(5));
  EXPECT_EQ(uint32_t{HistogramBase::COUNT_HIGH_ERROR}, with_counters(6));
  EXPECT_EQ(0u, with_counters(-5));
  EXPECT_EQ(uint32_t{HistogramBase::COUNT_LOW_ERROR}, with_counters(-6));
}

TEST(HistogramTest, ValueTreeAndSerializedForms) {
  Histogram* histogram = AsHistogram(LinearHistogram::GetOrCreate("Test.Describe", 4, 5));
  histogram->Add(2);
  histogram->AddCount(9, 2);

  DictValue params;
  histogram->DescribeParameters(&params);
  std::string type;
  int min = 0, max = 0, bucket_count = 0;
  EXPECT_TRUE(params.GetString("type", &type));
  EXPECT_EQ("LINEAR_HISTOGRAM", type);
  EXPECT_TRUE(params.GetInteger("min", &min));
  EXPECT_TRUE(params.GetInteger("max", &max));
  EXPECT_TRUE(params.GetInteger("bucket_count", &bucket_count));
  EXPECT_EQ(1, min);
  EXPECT_EQ(4, max);
  EXPECT_EQ(5, bucket_count);

  ListValue buckets;
  int count = 0;
  int64_t sum = 0;
  histogram->DescribeBuckets(&count, &sum, &buckets);
  EXPECT_EQ(3, count);
  EXPECT_EQ(20, sum);
  ASSERT_EQ(2u, buckets.size());
  const DictValue* bucket = nullptr;
  int low = 0, high = 0, bucket_samples = 0;
  ASSERT_TRUE(buckets.GetDictionary(0, &bucket));
  EXPECT_TRUE(bucket->GetInteger("low", &low) && bucket->GetInteger("high", &high) &&
              bucket->GetInteger("count", &bucket_samples));
  EXPECT_EQ(2, low);
  EXPECT_EQ(3, high);
  EXPECT_EQ(1, bucket_samples);
  ASSERT_TRUE(buckets.GetDictionary(1, &bucket));
  EXPECT_TRUE(bucket->GetInteger("low", &low));
  EXPECT_EQ(4, low);
  EXPECT_FALSE(bucket->GetInteger("high", &high));  // the last bucket has no top

  BinaryMessage message;
  ASSERT_TRUE(histogram->SerializeInfo(&message));
  BinaryMessageReader reader(message);
  std::string name;
  int flags = 0, declared_min = 0, declared_max = 0;
  uint32_t serialized_buckets = 0, checksum = 0;
  ASSERT_TRUE(reader.ReadString(&name) && reader.ReadInt(&flags) && reader.ReadInt(&declared_min) &&
              reader.ReadInt(&declared_max) && reader.ReadUInt32(&serialized_buckets) &&
              reader.ReadUInt32(&checksum));
  EXPECT_EQ("Test.Describe", name);
  EXPECT_EQ(1, flags);
  EXPECT_EQ(1, declared_min);
  EXPECT_EQ(4, declared_max);
  EXPECT_EQ(5u, serialized_buckets);
  EXPECT_EQ(histogram->bucket_boundaries()->checksum(), checksum);
  EXPECT_TRUE(reader.AtEnd());
}

TEST(HistogramTest, CustomHistogram) {
  Histogram* custom = AsHistogram(CustomHistogram::GetOrCreate("Test.Custom", {50, 5, 10, 10}, 0));
  EXPECT_EQ(CUSTOM_HISTOGRAM, custom->GetHistogramType());
  EXPECT_EQ((std::vector<HistogramSample>{0, 5, 10, 50, INT_MAX}), Boundaries(custom));
  EXPECT_EQ(5, custom->declared_min());
  EXPECT_EQ(50, custom->declared_max());
  EXPECT_EQ(7.0, custom->GetBucketDensity(7, 2));

  BinaryMessage message;
  ASSERT_TRUE(custom->SerializeInfo(&message));
  BinaryMessageReader reader(message);
  std::string name;
  int fields[5];
  ASSERT_TRUE(reader.ReadString(&name));
  for (int& field : fields)
    ASSERT_TRUE(reader.ReadInt(&field));
  int boundary = 0;
  for (HistogramSample expected : {5, 10, 50}) {
    ASSERT_TRUE(reader.ReadInt(&boundary));
    EXPECT_EQ(expected, boundary);
  }
  EXPECT_TRUE(reader.AtEnd());

  EXPECT_EQ(nullptr, CustomHistogram::GetOrCreate("Test.BadCustom", {0, 3}, 0));
  EXPECT_EQ(nullptr, CustomHistogram::GetOrCreate("Test.NoCustom", {}, 0));
}

TEST(HistogramTest, LinearDescriptionsLabelBuckets) {
  static const LinearHistogram::DescriptionPair kDescriptions[] = {
      {1, "one"}, {3, "three"}, {0, nullptr}};
  Histogram* linear = AsHistogram(
      LinearHistogram::GetOrCreateWithDescriptions("Test.Described", 1, 4, 5, 0, kDescriptions));
  EXPECT_EQ("one", linear->GetBucketLabel(1));
  EXPECT_EQ("2", linear->GetBucketLabel(2));
  EXPECT_FALSE(linear->ShouldPrintEmptyBucket(3));
  EXPECT_TRUE(linear->ShouldPrintEmptyBucket(2));
  // A linear histogram with more buckets than values keeps one per value.
  EXPECT_EQ(5u, AsHistogram(LinearHistogram::GetOrCreate("Test.Wide", 4, 10))->GetBucketCount());
}

TEST(HistogramTest, ConcurrentAddsSumExactly) {
  HistogramBase* histogram = Histogram::GetOrCreate("Test.Concurrent", 1, 1000, 30, 0);
  ASSERT_NE(nullptr, histogram);
  constexpr int kThreads = 8;
  constexpr int kPerThread = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([histogram, t] {
      for (int i = 0; i < kPerThread; ++i)
        histogram->Add((i + t) % 1200);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  int64_t expected_sum = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i)
      expected_sum += (i + t) % 1200;
  }
  std::unique_ptr<HistogramSampleSet> snapshot = histogram->TakeSnapshot();
  EXPECT_EQ(kThreads * kPerThread, snapshot->TotalCount());
  EXPECT_EQ(kThreads * kPerThread, snapshot->redundant_count());
  EXPECT_EQ(expected_sum, snapshot->sum());
  EXPECT_EQ(0u, histogram->FindCorruption(*snapshot));
}

TEST(HistogramTest, TypeNames) {
  EXPECT_EQ("HISTOGRAM", HistogramTypeToString(HISTOGRAM));
  EXPECT_EQ("BOOLEAN_HISTOGRAM", HistogramTypeToString(BOOLEAN_HISTOGRAM));
  EXPECT_EQ("SPARSE_HISTOGRAM", HistogramTypeToString(SPARSE_HISTOGRAM));
  EXPECT_EQ("UNKNOWN", HistogramTypeToString(static_cast<HistogramType>(7)));
}

TEST(HistogramMacrosTest, TimeSamplesSaturate) {
  EXPECT_EQ(1500, internal::TimeSpanToHistogramSample(TimeSpan::FromMicroseconds(1500999)));
  EXPECT_EQ(INT32_MAX, internal::TimeSpanToHistogramSample(TimeSpan::FromDays(100)));
  EXPECT_EQ(INT32_MIN, internal::TimeSpanToHistogramSample(-TimeSpan::FromDays(100)));
  // Every macro form records through its site (none can be read back
  // without a registry; this checks that they build and run).
  for (int i = 0; i < 3; ++i) {
    HISTOGRAM_LINEAR("Test.Macro.Linear", i, 4, 5);
    HISTOGRAM_COUNTS("Test.Macro.Counts", i, 1000);
    HISTOGRAM_EXPONENTIAL("Test.Macro.Exp", i, 1, 10000, 50);
    HISTOGRAM_TIMES("Test.Macro.Times", TimeSpan::FromMilliseconds(i));
    HISTOGRAM_SPARSE("Test.Macro.Sparse", -i);
  }
}

}  // namespace
}  // namespace base
