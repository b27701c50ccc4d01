// The boundaries of a histogram's buckets and their checksum. Bucket i holds
// the values v with boundary(i) <= v < boundary(i + 1).
#ifndef BASE_METRICS_BUCKET_BOUNDARIES_H_
#define BASE_METRICS_BUCKET_BOUNDARIES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/metrics/histogram_base.h"

namespace base {

class BucketBoundaries {
 public:
  // |bucket_count| + 1 boundaries, all 0; checksum 0.
  explicit BucketBoundaries(size_t bucket_count);
  BucketBoundaries(const BucketBoundaries&) = delete;
  BucketBoundaries& operator=(const BucketBoundaries&) = delete;

  size_t size() const { return boundaries_.size(); }
  size_t bucket_count() const { return boundaries_.size() - 1; }
  HistogramSample range(size_t index) const { return boundaries_[index]; }
  void set_range(size_t index, HistogramSample value) { boundaries_[index] = value; }

  uint32_t checksum() const { return checksum_; }
  void set_checksum(uint32_t checksum) { checksum_ = checksum; }

  // The CRC-32 (reflected IEEE polynomial, no inversions) of the boundaries'
  // bytes, low byte first, started from the number of boundaries.
  uint32_t CalculateChecksum() const;
  bool HasValidChecksum() const { return CalculateChecksum() == checksum_; }
  void ResetChecksum() { checksum_ = CalculateChecksum(); }

  bool Equals(const BucketBoundaries& other) const;

 private:
  std::vector<HistogramSample> boundaries_;
  uint32_t checksum_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_BUCKET_BOUNDARIES_H_
