#include "base/metrics/histogram_registry.h"

#include <utility>

#include "base/metrics/bucket_boundaries.h"

namespace base {

namespace {

std::atomic<HistogramRegistry*> g_registry{nullptr};

HistogramRegistry* Current() { return g_registry.load(std::memory_order_acquire); }

}  // namespace

HistogramRegistry::HistogramRegistry() = default;

HistogramRegistry::~HistogramRegistry() = default;

// static
void HistogramRegistry::Initialize() {
  if (Current())
    return;
  auto* registry = new HistogramRegistry();
  HistogramRegistry* expected = nullptr;
  if (!g_registry.compare_exchange_strong(expected, registry, std::memory_order_acq_rel))
    delete registry;  // Another thread published one first.
}

// static
HistogramRegistry* HistogramRegistry::SwapForTesting(HistogramRegistry* registry) {
  return g_registry.exchange(registry, std::memory_order_acq_rel);
}

// static
bool HistogramRegistry::IsActive() { return Current() != nullptr; }

// static
HistogramBase* HistogramRegistry::RegisterOrDeleteDuplicate(HistogramBase* histogram) {
  HistogramRegistry* registry = Current();
  if (!registry || !histogram)
    return histogram;
  AutoLock lock(registry->lock_);
  auto it = registry->histograms_.find(histogram->histogram_name());
  if (it != registry->histograms_.end() && it->second != histogram) {
    delete histogram;
    return it->second;
  }
  // Registering it again refreshes its callback flag too: its flags may
  // have been set from elsewhere (a persistent record) since.
  if (it == registry->histograms_.end())
    registry->histograms_.emplace(histogram->histogram_name(), histogram);
  if (registry->callbacks_.count(histogram->histogram_name()))
    histogram->SetFlags(HistogramBase::kCallbackExists);
  else
    histogram->ClearFlags(HistogramBase::kCallbackExists);
  return histogram;
}

// static
const BucketBoundaries* HistogramRegistry::RegisterOrDeleteDuplicateRanges(
    const BucketBoundaries* boundaries) {
  HistogramRegistry* registry = Current();
  if (!registry || !boundaries)
    return boundaries;
  AutoLock lock(registry->lock_);
  std::list<const BucketBoundaries*>& same_checksum = registry->boundaries_[boundaries->checksum()];
  for (const BucketBoundaries* registered : same_checksum) {
    if (registered == boundaries)
      return registered;
    if (registered->Equals(*boundaries)) {
      delete boundaries;
      return registered;
    }
  }
  same_checksum.push_back(boundaries);
  return boundaries;
}

// static
HistogramBase* HistogramRegistry::FindHistogram(std::string_view name) {
  HistogramRegistry* registry = Current();
  if (!registry)
    return nullptr;
  AutoLock lock(registry->lock_);
  auto it = registry->histograms_.find(name);
  return it == registry->histograms_.end() ? nullptr : it->second;
}

// static
HistogramRegistry::SampleCallback HistogramRegistry::FindCallback(std::string_view name) {
  HistogramRegistry* registry = Current();
  if (!registry)
    return nullptr;
  AutoLock lock(registry->lock_);
  auto it = registry->callbacks_.find(name);
  return it == registry->callbacks_.end() ? SampleCallback() : it->second;
}

// static
bool HistogramRegistry::SetCallback(std::string_view name, SampleCallback callback) {
  HistogramRegistry* registry = Current();
  if (!registry)
    return false;
  AutoLock lock(registry->lock_);
  registry->callbacks_[std::string(name)] = std::move(callback);
  auto it = registry->histograms_.find(name);
  if (it != registry->histograms_.end())
    it->second->SetFlags(HistogramBase::kCallbackExists);
  return true;
}

// static
void HistogramRegistry::ClearCallback(std::string_view name) {
  HistogramRegistry* registry = Current();
  if (!registry)
    return;
  AutoLock lock(registry->lock_);
  auto callback = registry->callbacks_.find(name);
  if (callback != registry->callbacks_.end())
    registry->callbacks_.erase(callback);
  auto it = registry->histograms_.find(name);
  if (it != registry->histograms_.end())
    it->second->ClearFlags(HistogramBase::kCallbackExists);
}

// static
std::vector<HistogramBase*> HistogramRegistry::GetHistograms() {
  std::vector<HistogramBase*> result;
  HistogramRegistry* registry = Current();
  if (!registry)
    return result;
  AutoLock lock(registry->lock_);
  for (const auto& entry : registry->histograms_)
    result.push_back(entry.second);
  return result;
}

}  // namespace base
