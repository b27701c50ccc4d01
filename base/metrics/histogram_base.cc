#include "base/metrics/histogram_base.h"

#include <utility>

#include "base/md5.h"
#include "base/metrics/histogram_registry.h"

namespace base {

std::string HistogramTypeToString(HistogramType type) {
  switch (type) {
    case HISTOGRAM: return "HISTOGRAM";
    case LINEAR_HISTOGRAM: return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM: return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM: return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM: return "SPARSE_HISTOGRAM";
  }
  return "UNKNOWN";
}

uint64_t HashHistogramName(std::string_view name) {
  MD5Digest digest;
  MD5Sum(name.data(), name.size(), &digest);
  uint64_t id = 0;
  for (int i = 0; i < 8; ++i)
    id = (id << 8) | digest.a[i];
  return id;
}

HistogramBase::HistogramBase(std::string name) : histogram_name_(std::move(name)) {}

HistogramBase::~HistogramBase() = default;

uint32_t HistogramBase::FindCorruption(const HistogramSampleSet& /*samples*/) const {
  return NO_INCONSISTENCIES;
}

// static
void HistogramBase::WriteAsciiBucketGraph(double current, double max, std::string* output) {
  constexpr int kLineLength = 72;
  int dashes = 0;
  if (max > 0)
    dashes = static_cast<int>(kLineLength * (current / max) + 0.5);
  if (dashes < 0)
    dashes = 0;
  if (dashes > kLineLength)
    dashes = kLineLength;
  output->append(static_cast<size_t>(dashes), '-');
  output->push_back('O');
  output->append(static_cast<size_t>(kLineLength - dashes), ' ');
}

void HistogramBase::FindAndRunCallback(HistogramSample sample) const {
  // The flag may outlive the callback (it is cleared under the registry's
  // lock, read here without it), so a missing callback is normal.
  HistogramRegistry::SampleCallback callback = HistogramRegistry::FindCallback(histogram_name());
  if (callback)
    callback.Run(sample);
}

}  // namespace base
