#include "desktop/windows/installer/early_download_folder_probe.h"

#include <windows.h>

#include <string>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/download_folder_test_support.h"
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
  ASSERT_TRUE(base::CreateDirectoryTree(temp_.GetPath().Append(L"Blocked\\tiny_program.exe")));
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

// A probe nobody asks is waited for when it goes: the copy is gone.
TEST_F(EarlyDownloadFolderProbeTest, UnaskedProbeEndsBeforeItIsDestroyed) {
  { EarlyDownloadFolderProbe probe(base::FilePath(L"Unasked"), TinyProgram()); }
  EXPECT_EQ(0, CountEntries(temp_.GetPath().Append(L"Unasked")));
}

}  // namespace
}  // namespace installer
