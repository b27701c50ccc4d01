#include "desktop/windows/crash_reporter/crash_log/crash_metadata.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/crash_log/crash_keys.h"
#include "desktop/windows/crash_reporter/crash_log/crash_keys_for_test.h"
#include "desktop/windows/crash_reporter/crash_log/report_fields.h"
#include "desktop/windows/crash_reporter/crash_keys_page.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Whether the system confirms that it is exactly |os_version| ("major.minor.
// build") with service pack |service_pack| ("major.minor", empty for none).
// The version check answers for the version this process is told, as the
// metadata should report it, whatever the machine runs.
bool SystemConfirmsVersion(const std::string& os_version, const std::string& service_pack) {
  unsigned major = 0, minor = 0, build = 0, pack_major = 0, pack_minor = 0;
  if (std::sscanf(os_version.c_str(), "%u.%u.%u", &major, &minor, &build) != 3 ||
      os_version !=
          std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build)) {
    return false;
  }
  if (!service_pack.empty() &&
      (std::sscanf(service_pack.c_str(), "%u.%u", &pack_major, &pack_minor) != 2 ||
       pack_major == 0 ||
       service_pack != std::to_string(pack_major) + "." + std::to_string(pack_minor))) {
    return false;
  }
  OSVERSIONINFOEXW wanted = {};
  wanted.dwOSVersionInfoSize = sizeof(wanted);
  wanted.dwMajorVersion = major;
  wanted.dwMinorVersion = minor;
  wanted.dwBuildNumber = build;
  wanted.wServicePackMajor = static_cast<WORD>(pack_major);
  wanted.wServicePackMinor = static_cast<WORD>(pack_minor);
  const DWORD fields = VER_MAJORVERSION | VER_MINORVERSION | VER_BUILDNUMBER |
                       VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR;
  ULONGLONG conditions = 0;
  for (DWORD field : {VER_MAJORVERSION, VER_MINORVERSION, VER_BUILDNUMBER, VER_SERVICEPACKMAJOR,
                      VER_SERVICEPACKMINOR}) {
    conditions = ::VerSetConditionMask(conditions, field, VER_EQUAL);
  }
  return ::VerifyVersionInfoW(&wanted, fields, conditions) != FALSE;
}

TEST(CrashMetadataTest, DescriptorsAndTables) {
  const CrashMetadata* metadata = CrashMetadata::GetInstance();
  EXPECT_TRUE(SystemConfirmsVersion(metadata->os_version(), metadata->os_service_pack_version()))
      << "Windows " << metadata->os_version() << " service pack \""
      << metadata->os_service_pack_version() << "\"";
  // The engine is built for x86-64 only.
  EXPECT_EQ("0x9", metadata->cpu_architecture());
  EXPECT_EQ(0u, metadata->cpu_level().find("0x"));
  EXPECT_EQ(15u, metadata->key_to_field().size());
  EXPECT_EQ(L"URL", metadata->key_to_field().at(L"active_url"));
  EXPECT_EQ(L"UBN", metadata->key_to_field().at(L"build"));
  EXPECT_EQ(L"ab_tests", metadata->key_to_field().at(L"ab_tests"));
  EXPECT_EQ(L"Email", metadata->capitalised_email().at(L"VELMO_CRASH_EMAIL"));
  EXPECT_EQ(L"email", metadata->lower_case_email().at(L"VELMO_CRASH_EMAIL"));
}

TEST(CrashMetadataTest, KeysBecomeMetadata) {
  const std::wstring name63(63, L'n');
  const std::wstring value64(64, L'v');
  TestCrashKeys keys = {
      {L"version", L"1.0"},
      {L"foo", L"bar"},
      {L"ptime", L"1500"},           // kept out
      {L"active_url", L"http://x"},  // kept out
      {L"buildset", L"12"},          // kept out
      {L"enabled_extensions", L"a,"},
      {L"empty", L""},
      {L"with blank", L"1"},
      {L"s/ash", L"1"},
      {L"n\u00e4me", L"1"},
      {std::wstring(64, L'x'), L"1"},  // no room for a terminator
      {name63, value64},
      {L"vlauto_test", L""},
      {L"enabled_extensions", L"b"},
      {L"version", L"2.0"},  // the later one wins
      {L"build", L"77"},
      {L"", L"nameless"},
  };
  CrashInfo info;
  FillCrashInfoFromKeys(keys.info(), &info);
  AddMemoryMetrics(1, 2, 0, &info);
  const CrashMetadata* m = CrashMetadata::GetInstance();
  Pairs expected = {
      {"foo", "bar"},
      {std::string(63, 'n'), std::string(64, 'v')},
      {"enabled_extensions", "a,b"},
      {"disabled_extensions", ""},
      {"blacklisted_extensions", ""},
      {"terminated_extensions", ""},
      {"third_party_installs", ""},
      {"ab_tests", ""},
      {"os_version", m->os_version()},
      {"os_service_pack_version", m->os_service_pack_version()},
      {"cpu_architecture", m->cpu_architecture()},
      {"cpu_level", m->cpu_level()},
      {"cpu_revision", m->cpu_revision()},
      {"mem_working_set_size", "1"},
      {"mem_peak_working_set_size", "2"},
      {"mem_private_usage", "0"},
  };
  EXPECT_EQ(expected, info.metadata);
  EXPECT_EQ("2.0", info.version);
  EXPECT_EQ("77", info.build);
  EXPECT_EQ(installer::GetCrashLogProductSuffix(), info.product_suffix);
}

