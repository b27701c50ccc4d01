#include "desktop/windows/installer/service/transactions/transaction.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/copy_file_operation.h"
#include "desktop/windows/installer/service/transactions/create_folder_operation.h"
#include "desktop/windows/installer/service/transactions/delete_file_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"
#include "desktop/windows/installer/service/transactions/move_file_operation.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/transaction_journal.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace installer {
namespace {

// Records what happens to it in a shared journal; optionally runs a child
// operation as a sub-operation and fails.
class JournalOperation : public Operation {
 public:
  JournalOperation(std::string name, std::vector<std::string>* journal, bool fail = false,
                   std::unique_ptr<Operation> child = nullptr)
      : name_(std::move(name)), journal_(journal), fail_(fail), child_(std::move(child)) {}
  ~JournalOperation() override {
    journal_->push_back((rolled_back_ ? "delete " : "commit ") + name_);
  }

  bool Execute(OperationList* sub_operations) override {
    if (child_ && !ExecuteSubOperation(std::move(child_), sub_operations))
      return false;
    journal_->push_back("execute " + name_);
    return !fail_;
  }
  bool Rollback() override {
    rolled_back_ = true;
    journal_->push_back("rollback " + name_);
    return true;
  }

 private:
  const std::string name_;
  std::vector<std::string>* const journal_;
  const bool fail_;
  std::unique_ptr<Operation> child_;
  bool rolled_back_ = false;
};

TEST(TransactionTest, KeepsRollsBackAndCommitsInOrder) {
  std::vector<std::string> journal;
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(nullptr));
    ASSERT_TRUE(transaction.Execute(std::make_unique<JournalOperation>(
        "a", &journal, false, std::make_unique<JournalOperation>("a.sub", &journal))));
    EXPECT_EQ(2u, transaction.size());
    // A failed operation is rolled back before its sub-operations and
    // nothing of it is kept.
    EXPECT_FALSE(transaction.Execute(std::make_unique<JournalOperation>(
        "b", &journal, true, std::make_unique<JournalOperation>("b.sub", &journal))));
    EXPECT_EQ(2u, transaction.size());
    ASSERT_TRUE(transaction.Execute(std::make_unique<JournalOperation>("c", &journal)));
  }
  const std::vector<std::string> expected = {"execute a.sub", "execute a", "execute b.sub",
                                             "execute b", "rollback b", "delete b",
                                             "rollback b.sub", "delete b.sub", "execute c",
                                             // Destruction commits, first executed first.
                                             "commit a.sub", "commit a", "commit c"};
  EXPECT_EQ(expected, journal);

  journal.clear();
  Transaction transaction;
  ASSERT_TRUE(transaction.Execute(std::make_unique<JournalOperation>("x", &journal)));
  ASSERT_TRUE(transaction.Execute(std::make_unique<JournalOperation>("y", &journal)));
  EXPECT_TRUE(transaction.Rollback());
  EXPECT_EQ(0u, transaction.size());
  const std::vector<std::string> rolled_back = {"execute x", "execute y",  "rollback y",
                                                "delete y",  "rollback x", "delete x"};
  EXPECT_EQ(rolled_back, journal);
}

// Runs a real operation and then reports failure: a fault after the
// operation did all (or, through its sub-operations, part) of its work.
class FailAfterOperation : public Operation {
 public:
  explicit FailAfterOperation(std::unique_ptr<Operation> inner) : inner_(std::move(inner)) {}
  bool Execute(OperationList* sub_operations) override {
    inner_->Execute(sub_operations);
    return false;
  }
  bool Rollback() override { return inner_->Rollback(); }

 private:
  std::unique_ptr<Operation> inner_;
};

