#include "desktop/windows/installer/elevation.h"

#include <windows.h>

#include <accctrl.h>
#include <aclapi.h>
#include <shellapi.h>

#include <string>

#include "base/logging.h"
#include "base/scoped_generic.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_alloc.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/user_admin.h"

namespace installer {

namespace {

constexpr wchar_t kUacPolicyKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr wchar_t kEnableLuaValue[] = L"EnableLUA";

struct ElevationTestState {
  bool active = false;
  bool decline_prompt = false;
  base::CommandLine extra_switches;
  HKEY uac_root = nullptr;
  std::wstring uac_path;
};

ElevationTestState& TestState() {
  static ElevationTestState* state = new ElevationTestState();
  return *state;
}

// A SID from AllocateAndInitializeSid, released with FreeSid.
struct SidTraits {
  static PSID InvalidValue() { return nullptr; }
  static void Free(PSID& sid) { ::FreeSid(sid); }
};
using ScopedSid = base::ScopedGeneric<PSID, SidTraits>;

}  // namespace

bool CanElevate() {
  if (IsUserAdmin(/*linked_token=*/true))
    return true;
  if (base::win::GetWindowsVersion() < base::win::VERSION_VISTA)
    return true;
  const ElevationTestState& state = TestState();
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring path = kUacPolicyKey;
  if (state.uac_root) {
    root = state.uac_root;
    path = state.uac_path;
  }
  base::win::RegistryKey key;
  DWORD enable_lua = 1;
  if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
      key.ReadValueDW(kEnableLuaValue, &enable_lua) == ERROR_SUCCESS && enable_lua == 0) {
    VLOG(1) << "User Account Control is switched off";
    return false;
  }
  return true;
}

bool LaunchElevatedProcess(const base::FilePath& program, const base::CommandLine& arguments,
                           base::Process* process) {
  base::CommandLine command_line = arguments;
  const ElevationTestState& state = TestState();
  if (state.active)
    command_line.AppendArguments(state.extra_switches, /*include_program=*/false);
  if (state.active && state.decline_prompt) {
    ::SetLastError(ERROR_CANCELLED);
    return false;
  }
  // The program goes in lpFile; the parameters are the arguments alone.
  const std::wstring parameters = command_line.GetArgumentsString();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = program.value().c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info))
    return false;
  if (!info.hProcess) {
    // Started through a route that gives no process (never for "runas" of an
    // executable); nothing could be waited for.
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  *process = base::Process(info.hProcess);
  return true;
}

bool FixEventACL(HANDLE event) {
  PACL old_dacl = nullptr;
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor;
  DWORD error = ::GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &old_dacl, nullptr, descriptor.Receive());
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "FixEventACL: failed to GetSecurityInfo";
    return false;
  }
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  ScopedSid administrators;
  if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.Receive())) {
    PLOG(ERROR) << "FixEventACL: failed to AllocateAndInitializeSid";
    return false;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(administrators.Get());
  base::win::ScopedLocalAllocTyped<PACL> new_dacl;
  error = ::SetEntriesInAclW(1, &access, old_dacl, new_dacl.Receive());
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  error = ::SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            new_dacl.Get(), nullptr);
  if (error != ERROR_SUCCESS) {
    ELOG(ERROR, error) << "FixEventACL: failed to SetSecurityInfo";
    return false;
  }
  return true;
}

ScopedElevationForTesting::ScopedElevationForTesting() {
  TestState() = ElevationTestState();
  TestState().active = true;
}

ScopedElevationForTesting::~ScopedElevationForTesting() { TestState() = ElevationTestState(); }

void ScopedElevationForTesting::DeclinePrompt() { TestState().decline_prompt = true; }

void ScopedElevationForTesting::AddSwitches(const base::CommandLine& switches) {
  TestState().extra_switches.AppendArguments(switches, /*include_program=*/false);
}

void ScopedElevationForTesting::SetUacPolicyKey(HKEY root, const std::wstring& path) {
  TestState().uac_root = root;
  TestState().uac_path = path;
}

}  // namespace installer
