#include "desktop/windows/installer/service/access_control.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/service/scoped_token_privileges.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

// The owner and DACL of |path| in SDDL form, empty when unreadable.
std::wstring OwnerAndDaclSddl(const std::wstring& path, SE_OBJECT_TYPE type) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), type,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &raw) != ERROR_SUCCESS) {
    return std::wstring();
  }
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor(raw);
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.Get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr)) {
    return std::wstring();
  }
  base::win::ScopedLocalAllocTyped<wchar_t*> holder(text);
  return text;
}

bool SetSddl(const std::wstring& path, SE_OBJECT_TYPE type, const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &raw,
                                                              nullptr)) {
    return false;
  }
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor(raw);
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorOwner(descriptor.Get(), &owner, &defaulted);
  ::GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted);
  // Naming SYSTEM as owner takes the restore privilege.
  ScopedTokenPrivileges privileges({SE_RESTORE_NAME});
  return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), type,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

// A key of its own per test and process below HKCU; Wine enforces registry
// key DACLs, so keys carry the assertions that folders cannot under Wine.
class RegistryAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* test_name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    subkey_ = L"Software\\VelmoTest\\AccessControl_" + std::to_wstring(::GetCurrentProcessId()) +
              L"_" + std::wstring(test_name, test_name + strlen(test_name));
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &raw, nullptr));
    base::win::ScopedHKey key(raw);
    path_ = L"CURRENT_USER\\" + subkey_;
  }

  void TearDown() override {
    // The test may leave the key owned by SYSTEM and read-only.
    SavedPermissions ignored;
    GrantCurrentUserAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_ALL_ACCESS, false, &ignored);
    EXPECT_EQ(ERROR_SUCCESS, ::RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str()));
  }

  std::wstring subkey_;
  std::wstring path_;
};

// SYSTEM owns the key; everybody may read it and take ownership, nothing
// else. (Taking ownership through the DACL's WRITE_OWNER rather than the
// take-ownership privilege, which Wine does not honour when opening a key.)
constexpr wchar_t kForeignReadOnlyKey[] = L"O:SYD:P(A;;KR;;;WD)(A;;WO;;;WD)";

TEST_F(RegistryAccessTest, HasAccessFollowsTheDacl) {
  ASSERT_TRUE(SetSddl(path_, SE_REGISTRY_KEY, kForeignReadOnlyKey));
  EXPECT_TRUE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_READ));
  EXPECT_TRUE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, GENERIC_READ));
  EXPECT_FALSE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_SET_VALUE));
  EXPECT_FALSE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, GENERIC_WRITE));
  EXPECT_FALSE(HasAccess(base::FilePath(path_ + L"\\Missing"), SE_REGISTRY_KEY, KEY_READ));
}

// The key belongs to SYSTEM and denies the user WRITE_DAC: the grant has to
// take ownership, and the restore has to give it back along with the DACL.
TEST_F(RegistryAccessTest, GrantTakesOwnershipAndRestoreGivesItBack) {
  ASSERT_TRUE(SetSddl(path_, SE_REGISTRY_KEY, kForeignReadOnlyKey));
  const std::wstring before = OwnerAndDaclSddl(path_, SE_REGISTRY_KEY);
  ASSERT_EQ(0u, before.find(L"O:SY")) << before;

  SavedPermissions saved;
  ASSERT_TRUE(GrantCurrentUserAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_ALL_ACCESS, false,
                                     &saved));
  EXPECT_TRUE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_ALL_ACCESS));
  const std::wstring granted = OwnerAndDaclSddl(path_, SE_REGISTRY_KEY);
  EXPECT_NE(0u, granted.find(L"O:SY")) << granted;

  ASSERT_TRUE(RestorePermissions(saved));
  EXPECT_EQ(before, OwnerAndDaclSddl(path_, SE_REGISTRY_KEY));
  EXPECT_FALSE(HasAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_SET_VALUE));
}

TEST_F(RegistryAccessTest, GrantWithoutOwnershipChangeRestoresTheDacl) {
  ASSERT_TRUE(SetSddl(path_, SE_REGISTRY_KEY, L"O:BAD:P(A;;KA;;;BA)(A;;KR;;;WD)"));
  const std::wstring before = OwnerAndDaclSddl(path_, SE_REGISTRY_KEY);
  SavedPermissions saved;
  ASSERT_TRUE(
      GrantCurrentUserAccess(base::FilePath(path_), SE_REGISTRY_KEY, KEY_READ, true, &saved));
  EXPECT_NE(before, OwnerAndDaclSddl(path_, SE_REGISTRY_KEY));
  ASSERT_TRUE(RestorePermissions(saved));
  EXPECT_EQ(before, OwnerAndDaclSddl(path_, SE_REGISTRY_KEY));
}

TEST(AccessControlTest, FailuresAreReported) {
  SavedPermissions saved;
  EXPECT_FALSE(GrantCurrentUserAccess(base::FilePath(L"C:\\does\\not\\exist\\velmo"),
                                      SE_FILE_OBJECT, FILE_ALL_ACCESS, false, &saved));
  EXPECT_TRUE(saved.security_descriptor.empty());
  EXPECT_FALSE(RestorePermissions(saved));
  EXPECT_FALSE(
      HasAccess(base::FilePath(L"C:\\does\\not\\exist\\velmo"), SE_FILE_OBJECT, FILE_GENERIC_READ));
}

TEST(AccessControlTest, FolderGrantAndRestore) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const std::wstring path = dir.GetPath().value();
  EXPECT_TRUE(HasAccess(dir.GetPath(), SE_FILE_OBJECT, FILE_GENERIC_READ | FILE_GENERIC_WRITE));

  ASSERT_TRUE(SetSddl(path, SE_FILE_OBJECT, L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)"));
  const std::wstring before = OwnerAndDaclSddl(path, SE_FILE_OBJECT);
  if (before.find(L"(A;OICI;FR;;;WD)") == std::wstring::npos) {
    GTEST_SKIP() << "Wine does not store folder DACLs (SetNamedSecurityInfoW succeeds, "
                    "GetNamedSecurityInfoW gives back "
                 << before << "): the registry-key tests carry the grant/restore assertions";
  }
  SavedPermissions saved;
  ASSERT_TRUE(GrantCurrentUserAccess(dir.GetPath(), SE_FILE_OBJECT, FILE_ALL_ACCESS, true, &saved));
  EXPECT_NE(before, OwnerAndDaclSddl(path, SE_FILE_OBJECT));
  ASSERT_TRUE(RestorePermissions(saved));
  EXPECT_EQ(before, OwnerAndDaclSddl(path, SE_FILE_OBJECT));
}

}  // namespace

}  // namespace installer