class FailingOperation : public Operation {
 public:
  bool Execute(OperationList*) override { return false; }
  bool Rollback() override { return true; }
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

// A folder tree and registry keys (HKCU default view, HKLM in both views)
// that one transaction changes in every supported way.
// The operations of the scenario over the folder |dir| and the key |key|.
std::vector<std::function<std::unique_ptr<Operation>()>> ScenarioOperations(
    const base::FilePath& dir, const std::wstring& key) {
  const uint8_t binary[] = {9, 8, 7};
  const uint64_t qword = 42;
  const DWORD dword = 5;
  const std::wstring changed = L"changed";
  return {
      [=] { return std::make_unique<CreateFolderOperation>(dir.Append(L"new\\deep\\er")); },
      // Over a read-only, hidden file.
      [=] {
        return std::make_unique<CopyFileOperation>(dir.Append(L"src\\a.txt"),
                                                   dir.Append(L"dst\\existing.txt"));
      },
      // A read-only source into folders that do not exist yet.
      [=] {
        return std::make_unique<CopyFileOperation>(dir.Append(L"src\\b.bin"),
                                                   dir.Append(L"fresh\\sub\\b.bin"));
      },
      [=] {
        return std::make_unique<MoveFileOperation>(dir.Append(L"move\\m.txt"),
                                                   dir.Append(L"new\\deep\\er\\m.txt"));
      },
      [=] {
        return std::make_unique<DeleteFileOperation>(dir.Append(L"del\\c.txt"), true, true, dir);
      },
      // The file copied over above, deleted again: its first temporary
      // must survive for rollback.
      [=] {
        return std::make_unique<DeleteFileOperation>(dir.Append(L"dst\\existing.txt"), true, false);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(
            HKEY_CURRENT_USER, key, L"Keep", changed.c_str(), REG_SZ,
            static_cast<uint32_t>((changed.size() + 1) * sizeof(wchar_t)), 0);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(
            HKEY_CURRENT_USER, key + L"\\New\\Key", L"Fresh", &dword, REG_DWORD, sizeof(dword), 0);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(
            HKEY_LOCAL_MACHINE, key, L"Shared", changed.c_str(), REG_SZ,
            static_cast<uint32_t>((changed.size() + 1) * sizeof(wchar_t)), KEY_WOW64_64KEY);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(HKEY_LOCAL_MACHINE, key, L"Shared", binary,
                                                         REG_BINARY, sizeof(binary),
                                                         KEY_WOW64_32KEY);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(HKEY_LOCAL_MACHINE, key + L"\\Made32",
                                                         L"Q", &qword, REG_QWORD, sizeof(qword),
                                                         KEY_WOW64_32KEY);
      },
      [=] {
        return std::make_unique<ChangeRegValueOperation>(
            HKEY_CURRENT_USER, key, L"Gone", nullptr, ChangeRegValueOperation::kDeleteValue, 0, 0);
      },
      [=] {
        return std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, key + L"\\Tree", 0);
      },
      [=] {
        return std::make_unique<DeleteRegKeyOperation>(HKEY_LOCAL_MACHINE, key + L"\\Tree2",
                                                       KEY_WOW64_32KEY);
      },
  };
}

bool IsEmptyFolder(const base::FilePath& folder) {
  base::DirectoryEnumerator enumerator(
      folder, false, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
  return enumerator.Next().empty();
}

// The subject of the scenario's journals.
constexpr char kScenarioSubject[] = "scenario";

// Runs the first "operations" of the scenario over "dir" and "key" in a
// transaction journaled into "journals", then ends as a process ended from
// outside does: without rollback or commit. With "wait" it first marks
// "ready" in the journal folder and waits to be ended.
CHILD_PROCESS_MAIN(JournaledScenario) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const base::FilePath journals = command_line.GetSwitchValuePath("journals");
  size_t count = 0;
  if (!base::StringToSizeT(command_line.GetSwitchValueASCII("operations"), &count))
    return 2;
  const auto operations = ScenarioOperations(command_line.GetSwitchValuePath("dir"),
                                             command_line.GetSwitchValueNative("key"));
  // Never destroyed: its destruction would commit.
  Transaction* transaction = new Transaction;
  transaction->SetJournal(TransactionJournal::Create(journals, kScenarioSubject));
  if (!transaction->journal())
    return 3;
  for (size_t i = 0; i < count && i < operations.size(); ++i) {
    if (!transaction->Execute(operations[i]()))
      return 4;
  }
  if (command_line.HasSwitch("wait")) {
    // Written under another name and renamed once closed, so the test never
    // meets a "ready" this process still holds open.
    const base::FilePath marking = journals.Append(L"ready.tmp");
    if (!WriteText(marking, "ready") || !base::MovePath(marking, journals.Append(L"ready")))
      return 5;
    ::Sleep(INFINITE);
  }
  ::TerminateProcess(::GetCurrentProcess(), 7);
  return 6;
}

// An operation whose rollback ends its process, as a process ended from
// outside while it rolls back.
class EndProcessOnRollback : public Operation {
 public:
  bool Execute(OperationList* /*sub_operations*/) override { return true; }
  bool Rollback() override {
    ::TerminateProcess(::GetCurrentProcess(), 7);
    return false;
  }
};

