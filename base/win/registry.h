// Registry keys in a chosen view: RegistryKey (an open key that remembers its
// 32-bit or 64-bit registry view and applies it to every subkey it opens,
// creates or deletes) and iterators over a key's values and subkeys.
//
// Functions return Windows error codes (ERROR_SUCCESS, 0, on success) and log
// failures: a missing key or value at verbose level 1 (callers often probe),
// everything else as an error.
#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_generic.h"

namespace base::win {

// The view bits of an access mask.
inline constexpr REGSAM kWow64AccessMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

// Open registry keys, closed with RegCloseKey. The predefined root keys
// (HKEY_LOCAL_MACHINE, ...) are never closed.
struct HKeyTraits {
  static HKEY InvalidValue() { return nullptr; }
  static void Free(HKEY& key);
};
using ScopedHKey = ScopedGeneric<HKEY, HKeyTraits>;

// True for HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and the other predefined
// handles.
bool IsPredefinedRegistryKey(HKEY key);

class RegistryKey {
 public:
  RegistryKey() = default;
  // Creates |subkey| under |root| when |access| asks for writing
  // (KEY_SET_VALUE, KEY_CREATE_SUB_KEY or KEY_CREATE_LINK), else opens it.
  // The view bits of |access| are kept. Check Valid() afterwards.
  RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access);
  RegistryKey(RegistryKey&&) = default;
  RegistryKey& operator=(RegistryKey&&) = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() = default;

  // Closes any key held, then creates (with missing parents) or opens
  // |subkey| of |root|. A null or empty |subkey| gives a new handle to |root|.
  LONG Create(HKEY root, const wchar_t* subkey, REGSAM access);
  LONG CreateWithDisposition(HKEY root, const wchar_t* subkey, DWORD* disposition, REGSAM access);
  LONG Open(HKEY root, const wchar_t* subkey, REGSAM access);
  // Creates or opens |relative_key_name| below this key, in this key's view,
  // and replaces this key with it. |access| may repeat this key's view bits
  // but not name the other view.
  LONG CreateKey(const wchar_t* relative_key_name, REGSAM access);
  LONG OpenKey(const wchar_t* relative_key_name, REGSAM access);
  void Close();

  bool Valid() const { return key_.IsValid(); }
  HKEY Handle() const { return key_.Get(); }
  // KEY_WOW64_32KEY, KEY_WOW64_64KEY or 0.
  REGSAM wow64access() const { return wow64access_; }

  // Values.
  bool HasValue(const wchar_t* name) const;
  // The number of values, or 0 (logged) when it cannot be read.
  DWORD GetValueCount() const;
  // The number of subkeys, or 0 (logged) when it cannot be read.
  DWORD GetSubkeyCount() const;

  // REG_SZ or REG_EXPAND_SZ (expanded) text. The text ends at its first NUL
  // or at the end of the data, whichever comes first; a trailing odd byte is
  // ignored. ERROR_CANTREAD for values of other types.
  LONG ReadValue(const wchar_t* name, std::wstring* out) const;
  // ERROR_CANTREAD unless the value is a REG_DWORD of 4 bytes.
  LONG ReadValueDW(const wchar_t* name, DWORD* out) const;
  // ERROR_CANTREAD unless the value is a REG_QWORD of 8 bytes.
  LONG ReadValueQW(const wchar_t* name, uint64_t* out) const;
  // The strings of a REG_MULTI_SZ value; ERROR_CANTREAD for other types.
  LONG ReadValues(const wchar_t* name, std::vector<std::wstring>* values) const;
  // The raw bytes and type of a value of any type.
  LONG ReadValueBinary(const wchar_t* name, std::vector<uint8_t>* data, DWORD* type) const;

  // REG_SZ, with the terminating NUL counted in the size.
  LONG WriteValue(const wchar_t* name, std::wstring_view value);
  LONG WriteValue(const wchar_t* name, DWORD value);
  LONG WriteValueQW(const wchar_t* name, uint64_t value);
  // REG_MULTI_SZ; empty strings cannot be stored and are skipped.
  LONG WriteValues(const wchar_t* name, const std::vector<std::wstring>& values);
  // Raw bytes of the given type.
  LONG WriteValue(const wchar_t* name, const void* data, DWORD size, DWORD type);

  LONG DeleteValue(const wchar_t* name);

  // Deletes |name| (a subkey path below this key) with everything beneath
  // it, in this key's view.
  LONG DeleteKey(const wchar_t* name);
  // Deletes |name| only when it has no values and no subkeys.
  LONG DeleteEmptyKey(const wchar_t* name);

 private:
  LONG ReadRaw(const wchar_t* name, std::vector<uint8_t>* data, DWORD* type) const;
  // The view bits to use below this key for |access|, or false (logged)
  // when |access| names the other view.
  bool SubkeyAccess(REGSAM access, REGSAM* result) const;

  ScopedHKey key_;
  REGSAM wow64access_ = 0;
};

// The values of one key, from the last index to the first, so that the
// current value may be deleted while iterating.
class RegistryValueIterator {
 public:
  // Opens |folder_key| below |root| for reading in the view |wow64access|
  // (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY). Invalid when it cannot be opened.
  RegistryValueIterator(HKEY root, const wchar_t* folder_key, REGSAM wow64access = 0);
  RegistryValueIterator(const RegistryValueIterator&) = delete;
  RegistryValueIterator& operator=(const RegistryValueIterator&) = delete;

  DWORD ValueCount() const { return count_; }
  bool Valid() const { return index_ >= 0; }
  void operator++();

  const std::wstring& Name() const { return name_; }
  DWORD Type() const { return type_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  // The data of a string value as text up to its first NUL; empty for other
  // types.
  std::wstring Value() const;

 private:
  bool Read();

  RegistryKey key_;
  DWORD count_ = 0;
  long index_ = -1;
  std::wstring name_;
  DWORD type_ = REG_NONE;
  std::vector<uint8_t> data_;
};

// The subkey names of one key, from the last index to the first.
class RegistryKeyIterator {
 public:
  RegistryKeyIterator(HKEY root, const wchar_t* folder_key, REGSAM wow64access = 0);
  RegistryKeyIterator(const RegistryKeyIterator&) = delete;
  RegistryKeyIterator& operator=(const RegistryKeyIterator&) = delete;

  DWORD SubkeyCount() const { return count_; }
  bool Valid() const { return index_ >= 0; }
  void operator++();

  const std::wstring& Name() const { return name_; }

 private:
  bool Read();

  RegistryKey key_;
  DWORD count_ = 0;
  long index_ = -1;
  std::wstring name_;
};

}  // namespace base::win

#endif  // BASE_WIN_REGISTRY_H_
