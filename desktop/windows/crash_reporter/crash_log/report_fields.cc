#include "desktop/windows/crash_reporter/crash_log/report_fields.h"

#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

// An e-mail address is read into this many units, its terminator included.
constexpr DWORD kEmailUnits = 192;
// FILETIME of 1970-01-01, in 100 ns units.
constexpr int64_t kUnixEpochFileTime = 116444736000000000;
constexpr int64_t kFileTimePerMillisecond = 10000;
// An uptime beyond this (about 200 years, either way) is no process's.
constexpr int64_t kMaxUptimeMilliseconds = 200ll * 366 * 24 * 3600 * 1000;

void Insert(ReportFields* fields, const std::wstring& name, const std::wstring& value) {
  fields->emplace(name, value);
}

void AddEmailFields(const CrashMetadata::Table& table, ReportFields* fields) {
  for (const auto& [variable, field] : table) {
    wchar_t value[kEmailUnits];
    DWORD length = ::GetEnvironmentVariableW(variable.c_str(), value, kEmailUnits);
    if (length >= 1 && length < kEmailUnits)
      Insert(fields, field, std::wstring(value, length));
  }
}

// Seconds since 1970 of a FILETIME value, truncated toward zero.
std::wstring UnixSeconds(int64_t file_time) {
  int64_t milliseconds = (file_time - kUnixEpochFileTime) / kFileTimePerMillisecond;
  return base::Int64ToString16(milliseconds / 1000);
}

