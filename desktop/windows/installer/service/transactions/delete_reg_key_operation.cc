#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"

#include "base/logging.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/transactions/registry_tree_snapshot.h"
#include "desktop/windows/installer/service/transactions/registry_view.h"

namespace installer {

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root, const std::wstring& key_path,
                                             uint32_t view_flags)
    : root_(root), key_path_(key_path), view_flags_(view_flags) {}

// Committing only drops the saved tree.
DeleteRegKeyOperation::~DeleteRegKeyOperation() = default;

bool DeleteRegKeyOperation::Execute(OperationList* /*sub_operations*/) {
  if (!root_ || key_path_.empty() || !IsValidRegistryView(view_flags_)) {
    LOG(ERROR) << "Bad registry key to delete: \"" << key_path_ << "\", view " << view_flags_;
    return false;
  }
  auto snapshot = std::make_unique<RegistryTreeSnapshot>();
  bool missing = false;
  if (!snapshot->Capture(root_, key_path_, view_flags_, &missing)) {
    if (missing) {
      VLOG(1) << "No registry key " << key_path_ << " to delete";
      return true;
    }
    // What cannot be saved is not deleted.
    LOG(ERROR) << "Cannot delete registry key " << key_path_ << ": it cannot be saved";
    return false;
  }
  if (!Journal(TransactionJournal::DeletedKeyTree(root_, view_flags_, key_path_,
                                                  snapshot->Serialize()))) {
    return false;
  }
  snapshot_ = std::move(snapshot);
  base::win::RegistryKey root;
  LONG result = root.Open(root_, L"", KEY_QUERY_VALUE | view_flags_);
  if (result == ERROR_SUCCESS) {
    // From here on a partial deletion is possible: rollback restores.
    deleted_ = true;
    result = root.DeleteKey(key_path_.c_str());
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "Cannot delete registry key " << key_path_;
    return false;
  }
  return true;
}

bool DeleteRegKeyOperation::Rollback() {
  if (!deleted_)
    return true;
  deleted_ = false;
  if (!snapshot_->Restore(root_, key_path_, view_flags_)) {
    LOG(ERROR) << "Registry key " << key_path_ << " was not fully restored";
    return false;
  }
  snapshot_.reset();
  return true;
}

}  // namespace installer
