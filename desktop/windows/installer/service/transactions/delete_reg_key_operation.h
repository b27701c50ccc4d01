// DeleteRegKeyOperation: saves a registry key tree (values and security
// descriptors) and deletes it; rollback recreates the saved tree. A missing
// key is nothing to delete. The view flags are 0, KEY_WOW64_64KEY (0x100) or
// KEY_WOW64_32KEY (0x200).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class RegistryTreeSnapshot;

class DeleteRegKeyOperation : public Operation {
 public:
  DeleteRegKeyOperation(HKEY root, const std::wstring& key_path, uint32_t view_flags);
  ~DeleteRegKeyOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const HKEY root_;
  const std::wstring key_path_;
  const uint32_t view_flags_;
  // The saved tree while the deletion may still be rolled back.
  std::unique_ptr<RegistryTreeSnapshot> snapshot_;
  bool deleted_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_DELETE_REG_KEY_OPERATION_H_