// In a transaction journaled into "journals": copies "dir"\new.txt over
// "dir"\kept.txt (which is moved aside), then rolls back and is ended once
// the copy and the move are undone.
CHILD_PROCESS_MAIN(RollbackEndedMidway) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  const base::FilePath dir = command_line.GetSwitchValuePath("dir");
  // Never destroyed: its destruction would commit.
  Transaction* transaction = new Transaction;
  transaction->SetJournal(
      TransactionJournal::Create(command_line.GetSwitchValuePath("journals"), kScenarioSubject));
  if (!transaction->journal())
    return 3;
  if (!transaction->Execute(std::make_unique<EndProcessOnRollback>()) ||
      !transaction->Execute(
          std::make_unique<CopyFileOperation>(dir.Append(L"new.txt"), dir.Append(L"kept.txt")))) {
    return 4;
  }
  transaction->Rollback();
  return 6;
}

// Replays the journals in "journals" and is ended at their entry of its own
// kind, as a process ended from outside while it replays.
CHILD_PROCESS_MAIN(ReplayEndedMidway) {
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  TransactionJournal::RollBackAbandoned(command_line.GetSwitchValuePath("journals"),
                                        kScenarioSubject, 0,
                                        base::Bind([](const TransactionJournal::Entry&) {
                                          ::TerminateProcess(::GetCurrentProcess(), 7);
                                          return false;
                                        }));
  return 6;
}

class TransactionScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    dir_ = temp_.GetPath();
    key_ = L"Software\\VelmoTest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    // The machine views differ only for HKLM\Software.
    ASSERT_TRUE(HklmViewsAreSeparate());
  }

  void TearDown() override {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      base::win::RegistryKey root;
      if (root.Open(HKEY_LOCAL_MACHINE, L"", KEY_QUERY_VALUE | view) == ERROR_SUCCESS)
        root.DeleteKey(key_.c_str());
    }
  }

  bool HklmViewsAreSeparate() {
    const std::wstring probe = key_ + L"_views";
    base::win::RegistryKey k64(HKEY_LOCAL_MACHINE, probe.c_str(), KEY_ALL_ACCESS | KEY_WOW64_64KEY);
    base::win::RegistryKey k32(HKEY_LOCAL_MACHINE, probe.c_str(), KEY_ALL_ACCESS | KEY_WOW64_32KEY);
    k64.WriteValue(L"v", L"64");
    k32.WriteValue(L"v", L"32");
    std::wstring read64;
    k64.ReadValue(L"v", &read64);
    k64.Close();
    k32.Close();
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      base::win::RegistryKey root(HKEY_LOCAL_MACHINE, L"", KEY_QUERY_VALUE | view);
      root.DeleteKey(probe.c_str());
    }
    return read64 == L"64";
  }

  base::FilePath Path(const wchar_t* relative) const { return dir_.Append(relative); }

  // The state before the transaction.
  void CreateInitialState() {
    for (const wchar_t* folder : {L"src", L"dst", L"del", L"move"})
      ASSERT_TRUE(base::CreateDirectoryTree(Path(folder)));
    ASSERT_TRUE(WriteText(Path(L"src\\a.txt"), "alpha"));
    ASSERT_TRUE(WriteText(Path(L"src\\b.bin"), "bravo"));
    ASSERT_TRUE(::SetFileAttributesW(Path(L"src\\b.bin").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteText(Path(L"dst\\existing.txt"), "old contents"));
    ASSERT_TRUE(::SetFileAttributesW(Path(L"dst\\existing.txt").c_str(),
                                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteText(Path(L"del\\c.txt"), "charlie"));
    ASSERT_TRUE(WriteText(Path(L"move\\m.txt"), "mike"));

    base::win::RegistryKey user(HKEY_CURRENT_USER, key_.c_str(), KEY_ALL_ACCESS);
    ASSERT_TRUE(user.Valid());
    ASSERT_EQ(ERROR_SUCCESS, user.WriteValue(L"Keep", L"kept"));
    ASSERT_EQ(ERROR_SUCCESS, user.WriteValue(L"Gone", DWORD{7}));
    const std::wstring tree = key_ + L"\\Tree";
    base::win::RegistryKey tree_key(HKEY_CURRENT_USER, tree.c_str(), KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, tree_key.WriteValue(L"", L"default"));
    const uint8_t bytes[] = {0, 1, 2, 0xfe};
    ASSERT_EQ(ERROR_SUCCESS, tree_key.WriteValue(L"Bytes", bytes, sizeof(bytes), REG_BINARY));
    base::win::RegistryKey deep(HKEY_CURRENT_USER, (tree + L"\\Plain\\Deep").c_str(),
                                KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, deep.WriteValues(L"Multi", {L"one", L"two"}));
    base::win::RegistryKey locked(HKEY_CURRENT_USER, (tree + L"\\Locked").c_str(), KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, locked.WriteValueQW(L"Q", 0x1122334455667788ull));
    locked.Close();
    ASSERT_TRUE(
        testing::SetKeySecurityFromSddl(HKEY_CURRENT_USER, tree + L"\\Locked", 0, kLockedSddl));

    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
      base::win::RegistryKey machine(HKEY_LOCAL_MACHINE, key_.c_str(), KEY_ALL_ACCESS | view);
      ASSERT_TRUE(machine.Valid());
      ASSERT_EQ(
          ERROR_SUCCESS,
          machine.WriteValue(L"Shared", view == KEY_WOW64_64KEY ? L"sixty-four" : L"thirty-two"));
      base::win::RegistryKey tree2(HKEY_LOCAL_MACHINE, (key_ + L"\\Tree2\\Child").c_str(),
                                   KEY_ALL_ACCESS | view);
      ASSERT_EQ(ERROR_SUCCESS, tree2.WriteValue(L"View", view == KEY_WOW64_64KEY ? 64 : 32));
    }
    ASSERT_TRUE(testing::SetKeySecurityFromSddl(HKEY_LOCAL_MACHINE, key_ + L"\\Tree2",
                                                KEY_WOW64_32KEY, kLockedSddl));
  }

  testing::MachineState State() const {
    testing::MachineState state;
    testing::AddFiles(dir_, &state);
    testing::AddRegistryTree(HKEY_CURRENT_USER, key_, 0, "hkcu", &state);
    testing::AddRegistryTree(HKEY_LOCAL_MACHINE, key_, KEY_WOW64_64KEY, "hklm64", &state);
    testing::AddRegistryTree(HKEY_LOCAL_MACHINE, key_, KEY_WOW64_32KEY, "hklm32", &state);
    return state;
  }

  std::vector<std::function<std::unique_ptr<Operation>()>> Operations() const {
    return ScenarioOperations(dir_, key_);
  }

  static constexpr const wchar_t* kLockedSddl = L"O:BAG:BAD:P(A;;KA;;;BA)(A;;KA;;;SY)(A;;KR;;;WD)";

  base::ScopedTempDir temp_;
  base::FilePath dir_;
  std::wstring key_;
};

