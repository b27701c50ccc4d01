// Enables privileges on the process token for the lifetime of the holder and
// puts their previous state back afterwards.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SCOPED_TOKEN_PRIVILEGES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SCOPED_TOKEN_PRIVILEGES_H_

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/win/scoped_handle.h"

namespace installer {

class ScopedTokenPrivileges {
 public:
  // |names| are privilege names such as SE_RESTORE_NAME. A privilege the
  // token does not hold is skipped (logged); AllEnabled() tells whether
  // every one of them is on.
  explicit ScopedTokenPrivileges(std::initializer_list<const wchar_t*> names);
  ScopedTokenPrivileges(const ScopedTokenPrivileges&) = delete;
  ScopedTokenPrivileges& operator=(const ScopedTokenPrivileges&) = delete;
  ~ScopedTokenPrivileges();

  bool AllEnabled() const { return all_enabled_; }

 private:
  base::win::ScopedHandle token_;
  // The TOKEN_PRIVILEGES record of the privileges whose state changed.
  std::vector<uint8_t> previous_;
  bool all_enabled_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SCOPED_TOKEN_PRIVILEGES_H_
