#include "base/features/feature_registry.h"

#include <algorithm>

#include "base/command_line.h"
#include "base/logging.h"

namespace base {

FeatureRegistry::FeatureRegistry() = default;
FeatureRegistry::~FeatureRegistry() = default;

// static
FeatureRegistry* FeatureRegistry::GetInstance() {
  // Leaked on purpose: features may be queried while the process shuts down.
  static FeatureRegistry* const instance = new FeatureRegistry();
  return instance;
}

void FeatureRegistry::RegisterFeature(std::string_view name, bool enabled_by_default,
                                      bool overridable) {
  AutoLock auto_lock(lock_);
  auto it = features_.find(name);
  if (it != features_.end()) {
    LOG(WARNING) << "Feature " << name << " registered again";
    it->second = Feature{enabled_by_default, overridable};
    return;
  }
  features_.emplace(std::string(name), Feature{enabled_by_default, overridable});
}

void FeatureRegistry::InitializeFromReader(const FeatureReader& reader) {
  std::vector<FeatureOverride> read = reader.ReadOverrides();
  AutoLock auto_lock(lock_);
  initialized_ = true;
  for (FeatureOverride& entry : read) {
    auto feature = features_.find(entry.name);
    if (feature == features_.end()) {
      LOG(ERROR) << "Ignoring override of unknown feature " << entry.name;
      continue;
    }
    if (!feature->second.overridable) {
      LOG(ERROR) << "Ignoring override of feature " << entry.name << ": it is not overridable";
      continue;
    }
    auto held = std::find_if(overrides_.begin(), overrides_.end(),
                             [&](const FeatureOverride& o) { return o.name == entry.name; });
    if (held != overrides_.end()) {
      if (held->enabled != entry.enabled) {
        LOG(WARNING) << "Ignoring override of feature " << entry.name << " to "
                     << (entry.enabled ? "on" : "off") << ": an earlier one set it "
                     << (held->enabled ? "on" : "off");
      }
      continue;
    }
    overrides_.push_back(std::move(entry));
  }
}

bool FeatureRegistry::IsInitialized() const {
  AutoLock auto_lock(lock_);
  return initialized_;
}

bool FeatureRegistry::IsEnabled(std::string_view name) const {
  AutoLock auto_lock(lock_);
  auto feature = features_.find(name);
  if (feature == features_.end()) {
    LOG(ERROR) << "Unknown feature " << name << " is off";
    return false;
  }
  for (const FeatureOverride& entry : overrides_) {
    if (entry.name == name)
      return entry.enabled;
  }
  return feature->second.enabled_by_default;
}

bool FeatureRegistry::IsRegistered(std::string_view name) const {
  AutoLock auto_lock(lock_);
  return features_.find(name) != features_.end();
}

bool FeatureRegistry::IsOverridable(std::string_view name) const {
  AutoLock auto_lock(lock_);
  auto feature = features_.find(name);
  return feature != features_.end() && feature->second.overridable;
}

std::vector<FeatureOverride> FeatureRegistry::GetOverrides() const {
  AutoLock auto_lock(lock_);
  return overrides_;
}

void FeatureRegistry::ResetForTesting() {
  AutoLock auto_lock(lock_);
  features_.clear();
  overrides_.clear();
  initialized_ = false;
}

bool IsFeatureEnabled(std::string_view name) {
  return FeatureRegistry::GetInstance()->IsEnabled(name);
}

void AppendFeatureSwitches(CommandLine* command_line) {
  for (const FeatureOverride& entry : FeatureRegistry::GetInstance()->GetOverrides())
    command_line->AppendSwitchASCII(FeatureSwitchName(entry.name), entry.enabled ? "on" : "off");
}

std::string FeatureSwitchName(std::string_view name) {
  std::string switch_name(kFeatureSwitchPrefix);
  switch_name.append(name);
  return switch_name;
}

}  // namespace base
