#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"

#include <windows.h>

#include <cwctype>
#include <cstddef>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/process.h"
#include "base/threading/lock.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/maker_domains.h"
#include "desktop/windows/installer/package_fetcher/stale_downloads.h"
#include "desktop/windows/installer/package_fetcher/version_check.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/wininet/wininet.h"
#include "desktop/windows/installer/stats_node.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(PackageFetcherUtilTest, AllowedDomainsPutAForeignProductDomainFirst) {
  std::vector<std::wstring> domains = {L"stale"};
  GetAllowedDownloadDomains(&domains);
  // The configured domain is the maker's own: listed once.
  ASSERT_EQ(base::UTF8ToWide(GetDomain()), std::wstring(kMakerDomainSuffix));
  EXPECT_EQ((std::vector<std::wstring>{kMakerDomainSuffix, kMakerInternalDomainSuffix,
                                       kMakerMirrorDomainSuffix, L"localhost", L"127.0.0.1"}),
            domains);
}

// A configuration whose domain is empty or another company's: the list
// never holds a suffix that matches every host, and a host outside it is
// still refused.
TEST(PackageFetcherUtilTest, AllowedDomainsNeverFailOpen) {
  struct Case {
    const char* config;
    std::vector<std::wstring> expected_start;
  };
  const Case cases[] = {
      {R"({"domain": ""})", {kMakerDomainSuffix}},
      {R"({})", {kMakerDomainSuffix}},
      {R"({"domain": ".partner.example"})", {L".partner.example", kMakerDomainSuffix}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    SetProductConfigForTesting(c.config);
    std::vector<std::wstring> domains;
    GetAllowedDownloadDomains(&domains);
    SetProductConfigForTesting(nullptr);
    ASSERT_GE(domains.size(), c.expected_start.size());
    EXPECT_EQ(c.expected_start,
              std::vector<std::wstring>(
                  domains.begin(),
                  domains.begin() + static_cast<std::ptrdiff_t>(c.expected_start.size())));
    for (const std::wstring& domain : domains)
      EXPECT_FALSE(domain.empty());
    EXPECT_FALSE(WinInetDownloader::IsHostAllowed(L"evil.attacker.test", domains));
    EXPECT_TRUE(WinInetDownloader::IsHostAllowed(L"download.velmo.example", domains));
  }
}

TEST(PackageFetcherUtilTest, DownloadPathCarriesTheLocalTimeAndTheProcess) {
  base::Time::Exploded before;
  ASSERT_TRUE(base::Time::Now().Explode(true, &before));
  base::FilePath path;
  MakeDownloadPath(base::FilePath(L"C:\\work"), L"velmo_installer", &path);
  const std::wstring name = path.BaseName().value();
  EXPECT_EQ(L"C:\\work", path.DirName().value());
  ASSERT_EQ(0u, name.find(L"velmo_installer_")) << name;
  for (size_t i = 16; i < 30; ++i)
    EXPECT_TRUE(iswdigit(name[i])) << name;
  EXPECT_EQ(before.year, std::stoi(name.substr(16, 4)));
  EXPECT_EQ(before.month, std::stoi(name.substr(20, 2)));
  // Another run started in the same second has another process id; this
  // process numbers its names.
  base::FilePath next;
  MakeDownloadPath(base::FilePath(L"C:\\work"), L"velmo_installer", &next);
  const std::wstring process = L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_";
  ASSERT_EQ(process, name.substr(30, process.size())) << name;
  EXPECT_NE(path, next);
  EXPECT_EQ(std::stoul(name.substr(30 + process.size())) + 1,
            std::stoul(next.BaseName().value().substr(30 + process.size())));
  EXPECT_TRUE(IsDownloadFileName(name, L"velmo_installer")) << name;
}

// What a killed run left goes, its unpacking folder with it; a live run's
// files, found by their claim, and names that are not the fetcher's stay.
// A run is live while any process it started with handles (its back end)
// lives, also after its front end has gone.
TEST(StaleDownloadsTest, RemovesOnlyUnclaimedFilesOfEarlierRuns) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath folder = temp.GetPath();
  base::FilePath live;
  MakeDownloadPath(folder, L"velmo_installer", &live);
  base::win::ScopedHandle claim;
  ASSERT_TRUE(ClaimDownloadFiles(live, &claim));
  base::FilePath bin;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &bin));
  base::LaunchOptions inheriting;
  inheriting.inherit_handles = true;
  ::SetEnvironmentVariableW(L"VELMO_FAKE_SFX_HANG", L"1");
  const base::Process back_end =
      base::LaunchProcess(base::CommandLine(bin.Append(L"fake_installer.exe")), inheriting);
  ::SetEnvironmentVariableW(L"VELMO_FAKE_SFX_HANG", nullptr);
  ASSERT_TRUE(back_end.IsValid());
  claim.Reset();
  const std::wstring live_stem = live.RemoveExtension().BaseName().value();
  const struct {
    std::wstring made;  // A file, in a folder when the name has one.
    bool removed;
  } kEntries[] = {
      {L"velmo_installer_20260101120000_4242_1.exe", true},
      {L"velmo_installer_20260101120000_4242_1.7z", true},
      {L"velmo_installer_20260101120000_4242_1.lock", true},
      {L"velmo_installer_20260101120000_4242_1\\bin\\deep\\setup.exe", true},
      {L"suite_20260101120000_4242_2\\component.exe", true},
      {L"velmo_installer_20250101120000\\a.dll", true},
      {live.BaseName().value(), false},
      {live_stem + L"\\setup.exe", false},
      {L"velmo_installer_20260101120000_4242_x.exe", false},
      {L"velmo_installer_notes.txt", false},
  };
  for (const auto& entry : kEntries) {
    const base::FilePath path = folder.Append(entry.made);
    ASSERT_TRUE(base::CreateDirectoryTree(path.DirName()));
    ASSERT_EQ(1, base::WriteFileBytes(path, "x", 1));
  }

  // Everything made here counts as made before the run started.
  RemoveStaleDownloads(folder, {L"velmo_installer", L"suite"},
                       base::Time::Now() + base::TimeSpan::FromMinutes(1));
  for (const auto& entry : kEntries) {
    const std::wstring top = entry.made.substr(0, entry.made.find(L'\\'));
    EXPECT_NE(entry.removed, base::PathExists(folder.Append(top))) << entry.made;
  }

  // Once its last process is gone, the run was killed.
  ASSERT_TRUE(back_end.Terminate(1, /*wait=*/true));
  RemoveStaleDownloads(folder, {L"velmo_installer"},
                       base::Time::Now() + base::TimeSpan::FromMinutes(1));
  EXPECT_FALSE(base::PathExists(live));
  EXPECT_FALSE(base::PathExists(live.RemoveExtension()));
}

