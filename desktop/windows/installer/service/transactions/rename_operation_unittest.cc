#include "desktop/windows/installer/service/transactions/rename_operation.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "desktop/windows/installer/service/transactions/transaction_journal.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::CreateDirectoryTree(path.DirName()) &&
         base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
             static_cast<int>(text.size());
}

class RenameOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    ASSERT_TRUE(journals_.CreateUniqueTempDir());
    ASSERT_TRUE(WriteText(Path(L"package\\docs\\a.txt"), "alpha"));
    ASSERT_TRUE(WriteText(Path(L"package\\docs\\deep\\b.txt"), "bravo"));
    ASSERT_TRUE(WriteText(Path(L"package\\c.txt"), "charlie"));
    ASSERT_TRUE(WriteText(Path(L"install\\c.txt"), "old charlie"));
  }

  base::FilePath Path(const wchar_t* relative) const { return temp_.GetPath().Append(relative); }

  testing::MachineState State() const {
    testing::MachineState state;
    testing::AddFiles(temp_.GetPath(), &state);
    return state;
  }

  // A folder into a version folder that does not exist yet, and a file
  // over an older one.
  void MoveBoth(Transaction* transaction) {
    ASSERT_TRUE(transaction->Execute(
        std::make_unique<RenameOperation>(Path(L"package\\docs"), Path(L"install\\1.0\\docs"))));
    ASSERT_TRUE(transaction->Execute(
        std::make_unique<RenameOperation>(Path(L"package\\c.txt"), Path(L"install\\c.txt"))));
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(Path(L"install\\1.0\\docs\\deep\\b.txt"), &text));
    EXPECT_EQ("bravo", text);
    ASSERT_TRUE(base::ReadFileToString(Path(L"install\\c.txt"), &text));
    EXPECT_EQ("charlie", text);
    EXPECT_FALSE(base::PathExists(Path(L"package\\docs")));
    EXPECT_FALSE(base::PathExists(Path(L"package\\c.txt")));
  }

  base::ScopedTempDir temp_;
  base::ScopedTempDir journals_;
};

// Rollback brings both back where they came from, the older file included;
// commit keeps the new ones only.
TEST_F(RenameOperationTest, RollbackPutsEverythingBackAndCommitKeepsTheMoves) {
  const testing::MachineState before = State();
  {
    Transaction transaction;
    ASSERT_NO_FATAL_FAILURE(MoveBoth(&transaction));
    EXPECT_TRUE(transaction.Rollback());
  }
  EXPECT_EQ(before, State());

  {
    Transaction transaction;
    ASSERT_NO_FATAL_FAILURE(MoveBoth(&transaction));
  }
  const testing::MachineState committed = State();
  EXPECT_EQ(0u, committed.count("file:install\\c.txt.old"));
  EXPECT_EQ(1u, committed.count("file:install\\1.0\\docs\\a.txt"));
  EXPECT_EQ(0u, committed.count("file:package\\docs"));

  // A folder never replaces one, and a file held without delete sharing
  // cannot move: nothing changes.
  {
    Transaction transaction;
    ASSERT_TRUE(WriteText(Path(L"package\\docs\\a.txt"), "again"));
    EXPECT_FALSE(transaction.Execute(
        std::make_unique<RenameOperation>(Path(L"package\\docs"), Path(L"install\\1.0\\docs"))));
    base::win::ScopedHandle held(::CreateFileW(Path(L"package\\docs\\a.txt").c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                               nullptr));
    ASSERT_TRUE(held.IsValid());
    EXPECT_FALSE(transaction.Execute(std::make_unique<RenameOperation>(
        Path(L"package\\docs\\a.txt"), Path(L"install\\new\\a.txt"))));
    EXPECT_EQ(0u, transaction.size());
  }
  EXPECT_FALSE(base::PathExists(Path(L"install\\new")));
  EXPECT_TRUE(base::PathExists(Path(L"package\\docs\\a.txt")));
}

// A process ended after its moves is undone from its journal, also when the
// folder the files came from was removed meanwhile (an unpacked package
// cleared by whoever started the process): the folder is made again.
TEST_F(RenameOperationTest, JournalReplayPutsMovesBackIntoARemovedFolder) {
  const testing::MachineState before = State();
  std::string journal_text;
  {
    Transaction transaction;
    transaction.SetJournal(TransactionJournal::Create(journals_.GetPath(), "rename"));
    ASSERT_TRUE(transaction.journal());
    ASSERT_NO_FATAL_FAILURE(MoveBoth(&transaction));
    ASSERT_TRUE(base::ReadFileToString(transaction.journal()->path(), &journal_text));
    // The in-memory undo must not run: the replay below does it.
  }
  // What a process ended at this point leaves: its journal (with an owner
  // that has ended) and its moves; then the package folder is cleared.
  const size_t header_end = journal_text.find('\n');
  ASSERT_NE(std::string::npos, header_end);
  journal_text = "journal\t4294967295\t1" + journal_text.substr(header_end);
  // The commit removed the older file set aside; the ended process had not.
  ASSERT_TRUE(WriteText(Path(L"install\\c.txt.old"), "old charlie"));
  ASSERT_TRUE(base::DeletePath(Path(L"package"), true));
  ASSERT_TRUE(WriteText(journals_.GetPath().Append(L"rename-1.journal"), journal_text));

  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals_.GetPath(), "rename", 0,
                                                    TransactionJournal::ExtraUndo()));
  EXPECT_EQ(before, State());
}

}  // namespace
}  // namespace installer
