#include "desktop/common/autoupdate/updatechecker/global_storage.h"

#include <windows.h>

#include <climits>
#include <memory>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "base/win/scoped_com.h"
#include "desktop/common/autoupdate/updatechecker/fallback_storage.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/installation.h"

namespace autoupdate {

namespace {

struct GlobalStorageTraits {
  static constexpr bool kRegisterOnExit = true;
  static GlobalStorage* New() {
    // The installation's copy-only flag comes from its install log, which is
    // read through MSXML.
    base::win::ScopedComInitializer com;
    return new GlobalStorage(installer::Installation::GetCurrent()->IsCopyOnly());
  }
  static void Delete(GlobalStorage* instance) { delete instance; }
};

base::LazyInstance<GlobalStorage, GlobalStorageTraits> g_global_storage;

// Text that both stores give back unchanged (see the header).
bool IsStorableText(std::string_view text) {
  return base::IsStringASCII(text) && text.find('\0') == std::string_view::npos;
}

bool IsMissing(LONG error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

// Holds the access mutex for one operation, without waiting for it.
class GlobalStorage::ScopedMutexHold {
 public:
  enum class State { kHeld, kBusy, kFailed };

  explicit ScopedMutexHold(HANDLE mutex) : mutex_(mutex) {
    switch (WaitForSingleObject(mutex_, 0)) {
      case WAIT_OBJECT_0: state_ = State::kHeld; break;
      case WAIT_ABANDONED:
        // Ours now. Each registry value and each file replacement is written
        // whole, so the dead holder left nothing half-written.
        LOG(WARNING) << "[AU] GS: The access mutex was abandoned by its previous holder";
        state_ = State::kHeld;
        break;
      case WAIT_TIMEOUT: state_ = State::kBusy; break;
      default:
        PLOG(ERROR) << "[AU] GS: Waiting for the access mutex failed";
        state_ = State::kFailed;
        break;
    }
  }
  ScopedMutexHold(const ScopedMutexHold&) = delete;
  ScopedMutexHold& operator=(const ScopedMutexHold&) = delete;
  ~ScopedMutexHold() {
    if (state_ == State::kHeld && !ReleaseMutex(mutex_))
      PLOG(ERROR) << "[AU] GS: Releasing the access mutex failed";
  }

  State state() const { return state_; }

 private:
  const HANDLE mutex_;
  State state_ = State::kFailed;
};

// static
GlobalStorage* GlobalStorage::GetInstance() { return g_global_storage.Pointer(); }

GlobalStorage::GlobalStorage(bool copy_only) {
  const std::string company = installer::GetCompanyName();
  if (!company.empty())
    key_path_ = L"Software\\" + base::UTF8ToWide(company);
  DecideMode(copy_only);
}

GlobalStorage::~GlobalStorage() = default;

void GlobalStorage::DecideMode(bool copy_only) {
  initialized_ = true;
  if (copy_only) {
    fallback_mode_ = true;
    return;
  }
  if (key_path_.empty()) {
    // "Software\" alone would scatter the values over every program's keys.
    LOG(ERROR) << "[AU] GS: The product configuration names no company; values go to the "
                  "fallback file";
    fallback_mode_ = true;
    return;
  }
  base::win::ScopedHKey key;
  const LONG error =
      RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_READ | KEY_WRITE, key.Receive());
  if (error == ERROR_ACCESS_DENIED) {
    LOG(WARNING) << "[AU] GS: HKCU\\" << base::WideToUTF8(key_path_)
                 << " may not be written; values go to the fallback file";
    fallback_mode_ = true;
  }
}

int32_t GlobalStorage::GetAccessMutex() {
  base::AutoLock lock(mutex_lock_);
  if (access_mutex_.IsValid())
    return kSuccess;
  access_mutex_.Reset(CreateMutexW(nullptr, FALSE, kMutexName));
  if (!access_mutex_.IsValid() && GetLastError() == ERROR_ACCESS_DENIED)
    access_mutex_.Reset(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName));
  if (!access_mutex_.IsValid()) {
    PLOG(ERROR) << "[AU] GS: The access mutex could not be created or opened";
    return kFailure;
  }
  return kSuccess;
}

void GlobalStorage::Init(const base::FilePath& folder) {
  if (folder.empty()) {
    LOG(ERROR) << "[AU] GS: Init without a folder; there is no fallback file";
    return;
  }
  fallback_path_ = folder.Append(kFallbackFileName);
  if (fallback_mode_ || last_write_succeeded_ || !base::PathExists(fallback_path_))
    return;

  std::unique_ptr<base::DictValue> values;
  {
    FallbackStorage storage(fallback_path_);
    if (!storage.ReadFallbackDictionary(&values)) {
      LOG(ERROR) << "[AU] GS: The fallback values were not copied into the registry";
      return;
    }
  }
  migrating_ = true;
  for (base::DictValue::Iterator it(*values); !it.IsAtEnd(); it.Advance()) {
    std::string text;
    if (!it.value().GetAsString(&text)) {
      LOG(WARNING) << "[AU] GS: The fallback value \"" << it.key()
                   << "\" is no string; it stays in the file only";
      continue;
    }
    const int32_t result = SetValue(it.key(), text);
    LOG_IF(ERROR, result != kSuccess)
        << "[AU] GS: \"" << it.key() << "\" was not copied into the registry (" << result
        << "); it stays in the fallback file";
  }
  migrating_ = false;
}

int32_t GlobalStorage::SetValue(std::string_view name, std::string_view value) {
  if (name.empty()) {
    LOG(ERROR) << "[AU] GS: A value needs a name";
    return kInvalidArgument;
  }
  if (!IsStorableText(name) || !IsStorableText(value)) {
    LOG(ERROR) << "[AU] GS: \"" << name << "\": names and values must be ASCII without NUL";
    return kInvalidArgument;
  }
  if (value.size() > UINT32_MAX) {
    LOG(ERROR) << "[AU] GS: The value of \"" << name << "\" is too long";
    return kInvalidArgument;
  }
  if (GetAccessMutex() != kSuccess) {
    LOG(ERROR) << "[AU] GS: Couldn't create an access mutex";
    return kFailure;
  }
  ScopedMutexHold hold(access_mutex_.Get());
  if (hold.state() == ScopedMutexHold::State::kFailed)
    return kFailure;  // Logged by the hold.
  if (hold.state() == ScopedMutexHold::State::kBusy) {
    LOG(ERROR) << "[AU] GS: Couldn't get hold on an access mutex";
    return kBusy;
  }

  int32_t result = kSuccess;
  const bool write_file = fallback_mode_ || (!migrating_ && !fallback_path_.empty() &&
                                             base::PathExists(fallback_path_));
  if (write_file) {
    if (fallback_path_.empty()) {
      LOG(ERROR) << "[AU] GS: No folder for a fallback storage (Init was not called)";
      result = kFailure;
    } else {
      FallbackStorage storage(fallback_path_);
      if (!storage.WriteFallbackValue(name, value)) {
        LOG(ERROR) << "[AU] GS: Writing to a fallback storage failed";
        result = kFailure;
      }
    }
  }
  // Beside the registry the file is kept in step, and a later Init copies it
  // into the registry: when the file could not take the change, the registry
  // is left alone too, or the stale file would undo the change then.
  if (!fallback_mode_ && result == kSuccess)
    result = value.empty() ? DeleteRegistryValue(name) : WriteRegistryValue(name, value);

  last_write_succeeded_ = result == kSuccess;
  return result;
}

int32_t GlobalStorage::GetValue(std::string_view name, std::string* value) {
  if (!value) {
    LOG(ERROR) << "[AU] GS: GetValue without an output";
    return kInvalidArgument;
  }
  value->clear();
  if (name.empty() || !IsStorableText(name)) {
    LOG(ERROR) << "[AU] GS: \"" << name << "\" is no valid name";
    return kInvalidArgument;
  }
  if (GetAccessMutex() != kSuccess)
    return kFailure;  // Logged.
  ScopedMutexHold hold(access_mutex_.Get());
  if (hold.state() == ScopedMutexHold::State::kFailed)
    return kFailure;  // Logged by the hold.
  if (hold.state() == ScopedMutexHold::State::kBusy) {
    LOG(WARNING) << "[AU] GS: The access mutex is held elsewhere; \"" << name << "\" was not read";
    return kBusy;
  }

  if (!fallback_mode_)
    return ReadRegistryValue(name, value);
  if (fallback_path_.empty()) {
    LOG(ERROR) << "[AU] GS: No folder for a fallback storage (Init was not called)";
    return kFailure;
  }
  FallbackStorage storage(fallback_path_);
  return storage.ReadFallbackValue(name, value) ? kSuccess : kFailure;  // Logged.
}

int32_t GlobalStorage::ReadRegistryValue(std::string_view name, std::string* value) {
  base::win::ScopedHKey key;
  LONG error =
      RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_QUERY_VALUE, key.Receive());
  if (IsMissing(error))
    return kSuccess;
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Opening reg key failed with: " << error;
    return kFailure;
  }
  const std::string value_name(name);
  DWORD type = REG_NONE;
  DWORD size = 0;
  error = RegQueryValueExA(key.Get(), value_name.c_str(), nullptr, &type, nullptr, &size);
  if (IsMissing(error))
    return kSuccess;
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Querying reg value \"" << name << "\" failed with: " << error;
    return kFailure;
  }
  if (type != REG_SZ) {
    LOG(ERROR) << "[AU] GS: The reg value \"" << name << "\" is of type " << type << ", not REG_SZ";
    return kFailure;
  }
  std::vector<char> buffer;
  // A writer that ignores the mutex may grow the value between the queries.
  for (int attempt = 0;; ++attempt) {
    buffer.assign(size + 1, '\0');
    DWORD read = size;
    error = RegQueryValueExA(key.Get(), value_name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &read);
    if (error == ERROR_MORE_DATA && attempt < 3) {
      size = read;
      continue;
    }
    if (error != ERROR_SUCCESS) {
      LOG(ERROR) << "[AU] GS: Reading reg value \"" << name << "\" failed with: " << error;
      return kFailure;
    }
    buffer[read < size ? read : size] = '\0';
    break;
  }
  std::string text(buffer.data());  // Up to the first NUL.
  if (!base::IsStringASCII(text)) {
    LOG(ERROR) << "[AU] GS: The reg value \"" << name << "\" is no ASCII text";
    return kFailure;
  }
  *value = std::move(text);
  return kSuccess;
}

int32_t GlobalStorage::WriteRegistryValue(std::string_view name, std::string_view value) {
  base::win::ScopedHKey key;
  const LONG error =
      RegCreateKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, key.Receive(), nullptr);
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Creating reg key failed with: " << error;
    return kFailure;
  }
  const std::string value_name(name);
  const LONG set_error =
      RegSetValueExA(key.Get(), value_name.c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size()));
  if (set_error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Setting reg value failed with: " << set_error;
    return kFailure;
  }
  return kSuccess;
}

int32_t GlobalStorage::DeleteRegistryValue(std::string_view name) {
  base::win::ScopedHKey key;
  LONG error = RegOpenKeyExW(HKEY_CURRENT_USER, key_path_.c_str(), 0, KEY_WRITE, key.Receive());
  if (IsMissing(error))
    return kSuccess;  // No key, no value.
  if (error == ERROR_SUCCESS) {
    error = RegDeleteValueA(key.Get(), std::string(name).c_str());
    if (IsMissing(error))
      error = ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) {
    LOG(ERROR) << "[AU] GS: Deleting reg value failed with: " << error;
    return kFailure;
  }
  return kSuccess;
}

}  // namespace autoupdate