// A rollback of a killed run moves files back into its unpacked package
// after the next run began. A name of a run that claims its files is judged
// by the claim alone, so that package still goes; an older installer's name,
// unclaimed and changed since the run began, may be a run still going and
// stays.
TEST(StaleDownloadsTest, ClaimingRunsFilesGoHoweverRecentlyTheyChanged) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const struct {
    const wchar_t* made;
    bool removed;
  } kEntries[] = {
      {L"velmo_installer_20260101120000_4242_1\\resources\\common.pak", true},
      {L"velmo_installer_20260101120000_4242_1.7z", true},
      {L"velmo_installer_20250101120000\\a.dll", false},
      {L"velmo_installer_20250101120000.exe", false},
  };
  for (const auto& entry : kEntries) {
    const base::FilePath path = temp.GetPath().Append(entry.made);
    ASSERT_TRUE(base::CreateDirectoryTree(path.DirName()));
    ASSERT_EQ(1, base::WriteFileBytes(path, "x", 1));
  }
  // Everything made here counts as changed after the run started.
  RemoveStaleDownloads(temp.GetPath(), {L"velmo_installer"},
                       base::Time::Now() - base::TimeSpan::FromMinutes(1));
  for (const auto& entry : kEntries) {
    const std::wstring made = entry.made;
    const std::wstring top = made.substr(0, made.find(L'\\'));
    EXPECT_NE(entry.removed, base::PathExists(temp.GetPath().Append(top))) << made;
  }
}