TEST_F(TransactionScenarioTest, FailureAtEveryOperationRestoresTheMachine) {
  const auto operations = Operations();
  for (size_t k = 0; k <= operations.size(); ++k) {
    SCOPED_TRACE("failing operation " + std::to_string(k));
    CreateInitialState();
    const testing::MachineState before = State();
    ASSERT_NE(std::string::npos, before.at("hkcu\\Tree\\Locked#security").find("D:P"));
    {
      Transaction transaction;
      for (size_t i = 0; i < k; ++i)
        ASSERT_TRUE(transaction.Execute(operations[i]())) << "operation " << i;
      // Operation k does its work (and its sub-operations theirs) and then
      // fails; past the end a plain failure.
      EXPECT_FALSE(transaction.Execute(
          k < operations.size()
              ? std::unique_ptr<Operation>(std::make_unique<FailAfterOperation>(operations[k]()))
              : std::make_unique<FailingOperation>()));
      EXPECT_TRUE(transaction.Rollback());
    }
    EXPECT_EQ(before, State());
    TearDown();
    ASSERT_TRUE(temp_.Delete());
    ASSERT_TRUE(base::CreateDirectoryTree(dir_));
  }
}

TEST_F(TransactionScenarioTest, SuccessCommitsAndRollbackAfterSuccessRestores) {
  CreateInitialState();
  const testing::MachineState before = State();
  {
    Transaction transaction;
    for (auto& make : Operations())
      ASSERT_TRUE(transaction.Execute(make()));
    const testing::MachineState after = State();
    EXPECT_NE(before, after);
    // The machine views stay apart; HKCU\Software is one key for both.
    std::wstring text;
    base::win::RegistryKey k64(HKEY_LOCAL_MACHINE, key_.c_str(), KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    EXPECT_EQ(ERROR_SUCCESS, k64.ReadValue(L"Shared", &text));
    EXPECT_EQ(L"changed", text);
    EXPECT_EQ("3:090807", after.at("hklm32|Shared"));
    EXPECT_EQ(1u, after.count("hklm32\\Made32|Q"));
    EXPECT_EQ(0u, after.count("hklm64\\Made32|Q"));
    EXPECT_EQ(1u, after.count("hklm64\\Tree2\\Child|View"));
    EXPECT_EQ(0u, after.count("hklm32\\Tree2\\Child|View"));
    base::win::RegistryKey user32(HKEY_CURRENT_USER, key_.c_str(),
                                  KEY_QUERY_VALUE | KEY_WOW64_32KEY);
    EXPECT_EQ(ERROR_SUCCESS, user32.ReadValue(L"Keep", &text));
    EXPECT_EQ(L"changed", text);
    EXPECT_EQ(0u, after.count("hkcu|Gone"));
    EXPECT_EQ(0u, after.count("hkcu\\Tree#security"));
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(Path(L"fresh\\sub\\b.bin"), &contents));
    EXPECT_EQ("bravo", contents);
    // The copy of a read-only file can be replaced by the next update.
    EXPECT_FALSE(::GetFileAttributesW(Path(L"fresh\\sub\\b.bin").c_str()) &
                 FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(base::ReadFileToString(Path(L"new\\deep\\er\\m.txt"), &contents));
    EXPECT_EQ("mike", contents);
    EXPECT_FALSE(base::PathExists(Path(L"move\\m.txt")));
    EXPECT_EQ(0u, after.count("file:dst\\existing.txt"));

    EXPECT_TRUE(transaction.Rollback());
    EXPECT_EQ(before, State());
  }
  EXPECT_EQ(before, State());

  // Committed by destruction: no temporary stays, the emptied folder goes.
  {
    Transaction transaction;
    for (auto& make : Operations())
      ASSERT_TRUE(transaction.Execute(make()));
  }
  const testing::MachineState committed = State();
  for (const auto& [name, value] : committed)
    EXPECT_EQ(std::string::npos, name.find(".old")) << name;
  EXPECT_EQ(0u, committed.count("file:del"));
  EXPECT_EQ(0u, committed.count("file:dst\\existing.txt"));
  EXPECT_EQ(1u, committed.count("file:dst"));
}

// A process ended after any number of operations (no code of its own runs
// then) is rolled back from its journal by another process; a journal whose
// process still runs is left alone.
TEST_F(TransactionScenarioTest, ProcessEndedMidTransactionIsRolledBackFromItsJournal) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  const size_t total = Operations().size();
  for (size_t k = 0; k <= total; ++k) {
    SCOPED_TRACE("ended after operation " + std::to_string(k));
    CreateInitialState();
    const testing::MachineState before = State();
    base::CommandLine child = ::testing::GetChildCommandLine("JournaledScenario");
    child.AppendSwitchPath("journals", journals.GetPath());
    child.AppendSwitchPath("dir", dir_);
    child.AppendSwitchNative("key", key_);
    child.AppendSwitchASCII("operations", std::to_string(k));
    if (k == total)
      child.AppendSwitch("wait");
    base::Process process = base::LaunchProcess(child, base::LaunchOptions());
    ASSERT_TRUE(process.IsValid());
    if (k < total) {
      int exit_code = 0;
      ASSERT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
      ASSERT_EQ(7, exit_code);
    } else {
      const base::FilePath ready = journals.GetPath().Append(L"ready");
      for (int waited = 0; !base::PathExists(ready) && waited < 60 * 1000; waited += 20)
        ::Sleep(20);
      ASSERT_TRUE(base::PathExists(ready));
      ASSERT_TRUE(base::DeletePath(ready, false));
      const testing::MachineState running = State();
      EXPECT_NE(before, running);
      // Waited for a while, then left alone.
      EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 300,
                                                        TransactionJournal::ExtraUndo()));
      EXPECT_EQ(running, State());
      ASSERT_TRUE(process.Terminate(7, true));
    }
    if (k > 0) {
      EXPECT_NE(before, State());
    }
    EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                      TransactionJournal::ExtraUndo()));
    EXPECT_EQ(before, State());
    EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
    // Replaying again finds nothing to do.
    EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                      TransactionJournal::ExtraUndo()));
    TearDown();
    ASSERT_TRUE(temp_.Delete());
    ASSERT_TRUE(base::CreateDirectoryTree(dir_));
  }
}

