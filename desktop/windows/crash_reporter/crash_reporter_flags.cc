#include "desktop/windows/crash_reporter/crash_reporter_flags.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/json_file_deserializer.h"
#include "base/values.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {

CrashReporterFlags::CrashReporterFlags()
    : rows_{{nullptr, "user_experience_metrics.reporting_enabled", true, true},
            {"alternative-crash-logging", nullptr, false, true}} {}

void CrashReporterFlags::Load(const base::CommandLine& command_line,
                              const base::FilePath& preference_file) {
  for (Row& row : rows_) {
    if (!row.feature_name)
      continue;
    if (const installer::ExperimentRow* feature = installer::FindBrowserFeature(row.feature_name)) {
      row.enabled = installer::IsFeatureEnabledByDefault(*feature);
      row.overridable = installer::IsFeatureSwitchable(*feature);
    }
  }
  for (Row& row : rows_) {
    if (!row.feature_name || !row.overridable)
      continue;
    const std::string value =
        command_line.GetSwitchValueASCII(std::string("with-feature:") + row.feature_name);
    if (value == "off")
      row.enabled = false;
    else if (value == "on")
      row.enabled = true;
  }
  if (preference_file.empty())
    return;
  std::unique_ptr<base::Value> value =
      base::JsonFileDeserializer(preference_file).Deserialize(nullptr, nullptr);
  const base::DictValue* preferences = nullptr;
  if (value && value->GetAsDictionary(&preferences))
    ApplyPreferences(*preferences);
}

void CrashReporterFlags::ApplyPreferences(const base::DictValue& preferences) {
  for (Row& row : rows_) {
    if (!row.overridable)
      continue;
    if (!row.feature_name) {
      bool enabled = false;
      if (preferences.GetBoolean(row.preference_path, &enabled))
        row.enabled = enabled;
      continue;
    }
    int state = 0;
    if (preferences.GetInteger(std::string("browser.flags.") + row.feature_name, &state)) {
      if (state == 1)
        row.enabled = true;
      else if (state == 2)
        row.enabled = false;
    }
  }
}

CrashReporterFlags& GetCrashReporterFlags() {
  static CrashReporterFlags* flags = new CrashReporterFlags();
  return *flags;
}

}  // namespace crash_reporter