TEST(PackageFetcherUtilTest, PackageServerAddress) {
  base::CommandLine plain(base::FilePath(L"installer.exe"));
  const std::string stream = GetStreamName();
  EXPECT_EQ(base::UTF8ToWide(GetProductUrl("autoupdate") + "/netinstaller/" + stream),
            GetPackageServerUrl(plain, false));
  EXPECT_EQ(
      base::UTF8ToWide(GetProductUrl("autoupdate") + "/netinstaller/" + stream + "/windows/x64/"),
      GetPackageServerUrl(plain, true));

  base::CommandLine internal(base::FilePath(L"installer.exe"));
  internal.AppendSwitch(kInternalPackageServerSwitch);
  EXPECT_EQ(base::UTF8ToWide(std::string(kInternalPackageServerUrl) + "/netinstaller/" + stream +
                             "/windows/x64/"),
            GetPackageServerUrl(internal, true));

  base::CommandLine given(base::FilePath(L"installer.exe"));
  given.AppendSwitchNative(kInternalPackageServerSwitch, L"http://127.0.0.1:1/reply?x=1");
  EXPECT_EQ(L"http://127.0.0.1:1/reply?x=1", GetPackageServerUrl(given, true));
}

TEST(PackageServerReplyTest, RefusesWhatIsNotAnObjectWithBothStrings) {
  const std::string deep = std::string(10000, '[') + std::string(10000, ']');
  const std::string deep_object = R"({"installer":"a","installer_checksum":"b","x":)" + deep + "}";
  for (const std::string& text :
       {std::string(""), std::string("not json"), std::string("[]"), std::string("\"x\""),
        std::string(R"({"installer":"http://x/i.exe"})"),
        std::string(R"({"installer_checksum":"00"})"),
        std::string(R"({"installer":5,"installer_checksum":"00"})"),
        std::string(R"({"installer":"a","installer_checksum":["00"]})"),
        std::string(R"({"installer":"a","installer_checksum":"00")"), deep, deep_object}) {
    PackageServerReply reply;
    EXPECT_FALSE(ParsePackageServerReply(text, true, &reply)) << text.substr(0, 80);
  }
}

TEST(PackageServerReplyTest, KeepsPartnerContentAndSuiteOnlyWhenAsked) {
  const std::string text = R"({
    "installer": "http://host/i.exe", "installer_checksum": "abc", "url_welcome": "w",
    "components": [
      {"type": "partner_content", "location": "p1"},
      {"type": "suite", "location": "s1"},
      {"type": "other", "location": "o1"},
      {"location": "no type"},
      "not an object",
      {"type": 7},
      {"type": "partner_content", "location": "p2"}
    ]})";
  PackageServerReply without_suite;
  ASSERT_TRUE(ParsePackageServerReply(text, false, &without_suite));
  EXPECT_EQ("http://host/i.exe", without_suite.installer_url);
  EXPECT_EQ("abc", without_suite.installer_checksum);
  ASSERT_EQ(2u, without_suite.components->size());
  std::string location;
  const base::DictValue* entry = nullptr;
  ASSERT_TRUE(without_suite.components->GetDictionary(1, &entry));
  ASSERT_TRUE(entry->GetString("location", &location));
  EXPECT_EQ("p2", location);

  PackageServerReply with_suite;
  ASSERT_TRUE(ParsePackageServerReply(text, true, &with_suite));
  ASSERT_EQ(3u, with_suite.components->size());
  ASSERT_TRUE(with_suite.components->GetDictionary(1, &entry));
  ASSERT_TRUE(entry->GetString("location", &location));
  EXPECT_EQ("s1", location);

  // A "components" value that is no list gives no components.
  PackageServerReply odd;
  ASSERT_TRUE(ParsePackageServerReply(
      R"({"installer":"a","installer_checksum":"b","components":{"type":"suite"}})", true, &odd));
  EXPECT_TRUE(odd.components->empty());
}

