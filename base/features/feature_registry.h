// Named on/off features ("experiments"): each is registered with a default
// state and whether it may be overridden; readers then supply overrides.
//
// Precedence: the FIRST override of a name wins. Readers are applied in the
// order InitializeFromReader is called, so a source fed earlier (say, the
// states an installation recorded) beats one fed later (say, this process's
// command line); a later override of an already overridden name is dropped
// with a log line. The registry therefore holds at most one override per
// name, which is also what AppendFeatureSwitches passes on to a child
// process.
#ifndef BASE_FEATURES_FEATURE_REGISTRY_H_
#define BASE_FEATURES_FEATURE_REGISTRY_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/features/feature_reader.h"
#include "base/threading/lock.h"

namespace base {

class CommandLine;

// The prefix of a feature's command-line switch.
inline constexpr char kFeatureSwitchPrefix[] = "with-feature:";

class FeatureRegistry {
 public:
  FeatureRegistry();
  FeatureRegistry(const FeatureRegistry&) = delete;
  FeatureRegistry& operator=(const FeatureRegistry&) = delete;
  ~FeatureRegistry();

  // The process-wide registry (never destroyed).
  static FeatureRegistry* GetInstance();

  // Registers |name|; registering it again replaces its default and
  // overridability (logged). Features must be registered before the readers
  // that override them are applied.
  void RegisterFeature(std::string_view name, bool enabled_by_default, bool overridable);

  // Marks the registry initialised and appends the reader's overrides of
  // registered, overridable features that hold no override yet. Every other
  // override is ignored with a log line. May be called more than once.
  void InitializeFromReader(const FeatureReader& reader);
  bool IsInitialized() const;

  // The override when one is held, else the default. An unknown feature is
  // off (logged).
  bool IsEnabled(std::string_view name) const;
  bool IsRegistered(std::string_view name) const;
  // Whether |name| is registered and may be overridden.
  bool IsOverridable(std::string_view name) const;

  // The overrides held, in the order they were accepted.
  std::vector<FeatureOverride> GetOverrides() const;

  // Forgets every feature and override and the initialised mark.
  void ResetForTesting();

 private:
  struct Feature {
    bool enabled_by_default = false;
    bool overridable = false;
  };

  mutable Lock lock_;
  std::map<std::string, Feature, std::less<>> features_;
  std::vector<FeatureOverride> overrides_;
  bool initialized_ = false;
};

// The state of |name| in the process-wide registry.
bool IsFeatureEnabled(std::string_view name);
// Appends "--with-feature:<name>=on|off" for each override the process-wide
// registry holds.
void AppendFeatureSwitches(CommandLine* command_line);
// "with-feature:" followed by |name|.
std::string FeatureSwitchName(std::string_view name);

}  // namespace base

#endif  // BASE_FEATURES_FEATURE_REGISTRY_H_