// A journal's last line cut short was being written when its process
// ended: the change it announces was not begun, and the rest is undone. A
// committed transaction leaves no journal.
TEST_F(TransactionScenarioTest, JournalIsGoneAfterCommitAndATornLineIsSkipped) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  CreateInitialState();
  const testing::MachineState before = State();
  {
    Transaction transaction;
    transaction.SetJournal(TransactionJournal::Create(journals.GetPath(), kScenarioSubject));
    ASSERT_TRUE(transaction.journal());
    for (auto& make : Operations())
      ASSERT_TRUE(transaction.Execute(make()));
  }
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
  const testing::MachineState committed = State();
  EXPECT_NE(before, committed);

  const base::FilePath made = Path(L"made.txt");
  ASSERT_TRUE(WriteText(made, "made"));
  const std::string text = "journal\t4294967295\t1\nfile\t" +
                           base::HexEncode(base::WideToUTF8(made.value())) + "\nfile\t" +
                           base::HexEncode(base::WideToUTF8(Path(L"src\\a.txt").value()));
  const base::FilePath journal = journals.GetPath().Append(L"scenario-1.journal");
  ASSERT_TRUE(WriteText(journal, text));
  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                    TransactionJournal::ExtraUndo()));
  EXPECT_FALSE(base::PathExists(made));
  EXPECT_TRUE(base::PathExists(Path(L"src\\a.txt")));
  EXPECT_FALSE(base::PathExists(journal));
  EXPECT_EQ(committed, State());
}

