#include "desktop/windows/installer/early_download_folder_probe.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/download_folder_test_support.h"
#include "desktop/windows/installer/installer_folders.h"
#include "desktop/windows/installer/launch_lock.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::CountEntries;
using test::TinyProgram;

class EarlyDownloadFolderProbeTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    ASSERT_TRUE(base::PathRegistry::Override(base::kPathTempDirectory, temp_.GetPath()));
  }
  void TearDown() override { base::PathRegistry::ClearOverridesForTesting(); }
  base::ScopedTempDir temp_;
};

// A copy that runs makes the temporary directory's folder the answer, made
// when missing, and the copy is gone again.
TEST_F(EarlyDownloadFolderProbeTest, RunnableFolderIsFoundAndLeftEmpty) {
  ASSERT_TRUE(base::PathExists(TinyProgram()));
  EarlyDownloadFolderProbe probe(base::FilePath(L"Probe"), TinyProgram());
  const base::FilePath folder = probe.TakeRunnableFolder();
  EXPECT_EQ(temp_.GetPath().Append(L"Probe"), folder);
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_EQ(0, CountEntries(folder));
  // Taken twice, the answer stays.
  EXPECT_EQ(folder, probe.TakeRunnableFolder());
}

// Every way the probe can fail gives no answer, so that the usual search
// runs (and logs why): a copy that cannot be written, a folder that is a
// file, a program that is not there.
TEST_F(EarlyDownloadFolderProbeTest, FailuresLeaveTheSearchToTheUsualWay) {
  // A folder where the copy should go.
  ASSERT_TRUE(base::CreateDirectoryTree(
      ProbeCopyFolder(temp_.GetPath().Append(L"Blocked")).Append(L"tiny_program.exe")));
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"Blocked"), TinyProgram());
    EXPECT_TRUE(probe.TakeRunnableFolder().empty());
  }
  // A file where the folder should be.
  ASSERT_EQ(1, base::WriteFileBytes(temp_.GetPath().Append(L"AFile"), "x", 1));
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"AFile"), TinyProgram());
    EXPECT_TRUE(probe.TakeRunnableFolder().empty());
  }
  // A program that is not there.
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"Missing"),
                                   temp_.GetPath().Append(L"missing.exe"));
    EXPECT_TRUE(probe.TakeRunnableFolder().empty());
  }
}

// A copy that never ends is ended after the limit and counts as not
// runnable: the front end shows no window before the answer.
TEST_F(EarlyDownloadFolderProbeTest, AHungCopyIsEndedAndCountsAsNotRunnable) {
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  const base::FilePath fixture = exe_dir.Append(L"component_fixture.exe");
  ASSERT_TRUE(base::PathExists(fixture));
  // What makes the fixture's copy hang, beside where the copy goes.
  const base::FilePath folder = temp_.GetPath().Append(L"Hung");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  ASSERT_EQ(4, base::WriteFileBytes(folder.Append(L"component_fixture.exe.exit_code"), "hang", 4));
  EarlyDownloadFolderProbe probe(base::FilePath(L"Hung"), fixture, base::TimeSpan::FromSeconds(1));
  EXPECT_TRUE(probe.TakeRunnableFolder().empty());
}

// The copy answers "--version" with the version on its standard output,
// which must not reach the run's console.
TEST_F(EarlyDownloadFolderProbeTest, TheCopysOutputStaysOffTheConsole) {
  base::FilePath exe_dir;
  ASSERT_TRUE(base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir));
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_handle, &write_handle, nullptr, 1 << 16));
  const base::win::ScopedHandle console_read(read_handle);
  const base::win::ScopedHandle console_write(write_handle);
  const HANDLE saved_output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_TRUE(::SetStdHandle(STD_OUTPUT_HANDLE, console_write.Get()));
  base::FilePath folder;
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"Quiet"), exe_dir.Append(L"installer.exe"));
    folder = probe.TakeRunnableFolder();
  }
  ::SetStdHandle(STD_OUTPUT_HANDLE, saved_output);
  EXPECT_EQ(temp_.GetPath().Append(L"Quiet"), folder);
  DWORD available = 0;
  ASSERT_TRUE(::PeekNamedPipe(console_read.Get(), nullptr, 0, nullptr, &available, nullptr));
  EXPECT_EQ(0u, available);
}

std::atomic<int> g_copy_starts{0};
std::atomic<int> g_copy_starts_under_lock{0};

// Nothing else of the test launches, so a launch lock that cannot be taken
// is held by the thread about to start the copy.
void CountStartsUnderTheLaunchLock() {
  g_copy_starts.fetch_add(1);
  if (!GetLaunchLock().Try()) {
    g_copy_starts_under_lock.fetch_add(1);
    return;
  }
  GetLaunchLock().Release();
}

// The copy inherits handles, so it starts under the launch lock that every
// launch handing out handles takes, from the early probe's thread as from
// the usual search.
TEST_F(EarlyDownloadFolderProbeTest, TheCopyStartsUnderTheLaunchLock) {
  g_copy_starts = 0;
  g_copy_starts_under_lock = 0;
  SetProbeCopyStartObserverForTesting(&CountStartsUnderTheLaunchLock);
  {
    EarlyDownloadFolderProbe probe(base::FilePath(L"Locked"), TinyProgram());
    EXPECT_FALSE(probe.TakeRunnableFolder().empty());
  }
  EXPECT_TRUE(CanRunFromDirectory(temp_.GetPath(), TinyProgram()));
  SetProbeCopyStartObserverForTesting(nullptr);
  EXPECT_EQ(2, g_copy_starts.load());
  EXPECT_EQ(2, g_copy_starts_under_lock.load());
}

// A probe nobody asks is waited for when it goes: the copy is gone.
TEST_F(EarlyDownloadFolderProbeTest, UnaskedProbeEndsBeforeItIsDestroyed) {
  { EarlyDownloadFolderProbe probe(base::FilePath(L"Unasked"), TinyProgram()); }
  EXPECT_EQ(0, CountEntries(temp_.GetPath().Append(L"Unasked")));
}

}  // namespace
}  // namespace installer
