#include "base/metrics/sparse_histogram.h"

#include <climits>
#include <string>

#include "base/binary_message.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/histogram.h"
#include "base/metrics/sparse_sample_map.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(SparseHistogramTest, RecordsAnyValueUnclamped) {
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.Sparse");
  EXPECT_EQ(SPARSE_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(1, histogram->flags());
  EXPECT_FALSE(histogram->MatchesArguments(1, 2, 3));
  EXPECT_EQ(HashHistogramName("Test.Sparse"), histogram->GetSamplesId());

  histogram->Add(-7);
  histogram->Add(INT_MAX);
  histogram->AddCount(1000, 3);
  histogram->AddCount(1000, 0);
  histogram->AddCount(5, -1);
  std::unique_ptr<HistogramSampleSet> snapshot = histogram->TakeSnapshot();
  EXPECT_EQ(1, snapshot->GetCount(-7));
  EXPECT_EQ(1, snapshot->GetCount(INT_MAX));
  EXPECT_EQ(3, snapshot->GetCount(1000));
  EXPECT_EQ(0, snapshot->GetCount(5));
  EXPECT_EQ(5, snapshot->TotalCount());
  EXPECT_EQ(int64_t{INT_MAX} - 7 + 3000, snapshot->sum());

  DictValue params;
  histogram->DescribeParameters(&params);
  std::string type;
  EXPECT_TRUE(params.GetString("type", &type));
  EXPECT_EQ("SPARSE_HISTOGRAM", type);
}

TEST(SparseHistogramTest, DeltaSnapshots) {
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.SparseDelta");
  histogram->Add(4);
  histogram->Add(4);
  std::unique_ptr<HistogramSampleSet> first = histogram->TakeDeltaSnapshot();
  EXPECT_EQ(2, first->GetCount(4));
  histogram->Add(9);
  std::unique_ptr<HistogramSampleSet> second = histogram->TakeDeltaSnapshot();
  EXPECT_EQ(0, second->GetCount(4));
  EXPECT_EQ(1, second->GetCount(9));
  EXPECT_EQ(1, second->TotalCount());
  EXPECT_EQ(9, second->sum());
  histogram->Add(11);
  EXPECT_EQ(1, histogram->TakeFinalDeltaSnapshot()->TotalCount());
  EXPECT_EQ(1, histogram->TakeFinalDeltaSnapshot()->GetCount(11));
  EXPECT_EQ(4, histogram->TakeSnapshot()->TotalCount());
}

TEST(SparseHistogramTest, TextForm) {
  HistogramBase* negative = SparseHistogram::GetOrCreate("Test.SparseNegative");
  negative->Add(-7);
  std::string text;
  negative->WriteAscii(&text);
  // No value above 0: the width is that of "0", so labels pad to 3 columns.
  EXPECT_EQ(
      "Histogram: Test.SparseNegative recorded 1 samples (flags = 0x1)\n"
      "-7 " +
          std::string(72, '-') + "O (1 = 100.0%)\n",
      text);

  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.SparseText");
  histogram->AddCount(3, 1);
  histogram->AddCount(120, 4);
  text.clear();
  histogram->WriteAscii(&text);
  EXPECT_EQ(
      "Histogram: Test.SparseText recorded 5 samples (flags = 0x1)\n"
      "3    " +
          std::string(18, '-') + "O" + std::string(54, ' ') +
          " (1 = 20.0%)\n"
          "120  " +
          std::string(72, '-') + "O (4 = 80.0%)\n",
      text);
  std::string html;
  histogram->WriteHtml(&html);
  EXPECT_EQ(0u,
            html.find("<PRE>Histogram: Test.SparseText recorded 5 samples (flags = 0x1)<br>3 "));
  EXPECT_EQ(html.size() - 6, html.rfind("</PRE>"));
}

TEST(SparseHistogramTest, SerializeInfoAndSamples) {
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Test.SparseSerialize");
  BinaryMessage info;
  ASSERT_TRUE(histogram->SerializeInfo(&info));
  BinaryMessageReader info_reader(info);
  std::string name;
  int flags = 0;
  EXPECT_TRUE(info_reader.ReadString(&name) && info_reader.ReadInt(&flags));
  EXPECT_EQ("Test.SparseSerialize", name);
  EXPECT_EQ(1, flags);
  EXPECT_TRUE(info_reader.AtEnd());

  // The largest value survives the 32-bit maximum of the serialized form.
  SparseSampleMap source(1);
  source.Accumulate(INT_MAX, 2);
  source.Accumulate(-3, 1);
  BinaryMessage samples;
  ASSERT_TRUE(source.Serialize(&samples));
  BinaryMessageReader reader(samples);
  ASSERT_TRUE(histogram->AddSerializedSamples(&reader));
  std::unique_ptr<HistogramSampleSet> snapshot = histogram->TakeSnapshot();
  EXPECT_EQ(2, snapshot->GetCount(INT_MAX));
  EXPECT_EQ(1, snapshot->GetCount(-3));
  EXPECT_EQ(source.sum(), snapshot->sum());
  EXPECT_EQ(3, snapshot->redundant_count());
}