// A process whose run was completed by another one (it was ended before it
// could settle) has its journal dropped, not replayed: its changes stay.
// The journal of any other process is left alone.
TEST_F(TransactionScenarioTest, JournalOfACompletedRunIsDroppedWithoutUndoingIt) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  CreateInitialState();
  const testing::MachineState before = State();
  std::vector<base::Process> children;
  for (const char* operations : {"2", "1"}) {
    base::CommandLine child = ::testing::GetChildCommandLine("JournaledScenario");
    child.AppendSwitchPath("journals", journals.GetPath());
    child.AppendSwitchPath("dir", dir_);
    child.AppendSwitchNative("key", key_);
    child.AppendSwitchASCII("operations", operations);
    children.push_back(base::LaunchProcess(child, base::LaunchOptions()));
    ASSERT_TRUE(children.back().IsValid());
    int exit_code = 0;
    ASSERT_TRUE(children.back().WaitForExitWithTimeout(60 * 1000, &exit_code));
    ASSERT_EQ(7, exit_code);
  }
  const testing::MachineState changed = State();
  ASSERT_NE(before, changed);

  EXPECT_TRUE(TransactionJournal::DiscardOfEndedProcess(journals.GetPath(), kScenarioSubject,
                                                        children[0].Handle()));
  EXPECT_EQ(changed, State());
  // Only the second child's journal is left.
  std::vector<base::FilePath> left;
  base::DirectoryEnumerator enumerator(journals.GetPath(), false, base::DirectoryEnumerator::FILES);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next())
    left.push_back(path);
  ASSERT_EQ(1u, left.size());
  EXPECT_NE(std::wstring::npos,
            left[0].BaseName().value().find(L"-" + std::to_wstring(children[1].Pid())));
  // Dropping again finds nothing of that process.
  EXPECT_TRUE(TransactionJournal::DiscardOfEndedProcess(journals.GetPath(), kScenarioSubject,
                                                        children[0].Handle()));
  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                    TransactionJournal::ExtraUndo()));
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
}

// Two runs were ended from outside: the older one (a process that waits for
// the one it started) created a folder, the newer one a file inside it.
// Undone newest first, the file goes before its folder, and both are gone;
// the other way round the folder would still hold the file when its undo ran.
TEST_F(TransactionScenarioTest, AbandonedRunsAreUndoneNewestFirst) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  const base::FilePath folder = Path(L"made by the older run");
  const base::FilePath file = folder.Append(L"made by the newer run.txt");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  ASSERT_TRUE(WriteText(file, "newer"));

  auto line = [](const TransactionJournal::Entry& entry) {
    std::string text = entry.kind;
    for (const std::string& field : entry.fields)
      text += "\t" + base::HexEncode(field);
    return text + "\n";
  };
  // No process has the id 4294967295: both owners have ended. The older
  // journal's name sorts first, so a replay in the order found would also
  // take the older run first.
  ASSERT_TRUE(
      WriteText(journals.GetPath().Append(L"scenario-1.journal"),
                "journal\t4294967295\t1000\n" + line(TransactionJournal::CreatedFolder(folder))));
  ASSERT_TRUE(
      WriteText(journals.GetPath().Append(L"scenario-2.journal"),
                "journal\t4294967295\t2000\n" + line(TransactionJournal::CreatedFile(file))));

  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                    TransactionJournal::ExtraUndo()));
  EXPECT_FALSE(base::PathExists(file));
  EXPECT_FALSE(base::PathExists(folder));
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
}

