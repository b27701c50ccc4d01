#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "base/lazy_instance.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/upload/crash_server_urls.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {
namespace {

base::LazyInstance<CrashMetadata> g_crash_metadata;

// Keys whose values come from every slot of their name, in this order; the
// flag says whether the key is written also without a value.
struct ListKey {
  const wchar_t* name;
  bool always;
};
constexpr ListKey kListKeys[] = {
    {L"vlauto_test", false},
    {L"enabled_extensions", true},
    {L"disabled_extensions", true},
    {L"blacklisted_extensions", true},
    {L"terminated_extensions", true},
    {L"third_party_installs", true},
    {L"ab_tests", true},
};

// Shown elsewhere in the crash log or used only for the uploads.
constexpr const wchar_t* kKeysOutsideMetadata[] = {
    L"ptime",          L"active_url", L"crash_guid",         L"modules", L"handle_info_items",
    L"invalid_handle", L"buildset",   L"build_request_time",
};

constexpr const wchar_t* kSameNameFields[] = {
    L"gpu_vendor_id",
    L"gpu_device_id",
    L"gpu_driver_version",
    L"gpu_pixel_shader_version",
    L"gpu_vertex_shader_version",
    L"enabled_extensions",
    L"disabled_extensions",
    L"blacklisted_extensions",
    L"terminated_extensions",
    L"third_party_installs",
    L"ab_tests",
};

std::string Hex(unsigned value) {
  char text[16];
  snprintf(text, sizeof(text), "0x%x", value);
  return text;
}

bool IsAcceptableKeyName(std::wstring_view name) {
  if (name.empty() || name.size() >= kCustomInfoTextUnits)
    return false;
  for (wchar_t c : name) {
    bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              c == L'.' || c == L'-' || c == L'_';
    if (!ok)
      return false;
  }
  return true;
}

}  // namespace

// static
CrashMetadata* CrashMetadata::GetInstance() { return g_crash_metadata.Pointer(); }

CrashMetadata::CrashMetadata() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
#pragma GCC diagnostic pop
    os_version_ = std::to_string(version.dwMajorVersion) + "." +
                  std::to_string(version.dwMinorVersion) + "." +
                  std::to_string(version.dwBuildNumber);
    if (version.wServicePackMajor != 0) {
      os_service_pack_version_ = std::to_string(version.wServicePackMajor) + "." +
                                 std::to_string(version.wServicePackMinor);
    }
  }
  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  cpu_architecture_ = Hex(system.wProcessorArchitecture);
  cpu_level_ = Hex(system.wProcessorLevel);
  cpu_revision_ = Hex(system.wProcessorRevision);

  key_to_field_ = {{L"version", L"Version"},
                   {L"build", L"UBN"},
                   {L"process_type", L"ProcessType"},
                   {L"active_url", L"URL"}};
  for (const wchar_t* name : kSameNameFields)
    key_to_field_.emplace(name, name);

  const std::wstring variable = CrashEmailVariable();
  capitalised_email_.emplace(variable, L"Email");
  lower_case_email_.emplace(variable, L"email");
}

CrashMetadata::~CrashMetadata() = default;

void FillCrashInfoFromKeys(const CustomInfo& keys, CrashInfo* info) {
  std::vector<std::wstring> list_values(std::size(kListKeys));
  for (size_t i = 0; keys.entries && i < keys.count; ++i) {
    const std::wstring_view name = CrashKeyText(keys.entries[i].name);
    const std::wstring_view value = CrashKeyText(keys.entries[i].value);
    if (!IsAcceptableKeyName(name))
      continue;
    bool outside = false;
    for (const wchar_t* excluded : kKeysOutsideMetadata)
      outside |= name == excluded;
    if (outside)
      continue;
    bool listed = false;
    for (size_t k = 0; k < std::size(kListKeys); ++k) {
      if (name == kListKeys[k].name) {
        list_values[k].append(value);
        listed = true;
      }
    }
    if (listed)
      continue;
    if (name == L"version") {
      info->version = base::WideToUTF8(value);
    } else if (name == L"build") {
      info->build = base::WideToUTF8(value);
    } else if (!value.empty()) {
      info->metadata.emplace_back(base::WideToUTF8(name), base::WideToUTF8(value));
    }
  }
  for (size_t k = 0; k < std::size(kListKeys); ++k) {
    if (kListKeys[k].always || !list_values[k].empty())
      info->metadata.emplace_back(base::WideToUTF8(kListKeys[k].name),
                                  base::WideToUTF8(list_values[k]));
  }
  const CrashMetadata* metadata = CrashMetadata::GetInstance();
  info->metadata.emplace_back("os_version", metadata->os_version());
  info->metadata.emplace_back("os_service_pack_version", metadata->os_service_pack_version());
  info->metadata.emplace_back("cpu_architecture", metadata->cpu_architecture());
  info->metadata.emplace_back("cpu_level", metadata->cpu_level());
  info->metadata.emplace_back("cpu_revision", metadata->cpu_revision());
  FillCrashInfoDefaults(info);
}

void AddMemoryMetrics(uint64_t working_set, uint64_t peak_working_set, uint64_t private_usage,
                      CrashInfo* info) {
  info->metadata.emplace_back("mem_working_set_size", std::to_string(working_set));
  info->metadata.emplace_back("mem_peak_working_set_size", std::to_string(peak_working_set));
  info->metadata.emplace_back("mem_private_usage", std::to_string(private_usage));
}

void MarkCrashInfoAsReporter(CrashInfo* info) {
  info->metadata.emplace_back("process_type", "crash_reporter");
  FillCrashInfoDefaults(info);
}

void FillCrashInfoDefaults(CrashInfo* info) {
  if (info->version.empty())
    info->version = installer::GetVersionString();
  if (info->build.empty())
    info->build = std::to_string(installer::GetBuildNumber());
  if (info->product_suffix.empty())
    info->product_suffix = installer::GetCrashLogProductSuffix();
}

}  // namespace crash_reporter
