// CreateRegKeyOperation: creates a registry key and its missing parents in
// one view; rollback deletes the keys it created, deepest first, as long as
// they are empty (a key someone else filled is kept and reported).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class CreateRegKeyOperation : public Operation {
 public:
  CreateRegKeyOperation(HKEY root, const std::wstring& key_path, uint32_t view_flags);
  ~CreateRegKeyOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const HKEY root_;
  const std::wstring key_path_;
  const uint32_t view_flags_;
  // The key paths created, outermost first.
  std::vector<std::wstring> created_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CREATE_REG_KEY_OPERATION_H_