// A process ended in the middle of its own rollback: what it undid stays
// undone, and the replay finishes the rest. Undoing the copy's "created"
// again, after the file it had moved aside was back, would delete that file.
TEST_F(TransactionScenarioTest, RollbackEndedMidwayIsFinishedFromItsJournal) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  ASSERT_TRUE(WriteText(Path(L"kept.txt"), "kept"));
  ASSERT_TRUE(WriteText(Path(L"new.txt"), "new"));
  const testing::MachineState before = State();
  base::CommandLine child = ::testing::GetChildCommandLine("RollbackEndedMidway");
  child.AppendSwitchPath("journals", journals.GetPath());
  child.AppendSwitchPath("dir", dir_);
  base::Process process = base::LaunchProcess(child, base::LaunchOptions());
  ASSERT_TRUE(process.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
  ASSERT_EQ(7, exit_code);
  ASSERT_FALSE(IsEmptyFolder(journals.GetPath()));

  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                    TransactionJournal::ExtraUndo()));
  EXPECT_EQ(before, State());
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
}

// A replay ended halfway leaves only what it had not undone yet: the next
// replay must not delete again the file created where one had been moved
// aside, once that one is back.
TEST_F(TransactionScenarioTest, ReplayEndedMidwayIsFinishedWithoutUndoingTwice) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  const base::FilePath kept = Path(L"kept.txt");
  const base::FilePath aside = Path(L"kept.txt.old");
  ASSERT_TRUE(WriteText(kept, "kept"));
  const testing::MachineState before = State();
  // The ended run moved the file aside and made a new one in its place,
  // after a change of its own kind.
  ASSERT_TRUE(base::MovePath(kept, aside));
  ASSERT_TRUE(WriteText(kept, "new"));
  std::string text = "journal\t4294967295\t1000\nown\t00\n";
  for (const TransactionJournal::Entry& entry :
       {TransactionJournal::Moved(kept, aside), TransactionJournal::CreatedFile(kept)}) {
    text += entry.kind;
    for (const std::string& field : entry.fields)
      text += "\t" + base::HexEncode(field);
    text += "\n";
  }
  ASSERT_TRUE(WriteText(journals.GetPath().Append(L"scenario-1.journal"), text));

  base::CommandLine child = ::testing::GetChildCommandLine("ReplayEndedMidway");
  child.AppendSwitchPath("journals", journals.GetPath());
  base::Process process = base::LaunchProcess(child, base::LaunchOptions());
  ASSERT_TRUE(process.IsValid());
  int exit_code = 0;
  ASSERT_TRUE(process.WaitForExitWithTimeout(60 * 1000, &exit_code));
  ASSERT_EQ(7, exit_code);

  EXPECT_TRUE(TransactionJournal::RollBackAbandoned(
      journals.GetPath(), kScenarioSubject, 0,
      base::Bind([](const TransactionJournal::Entry&) { return true; })));
  EXPECT_EQ(before, State());
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
}

// Counts the ERROR lines logged while it exists; the lines still reach the
// previous handler.
class ScopedErrorCount {
 public:
  ScopedErrorCount() : previous_(logging::GetLogMessageHandler()) {
    Previous() = previous_;
    Count() = 0;
    logging::SetLogMessageHandler(&ScopedErrorCount::OnLine);
  }
  ScopedErrorCount(const ScopedErrorCount&) = delete;
  ScopedErrorCount& operator=(const ScopedErrorCount&) = delete;
  ~ScopedErrorCount() { logging::SetLogMessageHandler(previous_); }

  int errors() const { return Count(); }

 private:
  static std::atomic<int>& Count() {
    static std::atomic<int> count{0};
    return count;
  }
  static logging::LogMessageHandlerFunction& Previous() {
    static logging::LogMessageHandlerFunction previous = nullptr;
    return previous;
  }
  static bool OnLine(int severity, const char* file, int line, size_t start,
                     const std::string& text) {
    if (severity >= logging::LOG_ERROR)
      ++Count();
    return Previous() && Previous()(severity, file, line, start, text);
  }

  logging::LogMessageHandlerFunction previous_;
};

