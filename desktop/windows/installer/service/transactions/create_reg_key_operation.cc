#include "desktop/windows/installer/service/transactions/create_reg_key_operation.h"

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/registry_view.h"

namespace installer {

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root, const std::wstring& key_path,
                                             uint32_t view_flags)
    : root_(root), key_path_(key_path), view_flags_(view_flags) {}

// Nothing is deferred: the keys stay.
CreateRegKeyOperation::~CreateRegKeyOperation() = default;

bool CreateRegKeyOperation::Execute(OperationList* /*sub_operations*/) {
  if (!root_ || key_path_.empty() || !IsValidRegistryView(view_flags_)) {
    LOG(ERROR) << "Bad registry key to create: \"" << key_path_ << "\", view " << view_flags_;
    return false;
  }
  // Every level is created on its own so that rollback knows which were new.
  size_t end = 0;
  while (end != std::wstring::npos) {
    end = key_path_.find(L'\\', end + 1);
    const std::wstring prefix = key_path_.substr(0, end);
    if (prefix.empty() || prefix.back() == L'\\')
      continue;
    // Only a key that is missing now is this operation's to undo.
    base::win::RegistryKey existing;
    if (existing.Open(root_, prefix.c_str(), KEY_QUERY_VALUE | view_flags_) ==
            ERROR_FILE_NOT_FOUND &&
        !Journal(TransactionJournal::CreatedKey(root_, view_flags_, prefix))) {
      return false;
    }
    base::win::RegistryKey key;
    DWORD disposition = 0;
    const LONG result = key.CreateWithDisposition(root_, prefix.c_str(), &disposition,
                                                  KEY_QUERY_VALUE | view_flags_);
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot create registry key " << prefix;
      return false;
    }
    if (disposition == REG_CREATED_NEW_KEY)
      created_.push_back(prefix);
  }
  return true;
}

bool CreateRegKeyOperation::Rollback() {
  if (created_.empty())
    return true;
  base::win::RegistryKey root;
  LONG result = root.Open(root_, L"", KEY_QUERY_VALUE | view_flags_);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot open the registry root";
    return false;
  }
  bool ok = true;
  while (!created_.empty()) {
    result = root.DeleteEmptyKey(created_.back().c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      ELOG(ERROR, static_cast<unsigned long>(result))
          << "Cannot remove created registry key " << created_.back();
      ok = false;
    }
    created_.pop_back();
  }
  return ok;
}

}  // namespace installer
