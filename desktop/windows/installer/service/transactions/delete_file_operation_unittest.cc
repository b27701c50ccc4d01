#include "desktop/windows/installer/service/transactions/delete_file_operation.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_util.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

std::string ReadText(const base::FilePath& path) {
  std::string text;
  return base::ReadFileToString(path, &text) ? text : "<unreadable>";
}

// Takes the reboot deletions of files below |folder| out of the pending
// list, so the shared test machine is left as found. True when any was
// there.
bool TakePendingDeletionsBelow(const base::FilePath& folder) {
  base::win::RegistryKey key(HKEY_LOCAL_MACHINE, kSessionManager, KEY_QUERY_VALUE | KEY_SET_VALUE);
  std::vector<uint8_t> data;
  DWORD type = 0;
  if (!key.Valid() || key.ReadValueBinary(kPendingRenames, &data, &type) != ERROR_SUCCESS)
    return false;
  std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
  // Pairs of source and target (empty for a deletion).
  std::vector<std::wstring> tokens;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\0', start);
    if (end == std::wstring::npos)
      end = text.size();
    tokens.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  const std::wstring needle = base::ToLowerASCII(folder.value());
  std::wstring kept;
  bool found = false;
  for (size_t i = 0; i + 1 < tokens.size(); i += 2) {
    if (tokens[i].empty())
      break;
    if (base::ToLowerASCII(tokens[i]).find(needle) != std::wstring::npos) {
      found = true;
      continue;
    }
    kept += tokens[i] + L'\0' + tokens[i + 1] + L'\0';
  }
  if (!found)
    return false;
  if (kept.empty()) {
    key.DeleteValue(kPendingRenames);
  } else {
    kept += L'\0';
    key.WriteValue(kPendingRenames, kept.data(), static_cast<DWORD>(kept.size() * sizeof(wchar_t)),
                   REG_MULTI_SZ);
  }
  return true;
}

// Keeps a copy of this test program mapped as an executable image, as a
// running program is: it can be renamed but neither deleted nor opened for
// writing.
class MappedImage {
 public:
  bool Map(const base::FilePath& path) {
    base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE,
                                               FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid())
      return false;
    section_.Reset(
        ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr));
    if (!section_.IsValid())
      return false;
    view_ = ::MapViewOfFile(section_.Get(), FILE_MAP_READ, 0, 0, 0);
    return view_ != nullptr;
  }
  void Unmap() {
    if (view_)
      ::UnmapViewOfFile(view_);
    view_ = nullptr;
    section_.Reset();
  }
  ~MappedImage() { Unmap(); }

 private:
  base::win::ScopedHandle section_;
  void* view_ = nullptr;
};

class DeleteFileOperationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  base::FilePath Path(const wchar_t* name) const { return temp_.GetPath().Append(name); }

  base::ScopedTempDir temp_;
};

TEST_F(DeleteFileOperationTest, StaleTemporaryIsRemovedFirst) {
  const base::FilePath file = Path(L"data.txt");
  const base::FilePath stale = Path(L"data.txt.old");
  ASSERT_TRUE(WriteText(file, "current"));
  ASSERT_TRUE(WriteText(stale, "stale"));
  ASSERT_TRUE(::SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));
  {
    DeleteFileOperation operation(file, true, false);
    OperationList sub_operations;
    ASSERT_TRUE(operation.Execute(&sub_operations));
    EXPECT_TRUE(sub_operations.empty());
    EXPECT_EQ(stale, operation.temporary_path());
    EXPECT_EQ("current", ReadText(stale));
    EXPECT_FALSE(base::PathExists(file));
  }
  // Committed: nothing left.
  EXPECT_FALSE(base::PathExists(stale));
  EXPECT_FALSE(base::PathExists(file));
}

