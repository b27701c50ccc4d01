#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"

#include <cstring>
#include <memory>

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"
#include "desktop/windows/installer/service/transactions/registry_view.h"

namespace installer {

namespace {

constexpr REGSAM kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;

}  // namespace

ChangeRegValueOperation::ChangeRegValueOperation(HKEY root, const std::wstring& key_path,
                                                 const std::wstring& value_name, const void* data,
                                                 int type, uint32_t size, uint32_t view_flags)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      type_(type),
      view_flags_(view_flags) {
  if (type_ == kDeleteValue)
    return;
  if (size && !data) {
    data_valid_ = false;  // Refused by Execute.
    return;
  }
  data_.resize(size);
  if (size)
    memcpy(data_.data(), data, size);
}

// The old value is only needed for rollback; nothing is deferred.
ChangeRegValueOperation::~ChangeRegValueOperation() = default;

bool ChangeRegValueOperation::Execute(OperationList* sub_operations) {
  if (!root_ || key_path_.empty() || !IsValidRegistryView(view_flags_) || type_ < kDeleteValue ||
      !data_valid_) {
    LOG(ERROR) << "Bad registry value change: key \"" << key_path_ << "\", value \"" << value_name_
               << "\", type " << type_ << ", view " << view_flags_
               << (data_valid_ ? "" : ", data missing");
    return false;
  }
  base::win::RegistryKey key;
  LONG result = key.Open(root_, key_path_.c_str(), kValueAccess | view_flags_);
  if (result == ERROR_FILE_NOT_FOUND) {
    if (type_ == kDeleteValue) {
      VLOG(1) << "No key " << key_path_ << ": no value to delete";
      return true;
    }
    if (!ExecuteSubOperation(std::make_unique<CreateRegKeyOperation>(root_, key_path_, view_flags_),
                             sub_operations)) {
      LOG(ERROR) << "Cannot write value \"" << value_name_ << "\": key " << key_path_
                 << " cannot be created";
      return false;
    }
    result = key.Open(root_, key_path_.c_str(), kValueAccess | view_flags_);
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot open registry key " << key_path_;
    return false;
  }

  result = key.ReadValueBinary(value_name_.c_str(), &old_data_, &old_type_);
  if (result == ERROR_SUCCESS) {
    had_old_value_ = true;
  } else if (result != ERROR_FILE_NOT_FOUND) {
    ELOG(ERROR, static_cast<unsigned long>(result))
        << "Cannot save value \"" << value_name_ << "\" of " << key_path_;
    return false;
  }

  if (type_ == kDeleteValue && !had_old_value_)
    return true;
  if (!Journal(TransactionJournal::ChangedValue(root_, view_flags_, key_path_, value_name_,
                                                had_old_value_, old_type_, old_data_))) {
    return false;
  }
  if (type_ == kDeleteValue) {
    result = key.DeleteValue(value_name_.c_str());
  } else {
    result = key.WriteValue(value_name_.c_str(), data_.data(), static_cast<DWORD>(data_.size()),
                            static_cast<DWORD>(type_));
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result))
        << "Cannot " << (type_ == kDeleteValue ? "delete" : "write") << " value \"" << value_name_
        << "\" of " << key_path_;
    return false;
  }
  changed_ = true;
  return true;
}

bool ChangeRegValueOperation::Rollback() {
  if (!changed_)
    return true;
  changed_ = false;
  base::win::RegistryKey key;
  // The key is recreated when something deleted it since.
  LONG result = had_old_value_ ? key.Create(root_, key_path_.c_str(), kValueAccess | view_flags_)
                               : key.Open(root_, key_path_.c_str(), kValueAccess | view_flags_);
  if (result == ERROR_FILE_NOT_FOUND && !had_old_value_)
    return true;  // The written value went with its key.
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result))
        << "Cannot open registry key " << key_path_ << " to restore \"" << value_name_ << "\"";
    return false;
  }
  if (had_old_value_) {
    result = key.WriteValue(value_name_.c_str(), old_data_.data(),
                            static_cast<DWORD>(old_data_.size()), old_type_);
  } else {
    result = key.DeleteValue(value_name_.c_str());
    if (result == ERROR_FILE_NOT_FOUND)
      result = ERROR_SUCCESS;
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result))
        << "Cannot restore value \"" << value_name_ << "\" of " << key_path_;
    return false;
  }
  return true;
}

}  // namespace installer
