// GlobalStorage: a small per-user key/value store shared by every process of
// the autoupdate family (installer, browser, update checker).
//
// Values are named 8-bit strings under HKEY_CURRENT_USER\Software\<company>
// (REG_SZ, read and written with the ANSI registry functions). Where that key
// may not be written (a stand-alone installation, or a key the user cannot
// write) the values live in the fallback file "au_global_storage" of the
// folder given to Init() (see FallbackStorage). A fallback file left by an
// earlier stand-alone run is copied into the registry by Init(), and is kept
// up to date alongside the registry from then on.
//
// Processes are kept from interleaving by the named mutex
// "vauc_registry_mutex" (no namespace prefix: one per logon session). It is
// never waited for: while another process holds it, an operation answers
// kBusy at once and the caller decides whether to retry.
//
// Names and values are ASCII. The ANSI registry functions convert through the
// user's code page, which cannot carry every text, and the fallback file only
// gives back ASCII strings; other text would come back changed or not at all,
// so it is refused with kInvalidArgument.
//
// Use an instance from one thread; another thread of the process finds the
// mutex busy.
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"

namespace autoupdate {

class GlobalStorage {
 public:
  // Results of GetValue, SetValue and GetAccessMutex.
  static constexpr int32_t kSuccess = 0;
  static constexpr int32_t kBusy = 1;  // Another process holds the mutex.
  static constexpr int32_t kFailure = -252;
  static constexpr int32_t kInvalidArgument = -254;

  static constexpr wchar_t kMutexName[] = L"vauc_registry_mutex";
  static constexpr wchar_t kFallbackFileName[] = L"au_global_storage";

  // The process-wide instance, created on first use (which decides the mode
  // from the current installation and the registry key) and destroyed by the
  // current ExitCallbackManager.
  static GlobalStorage* GetInstance();

  // An instance over the key of the configuration's company name. With
  // |copy_only| (a stand-alone installation) every value lives in the
  // fallback file; otherwise the fallback file is used when the key cannot
  // be opened for writing.
  explicit GlobalStorage(bool copy_only);
  GlobalStorage(const GlobalStorage&) = delete;
  GlobalStorage& operator=(const GlobalStorage&) = delete;

  // Sets the fallback file to |folder|\au_global_storage and, when that file
  // exists while the registry is in use and this instance has not written
  // the registry yet, copies its string values into the registry.
  virtual void Init(const base::FilePath& folder);
  // Stores |value| under |name|; an empty |value| deletes the name.
  virtual int32_t SetValue(std::string_view name, std::string_view value);
  // The value stored under |name|, empty when there is none. |value| is
  // cleared first.
  virtual int32_t GetValue(std::string_view name, std::string* value);
  virtual ~GlobalStorage();

  // Creates or opens the access mutex when none is held: kSuccess or
  // kFailure (logged).
  int32_t GetAccessMutex();

  bool fallback_mode() const { return fallback_mode_; }
  const base::FilePath& fallback_path() const { return fallback_path_; }
  // "Software\<company>" below HKEY_CURRENT_USER.
  const std::wstring& key_path() const { return key_path_; }

 private:
  class ScopedMutexHold;

  void DecideMode(bool copy_only);
  // The registry halves of the operations; the caller holds the mutex.
  int32_t ReadRegistryValue(std::string_view name, std::string* value);
  int32_t WriteRegistryValue(std::string_view name, std::string_view value);
  int32_t DeleteRegistryValue(std::string_view name);

  std::wstring key_path_;
  base::Lock mutex_lock_;  // Guards |access_mutex_| while it is created.
  base::win::ScopedHandle access_mutex_;
  base::FilePath fallback_path_;
  bool initialized_ = false;
  bool fallback_mode_ = false;
  bool last_write_succeeded_ = false;
  bool migrating_ = false;
};

}  // namespace autoupdate

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_GLOBAL_STORAGE_H_
