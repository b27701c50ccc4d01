// RegistryTreeSnapshot: a copy of a registry key tree in one view: every
// key's values (name, type, raw data) and self-relative security descriptor
// (owner, group and DACL; the SACL too when the process may read it), so the
// tree can be recreated after it was deleted.
//
// The SACL needs SeSecurityPrivilege enabled in the token. The snapshot never
// enables privileges itself (an installer must not widen its own token as a
// side effect): it asks for the SACL, and when that is refused it saves the
// tree without it. A key restored without a saved SACL gets no audit entries,
// as audit settings on installer keys are not expected.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TREE_SNAPSHOT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TREE_SNAPSHOT_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

class RegistryTreeSnapshot {
 public:
  RegistryTreeSnapshot() = default;
  RegistryTreeSnapshot(const RegistryTreeSnapshot&) = delete;
  RegistryTreeSnapshot& operator=(const RegistryTreeSnapshot&) = delete;

  // Reads the tree of |key_path| under |root| in |view| (0, KEY_WOW64_64KEY
  // or KEY_WOW64_32KEY). False (logged) when any key, value or security
  // descriptor cannot be read; |*missing| is set (and false returned) when
  // the key does not exist.
  bool Capture(HKEY root, const std::wstring& key_path, REGSAM view, bool* missing);

  // Recreates the saved tree at |key_path| under |root| in |view|: keys
  // created where missing, values written, security descriptors set last
  // (deepest first), so a descriptor that locks out the writer cannot stop
  // the rest. False (logged) when anything could not be restored; the rest
  // is restored regardless.
  bool Restore(HKEY root, const std::wstring& key_path, REGSAM view) const;

  // The number of keys saved.
  size_t key_count() const;

  // The saved tree as bytes, for a transaction journal, and back. Parse
  // fails (false) on anything Serialize cannot have made.
  std::string Serialize() const;
  bool Parse(const std::string& bytes);

 private:
  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::wstring name;
    std::vector<Value> values;
    std::vector<uint8_t> security;  // Self-relative descriptor.
    SECURITY_INFORMATION security_info = 0;
    std::vector<Key> children;
  };

  static bool CaptureKey(HKEY key, int depth, Key* out);
  static bool RestoreKey(HKEY parent, const std::wstring& subkey, REGSAM view, const Key& key);
  static size_t CountKeys(const Key& key);
  static void SerializeKey(const Key& key, std::string* out);
  static bool ParseKey(const std::string& bytes, size_t* position, int depth, Key* key);

  Key root_key_;
  bool captured_ = false;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_REGISTRY_TREE_SNAPSHOT_H_
