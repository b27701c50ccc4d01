// RegistryEntry: one row of a registry table, describing one value to write
// or delete, or one key to delete, with placeholders in braces ("{Product}",
// "{Stream}") that a PlaceholderResolver fills in when the row becomes an
// operation.
//
// How a row's data is typed (the data is always written as text in the
// table):
//   kDeleteKey (-2)    the key with its whole tree is deleted; no data.
//   kDeleteValue (-1)  the value is deleted; no data.
//   REG_NONE (0)       a value without data (an OpenWithProgIDs entry).
//   REG_SZ (1), REG_EXPAND_SZ (2)
//                      the resolved text, terminating NUL counted.
//   kTextBytes (3)     REG_BINARY holding the resolved text as UTF-8 bytes,
//                      without a terminator.
//   REG_DWORD (4)      the resolved text read as a decimal number
//                      ("32"); anything else fails.
// Other types are refused.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace installer {

class Operation;
class PlaceholderResolver;

// Which root a row is for.
enum class RegistryRoot {
  kAny = 0,
  kLocalMachine = 1,
  kCurrentUser = 2,
};

// A row as a table holds it: constant texts, so tables are static arrays.
struct RegistryRow {
  const wchar_t* key_path;
  // Null or empty: the key's default value.
  const wchar_t* value_name;
  int type;
  // Null: no data.
  const wchar_t* data;
  // A base::win::Version: 1 any Windows, 3 Windows Vista and later.
  int min_windows_version = 1;
  RegistryRoot required_root = RegistryRoot::kAny;
  // The lowest build stream the row applies to: 0 any; 4 the stable stream.
  int min_channel = 0;
  // Recorded in the install log: 0 removes the recorded values at clean-up,
  // d above 0 the key d - 1 levels above the row's key, with its tree.
  int cleanup_depth = 0;
  // 0, KEY_WOW64_64KEY (0x100) or KEY_WOW64_32KEY (0x200).
  uint32_t view_flags = 0;
};

class RegistryEntry {
 public:
  static constexpr int kDeleteKey = -2;
  static constexpr int kDeleteValue = -1;
  static constexpr int kTextBytes = 3;

  // Copies |row|'s texts; |resolver| (may be null when the row has no
  // placeholders) must outlive the entry.
  RegistryEntry(const RegistryRow& row, PlaceholderResolver* resolver);
  RegistryEntry(const RegistryEntry&) = default;
  RegistryEntry& operator=(const RegistryEntry&) = default;
  ~RegistryEntry();

  // The operation that carries the row out under |root| (HKEY_LOCAL_MACHINE
  // or HKEY_CURRENT_USER), with every placeholder resolved: a
  // DeleteRegKeyOperation for kDeleteKey, else a ChangeRegValueOperation.
  // True with no operation when the row does not apply to this Windows
  // version, to |root| or to this build's stream. When the resolver hands out
  // an install-log recorder for |root|, a written value is recorded in it.
  // False (logged) for an unknown or unterminated placeholder, data that does
  // not fit the type, or an unsupported type.
  bool CreateOperation(HKEY root, std::unique_ptr<Operation>* operation) const;

  // |text| with every "{name}" replaced by the resolver's text for name. The
  // replacement texts are not searched again. False (logged) for a name the
  // resolver does not know, a "{" without "}", or a placeholder without a
  // resolver.
  bool ResolvePlaceholders(std::wstring_view text, std::wstring* result) const;

  // Whether the row applies under |root| here (Windows version, root and
  // stream).
  bool AppliesTo(HKEY root) const;

  const std::wstring& key_path() const { return key_path_; }
  const std::wstring& value_name() const { return value_name_; }
  int type() const { return type_; }
  const std::wstring& data() const { return data_; }
  int cleanup_depth() const { return cleanup_depth_; }
  uint32_t view_flags() const { return view_flags_; }

  // "REG_SZ", "REG_DWORD", ...: the type as the install log names it.
  static const char* GetTypeName(int type);

 private:
  std::wstring key_path_;
  std::wstring value_name_;
  int type_;
  std::wstring data_;
  bool has_data_;
  int min_windows_version_;
  RegistryRoot required_root_;
  int min_channel_;
  int cleanup_depth_;
  uint32_t view_flags_;
  PlaceholderResolver* resolver_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_H_
