// FallbackStorage: the global storage's values kept in a JSON file, for when
// the registry may not be written. The file's top-level object holds "GS", an
// object of name -> string, e.g. {"GS": {"UUID": "..."}}; names are literal
// keys (a dot in a name is part of the name).
//
// An accessor lives for one operation: it starts a "GsTaskThread" for the
// file work, reads the file there at once (the caller waits), and stops the
// thread when it goes. Writes replace the whole file atomically (a temporary
// beside it renamed over it), so a reader in another process sees either the
// old or the new content, and the caller learns whether the write took.
//
// Reading follows the preference files' rules: a missing file is an empty
// store; a file that cannot be read makes the accessor read-only (it never
// overwrites what it could not read); a file that is not a JSON object is
// copied aside to "<file>.bad" and counts as unreadable for reads, while a
// write starts the file afresh.
#ifndef DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_FALLBACK_STORAGE_H_
#define DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_FALLBACK_STORAGE_H_

#include <memory>
#include <string>
#include <string_view>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/threading/thread.h"
#include "base/values.h"

namespace autoupdate {

class FallbackStorage {
 public:
  // The key of the values' object in the file.
  static constexpr char kValuesKey[] = "GS";
  static constexpr char kThreadName[] = "GsTaskThread";

  // How the read at construction went.
  enum class ReadState {
    kOk,          // The file was read (or is missing: an empty store).
    kUnreadable,  // It exists but could not be read: read-only.
    kCorrupt,     // Not a JSON object: copied aside, reads fail.
  };

  // Reads |path| now.
  explicit FallbackStorage(const base::FilePath& path);
  FallbackStorage(const FallbackStorage&) = delete;
  FallbackStorage& operator=(const FallbackStorage&) = delete;
  // Stops the thread.
  ~FallbackStorage();

  // The string at |name| of "GS"; empty (and true) when the store or "GS"
  // has none. False (logged) when the file could not be read or is corrupt,
  // when "GS" is no object, or when the value is not an ASCII string.
  bool ReadFallbackValue(std::string_view name, std::string* value) const;
  // A copy of "GS" (empty when missing). False (logged) as above.
  bool ReadFallbackDictionary(std::unique_ptr<base::DictValue>* values) const;
  // Sets |name| of "GS" to |value|, or removes it when |value| is empty, and
  // writes the file at once. True when the file holds the change (or nothing
  // had to change). False (logged) when read-only or when the write failed;
  // the file then keeps its previous content.
  bool WriteFallbackValue(std::string_view name, std::string_view value);

  ReadState read_state() const { return read_state_; }
  bool read_only() const { return read_state_ == ReadState::kUnreadable; }
  const base::FilePath& path() const { return path_; }

 private:
  // Runs |task| on the thread and waits for it; on the calling thread when
  // the thread could not be started.
  void RunOnFileThread(base::Closure task);
  void ReadFile();  // On the file thread.
  // "GS" of the store: null when missing; false (logged) when it exists but
  // is no object, or when the file could not be read.
  bool GetValues(const base::DictValue** values) const;

  const base::FilePath path_;
  base::Thread thread_{kThreadName};
  std::unique_ptr<base::DictValue> prefs_;
  ReadState read_state_ = ReadState::kOk;
};

}  // namespace autoupdate

#endif  // DESKTOP_COMMON_AUTOUPDATE_UPDATECHECKER_FALLBACK_STORAGE_H_
