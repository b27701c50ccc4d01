// The tables and operating-system descriptors that turn a crash's keys into
// crash-log metadata and report fields, and the crash-log metadata itself.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_METADATA_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_METADATA_H_

#include <cstdint>
#include <map>
#include <string>

#include "desktop/windows/crash_reporter/crash_log/crash_info.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

class CrashMetadata {
 public:
  using Table = std::map<std::wstring, std::wstring>;

  // The process-wide instance, built on first use.
  static CrashMetadata* GetInstance();

  CrashMetadata();
  CrashMetadata(const CrashMetadata&) = delete;
  CrashMetadata& operator=(const CrashMetadata&) = delete;
  ~CrashMetadata();

  const std::string& os_version() const { return os_version_; }
  const std::string& os_service_pack_version() const { return os_service_pack_version_; }
  const std::string& cpu_architecture() const { return cpu_architecture_; }
  const std::string& cpu_level() const { return cpu_level_; }
  const std::string& cpu_revision() const { return cpu_revision_; }
  // Crash-key name to minidump form-field name.
  const Table& key_to_field() const { return key_to_field_; }
  // Environment variable to the e-mail field ("Email" or "email").
  const Table& capitalised_email() const { return capitalised_email_; }
  const Table& lower_case_email() const { return lower_case_email_; }

 private:
  std::string os_version_;
  std::string os_service_pack_version_;
  std::string cpu_architecture_;
  std::string cpu_level_;
  std::string cpu_revision_;
  Table key_to_field_;
  Table capitalised_email_;
  Table lower_case_email_;
};

// The crash keys of a client crash as crash-log metadata, then the
// descriptors and the defaults.
void FillCrashInfoFromKeys(const CustomInfo& keys, CrashInfo* info);
// The crashed process's memory figures, in bytes.
void AddMemoryMetrics(uint64_t working_set, uint64_t peak_working_set, uint64_t private_usage,
                      CrashInfo* info);
// For the log of a crashed reporter.
void MarkCrashInfoAsReporter(CrashInfo* info);
// Empty header strings become the reporter's own.
void FillCrashInfoDefaults(CrashInfo* info);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_CRASH_METADATA_H_