// The package's own list may end its last line with "\r\n" or not; the
// partner names always start on a line of their own.
TEST(FilesListTest, AppendedNamesStartOnALineOfTheirOwn) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath list = temp.GetPath().Append(L"files_list");
  const std::vector<std::string> names = {"good.dat", "other.dat"};
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"a.txt\r\ndir\\program.exe", "a.txt\r\ndir\\program.exe\r\ngood.dat\r\nother.dat\r\n"},
      {"a.txt\r\nprogram.exe\r\n", "a.txt\r\nprogram.exe\r\ngood.dat\r\nother.dat\r\n"},
      {"x", "x\r\ngood.dat\r\nother.dat\r\n"},
      // A lone line feed is not the separator.
      {"x\n", "x\n\r\ngood.dat\r\nother.dat\r\n"},
      {"", "good.dat\r\nother.dat\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    ASSERT_EQ(static_cast<int>(c.before.size()),
              base::WriteFileBytes(list, c.before.data(), static_cast<int>(c.before.size())));
    ASSERT_TRUE(AppendLinesToList(list, names));
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(list, &text));
    EXPECT_EQ(c.after, text);
  }
  // No list yet: one is made; nothing to add: the list stays as it is.
  ASSERT_TRUE(base::DeletePath(list, false));
  ASSERT_TRUE(AppendLinesToList(list, {"only.dat"}));
  ASSERT_TRUE(AppendLinesToList(list, {}));
  std::string text;
  ASSERT_TRUE(base::ReadFileToString(list, &text));
  EXPECT_EQ("only.dat\r\n", text);
}

std::unique_ptr<base::Value> Json(const std::string& text) {
  std::unique_ptr<base::Value> value = base::JsonReader::Read(text);
  EXPECT_TRUE(value) << text;
  return value;
}

TEST(AdditionalFileTest, ReadsCompleteEntriesAndRefusesUnsafeNames) {
  AdditionalFile file;
  ASSERT_TRUE(ParseAdditionalFile(
      *Json(R"({"location":"http://h/f","type":"partner_content","archive":false,)"
            R"("checksum":"c","filename":"partner.dat"})"),
      &file));
  EXPECT_EQ(L"http://h/f", file.location);
  EXPECT_EQ(L"partner_content", file.type);
  EXPECT_FALSE(file.archive);
  EXPECT_EQ("c", file.checksum);
  EXPECT_EQ(L"partner.dat", file.filename);
  // An archive needs no file name.
  EXPECT_TRUE(ParseAdditionalFile(
      *Json(R"({"location":"l","type":"suite","archive":true,"checksum":"c"})"), &file));

  for (const char* bad :
       {R"({"type":"suite","archive":true,"checksum":"c"})",
        R"({"location":"l","archive":true,"checksum":"c"})",
        R"({"location":"l","type":"suite","checksum":"c"})",
        R"({"location":"l","type":"suite","archive":"yes","checksum":"c"})",
        R"({"location":"l","type":"suite","archive":true,"checksum":5})",
        R"({"location":"l","type":"partner_content","archive":false,"checksum":"c"})",
        R"(["location"])"}) {
    EXPECT_FALSE(ParseAdditionalFile(*Json(bad), &file)) << bad;
  }
  for (const char* name : {"..\\\\evil.exe", "../evil.exe", "C:\\\\evil.exe", "C:evil.exe",
                           "\\\\\\\\server\\\\share\\\\x", "dir\\\\x", "dir/x", "CON", "nul.txt",
                           "", "..", "a:stream"}) {
    const std::string text = std::string(R"({"location":"l","type":"partner_content",)") +
                             R"("archive":false,"checksum":"c","filename":")" + name + "\"}";
    EXPECT_FALSE(ParseAdditionalFile(*Json(text), &file)) << text;
  }
}

class VersionCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base::FilePath dir;
    ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &dir));
    fake_ = dir.Append(L"fake_installer.exe");
    Set(L"VELMO_FAKE_INTERNAL_VERSION", base::UTF8ToWide(GetInternalVersion()));
    Set(L"VELMO_FAKE_STREAM", base::UTF8ToWide(GetStreamName()));
  }
  void TearDown() override {
    for (const wchar_t* name : {L"VELMO_FAKE_INTERNAL_VERSION", L"VELMO_FAKE_STREAM",
                                L"VELMO_FAKE_HANG", L"VELMO_FAKE_FLOOD"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    SetVersionQueryTimeoutForTesting(base::TimeSpan());
  }
  static void Set(const wchar_t* name, const std::wstring& value) {
    ASSERT_TRUE(SetEnvironmentVariableW(name, value.c_str()));
  }
  std::string Recorded(const char* key) {
    std::string value;
    base::AutoLock hold(report_.lock());
    report_.root().GetStringWithoutPathExpansion(key, &value);
    return value;
  }

  base::FilePath fake_;
  StatsReport report_;
};

TEST_F(VersionCheckTest, SameOrNewerVersionOfTheSameStreamPasses) {
  StatsNode node = report_.root_node();
  EXPECT_TRUE(CheckDownloadedVersion(fake_, true, &node));
  EXPECT_EQ(GetInternalVersion(), Recorded("internal_version"));
  EXPECT_EQ(GetStreamName(), Recorded("stream"));

  Set(L"VELMO_FAKE_INTERNAL_VERSION", L"999999.0");
  EXPECT_TRUE(CheckDownloadedVersion(fake_, true, &node));
}

TEST_F(VersionCheckTest, OlderBrokenOrOtherStreamFails) {
  StatsNode node = report_.root_node();
  for (const wchar_t* version : {L"1.0", L"", L"2442.x", L"-1"}) {
    Set(L"VELMO_FAKE_INTERNAL_VERSION", version);
    EXPECT_FALSE(CheckDownloadedVersion(fake_, false, &node)) << version;
  }
  Set(L"VELMO_FAKE_INTERNAL_VERSION", base::UTF8ToWide(GetInternalVersion()));
  Set(L"VELMO_FAKE_STREAM", L"Beta");
  EXPECT_FALSE(CheckDownloadedVersion(fake_, true, &node));
  EXPECT_EQ("Beta", Recorded("stream"));
  // Without the stream test the stream does not matter.
  EXPECT_TRUE(CheckDownloadedVersion(fake_, false, &node));
}

TEST_F(VersionCheckTest, AProgramThatNeverAnswersIsEndedAfterTheLimit) {
  Set(L"VELMO_FAKE_HANG", L"1");
  SetVersionQueryTimeoutForTesting(base::TimeSpan::FromSeconds(2));
  StatsNode node = report_.root_node();
  const base::MonotonicTime start = base::MonotonicTime::Now();
  EXPECT_FALSE(CheckDownloadedVersion(fake_, true, &node));
  // Ended at the set limit, not the default minute (the rest is the start
  // and the end of the program, which a loaded machine can make long).
  EXPECT_LT((base::MonotonicTime::Now() - start).InSecondsF(),
            kVersionQueryTimeout.InSecondsF() - 10.0);
  // A program that cannot be started at all.
  EXPECT_FALSE(CheckDownloadedVersion(fake_.DirName().Append(L"missing.exe"), true, &node));
}

// A program that answers without end: its output is bounded, and so is the
// time it is given, although output keeps coming.
TEST_F(VersionCheckTest, AProgramThatWritesWithoutEndIsEnded) {
  Set(L"VELMO_FAKE_FLOOD", L"1");
  base::CommandLine command_line(fake_);
  command_line.AppendSwitch("internal-version");
  std::string output;
  const base::MonotonicTime start = base::MonotonicTime::Now();
  // A limit far beyond the test's patience: the output bound ends it.
  EXPECT_FALSE(RunAndCaptureOutputWithin(command_line, base::TimeSpan::FromSeconds(120), &output,
                                         256 * 1024));
  EXPECT_LE(output.size(), 256u * 1024u);
  EXPECT_LT((base::MonotonicTime::Now() - start).InSecondsF(), 60.0);

  SetVersionQueryTimeoutForTesting(base::TimeSpan::FromSeconds(2));
  StatsNode node = report_.root_node();
  EXPECT_FALSE(CheckDownloadedVersion(fake_, true, &node));
  EXPECT_LT((base::MonotonicTime::Now() - start).InSecondsF(), 60.0);
}

}  // namespace
}  // namespace installer
