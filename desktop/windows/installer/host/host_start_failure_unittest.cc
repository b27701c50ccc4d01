// A run that fails before its log can be written, as a real process: it says
// why on standard error and, where it can name one, in a log of its own in
// the installer's log folder, never in another run's log.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process.h"
#include "base/time.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_folders.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Breaks the product configuration in a host image: its first key loses its
// colon.
void BreakProductConfig(std::string* image) {
  const std::string key = "\"product_name\": ";
  const size_t at = image->find(key);
  ASSERT_NE(std::string::npos, at);
  (*image)[at + key.size() - 2] = '#';
}

TEST(HostStartFailureTest, ARunThatCannotStartSaysWhy) {
  base::FilePath bin;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &bin));
  const struct {
    const char* what;
    // The plain host is copied with its engine, or alone.
    bool with_engine;
    bool break_config;
    // What standard error says; |logged|: whether the run's log says it too.
    std::string said_start;
    bool logged;
  } cases[] = {
      {"no engine", false, false, "Installer start failed: cannot load the installer engine ",
       true},
      // No log can be named without the configuration.
      {"broken product configuration", true, true,
       "The product configuration is unusable; the installer cannot run", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    base::ScopedTempDir temp;
    ASSERT_TRUE(temp.CreateUniqueTempDir());
    const base::FilePath host = temp.GetPath().Append(L"alone").Append(L"velmo_installer.exe");
    ASSERT_TRUE(base::CreateDirectoryTree(host.DirName()));
    std::string image;
    ASSERT_TRUE(base::ReadFileToString(bin.Append(L"installer.exe"), &image));
    if (c.break_config)
      BreakProductConfig(&image);
    ASSERT_EQ(static_cast<int>(image.size()),
              base::WriteFileBytes(host, image.data(), static_cast<int>(image.size())));
    if (c.with_engine) {
      ASSERT_TRUE(base::CopySingleFile(bin.Append(kEngineFileName),
                                       host.DirName().Append(kEngineFileName)));
    }

    // The child's temporary folder is the test's own. The logs of other runs
    // started in the coming seconds are there already.
    const base::FilePath user_temp = temp.GetPath().Append(L"user temp");
    const base::FilePath log_folder = user_temp.Append(L"Velmo Installer");
    ASSERT_TRUE(base::CreateDirectoryTree(log_folder));
    const std::string other_line = "another run's line\n";
    std::vector<base::FilePath> others;
    for (int i = 0; i < 20; ++i) {
      base::Time::Exploded at;
      (base::Time::Now() + base::TimeSpan::FromSeconds(i)).Explode(/*is_local=*/true, &at);
      others.push_back(log_folder.Append(
          LogFileNameForTime(at.year, at.month, at.day_of_month, at.hour, at.minute, at.second)));
      ASSERT_EQ(static_cast<int>(other_line.size()),
                base::WriteFileBytes(others.back(), other_line.data(),
                                     static_cast<int>(other_line.size())));
    }
    std::wstring saved[2];
    const wchar_t* names[2] = {L"TEMP", L"TMP"};
    for (int i = 0; i < 2; ++i) {
      wchar_t value[MAX_PATH];
      const DWORD length = ::GetEnvironmentVariableW(names[i], value, MAX_PATH);
      saved[i].assign(value, length < MAX_PATH ? length : 0);
      ASSERT_TRUE(::SetEnvironmentVariableW(names[i], user_temp.value().c_str()));
    }

    // Standard error is a pipe, read once the run has ended: what the run
    // says is far less than the pipe holds. (A process that the run makes
    // the emulator start may inherit the handle and outlive the test.)
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE read_handle = nullptr;
    HANDLE write_handle = nullptr;
    ASSERT_TRUE(::CreatePipe(&read_handle, &write_handle, &inheritable, 1 << 16));
    const base::win::ScopedHandle error_read(read_handle);
    base::win::ScopedHandle error_write(write_handle);
    ASSERT_TRUE(::SetHandleInformation(error_read.Get(), HANDLE_FLAG_INHERIT, 0));
    base::CommandLine command_line(host);
    command_line.AppendSwitch("silent");
    base::LaunchOptions options;
    options.inherit_handles = true;
    options.stderr_handle = error_write.Get();
    base::Process process = base::LaunchProcess(command_line, options);
    error_write.Reset();
    for (int i = 0; i < 2; ++i)
      ::SetEnvironmentVariableW(names[i], saved[i].c_str());
    ASSERT_TRUE(process.IsValid());
    int exit_code = 0;
    ASSERT_TRUE(process.WaitForExitWithTimeout(120 * 1000, &exit_code));
    EXPECT_EQ(1, exit_code);
    std::string said;
    DWORD available = 0;
    while (::PeekNamedPipe(error_read.Get(), nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
      std::string chunk(available, '\0');
      DWORD read = 0;
      ASSERT_TRUE(::ReadFile(error_read.Get(), chunk.data(), available, &read, nullptr));
      said.append(chunk, 0, read);
    }

    std::string expected = c.said_start;
    if (!c.with_engine)
      expected += host.DirName().Append(kEngineFileName).AsUTF8Unsafe() + " (error ";
    EXPECT_NE(std::string::npos, said.find(expected)) << said;

    // The other runs' logs are as they were; the run's own log, when it
    // has one, holds the line.
    std::string logged;
    int own_logs = 0;
    base::DirectoryEnumerator logs(log_folder, false, base::DirectoryEnumerator::FILES);
    for (base::FilePath log = logs.Next(); !log.empty(); log = logs.Next()) {
      std::string text;
      ASSERT_TRUE(base::ReadFileToString(log, &text));
      if (std::find(others.begin(), others.end(), log) != others.end()) {
        EXPECT_EQ(other_line, text) << log;
        continue;
      }
      ++own_logs;
      logged += text;
    }
    EXPECT_EQ(c.logged ? 1 : 0, own_logs);
    if (c.logged) {
      EXPECT_NE(std::string::npos, logged.find(":ERROR:installer_host] " + expected)) << logged;
    }
  }
}

}  // namespace
}  // namespace installer