TEST(SampleSetTest, SerializedSetCutInsideATriple) {
  BinaryMessage message;
  message.WriteInt64(30);
  message.WriteInt(3);
  for (int value : {5, 10}) {
    message.WriteInt(value);
    message.WriteInt(value + 1);
    message.WriteInt(1);
  }
  message.WriteInt(20);  // half a triple
  message.WriteInt(21);
  SparseSampleMap map(1);
  BinaryMessageReader reader(message);
  EXPECT_TRUE(map.AddSerialized(&reader));
  EXPECT_EQ(2, map.TotalCount());
  EXPECT_EQ(1, map.GetCount(5));
  EXPECT_EQ(1, map.GetCount(10));
  EXPECT_EQ(0, map.GetCount(20));
  EXPECT_EQ(30, map.sum());
  EXPECT_EQ(3, map.redundant_count());

  // Without the counters nothing is added.
  BinaryMessage short_message;
  short_message.WriteInt64(1);
  BinaryMessageReader short_reader(short_message);
  EXPECT_FALSE(map.AddSerialized(&short_reader));
  EXPECT_EQ(30, map.sum());
}

TEST(SampleSetTest, MismatchedEntriesStopAdding) {
  BucketBoundaries narrow(4);  // 0, 1, 2, 3, INT_MAX
  Histogram::FillLinearRanges(1, 3, &narrow);
  BucketBoundaries wide(3);  // 0, 1, 5, INT_MAX
  wide.set_range(1, 1);
  wide.set_range(2, 5);
  wide.set_range(3, INT_MAX);
  wide.ResetChecksum();

  BucketCountVector narrow_samples(1, &narrow);
  narrow_samples.Accumulate(0, 1);
  narrow_samples.Accumulate(2, 1);
  BucketCountVector wide_samples(1, &wide);
  // Bucket [0, 1) matches; [2, 3) matches no bucket of the wide boundaries.
  EXPECT_FALSE(wide_samples.Add(narrow_samples));
  EXPECT_EQ(1, wide_samples.GetCount(0));
  EXPECT_EQ(0, wide_samples.GetCount(2));

  BucketCountVector narrow_copy(1, &narrow);
  EXPECT_TRUE(narrow_copy.Add(narrow_samples));
  EXPECT_EQ(2, narrow_copy.TotalCount());
  EXPECT_TRUE(narrow_copy.Subtract(narrow_samples));
  EXPECT_EQ(0, narrow_copy.TotalCount());
  EXPECT_EQ(0, narrow_copy.sum());

  // One-value buckets go into a sparse map; a wider one does not.
  SparseSampleMap map(1);
  EXPECT_TRUE(map.Add(narrow_samples));
  EXPECT_EQ(1, map.GetCount(2));
  wide_samples.Accumulate(3, 1);  // bucket [1, 5)
  SparseSampleMap other(1);
  EXPECT_FALSE(other.Add(wide_samples));
  EXPECT_EQ(1, other.GetCount(0));  // applied before the failure
}

TEST(SampleSetTest, BucketIndexByBinarySearch) {
  BucketBoundaries boundaries(50);
  Histogram::FillExponentialRanges(1, 10000, &boundaries);
  BucketCountVector samples(1, &boundaries);
  for (size_t i = 0; i < 50; ++i) {
    EXPECT_EQ(i, samples.GetBucketIndex(boundaries.range(i)));
    EXPECT_EQ(i, samples.GetBucketIndex(boundaries.range(i + 1) - 1));
  }
  samples.Accumulate(13, 2);
  size_t index = 0;
  std::unique_ptr<SampleIterator> it = samples.CreateIterator();
  ASSERT_FALSE(it->Done());
  EXPECT_TRUE(it->GetBucketIndex(&index));
  EXPECT_EQ(10u, index);
  HistogramSample minimum = 0;
  int64_t maximum = 0;
  HistogramCount count = 0;
  it->Get(&minimum, &maximum, &count);
  EXPECT_EQ(12, minimum);
  EXPECT_EQ(14, maximum);
  EXPECT_EQ(2, count);
  it->Next();
  EXPECT_TRUE(it->Done());
}

}  // namespace
}  // namespace base
