// The single-file host (installer_standalone.exe) as real processes: it
// answers from the engine it carries, never from a DLL beside it, and it
// trusts no file in its temporary folder that is not exactly its engine.
#include <windows.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "crypto/secure_hash.h"
#include "desktop/windows/installer/package_fetcher/version_check.h"
#include "desktop/windows/installer/product_config.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kEngineFileName[] = L"installer_engine.dll";

base::FilePath BinFolder() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir;
}

std::string ReadBytes(const base::FilePath& path) {
  std::string bytes;
  EXPECT_TRUE(base::ReadFileToString(path, &bytes)) << path;
  return bytes;
}

bool WriteBytes(const base::FilePath& path, const std::string& bytes) {
  return base::WriteFileBytes(path, bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

uint64_t LastWriteTime(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  EXPECT_TRUE(::GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data)) << path;
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

class StandaloneHostTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    // The host's own folder is a download folder: a DLL of the engine's name
    // lies beside it, which a search of that folder would load (and fail on).
    host_ = temp_.GetPath().Append(L"Downloads").Append(L"velmo_installer.exe");
    ASSERT_TRUE(base::CreateDirectoryTree(host_.DirName()));
    ASSERT_TRUE(base::CopySingleFile(BinFolder().Append(L"installer_standalone.exe"), host_));
    ASSERT_TRUE(WriteBytes(host_.DirName().Append(kEngineFileName), "planted, not a DLL"));

    engine_ = ReadBytes(BinFolder().Append(kEngineFileName));
    uint8_t digest[crypto::SecureHash::kSha256Length];
    ASSERT_TRUE(crypto::Sha256HashFile(BinFolder().Append(kEngineFileName), digest));
    const std::string tag =
        base::ToLowerASCII(base::HexEncode(digest, sizeof(digest))).substr(0, 16);
    // The children's temporary folder is the test's own.
    user_temp_ = temp_.GetPath().Append(L"user temp");
    ASSERT_TRUE(base::CreateDirectoryTree(user_temp_));
    engine_folder_ = user_temp_.Append(L"velmo_installer_engine_" + base::ASCIIToWide(tag));
    for (const wchar_t* name : {L"TEMP", L"TMP"}) {
      wchar_t saved[MAX_PATH];
      const DWORD length = ::GetEnvironmentVariableW(name, saved, MAX_PATH);
      saved_.emplace_back(name, std::wstring(saved, length < MAX_PATH ? length : 0));
      ASSERT_TRUE(::SetEnvironmentVariableW(name, user_temp_.value().c_str()));
    }
  }

  void TearDown() override {
    for (const auto& [name, value] : saved_)
      ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  }

  // What the host prints for "--version"; empty when it failed.
  std::string AskVersion() const {
    base::CommandLine command_line(host_);
    command_line.AppendSwitch("version");
    std::string output;
    if (!RunAndCaptureOutputWithin(command_line, base::TimeSpan::FromSeconds(60), &output))
      return std::string();
    return output;
  }

  // The files of the engine's folder other than the engine.
  std::vector<base::FilePath> LeftoverFiles() const {
    std::vector<base::FilePath> files;
    base::DirectoryEnumerator entries(engine_folder_, false, base::DirectoryEnumerator::FILES);
    for (base::FilePath file = entries.Next(); !file.empty(); file = entries.Next()) {
      if (file.BaseName().value() != kEngineFileName)
        files.push_back(file);
    }
    return files;
  }

  base::ScopedTempDir temp_;
  base::FilePath host_;
  base::FilePath user_temp_;
  base::FilePath engine_folder_;
  std::string engine_;
  std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

TEST_F(StandaloneHostTest, RunsTheEngineItCarriesFromAFolderNamedAfterIt) {
  EXPECT_EQ(GetVersionString(), AskVersion());
  EXPECT_TRUE(engine_ == ReadBytes(engine_folder_.Append(kEngineFileName)));
  EXPECT_TRUE(LeftoverFiles().empty());
  // A second start uses the engine in place.
  const uint64_t written = LastWriteTime(engine_folder_.Append(kEngineFileName));
  ::Sleep(50);
  EXPECT_EQ(GetVersionString(), AskVersion());
  EXPECT_EQ(written, LastWriteTime(engine_folder_.Append(kEngineFileName)));
}

// A file in the engine's place that is not exactly the engine (planted by
// someone else, or cut short when a start was killed while writing it) is
// replaced, never loaded; no temporary copy is left behind.
TEST_F(StandaloneHostTest, ReplacesAnythingButItsOwnEngine) {
  const std::string tiny = ReadBytes(BinFolder().Append(L"tiny_program.exe"));
  for (const std::string& planted : {engine_.substr(0, engine_.size() / 2), tiny,
                                     engine_ + std::string(1, '\0'), std::string()}) {
    ASSERT_TRUE(base::CreateDirectoryTree(engine_folder_));
    ASSERT_TRUE(WriteBytes(engine_folder_.Append(kEngineFileName), planted));
    EXPECT_EQ(GetVersionString(), AskVersion()) << planted.size() << " bytes planted";
    EXPECT_TRUE(engine_ == ReadBytes(engine_folder_.Append(kEngineFileName)))
        << planted.size() << " bytes planted";
    EXPECT_TRUE(LeftoverFiles().empty());
  }
}

// Installers started at the same moment (a front end, its back end, its
// crash reporter) write and load the same engine.
TEST_F(StandaloneHostTest, HostsStartedTogetherAllRun) {
  std::vector<base::Process> processes;
  for (int i = 0; i < 6; ++i) {
    base::CommandLine command_line(host_);
    command_line.AppendSwitch("version");
    base::LaunchOptions options;
    options.start_hidden = true;
    processes.push_back(base::LaunchProcess(command_line, options));
    ASSERT_TRUE(processes.back().IsValid());
  }
  for (base::Process& process : processes) {
    int exit_code = -1;
    EXPECT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
    EXPECT_EQ(0, exit_code);
  }
  EXPECT_TRUE(engine_ == ReadBytes(engine_folder_.Append(kEngineFileName)));
  // A start whose copy lost the race to the place uses the winner's.
  EXPECT_TRUE(LeftoverFiles().empty());
}

}  // namespace
}  // namespace installer