// A run ended from outside created a file that a running program holds when
// its journal is replayed (the uninstaller that replays it runs from the
// run's files), and a key that holds a value written beside the
// transaction. A replay that reports undoes the rest, names the held file
// and logs no error; one that does not counts the held file as a failure.
TEST_F(TransactionScenarioTest, ReplayReportsFilesInUseAndLeavesFilledKeys) {
  for (const bool with_report : {true, false}) {
    SCOPED_TRACE(with_report ? "with a report" : "without a report");
    base::ScopedTempDir journals;
    ASSERT_TRUE(journals.CreateUniqueTempDir());
    const base::FilePath folder = Path(with_report ? L"reported" : L"unreported");
    const base::FilePath held = folder.Append(L"held.dll");
    const base::FilePath free = folder.Append(L"free.txt");
    const std::wstring key = key_ + L"\\Created";
    ASSERT_TRUE(base::CreateDirectoryTree(folder));
    ASSERT_TRUE(WriteText(held, "held"));
    ASSERT_TRUE(WriteText(free, "free"));
    base::win::RegistryKey created(HKEY_CURRENT_USER, key.c_str(), KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, created.WriteValue(L"Beside", L"written beside"));
    created.Close();
    std::string text = "journal\t4294967295\t1000\n";
    for (const TransactionJournal::Entry& entry :
         {TransactionJournal::CreatedKey(HKEY_CURRENT_USER, 0, key),
          TransactionJournal::CreatedFolder(folder), TransactionJournal::CreatedFile(held),
          TransactionJournal::CreatedFile(free)}) {
      text += entry.kind;
      for (const std::string& field : entry.fields)
        text += "\t" + base::HexEncode(field);
      text += "\n";
    }
    ASSERT_TRUE(WriteText(journals.GetPath().Append(L"scenario-1.journal"), text));
    // Open without delete sharing, as a running image or loaded library is.
    base::win::ScopedHandle holder(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                 nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());

    TransactionJournal::ReplayReport report;
    ScopedErrorCount errors;
    const bool ok = TransactionJournal::RollBackAbandoned(journals.GetPath(), kScenarioSubject, 0,
                                                          TransactionJournal::ExtraUndo(),
                                                          with_report ? &report : nullptr);
    EXPECT_EQ(with_report, ok);
    EXPECT_FALSE(base::PathExists(free));
    EXPECT_TRUE(base::PathExists(held));
    EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
    base::win::RegistryKey kept(HKEY_CURRENT_USER, key.c_str(), KEY_READ);
    EXPECT_TRUE(kept.HasValue(L"Beside"));
    if (with_report) {
      EXPECT_EQ(0, errors.errors());
      EXPECT_EQ(1, report.replayed);
      EXPECT_EQ(std::vector<base::FilePath>{held}, report.files_in_use);
    }
  }
}

// A front end reading the folder's status and its back end starting may both
// look for abandoned journals at once. The second replay waits for the first:
// replaying one journal twice would undo "created a folder" again after the
// new run had made that folder anew.
TEST_F(TransactionScenarioTest, ConcurrentReplaysUndoEachJournalOnce) {
  base::ScopedTempDir journals;
  ASSERT_TRUE(journals.CreateUniqueTempDir());
  constexpr auto kManual = base::WaitableEvent::ResetPolicy::kManual;
  constexpr auto kNotSignaled = base::WaitableEvent::InitialState::kNotSignaled;
  const base::FilePath folder = Path(L"made by the ended run");
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  // The ended run created the folder, then made a change of its own kind,
  // which a replay undoes first.
  ASSERT_TRUE(WriteText(journals.GetPath().Append(L"scenario-1.journal"),
                        "journal\t4294967295\t1000\nfolder\t" +
                            base::HexEncode(base::WideToUTF8(folder.value())) + "\nown\t00\n"));

  base::WaitableEvent inside(kManual, kNotSignaled);
  base::WaitableEvent release(kManual, kNotSignaled);
  bool first_ok = false;
  std::thread first([&] {
    first_ok = TransactionJournal::RollBackAbandoned(
        journals.GetPath(), kScenarioSubject, 0, base::Bind([&](const TransactionJournal::Entry&) {
          inside.Signal();
          release.Wait();
          return true;
        }));
  });
  ASSERT_TRUE(inside.TimedWait(base::TimeSpan::FromSeconds(120)));

  // The next run: it undoes what ended runs left, then creates the folder.
  base::WaitableEvent next_done(kManual, kNotSignaled);
  bool next_ok = false;
  std::thread next([&] {
    next_ok = TransactionJournal::RollBackAbandoned(
        journals.GetPath(), kScenarioSubject, 0,
        base::Bind([](const TransactionJournal::Entry&) { return true; }));
    base::CreateDirectoryTree(folder);
    next_done.Signal();
  });
  // The next run must not get ahead of the replay in progress. A loaded
  // machine can only make this pass wrongly, never fail wrongly.
  EXPECT_FALSE(next_done.TimedWait(base::TimeSpan::FromSeconds(2)))
      << "a second replay ran while the first was still undoing";
  release.Signal();
  first.join();
  next.join();
  EXPECT_TRUE(first_ok);
  EXPECT_TRUE(next_ok);
  EXPECT_TRUE(base::PathExists(folder))
      << "the next run's folder was undone by the ended run's replay";
  EXPECT_TRUE(IsEmptyFolder(journals.GetPath()));
}

}  // namespace
}  // namespace installer
