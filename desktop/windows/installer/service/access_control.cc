#include "desktop/windows/installer/service/access_control.h"

#include <aclapi.h>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/service/scoped_token_privileges.h"

namespace installer {

namespace {

using ScopedSecurityDescriptor = base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR>;
using ScopedAcl = base::win::ScopedLocalAllocTyped<PACL>;

GENERIC_MAPPING MappingFor(SE_OBJECT_TYPE object_type) {
  if (object_type == SE_REGISTRY_KEY || object_type == SE_REGISTRY_WOW64_32KEY) {
    return {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  }
  return {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
}

// The current token as an impersonation token, as AccessCheck requires.
bool OpenImpersonationToken(base::win::ScopedHandle* result) {
  HANDLE raw = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY | TOKEN_DUPLICATE, TRUE, &raw)) {
    if (::GetLastError() != ERROR_NO_TOKEN) {
      PLOG(ERROR) << "OpenThreadToken failed";
      return false;
    }
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &raw)) {
      PLOG(ERROR) << "OpenProcessToken failed";
      return false;
    }
  }
  base::win::ScopedHandle token(raw);
  HANDLE duplicate = nullptr;
  if (!::DuplicateToken(token.Get(), SecurityImpersonation, &duplicate)) {
    PLOG(ERROR) << "DuplicateToken failed";
    return false;
  }
  result->Reset(duplicate);
  return true;
}

// The TOKEN_USER record of the process token; its SID is the current user.
bool GetCurrentUserSid(std::vector<uint8_t>* token_user) {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    PLOG(ERROR) << "OpenProcessToken failed";
    return false;
  }
  base::win::ScopedHandle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0) {
    PLOG(ERROR) << "GetTokenInformation(TokenUser) size query failed";
    return false;
  }
  token_user->resize(size);
  if (!::GetTokenInformation(token.Get(), TokenUser, token_user->data(), size, &size)) {
    PLOG(ERROR) << "GetTokenInformation(TokenUser) failed";
    return false;
  }
  return true;
}

PSID SidOf(std::vector<uint8_t>& token_user) {
  return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid;
}

bool ReadOwnerAndDacl(const std::wstring& path, SE_OBJECT_TYPE object_type,
                      SavedPermissions* saved) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  const DWORD error = ::GetNamedSecurityInfoW(
      path.c_str(), object_type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
      nullptr, nullptr, nullptr, &raw);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "GetNamedSecurityInfoW failed for " << path;
    return false;
  }
  ScopedSecurityDescriptor descriptor(raw);
  const DWORD length = ::GetSecurityDescriptorLength(descriptor.Get());
  const auto* bytes = static_cast<const uint8_t*>(descriptor.Get());
  saved->path = path;
  saved->object_type = object_type;
  saved->security_descriptor.assign(bytes, bytes + length);
  return true;
}

DWORD SetDacl(const std::wstring& path, SE_OBJECT_TYPE object_type, PACL dacl) {
  return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), object_type,
                                 DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
}

}  // namespace

bool HasAccess(const base::FilePath& path, SE_OBJECT_TYPE object_type, DWORD access_mask) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  // AccessCheck needs the owner and group besides the DACL.
  const DWORD error = ::GetNamedSecurityInfoW(
      path.c_str(), object_type,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
      nullptr, nullptr, nullptr, &raw);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "GetNamedSecurityInfoW failed for " << path.value();
    return false;
  }
  ScopedSecurityDescriptor descriptor(raw);

  base::win::ScopedHandle token;
  if (!OpenImpersonationToken(&token))
    return false;

  GENERIC_MAPPING mapping = MappingFor(object_type);
  DWORD desired = access_mask;
  ::MapGenericMask(&desired, &mapping);

  PRIVILEGE_SET privileges;
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!::AccessCheck(descriptor.Get(), token.Get(), desired, &mapping, &privileges,
                     &privileges_size, &granted, &status)) {
    PLOG(ERROR) << "AccessCheck failed for " << path.value();
    return false;
  }
  if (!status) {
    LOG(ERROR) << "Access 0x" << std::hex << access_mask << " denied on " << path.value();
    return false;
  }
  return true;
}

