// RegistrationJournal: what the browser's shell registration replaced, so
// that taking the registration back gives the machine exactly what it held.
//
// Protocols, file types, the StartMenuInternet default and the user's
// choices are shared with every other program: registering overwrites what
// another program put there. Each value written or deleted through the
// journal is recorded once, with what it held before (or that it was not
// there) and what the registration left in it; every key the registration
// created is recorded too. Each installation keeps its own record below the
// root it describes, in "<company key>\Replaced Registration\<install folder
// with "/" for "\">", one numbered subkey per change:
//
//   Key     the key path (REG_SZ)
//   Name    the value name (REG_SZ; empty for the default value)
//   Before  the value as it was, with its type; absent: there was none
//   After   the value as the registration left it; absent: it deleted it
//   Created 1 (REG_DWORD) instead of Name/Before/After: the key was created
//
// The first registration's "Before" is kept when the browser registers
// again (an upgrade, or the default-browser choice made once more): only
// what the machine held before the browser is given back.
//
// Two installations that register in turn each give back what they found:
// the later one what the earlier one had written, the earlier one what was
// there before it, when its own values are still in place.
//
// Restore puts "Before" back into every value that still holds "After",
// leaves a value that another program changed since, removes the created
// keys that are empty then, and removes the record. A "Before" that names a
// program no longer there (an installation removed since) is not given
// back: the value goes, and with it the keys it leaves empty.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRATION_JOURNAL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRATION_JOURNAL_H_

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Below the company key of the root.
inline constexpr wchar_t kReplacedRegistrationKey[] = L"Replaced Registration";

class RegistrationJournal {
 public:
  // Reads the record of the installation in |install_folder| below |root|
  // (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE).
  RegistrationJournal(HKEY root, const base::FilePath& install_folder);
  RegistrationJournal(const RegistrationJournal&) = delete;
  RegistrationJournal& operator=(const RegistrationJournal&) = delete;
  ~RegistrationJournal();

  HKEY root() const { return root_; }
  // No change recorded.
  bool empty() const { return changes_.empty(); }

  // Writes the value |name| (null or empty: the default value) of
  // |key_path|, creating the key, after recording what it replaces. False
  // (logged) when the record or the value could not be written; nothing is
  // changed without its record.
  bool WriteValue(const std::wstring& key_path, const wchar_t* name, DWORD type, const void* data,
                  DWORD size);
  bool WriteString(const std::wstring& key_path, const wchar_t* name, std::wstring_view value);

  // Deletes every value of |key_path|, recorded, then the key when that left
  // it empty. True when the key is missing.
  bool ClearKey(const std::wstring& key_path);

  // Gives back what the recorded changes replaced (see above) and deletes
  // the record. False (logged) when something could not be given back.
  bool Restore();

 private:
  struct RawValue {
    bool operator==(const RawValue& other) const = default;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
  };
  struct Change {
    std::wstring subkey;  // The record's own subkey name.
    std::wstring key_path;
    std::wstring name;
    bool created_key = false;
    std::optional<RawValue> before;
    std::optional<RawValue> after;
  };

  std::wstring RecordPath() const;
  void Load();
  // The change of |key_path| / |name| (created-key changes when |name| is
  // null), or null.
  Change* Find(const std::wstring& key_path, const wchar_t* name);
  bool SaveChange(const Change& change);
  // Records a change for each missing key from |key_path| up to the first
  // that exists.
  bool RecordCreatedKeys(const std::wstring& key_path);
  // Records the change of one value before it is made.
  bool RecordValue(const std::wstring& key_path, const wchar_t* name,
                   const std::optional<RawValue>& after);
  std::optional<RawValue> ReadCurrent(const std::wstring& key_path, const wchar_t* name) const;
  // Removes each of |keys| that is empty, and every key above it that is
  // empty then.
  void RemoveEmptyKeysUpward(const std::vector<std::wstring>& keys) const;

  const HKEY root_;
  // The installation's subkey below kReplacedRegistrationKey.
  std::wstring installation_;
  std::vector<Change> changes_;
  int next_index_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRATION_JOURNAL_H_
