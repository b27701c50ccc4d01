// The reporter's two switches: whether crashes are reported at all, and
// whether a minidump goes with each crash log. Each starts from its default,
// then the browser's feature table, the command line and the browser's
// preference file may change it.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_FLAGS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_FLAGS_H_

#include <cstddef>

#include "base/files/file_path.h"

namespace base {
class CommandLine;
class DictValue;
}  // namespace base

namespace crash_reporter {

class CrashReporterFlags {
 public:
  struct Row {
    const char* feature_name;     // null: not a browser feature
    const char* preference_path;  // null: read from "browser.flags"
    bool enabled;
    bool overridable;
  };
  static constexpr size_t kReportingRow = 0;
  static constexpr size_t kAlternativeCrashLoggingRow = 1;
  static constexpr size_t kRowCount = 2;

  CrashReporterFlags();

  // The feature table, then "with-feature:<name>" switches, then the
  // preference file (a missing or unreadable file changes nothing).
  void Load(const base::CommandLine& command_line, const base::FilePath& preference_file);
  void ApplyPreferences(const base::DictValue& preferences);

  bool IsCrashReportingEnabled() const { return rows_[kReportingRow].enabled; }
  bool IsAlternativeCrashLoggingEnabled() const {
    return rows_[kAlternativeCrashLoggingRow].enabled;
  }

 private:
  Row rows_[kRowCount];
};

// The reporter's process-wide flags (table defaults until loaded).
CrashReporterFlags& GetCrashReporterFlags();

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_REPORTER_FLAGS_H_
