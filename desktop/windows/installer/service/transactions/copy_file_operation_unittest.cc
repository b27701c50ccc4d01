#include "desktop/windows/installer/service/transactions/copy_file_operation.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/machine_state_for_testing.h"
#include "desktop/windows/installer/service/transactions/transaction.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The copy fails after its sub-operations made the destination folder and
// moved the old file aside: they are undone in reverse order.
TEST(CopyFileOperationTest, FailedCopyUndoesItsSubOperations) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath source = temp.GetPath().Append(L"locked.bin");
  const std::string data = "payload";
  ASSERT_EQ(7, base::WriteFileBytes(source, data.data(), 7));
  const base::FilePath old_file = temp.GetPath().Append(L"out\\old.bin");
  ASSERT_TRUE(base::CreateDirectoryTree(old_file.DirName()));
  ASSERT_EQ(3, base::WriteFileBytes(old_file, "old", 3));
  ASSERT_TRUE(::SetFileAttributesW(old_file.c_str(), FILE_ATTRIBUTE_READONLY));
  testing::MachineState before;
  testing::AddFiles(temp.GetPath(), &before);

  // Nobody else may read the source while this is open.
  base::win::ScopedHandle exclusive(
      ::CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.IsValid());
  {
    Transaction transaction;
    EXPECT_FALSE(transaction.Execute(std::make_unique<CopyFileOperation>(source, old_file)));
    EXPECT_FALSE(transaction.Execute(
        std::make_unique<CopyFileOperation>(source, temp.GetPath().Append(L"new\\dir\\x.bin"))));
    EXPECT_EQ(0u, transaction.size());
  }
  exclusive.Reset();
  testing::MachineState after;
  testing::AddFiles(temp.GetPath(), &after);
  EXPECT_EQ(before, after);

  // Bad input fails without touching anything.
  OperationList sub_operations;
  EXPECT_FALSE(
      CopyFileOperation(temp.GetPath().Append(L"missing"), old_file).Execute(&sub_operations));
  EXPECT_FALSE(CopyFileOperation(source, temp.GetPath()).Execute(&sub_operations));
  EXPECT_FALSE(CopyFileOperation(base::FilePath(), old_file).Execute(&sub_operations));
  EXPECT_TRUE(sub_operations.empty());
  ::SetFileAttributesW(old_file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace installer
