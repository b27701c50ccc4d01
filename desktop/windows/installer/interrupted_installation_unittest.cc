#include "desktop/windows/installer/interrupted_installation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class InterruptedInstallationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    had_local_app_data_ = base::PathRegistry::Get(base::kPathLocalAppData, &saved_local_app_data_);
    ASSERT_TRUE(base::PathRegistry::Override(base::kPathLocalAppData, temp_.GetPath()));
    installer_folder_ = temp_.GetPath().Append(L"Velmo Installer");
    journals_ = installer_folder_.Append(L"Journals");
    install_folder_ = temp_.GetPath().Append(L"Velmo");
  }
  void TearDown() override {
    if (had_local_app_data_)
      base::PathRegistry::Override(base::kPathLocalAppData, saved_local_app_data_);
  }

  base::ScopedTempDir temp_;
  bool had_local_app_data_ = false;
  base::FilePath saved_local_app_data_;
  base::FilePath installer_folder_;
  base::FilePath journals_;
  base::FilePath install_folder_;
};

// The installer's folders in the local application data go with the last
// journal: after a run settled its transaction, and after the journals of
// ended runs were read. Whatever they still hold keeps them.
TEST_F(InterruptedInstallationTest, EmptyJournalFoldersGoWithTheLastJournal) {
  std::unique_ptr<TransactionJournal> journal = CreateInstallJournal(install_folder_);
  ASSERT_TRUE(journal);
  // A run's own journal keeps both folders.
  RemoveEmptyJournalFolders();
  EXPECT_TRUE(base::PathExists(journal->path()));
  journal->Discard();
  RemoveEmptyJournalFolders();
  EXPECT_FALSE(base::PathExists(installer_folder_));

  // Reading the journals of ended runs leaves no empty folder either.
  ASSERT_TRUE(base::CreateDirectoryTree(journals_));
  EXPECT_TRUE(RollBackInterruptedInstallations(install_folder_, 0));
  EXPECT_FALSE(base::PathExists(installer_folder_));

  // Something else beside the journals: only the journal folder goes.
  ASSERT_TRUE(base::CreateDirectoryTree(journals_));
  const base::FilePath other = installer_folder_.Append(L"other.txt");
  ASSERT_EQ(1, base::WriteFileBytes(other, "x", 1));
  EXPECT_TRUE(RollBackInterruptedInstallations(install_folder_, 0));
  EXPECT_FALSE(base::PathExists(journals_));
  EXPECT_TRUE(base::PathExists(other));

  // A journal made after its folder went makes the folders anew.
  ASSERT_TRUE(base::DeletePath(other, false));
  RemoveEmptyJournalFolders();
  ASSERT_FALSE(base::PathExists(installer_folder_));
  journal = CreateInstallJournal(install_folder_);
  ASSERT_TRUE(journal);
  EXPECT_TRUE(base::PathExists(journal->path()));
  journal->Discard();
  RemoveEmptyJournalFolders();
  EXPECT_FALSE(base::PathExists(installer_folder_));
}

}  // namespace
}  // namespace installer
