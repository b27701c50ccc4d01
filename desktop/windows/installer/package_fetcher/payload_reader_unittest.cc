#include "desktop/windows/installer/package_fetcher/payload_reader.h"

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_test_support.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::PayloadFixture;

bool Logged(const testing::ScopedLogCapture& log, std::string_view text) {
  return log.text().find(text) != std::string::npos;
}

std::string ReadFixture(const wchar_t* name) {
  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(PayloadFixture(name), &contents)) << name;
  return contents;
}

struct TypeCase {
  const wchar_t* file;
  PackageStatus type;
};

// Every trailer placement and every kind of damage the build produces, with
// the type the reader must give it.
TEST(PayloadReaderTest, ClassifiesEveryFixture) {
  const TypeCase cases[] = {
      {L"plain.exe", kPayloadNone},
      {L"unsigned_full.exe", kPayloadFullPackage},
      {L"unsigned_tracking.exe", kPayloadTrackingData},
      {L"signed_full.exe", kPayloadFullPackage},
      {L"signed_tracking.exe", kPayloadTrackingData},
      // A package behind the signature is not covered by it.
      {L"signed_full_after.exe", kPayloadNone},
      {L"signed_tracking_after.exe", kPayloadTrackingData},
      {L"no_mz.exe", kPayloadCorrupted},
      {L"pe_offset_beyond.exe", kPayloadCorrupted},
      {L"cert_past_end.exe", kPayloadCorrupted},
      {L"bad_magic.exe", kPayloadNone},
      {L"bad_length.exe", kPayloadNone},
      {L"length_before_start.exe", kPayloadNone},
      // Not an executable at all: the 7z archive itself.
      {L"package.7z", kPayloadCorrupted},
  };
  for (const TypeCase& c : cases) {
    PayloadReader reader(PayloadFixture(c.file));
    EXPECT_EQ(c.type, reader.type()) << c.file;
  }
}

TEST(PayloadReaderTest, LogsWhyAPayloadIsRefused) {
  {
    testing::ScopedLogCapture log;
    PayloadReader reader(PayloadFixture(L"signed_full_after.exe"));
    EXPECT_TRUE(Logged(log, "Found full package that is not covered by the signature"));
  }
  {
    testing::ScopedLogCapture log;
    PayloadReader reader(PayloadFixture(L"cert_past_end.exe"));
    EXPECT_TRUE(Logged(log, "Security directory is located past the image file length"));
  }
  {
    testing::ScopedLogCapture log;
    PayloadReader reader(PayloadFixture(L"bad_magic.exe"));
    EXPECT_TRUE(Logged(log, "No valid payload found"));
  }
  {
    testing::ScopedLogCapture log;
    PayloadReader reader(PayloadFixture(L"no such file.exe"));
    EXPECT_EQ(kPayloadNone, reader.type());
    EXPECT_TRUE(Logged(log, "Could not initialize memory mapped file"));
  }
}

TEST(PayloadReaderTest, PayloadBytesAreTheEmbeddedOnes) {
  const std::string package = ReadFixture(L"package.7z");
  const std::string tracking = ReadFixture(L"tracking_data.bin");
  ASSERT_FALSE(package.empty());
  ASSERT_FALSE(tracking.empty());

  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  for (const wchar_t* name : {L"unsigned_full.exe", L"signed_full.exe"}) {
    PayloadReader reader(PayloadFixture(name));
    EXPECT_EQ(package.size(), reader.payload_size()) << name;
    const base::FilePath out = temp.GetPath().Append(L"package.7z");
    ASSERT_TRUE(reader.WritePayloadToFile(out)) << name;
    std::string written;
    ASSERT_TRUE(base::ReadFileToString(out, &written));
    EXPECT_EQ(package, written) << name;
  }
  for (const wchar_t* name :
       {L"unsigned_tracking.exe", L"signed_tracking.exe", L"signed_tracking_after.exe"}) {
    PayloadReader reader(PayloadFixture(name));
    EXPECT_EQ(tracking, reader.GetTrackingData()) << name;
    const base::FilePath out = temp.GetPath().Append(L"tracking");
    ASSERT_TRUE(reader.WritePayloadToFile(out)) << name;
    std::string written;
    ASSERT_TRUE(base::ReadFileToString(out, &written));
    EXPECT_EQ(tracking, written) << name;
  }
}