bool GrantCurrentUserAccess(const base::FilePath& path, SE_OBJECT_TYPE object_type,
                            DWORD access_mask, bool inherit, SavedPermissions* saved) {
  std::vector<uint8_t> token_user;
  if (!GetCurrentUserSid(&token_user))
    return false;
  SavedPermissions before;
  if (!ReadOwnerAndDacl(path.value(), object_type, &before))
    return false;

  auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(before.security_descriptor.data());
  BOOL dacl_present = FALSE;
  BOOL dacl_defaulted = FALSE;
  PACL old_dacl = nullptr;
  if (!::GetSecurityDescriptorDacl(descriptor, &dacl_present, &old_dacl, &dacl_defaulted)) {
    PLOG(ERROR) << "GetSecurityDescriptorDacl failed for " << path.value();
    return false;
  }

  EXPLICIT_ACCESSW entry = {};
  entry.grfAccessPermissions = access_mask;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = inherit ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_USER;
  entry.Trustee.ptstrName = reinterpret_cast<wchar_t*>(SidOf(token_user));
  PACL raw_dacl = nullptr;
  DWORD error = ::SetEntriesInAclW(1, &entry, dacl_present ? old_dacl : nullptr, &raw_dacl);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "SetEntriesInAclW failed for " << path.value();
    return false;
  }
  ScopedAcl new_dacl(raw_dacl);

  error = SetDacl(path.value(), object_type, new_dacl.Get());
  if (error == ERROR_ACCESS_DENIED) {
    // Only the owner (or a holder of WRITE_DAC) may change the DACL: take
    // ownership, which the saved descriptor lets RestorePermissions undo.
    ScopedTokenPrivileges privileges({SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME});
    error = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.value().c_str()), object_type,
                                    OWNER_SECURITY_INFORMATION, SidOf(token_user), nullptr, nullptr,
                                    nullptr);
    if (error != ERROR_SUCCESS) {
      ELOG(ERROR, error) << "Taking ownership of " << path.value() << " failed";
      return false;
    }
    error = SetDacl(path.value(), object_type, new_dacl.Get());
    if (error != ERROR_SUCCESS) {
      ELOG(ERROR, error) << "Setting the DACL of " << path.value()
                         << " failed after taking ownership";
      // Ownership changed: give it back.
      RestorePermissions(before);
      return false;
    }
  } else if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "Setting the DACL of " << path.value() << " failed";
    return false;
  }
  *saved = std::move(before);
  return true;
}

bool RestorePermissions(const SavedPermissions& saved) {
  if (saved.security_descriptor.empty()) {
    LOG(ERROR) << "No saved permissions for " << saved.path;
    return false;
  }
  // The holder's copy stays untouched; the Win32 getters want a mutable one.
  std::vector<uint8_t> copy = saved.security_descriptor;
  auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(copy.data());
  PSID owner = nullptr;
  BOOL owner_defaulted = FALSE;
  BOOL dacl_present = FALSE;
  BOOL dacl_defaulted = FALSE;
  PACL dacl = nullptr;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::GetSecurityDescriptorOwner(descriptor, &owner, &owner_defaulted) ||
      !::GetSecurityDescriptorDacl(descriptor, &dacl_present, &dacl, &dacl_defaulted) ||
      !::GetSecurityDescriptorControl(descriptor, &control, &revision)) {
    PLOG(ERROR) << "The saved security descriptor of " << saved.path << " is unreadable";
    return false;
  }
  // Keep the DACL's inheritance from the parent as it was.
  SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                     : UNPROTECTED_DACL_SECURITY_INFORMATION);

  // Naming another account as owner needs the restore privilege. The owner
  // goes back first, while the DACL granted to us still lets us write it; the
  // saved DACL may not.
  ScopedTokenPrivileges privileges({SE_RESTORE_NAME});
  if (owner) {
    DWORD error =
        ::SetNamedSecurityInfoW(const_cast<wchar_t*>(saved.path.c_str()), saved.object_type,
                                OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) {
      ELOG(ERROR, error) << "Restoring the owner of " << saved.path << " failed";
      return false;
    }
  }
  DWORD error =
      ::SetNamedSecurityInfoW(const_cast<wchar_t*>(saved.path.c_str()), saved.object_type, what,
                              nullptr, nullptr, dacl_present ? dacl : nullptr, nullptr);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "Restoring the DACL of " << saved.path << " failed";
    return false;
  }
  return true;
}

}  // namespace installer
