#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"

#include <windows.h>

#include <string>

#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class RegistryOperationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = L"Software\\VelmoTest_" + std::to_wstring(::GetCurrentProcessId()) + L"_RegOps";
  }
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  std::wstring key_;
};

TEST_F(RegistryOperationTest, BadInputAndNothingToDoAreHandled) {
  OperationList sub_operations;
  const DWORD value = 1;
  // Both views at once, no root, no data, an unknown negative type.
  EXPECT_FALSE(ChangeRegValueOperation(HKEY_CURRENT_USER, key_, L"v", &value, REG_DWORD, 4,
                                       KEY_WOW64_32KEY | KEY_WOW64_64KEY)
                   .Execute(&sub_operations));
  EXPECT_FALSE(ChangeRegValueOperation(nullptr, key_, L"v", &value, REG_DWORD, 4, 0)
                   .Execute(&sub_operations));
  EXPECT_FALSE(ChangeRegValueOperation(HKEY_CURRENT_USER, key_, L"v", nullptr, REG_DWORD, 4, 0)
                   .Execute(&sub_operations));
  EXPECT_FALSE(ChangeRegValueOperation(HKEY_CURRENT_USER, key_, L"v", &value, -2, 4, 0)
                   .Execute(&sub_operations));
  EXPECT_FALSE(DeleteRegKeyOperation(HKEY_CURRENT_USER, key_, 0x300).Execute(&sub_operations));
  EXPECT_FALSE(DeleteRegKeyOperation(HKEY_CURRENT_USER, L"", 0).Execute(&sub_operations));
  // Deleting what is not there succeeds and creates nothing.
  EXPECT_TRUE(ChangeRegValueOperation(HKEY_CURRENT_USER, key_ + L"\\Sub", L"v", nullptr,
                                      ChangeRegValueOperation::kDeleteValue, 0, 0)
                  .Execute(&sub_operations));
  EXPECT_TRUE(
      DeleteRegKeyOperation(HKEY_CURRENT_USER, key_ + L"\\Sub", 0).Execute(&sub_operations));
  EXPECT_TRUE(sub_operations.empty());
  base::win::RegistryKey probe;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, probe.Open(HKEY_CURRENT_USER, key_.c_str(), KEY_READ));
}

TEST_F(RegistryOperationTest, CreatedKeysGoOnRollbackButFilledOnesStay) {
  ASSERT_TRUE(base::win::RegistryKey(HKEY_CURRENT_USER, key_.c_str(), KEY_SET_VALUE).Valid());
  const std::wstring deep = key_ + L"\\A\\B";
  ChangeRegValueOperation operation(HKEY_CURRENT_USER, deep, L"", L"x", REG_SZ, 4, 0);
  OperationList sub_operations;
  ASSERT_TRUE(operation.Execute(&sub_operations));
  ASSERT_EQ(1u, sub_operations.size());
  // Someone else writes beside the created key meanwhile.
  base::win::RegistryKey a(HKEY_CURRENT_USER, (key_ + L"\\A").c_str(), KEY_SET_VALUE);
  ASSERT_EQ(ERROR_SUCCESS, a.WriteValue(L"other", DWORD{3}));
  a.Close();
  EXPECT_TRUE(operation.Rollback());
  EXPECT_FALSE(sub_operations.back()->Rollback());
  base::win::RegistryKey probe;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, probe.Open(HKEY_CURRENT_USER, deep.c_str(), KEY_READ));
  EXPECT_EQ(ERROR_SUCCESS, probe.Open(HKEY_CURRENT_USER, (key_ + L"\\A").c_str(), KEY_READ));
}

}  // namespace
}  // namespace installer