TEST(PayloadReaderTest, NoOrCorruptedPayloadGivesNothing) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  for (const wchar_t* name : {L"plain.exe", L"no_mz.exe", L"signed_full_after.exe"}) {
    PayloadReader reader(PayloadFixture(name));
    EXPECT_EQ("", reader.GetTrackingData()) << name;
    const base::FilePath out = temp.GetPath().Append(L"out");
    EXPECT_FALSE(reader.WritePayloadToFile(out)) << name;
    EXPECT_FALSE(base::PathExists(out)) << name;
  }
}

TEST(PayloadReaderTest, ExternalTrackingDataReplacesThePayload) {
  PayloadReader full(PayloadFixture(L"unsigned_full.exe"));
  full.SetPayload("from the command line");
  EXPECT_EQ(kPayloadExternalTrackingData, full.type());
  EXPECT_EQ("from the command line", full.GetTrackingData());

  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath out = temp.GetPath().Append(L"tracking");
  ASSERT_TRUE(full.WritePayloadToFile(out));
  std::string written;
  ASSERT_TRUE(base::ReadFileToString(out, &written));
  EXPECT_EQ("from the command line", written);

  PayloadReader none(PayloadFixture(L"plain.exe"));
  none.SetPayload("given");
  EXPECT_EQ("given", none.GetTrackingData());
}

TEST(PayloadReaderTest, StatusNames) {
  const char* const payload_names[] = {"none", "tracking_data", "external_tracking_data",
                                       "full_package", "corrupted"};
  for (PackageStatus s = 0; s < 5; ++s)
    EXPECT_EQ(payload_names[s], PayloadTypeToString(s));
  for (PackageStatus s : {5u, 8u, 9u, 0xFFFFFFFFu})
    EXPECT_EQ("", PayloadTypeToString(s)) << s;

  const char* const result_names[] = {"package_ready", "initialization_failed", "download_failed",
                                      "unpacking_failed"};
  for (PackageStatus s = 5; s < 9; ++s)
    EXPECT_EQ(result_names[s - 5], FetcherResultToString(s));
  for (PackageStatus s : {0u, 3u, 4u, 9u})
    EXPECT_EQ("invalid", FetcherResultToString(s)) << s;
}

// The digests are the published SHA-256 values of "abc" and of no input.
TEST(ChecksumMatchesTest, ComparesLowerCaseHexDigests) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath file = temp.GetPath().Append(L"abc");
  ASSERT_EQ(3, base::WriteFileBytes(file, "abc", 3));
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_TRUE(ChecksumMatches(file, abc));

  std::string upper = abc;
  for (char& c : upper)
    c = static_cast<char>(toupper(c));
  EXPECT_FALSE(ChecksumMatches(file, upper));
  EXPECT_FALSE(ChecksumMatches(file, abc.substr(0, 63)));
  EXPECT_FALSE(ChecksumMatches(file, abc + "0"));

  // The digest of "abc" holds the byte 0x01, which must read "01".
  const base::FilePath empty = temp.GetPath().Append(L"empty");
  ASSERT_EQ(0, base::WriteFileBytes(empty, "", 0));
  EXPECT_TRUE(
      ChecksumMatches(empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));

  testing::ScopedLogCapture log;
  EXPECT_FALSE(ChecksumMatches(temp.GetPath().Append(L"missing"), abc));
  EXPECT_TRUE(Logged(log, "Unable to read "));
}

}  // namespace
}  // namespace installer