TEST_F(DeleteFileOperationTest, FileInUseIsDeletedAtRebootAndLaterUpdatesStillWork) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  const base::FilePath program = Path(L"app.exe");
  const base::FilePath first_temporary = Path(L"app.exe.old");
  ASSERT_TRUE(::CopyFileW(self, program.c_str(), FALSE));
  MappedImage running;
  ASSERT_TRUE(running.Map(program));
  {
    Transaction transaction;
    // Programs are not checked for being in use: they are renamed away.
    ASSERT_TRUE(transaction.Execute(std::make_unique<DeleteFileOperation>(program, true, true)));
    EXPECT_FALSE(base::PathExists(program));
  }
  // The temporary could not be deleted: it waits for the reboot.
  EXPECT_TRUE(base::PathExists(first_temporary));
  EXPECT_TRUE(TakePendingDeletionsBelow(temp_.GetPath()));

  // The next update before that reboot replaces the program again.
  ASSERT_TRUE(WriteText(program, "second"));
  {
    DeleteFileOperation operation(program, true, false);
    OperationList sub_operations;
    ASSERT_TRUE(operation.Execute(&sub_operations));
    EXPECT_EQ(Path(L"app.exe.old1"), operation.temporary_path());
    EXPECT_EQ("second", ReadText(Path(L"app.exe.old1")));
    // Rolled back, it is the program again.
    EXPECT_TRUE(operation.Rollback());
    EXPECT_EQ("second", ReadText(program));
    ASSERT_TRUE(operation.Execute(&sub_operations));
  }
  EXPECT_FALSE(base::PathExists(Path(L"app.exe.old1")));
  EXPECT_FALSE(base::PathExists(program));
  EXPECT_TRUE(base::PathExists(first_temporary));
  EXPECT_FALSE(TakePendingDeletionsBelow(temp_.GetPath()));

  running.Unmap();
  EXPECT_TRUE(base::DeletePath(first_temporary, false));
}

// Asked to, the check refuses a program that runs (its image mapped): the
// program stays where it was, nothing is set aside, and once it has ended
// the deletion goes through.
TEST_F(DeleteFileOperationTest, RunningProgramIsRefusedWhenAsked) {
  wchar_t self[MAX_PATH];
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, self, MAX_PATH));
  const base::FilePath program = Path(L"browser.exe");
  ASSERT_TRUE(::CopyFileW(self, program.c_str(), FALSE));
  MappedImage running;
  ASSERT_TRUE(running.Map(program));
  {
    Transaction transaction;
    auto operation = std::make_unique<DeleteFileOperation>(program, true, true);
    operation->RefuseRunningProgram();
    EXPECT_FALSE(transaction.Execute(std::move(operation)));
  }
  EXPECT_TRUE(base::PathExists(program));
  EXPECT_FALSE(base::PathExists(Path(L"browser.exe.old")));

  running.Unmap();
  {
    Transaction transaction;
    auto operation = std::make_unique<DeleteFileOperation>(program, true, true);
    operation->RefuseRunningProgram();
    EXPECT_TRUE(transaction.Execute(std::move(operation)));
  }
  EXPECT_FALSE(base::PathExists(program));
  EXPECT_FALSE(base::PathExists(Path(L"browser.exe.old")));
}

