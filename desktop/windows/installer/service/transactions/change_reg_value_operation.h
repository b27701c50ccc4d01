// ChangeRegValueOperation: writes one registry value or, with type -1,
// deletes it, remembering the old value for rollback. A missing key is
// created as a sub-operation. The view flags are 0 (the process's own view),
// KEY_WOW64_64KEY (0x100) or KEY_WOW64_32KEY (0x200).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/windows/installer/service/transactions/operation.h"

namespace installer {

class ChangeRegValueOperation : public Operation {
 public:
  // The type that deletes the value instead of writing it.
  static constexpr int kDeleteValue = -1;

  // |data| (|size| bytes, copied; may be null when |size| is 0) of registry
  // type |type| (REG_SZ, REG_DWORD, ...; kDeleteValue deletes) as value
  // |value_name| ("" for the default value) of |key_path| under |root|.
  ChangeRegValueOperation(HKEY root, const std::wstring& key_path, const std::wstring& value_name,
                          const void* data, int type, uint32_t size, uint32_t view_flags);
  ~ChangeRegValueOperation() override;

  bool Execute(OperationList* sub_operations) override;
  bool Rollback() override;

 private:
  const HKEY root_;
  const std::wstring key_path_;
  const std::wstring value_name_;
  const int type_;
  const uint32_t view_flags_;
  std::vector<uint8_t> data_;
  bool data_valid_ = true;

  // What Execute found and did.
  bool changed_ = false;
  bool had_old_value_ = false;
  DWORD old_type_ = REG_NONE;
  std::vector<uint8_t> old_data_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_CHANGE_REG_VALUE_OPERATION_H_
