#include "base/metrics/bucket_boundaries.h"

#include <array>

namespace base {
namespace {

// CRC-32 of the reflected IEEE 802.3 polynomial, one entry per byte value.
constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 1) ? (value >> 1) ^ 0xedb88320u : value >> 1;
    table[i] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t Crc32Step(uint32_t sum, uint8_t byte) {
  return kCrcTable[(sum ^ byte) & 0xff] ^ (sum >> 8);
}

}  // namespace

BucketBoundaries::BucketBoundaries(size_t bucket_count) : boundaries_(bucket_count + 1, 0) {}

uint32_t BucketBoundaries::CalculateChecksum() const {
  uint32_t checksum = static_cast<uint32_t>(boundaries_.size());
  for (HistogramSample boundary : boundaries_) {
    const uint32_t bits = static_cast<uint32_t>(boundary);
    for (int shift = 0; shift < 32; shift += 8)
      checksum = Crc32Step(checksum, static_cast<uint8_t>(bits >> shift));
  }
  return checksum;
}

bool BucketBoundaries::Equals(const BucketBoundaries& other) const {
  return checksum_ == other.checksum_ && boundaries_ == other.boundaries_;
}

}  // namespace base