TEST_F(DeleteFileOperationTest, DataFileInUseIsMovedBack) {
  const base::FilePath file = Path(L"settings.json");
  ASSERT_TRUE(WriteText(file, "{}"));
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
  // Open by someone who lets it be renamed.
  base::win::ScopedHandle reader(::CreateFileW(
      file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(reader.IsValid());
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(std::make_unique<DeleteFileOperation>(file, true, false)));
    EXPECT_EQ(0u, transaction.size());
  }
  EXPECT_EQ("{}", ReadText(file));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
            ::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(base::PathExists(Path(L"settings.json.old")));

  // Without the check the rename is enough.
  DeleteFileOperation unchecked(file, false, false);
  OperationList sub_operations;
  EXPECT_TRUE(unchecked.Execute(&sub_operations));
  EXPECT_FALSE(base::PathExists(file));
  EXPECT_TRUE(unchecked.Rollback());
  EXPECT_EQ("{}", ReadText(file));
  reader.Reset();
  ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The emptied folders go up to, never including, the stop folder; a path
// that does not lie below the stop folder removes no folder at all, even
// when the folders around it end up empty.
TEST_F(DeleteFileOperationTest, CommitRemovesEmptiedParentsBelowTheStopFolderOnly) {
  const base::FilePath stop = Path(L"install");
  ASSERT_TRUE(base::CreateDirectoryTree(stop.Append(L"a\\b")));
  ASSERT_TRUE(WriteText(stop.Append(L"a\\b\\f.txt"), "f"));
  ASSERT_TRUE(base::CreateDirectoryTree(Path(L"outside\\deep")));
  ASSERT_TRUE(WriteText(Path(L"outside\\deep\\decoy.txt"), "d"));
  ASSERT_TRUE(base::CreateDirectoryTree(Path(L"install2\\x")));
  ASSERT_TRUE(WriteText(Path(L"install2\\x\\g.txt"), "g"));
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteFileOperation>(stop.Append(L"a\\b\\f.txt"), true, true, stop)));
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteFileOperation>(stop.Append(L"missing.txt"), true, true, stop)));
    // Outside the stop folder, through "..", and beside it under a name
    // that merely starts the same.
    ASSERT_TRUE(transaction.Execute(std::make_unique<DeleteFileOperation>(
        stop.Append(L"..\\outside\\deep\\decoy.txt"), true, true, stop)));
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteFileOperation>(Path(L"install2\\x\\g.txt"), true, true, stop)));
    EXPECT_TRUE(base::PathExists(stop.Append(L"a\\b\\f.txt.old")));
  }
  EXPECT_FALSE(base::PathExists(stop.Append(L"a")));
  EXPECT_TRUE(base::DirectoryExists(stop));
  EXPECT_TRUE(base::DirectoryExists(Path(L"outside\\deep")));
  EXPECT_TRUE(base::DirectoryExists(Path(L"install2\\x")));

  // Without a stop folder nothing above the file is removed.
  ASSERT_TRUE(base::CreateDirectoryTree(Path(L"c\\d")));
  ASSERT_TRUE(WriteText(Path(L"c\\d\\h.txt"), "h"));
  {
    Transaction transaction;
    ASSERT_TRUE(transaction.Execute(
        std::make_unique<DeleteFileOperation>(Path(L"c\\d\\h.txt"), true, true)));
  }
  EXPECT_FALSE(base::PathExists(Path(L"c\\d\\h.txt")));
  EXPECT_TRUE(base::DirectoryExists(Path(L"c\\d")));
}

// A transaction's commit removes the folders its deletions emptied after
// all of them, the deepest first: a folder goes once the last file and
// subfolder in it are gone, whichever deletion came last, and a folder
// that keeps a file stays.
TEST_F(DeleteFileOperationTest, CommitRemovesEveryFolderItsDeletionsEmptied) {
  const base::FilePath stop = Path(L"install");
  const wchar_t* const deleted[] = {L"a\\b\\one.txt", L"a\\b\\two.txt", L"a\\c\\d\\three.txt",
                                    L"a\\four.txt", L"kept\\five.txt"};
  for (const wchar_t* name : deleted) {
    ASSERT_TRUE(base::CreateDirectoryTree(stop.Append(name).DirName()));
    ASSERT_TRUE(WriteText(stop.Append(name), "x"));
  }
  ASSERT_TRUE(WriteText(stop.Append(L"kept\\stays.txt"), "x"));
  {
    Transaction transaction;
    for (const wchar_t* name : deleted) {
      ASSERT_TRUE(transaction.Execute(
          std::make_unique<DeleteFileOperation>(stop.Append(name), true, true, stop)));
    }
  }
  EXPECT_FALSE(base::PathExists(stop.Append(L"a")));
  EXPECT_FALSE(base::PathExists(stop.Append(L"kept\\five.txt")));
  EXPECT_TRUE(base::PathExists(stop.Append(L"kept\\stays.txt")));
  EXPECT_TRUE(base::DirectoryExists(stop));
}

}  // namespace
}  // namespace installer