int64_t FromFileTime(const FILETIME& time) {
  return static_cast<int64_t>((uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

void AddProductFields(ReportFields* fields) {
  Insert(fields, L"ProductName", kReportProductName);
  Insert(fields, L"Version", base::UTF8ToWide(installer::GetVersionString()));
  Insert(fields, L"UBN", std::to_wstring(installer::GetBuildNumber()));
}

std::wstring OwnBuildId() {
  return MakeBuildId(std::to_wstring(installer::GetBuildsetNumber()),
                     base::UTF8ToWide(installer::GetBuildRequestTime()));
}

void AddBuildFields(ReportFields* fields) {
  AddProductFields(fields);
  const int stream = installer::GetBuildStream();
  Insert(fields, L"ReleaseChannel",
         stream == 4   ? std::wstring(L"release")
         : stream == 2 ? std::wstring(L"nightly")
                       : base::UTF8ToWide(installer::GetStreamName()));
  auto process_type = fields->find(L"ProcessType");
  bool tests = process_type != fields->end() && process_type->second == L"browser_tests";
  Insert(fields, L"symbols-package", tests ? L"tests-syms" : L"browser-syms");
  Insert(fields, L"BuildID", OwnBuildId());
}

uint64_t Now() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return static_cast<uint64_t>(FromFileTime(now));
}

}  // namespace

std::wstring MakeBuildId(std::wstring_view buildset, std::wstring_view request_time) {
  std::wstring id(request_time.substr(0, 8));
  if (buildset.size() < 6)
    id.append(6 - buildset.size(), L'0');
  id.append(buildset);
  return id;
}

void AddTimeFields(HANDLE process, const CustomInfo* keys, uint64_t now, ReportFields* fields) {
  bool has_uptime = false;
  int64_t uptime_ms = 0;
  std::wstring ptime;
  if (keys && GetCrashKeyValue(*keys, L"ptime", &ptime) &&
      base::StringToInt64_16(ptime, &uptime_ms)) {
    // The client may send a "ptime" of its own: only an uptime within what
    // a process can have is used, so that the sums below cannot overflow.
    has_uptime = uptime_ms >= -kMaxUptimeMilliseconds && uptime_ms <= kMaxUptimeMilliseconds;
    if (!has_uptime) {
      LOG(WARNING) << "Ignoring the crashed process's uptime of " << uptime_ms
                   << " ms: out of range";
      uptime_ms = 0;
    }
  }
  const int64_t uptime = uptime_ms * kFileTimePerMillisecond;

  int64_t startup = 0;
  int64_t crash = 0;
  FILETIME creation, exit, kernel, user;
  if (process && ::GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
    startup = FromFileTime(creation);
    crash = has_uptime ? startup + uptime : static_cast<int64_t>(now);
  } else {
    crash = static_cast<int64_t>(now);
    startup = has_uptime ? crash - uptime : crash;
  }
  Insert(fields, L"StartupTime", UnixSeconds(startup));
  Insert(fields, L"CrashTime", UnixSeconds(crash));

  if (!process)
    return;
  wchar_t image[MAX_PATH];
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameW(process, 0, image, &length))
    return;
  base::win::ScopedHandle file(::CreateFileW(image, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME created;
  if (file.IsValid() && ::GetFileTime(file.Get(), &created, nullptr, nullptr))
    Insert(fields, L"InstallTime", UnixSeconds(FromFileTime(created)));
}

void AddCrashLogEmailField(ReportFields* fields) {
  AddEmailFields(CrashMetadata::GetInstance()->lower_case_email(), fields);
}

void BuildCrashLogUploadParameters(const CustomInfo& keys, ReportFields* fields) {
  AddCrashLogEmailField(fields);
  std::wstring ptime;
  // The uptime in milliseconds, cut to whole seconds.
  if (GetCrashKeyValue(keys, L"ptime", &ptime) && ptime.size() >= 4 && ptime.size() <= 13)
    Insert(fields, L"CrashUptime", ptime.substr(0, ptime.size() - 3));
  std::wstring origin = DetectCrashOrigin(keys);
  if (!origin.empty())
    Insert(fields, L"origin", origin);
  std::wstring process_type;
  if (!GetCrashKeyValue(keys, L"process_type", &process_type) || process_type != L"browser") {
    std::wstring url;
    if (JoinCrashKeyValues(keys, L"active_url", &url))
      Insert(fields, L"url", url);
  }
  AddProductFields(fields);
  Insert(fields, L"ReleaseChannel", base::UTF8ToWide(installer::GetStreamName()));
}

void AddStacktraceIdField(const std::wstring& report_id, ReportFields* fields) {
  if (!report_id.empty())
    Insert(fields, L"stacktraceId", report_id);
}

void BuildMinidumpUploadParameters(HANDLE process, const CustomInfo& keys, ReportFields* fields) {
  const CrashMetadata* metadata = CrashMetadata::GetInstance();
  AddEmailFields(metadata->capitalised_email(), fields);
  // Values spread over a run of slots come out joined; these fields append
  // rather than keep the first value.
  for (size_t i = 0; keys.entries && i < keys.count; ++i) {
    auto row = metadata->key_to_field().find(std::wstring(CrashKeyText(keys.entries[i].name)));
    if (row != metadata->key_to_field().end())
      (*fields)[row->second].append(CrashKeyText(keys.entries[i].value));
  }
  std::wstring origin = DetectCrashOrigin(keys);
  if (!origin.empty())
    Insert(fields, L"Origin", origin);
  std::wstring buildset;
  if (!GetCrashKeyValue(keys, L"buildset", &buildset))
    buildset = std::to_wstring(installer::GetBuildsetNumber());
  std::wstring request_time;
  if (!GetCrashKeyValue(keys, L"build_request_time", &request_time))
    request_time = base::UTF8ToWide(installer::GetBuildRequestTime());
  Insert(fields, L"BuildID", MakeBuildId(buildset, request_time));
  AddTimeFields(process, &keys, Now(), fields);
  AddBuildFields(fields);
}

void BuildSelfReportUploadParameters(DWORD pid, ReportFields* fields) {
  AddEmailFields(CrashMetadata::GetInstance()->capitalised_email(), fields);
  Insert(fields, L"ProcessType", L"crash_reporter");
  // Without the process the times fall back to now and no install time.
  base::win::ScopedHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  AddTimeFields(process.Get(), nullptr, Now(), fields);
  AddBuildFields(fields);
}

}  // namespace crash_reporter
