#include "desktop/windows/installer/service/scoped_token_privileges.h"

#include <cstddef>

#include "base/logging.h"

namespace installer {

ScopedTokenPrivileges::ScopedTokenPrivileges(std::initializer_list<const wchar_t*> names) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    PLOG(ERROR) << "OpenProcessToken for privileges failed";
    return;
  }
  token_.Reset(token);

  std::vector<uint8_t> request(offsetof(TOKEN_PRIVILEGES, Privileges) +
                               names.size() * sizeof(LUID_AND_ATTRIBUTES));
  auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(request.data());
  privileges->PrivilegeCount = 0;
  for (const wchar_t* name : names) {
    LUID luid;
    if (!::LookupPrivilegeValueW(nullptr, name, &luid)) {
      PLOG(ERROR) << "LookupPrivilegeValueW failed for " << name;
      return;
    }
    LUID_AND_ATTRIBUTES& entry = privileges->Privileges[privileges->PrivilegeCount++];
    entry.Luid = luid;
    entry.Attributes = SE_PRIVILEGE_ENABLED;
  }

  previous_.resize(request.size());
  DWORD previous_size = 0;
  if (!::AdjustTokenPrivileges(
          token_.Get(), FALSE, privileges, static_cast<DWORD>(previous_.size()),
          reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), &previous_size)) {
    PLOG(ERROR) << "AdjustTokenPrivileges failed";
    previous_.clear();
    return;
  }
  // Success may still mean that some privileges are not held.
  const DWORD error = ::GetLastError();
  if (error == ERROR_NOT_ALL_ASSIGNED) {
    LOG(WARNING) << "The token lacks some of the requested privileges";
    return;
  }
  all_enabled_ = true;
}

ScopedTokenPrivileges::~ScopedTokenPrivileges() {
  if (!token_.IsValid() || previous_.empty())
    return;
  auto* previous = reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data());
  if (previous->PrivilegeCount == 0)
    return;
  if (!::AdjustTokenPrivileges(token_.Get(), FALSE, previous, 0, nullptr, nullptr))
    PLOG(ERROR) << "Restoring the token's privileges failed";
}

}  // namespace installer
