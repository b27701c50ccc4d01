#include "desktop/windows/installer/interrupted_installation.h"

#include <windows.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_number_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/registration_journal.h"
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

// The browser's registration is written beside the transaction. A run ended
// from outside after it is taken back with it when the installation had no
// registration before; an earlier registration stays for the installation's
// own uninstallation. The current user's root is a key of the test's own.
TEST_F(InterruptedInstallationTest, RegistrationIsTakenBackWithTheRunThatMadeIt) {
  const std::wstring base =
      L"Software\\VelmoInterruptedTest" + base::NumberToString16(::GetCurrentProcessId());
  base::win::RegistryKey user;
  ASSERT_EQ(ERROR_SUCCESS, user.Create(HKEY_CURRENT_USER, base.c_str(), KEY_ALL_ACCESS));
  ASSERT_EQ(ERROR_SUCCESS, ::RegOverridePredefKey(HKEY_CURRENT_USER, user.Handle()));
  const std::wstring handler = L"Software\\Classes\\VelmoTestHandler";
  for (const bool registered_before : {false, true}) {
    SCOPED_TRACE(registered_before ? "registered before" : "not registered before");
    const base::FilePath folder = install_folder_.Append(registered_before ? L"old" : L"new");
    if (registered_before) {
      ASSERT_TRUE(
          RegistrationJournal(HKEY_CURRENT_USER, folder).WriteString(handler, nullptr, L"1"));
    }
    std::string text;
    base::FilePath journal_path;
    {
      Transaction run;
      run.SetJournal(CreateInstallJournal(folder));
      ASSERT_TRUE(run.journal());
      journal_path = run.journal()->path();
      ASSERT_TRUE(JournalRegistration(&run, HKEY_CURRENT_USER, folder));
      ASSERT_TRUE(
          RegistrationJournal(HKEY_CURRENT_USER, folder).WriteString(handler, nullptr, L"2"));
      ASSERT_TRUE(base::ReadFileToString(journal_path, &text));
    }
    // What a process ended here leaves: its journal, under an owner that has
    // ended (no process has the id 4294967295).
    text = "journal\t4294967295\t1" + text.substr(text.find('\n'));
    ASSERT_EQ(static_cast<int>(text.size()),
              base::WriteFileBytes(journal_path, text.data(), static_cast<int>(text.size())));

    EXPECT_TRUE(RollBackInterruptedInstallations(folder, 0));
    base::win::RegistryKey key;
    std::wstring value;
    const bool present = key.Open(HKEY_CURRENT_USER, handler.c_str(), KEY_READ) == ERROR_SUCCESS &&
                         key.ReadValue(nullptr, &value) == ERROR_SUCCESS;
    EXPECT_EQ(registered_before, present);
    EXPECT_EQ(registered_before ? L"2" : L"", value);
    EXPECT_EQ(!registered_before, RegistrationJournal(HKEY_CURRENT_USER, folder).empty());
    if (registered_before) {
      EXPECT_TRUE(RegistrationJournal(HKEY_CURRENT_USER, folder).Restore());
    }
  }
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  user.Close();
  base::win::RegistryKey software(HKEY_CURRENT_USER, L"Software", KEY_ALL_ACCESS);
  software.DeleteKey(base.substr(wcslen(L"Software\\")).c_str());
}

}  // namespace
}  // namespace installer