TEST(CrashMetadataTest, ListKeyWithValueAndDefaults) {
  TestCrashKeys keys = {{L"vlauto_test", L"suite"}, {L"vlauto_test", L"-7"}};
  CrashInfo info;
  FillCrashInfoFromKeys(keys.info(), &info);
  ASSERT_FALSE(info.metadata.empty());
  EXPECT_EQ((std::pair<std::string, std::string>("vlauto_test", "suite-7")), info.metadata[0]);
  EXPECT_EQ(installer::GetVersionString(), info.version);
  EXPECT_EQ(std::to_string(installer::GetBuildNumber()), info.build);

  CrashInfo reporter;
  reporter.version = "5";
  MarkCrashInfoAsReporter(&reporter);
  EXPECT_EQ((Pairs{{"process_type", "crash_reporter"}}), reporter.metadata);
  EXPECT_EQ("5", reporter.version);
  EXPECT_EQ(std::to_string(installer::GetBuildNumber()), reporter.build);
}

// The installer's own crash keys page read the way the reporter reads a
// crashed installer's copy of it.
TEST(CrashMetadataTest, TheInstallersCrashKeysPage) {
  CrashKeysPage* page = CrashKeysPage::GetInstance();
  const std::wstring url = L"http://example.com/" + std::wstring(100, L'p');
  page->SetValue(kSlotProcessType, L"installer");
  page->SetRangeValue(kSlotActiveUrlFirst, kSlotActiveUrlLast, url.c_str());
  page->SetValue(kSlotOrigin, L"VlAutoStress");
  const CustomInfo keys = page->GetCustomInfo();
  ASSERT_EQ(100u, keys.count);

  CrashInfo info;
  FillCrashInfoFromKeys(keys, &info);
  EXPECT_EQ(installer::GetVersionString(), info.version);
  EXPECT_EQ(std::to_string(installer::GetBuildNumber()), info.build);
  auto value_of = [&info](const std::string& key) -> std::string {
    for (const auto& [name, value] : info.metadata) {
      if (name == key)
        return value;
    }
    return "<none>";
  };
  EXPECT_EQ("installer", value_of("process_type"));
  EXPECT_EQ("VlAutoStress", value_of("origin"));
  EXPECT_EQ("", value_of("enabled_extensions"));
  EXPECT_EQ("<none>", value_of("active_url"));
  EXPECT_EQ("<none>", value_of("buildset"));
  EXPECT_EQ("<none>", value_of("build_request_time"));
  EXPECT_EQ("<none>", value_of("vlauto_test"));

  ReportFields fields;
  BuildMinidumpUploadParameters(nullptr, keys, &fields);
  EXPECT_EQ(url, fields[L"URL"]);
  EXPECT_EQ(L"installer", fields[L"ProcessType"]);
  EXPECT_EQ(L"VlAutoStress", fields[L"Origin"]);
  EXPECT_EQ(MakeBuildId(std::to_wstring(installer::GetBuildsetNumber()),
                        base::UTF8ToWide(installer::GetBuildRequestTime())),
            fields[L"BuildID"]);
  ReportFields log_fields;
  BuildCrashLogUploadParameters(keys, &log_fields);
  EXPECT_EQ(url, log_fields[L"url"]);
}

TEST(CrashKeysTest, LookupsAndOrigin) {
  TestCrashKeys keys = {
      {L"process_type", L""},
      {L"url", L"a"},
      {L"url", L""},
      {L"url", L"b"},
      {L"origin", L"VlAutoStress"},
      {std::wstring(64, L'k'), std::wstring(64, L'w')},
  };
  std::wstring value = L"stale";
  EXPECT_TRUE(GetCrashKeyValue(keys.info(), L"process_type", &value));
  EXPECT_EQ(L"", value);
  EXPECT_FALSE(GetCrashKeyValue(keys.info(), L"missing", &value));
  EXPECT_FALSE(FindCrashKeySlot(keys.info(), L"missing"));
  EXPECT_TRUE(JoinCrashKeyValues(keys.info(), L"url", &value));
  EXPECT_EQ(L"ab", value);
  EXPECT_FALSE(JoinCrashKeyValues(keys.info(), L"process_type", &value));
  EXPECT_TRUE(GetCrashKeyValue(keys.info(), std::wstring(64, L'k'), &value));
  EXPECT_EQ(std::wstring(64, L'w'), value);
  EXPECT_EQ(L"VlAutoStress", DetectCrashOrigin(keys.info()));
  keys.Add(L"vlauto_test", L"x");
  EXPECT_EQ(L"VlAuto", DetectCrashOrigin(keys.info()));
  EXPECT_EQ(L"", DetectCrashOrigin(TestCrashKeys{{L"origin", L"VlAutoStressed"}}.info()));
  EXPECT_EQ(L"", DetectCrashOrigin(TestCrashKeys{}.info()));
  EXPECT_EQ(L"", DetectCrashOrigin(CustomInfo{}));
}

}  // namespace
}  // namespace crash_reporter
