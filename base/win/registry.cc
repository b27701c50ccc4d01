#include "base/win/registry.h"

#include <algorithm>
#include <cstring>

#include "base/logging.h"
#include "base/win/multi_string.h"

namespace base::win {

namespace {

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;
// Subkey names are at most 255 units, value names at most 16383.
constexpr DWORD kMaxKeyNameLength = 256;
constexpr DWORD kMaxValueNameLength = 16384;
// Registry keys nest at most 512 levels deep.
constexpr int kMaxKeyDepth = 512;

const wchar_t* Printable(const wchar_t* name) { return name && *name ? name : L"(default)"; }

// Logs a failed registry call once and hands its code back.
LONG Logged(LONG result, const char* what, const wchar_t* name) {
  if (result == ERROR_FILE_NOT_FOUND)
    VLOG(1) << what << " " << Printable(name) << ": not found";
  else
    ELOG(ERROR, static_cast<unsigned long>(result)) << what << " " << Printable(name) << " failed";
  return result;
}

// The text in |data|: up to the first NUL or the end, an odd last byte
// ignored.
std::wstring TextOf(const std::vector<uint8_t>& data) {
  const size_t units = data.size() / sizeof(wchar_t);
  std::wstring text(units, L'\0');
  if (units)
    memcpy(text.data(), data.data(), units * sizeof(wchar_t));
  const size_t nul = text.find(L'\0');
  if (nul != std::wstring::npos)
    text.resize(nul);
  return text;
}

bool ExpandEnvironment(const std::wstring& text, std::wstring* out) {
  DWORD size = ::ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  for (int attempt = 0; attempt < 3 && size > 0; ++attempt) {
    std::wstring buffer(size, L'\0');
    DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), size);
    if (needed == 0)
      break;
    if (needed <= size) {
      buffer.resize(needed - 1);
      *out = std::move(buffer);
      return true;
    }
    // The environment grew in between.
    size = needed;
  }
  PLOG(ERROR) << "ExpandEnvironmentStringsW failed";
  return false;
}

// Deletes |name| below |parent| and its whole subtree in view |view|:
// every level is opened and deleted with the view bits, so the other view's
// keys of the same name stay untouched.
LONG DeleteTreeInView(HKEY parent, const wchar_t* name, REGSAM view, int depth) {
  if (depth > kMaxKeyDepth)
    return ERROR_INVALID_PARAMETER;
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(parent, name, 0,
                                KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | view, &raw);
  if (result != ERROR_SUCCESS)
    return result;
  ScopedHKey key(raw);
  std::wstring child(kMaxKeyNameLength, L'\0');
  for (;;) {
    DWORD length = kMaxKeyNameLength;
    // Index 0 each time: deleting a subkey renumbers the rest.
    result =
        ::RegEnumKeyExW(key.Get(), 0, child.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS)
      return result;
    result =
        DeleteTreeInView(key.Get(), std::wstring(child.data(), length).c_str(), view, depth + 1);
    if (result != ERROR_SUCCESS)
      return result;
  }
  key.Reset();
  return ::RegDeleteKeyExW(parent, name, view, 0);
}

}  // namespace

bool IsPredefinedRegistryKey(HKEY key) {
  // The predefined handles are 0x80000000 to 0x800000FF, sign-extended.
  const LONG_PTR value = reinterpret_cast<LONG_PTR>(key);
  return value >= static_cast<LONG>(0x80000000) && value <= static_cast<LONG>(0x800000FF);
}

void HKeyTraits::Free(HKEY& key) {
  if (IsPredefinedRegistryKey(key))
    return;
  LONG result = ::RegCloseKey(key);
  if (result != ERROR_SUCCESS)
    ELOG(ERROR, static_cast<unsigned long>(result)) << "RegCloseKey failed";
}

// RegistryKey ---------------------------------------------------------------

RegistryKey::RegistryKey(HKEY root, const wchar_t* subkey, REGSAM access) {
  if (access & kWriteAccess)
    Create(root, subkey, access);
  else
    Open(root, subkey, access);
}

LONG RegistryKey::Create(HKEY root, const wchar_t* subkey, REGSAM access) {
  DWORD disposition = 0;
  return CreateWithDisposition(root, subkey, &disposition, access);
}

LONG RegistryKey::CreateWithDisposition(HKEY root, const wchar_t* subkey, DWORD* disposition,
                                        REGSAM access) {
  Close();
  if ((access & kWow64AccessMask) == kWow64AccessMask) {
    LOG(ERROR) << "Both registry views asked for " << Printable(subkey);
    return ERROR_INVALID_PARAMETER;
  }
  HKEY raw = nullptr;
  LONG result = ::RegCreateKeyExW(root, subkey ? subkey : L"", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  access, nullptr, &raw, disposition);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegCreateKeyExW", subkey);
  key_.Reset(raw);
  wow64access_ = access & kWow64AccessMask;
  return ERROR_SUCCESS;
}

LONG RegistryKey::Open(HKEY root, const wchar_t* subkey, REGSAM access) {
  Close();
  if ((access & kWow64AccessMask) == kWow64AccessMask) {
    LOG(ERROR) << "Both registry views asked for " << Printable(subkey);
    return ERROR_INVALID_PARAMETER;
  }
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(root, subkey, 0, access, &raw);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegOpenKeyExW", subkey);
  key_.Reset(raw);
  wow64access_ = access & kWow64AccessMask;
  return ERROR_SUCCESS;
}

bool RegistryKey::SubkeyAccess(REGSAM access, REGSAM* result) const {
  const REGSAM view = access & kWow64AccessMask;
  if (view == kWow64AccessMask || (view && wow64access_ && view != wow64access_)) {
    LOG(ERROR) << "A subkey cannot leave its key's registry view";
    return false;
  }
  *result = access | wow64access_;
  return true;
}

LONG RegistryKey::CreateKey(const wchar_t* relative_key_name, REGSAM access) {
  REGSAM full_access = 0;
  if (!SubkeyAccess(access, &full_access))
    return ERROR_INVALID_PARAMETER;
  if (!Valid()) {
    LOG(ERROR) << "No key open to create " << Printable(relative_key_name) << " in";
    return ERROR_INVALID_HANDLE;
  }
  HKEY raw = nullptr;
  LONG result =
      ::RegCreateKeyExW(key_.Get(), relative_key_name ? relative_key_name : L"", 0, nullptr,
                        REG_OPTION_NON_VOLATILE, full_access, nullptr, &raw, nullptr);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegCreateKeyExW", relative_key_name);
  key_.Reset(raw);
  wow64access_ = full_access & kWow64AccessMask;
  return ERROR_SUCCESS;
}

LONG RegistryKey::OpenKey(const wchar_t* relative_key_name, REGSAM access) {
  REGSAM full_access = 0;
  if (!SubkeyAccess(access, &full_access))
    return ERROR_INVALID_PARAMETER;
  if (!Valid()) {
    LOG(ERROR) << "No key open to open " << Printable(relative_key_name) << " in";
    return ERROR_INVALID_HANDLE;
  }
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(key_.Get(), relative_key_name, 0, full_access, &raw);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegOpenKeyExW", relative_key_name);
  key_.Reset(raw);
  wow64access_ = full_access & kWow64AccessMask;
  return ERROR_SUCCESS;
}

void RegistryKey::Close() {
  key_.Reset();
  wow64access_ = 0;
}

bool RegistryKey::HasValue(const wchar_t* name) const {
  return Valid() &&
         ::RegQueryValueExW(key_.Get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD RegistryKey::GetValueCount() const {
  DWORD count = 0;
  LONG result = ::RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &count, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "RegQueryInfoKeyW failed";
    return 0;
  }
  return count;
}

DWORD RegistryKey::GetSubkeyCount() const {
  DWORD count = 0;
  LONG result = ::RegQueryInfoKeyW(key_.Get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "RegQueryInfoKeyW failed";
    return 0;
  }
  return count;
}

LONG RegistryKey::ReadRaw(const wchar_t* name, std::vector<uint8_t>* data, DWORD* type) const {
  if (!Valid()) {
    LOG(ERROR) << "No key open to read " << Printable(name) << " from";
    return ERROR_INVALID_HANDLE;
  }
  DWORD size = 0;
  LONG result = ::RegQueryValueExW(key_.Get(), name, nullptr, type, nullptr, &size);
  // The value may grow between the size query and the read.
  for (int attempt = 0; attempt < 5 && result == ERROR_SUCCESS; ++attempt) {
    data->resize(size);
    DWORD filled = size;
    result =
        ::RegQueryValueExW(key_.Get(), name, nullptr, type, size ? data->data() : nullptr, &filled);
    if (result == ERROR_SUCCESS) {
      data->resize(std::min(filled, size));
      return ERROR_SUCCESS;
    }
    if (result == ERROR_MORE_DATA) {
      size = std::max(filled, size * 2);
      result = ERROR_SUCCESS;
    }
  }
  if (result == ERROR_SUCCESS)
    result = ERROR_MORE_DATA;
  return Logged(result, "RegQueryValueExW", name);
}

LONG RegistryKey::ReadValueBinary(const wchar_t* name, std::vector<uint8_t>* data,
                                  DWORD* type) const {
  return ReadRaw(name, data, type);
}

LONG RegistryKey::ReadValue(const wchar_t* name, std::wstring* out) const {
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &data, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is no text (type " << type << ")";
    return ERROR_CANTREAD;
  }
  std::wstring text = TextOf(data);
  if (type == REG_EXPAND_SZ) {
    std::wstring expanded;
    if (!ExpandEnvironment(text, &expanded))
      return ERROR_CANTREAD;
    text = std::move(expanded);
  }
  *out = std::move(text);
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadValueDW(const wchar_t* name, DWORD* out) const {
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &data, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if (type != REG_DWORD || data.size() != sizeof(DWORD)) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is no DWORD (type " << type << ", "
               << data.size() << " bytes)";
    return ERROR_CANTREAD;
  }
  memcpy(out, data.data(), sizeof(DWORD));
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadValueQW(const wchar_t* name, uint64_t* out) const {
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &data, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if (type != REG_QWORD || data.size() != sizeof(uint64_t)) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is no QWORD (type " << type << ", "
               << data.size() << " bytes)";
    return ERROR_CANTREAD;
  }
  memcpy(out, data.data(), sizeof(uint64_t));
  return ERROR_SUCCESS;
}

LONG RegistryKey::ReadValues(const wchar_t* name, std::vector<std::wstring>* values) const {
  std::vector<uint8_t> data;
  DWORD type = REG_NONE;
  LONG result = ReadRaw(name, &data, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if (type != REG_MULTI_SZ) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is no string list (type " << type
               << ")";
    return ERROR_CANTREAD;
  }
  // Copied into units so that an odd byte count cannot be read past.
  std::vector<wchar_t> units(data.size() / sizeof(wchar_t));
  if (!units.empty())
    memcpy(units.data(), data.data(), units.size() * sizeof(wchar_t));
  values->clear();
  SplitMultiString(units.data(), units.size(), values);
  return ERROR_SUCCESS;
}

LONG RegistryKey::WriteValue(const wchar_t* name, const void* data, DWORD size, DWORD type) {
  if (!Valid()) {
    LOG(ERROR) << "No key open to write " << Printable(name) << " to";
    return ERROR_INVALID_HANDLE;
  }
  if (!data && size) {
    LOG(ERROR) << "No data for registry value " << Printable(name);
    return ERROR_INVALID_PARAMETER;
  }
  LONG result = ::RegSetValueExW(key_.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegSetValueExW", name);
  return ERROR_SUCCESS;
}

LONG RegistryKey::WriteValue(const wchar_t* name, std::wstring_view value) {
  // Values are limited far below this; the check keeps the size in a DWORD.
  if (value.size() >= MAXDWORD / sizeof(wchar_t) / 2) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is too long";
    return ERROR_INVALID_PARAMETER;
  }
  const std::wstring text(value);
  return WriteValue(name, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                    REG_SZ);
}

LONG RegistryKey::WriteValue(const wchar_t* name, DWORD value) {
  return WriteValue(name, &value, sizeof(value), REG_DWORD);
}

LONG RegistryKey::WriteValueQW(const wchar_t* name, uint64_t value) {
  return WriteValue(name, &value, sizeof(value), REG_QWORD);
}

LONG RegistryKey::WriteValues(const wchar_t* name, const std::vector<std::wstring>& values) {
  const std::wstring joined = JoinMultiString(values);
  if (joined.size() >= MAXDWORD / sizeof(wchar_t) / 2) {
    LOG(ERROR) << "Registry value " << Printable(name) << " is too long";
    return ERROR_INVALID_PARAMETER;
  }
  return WriteValue(name, joined.data(), static_cast<DWORD>(joined.size() * sizeof(wchar_t)),
                    REG_MULTI_SZ);
}

LONG RegistryKey::DeleteValue(const wchar_t* name) {
  if (!Valid()) {
    LOG(ERROR) << "No key open to delete " << Printable(name) << " from";
    return ERROR_INVALID_HANDLE;
  }
  LONG result = ::RegDeleteValueW(key_.Get(), name);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegDeleteValueW", name);
  return ERROR_SUCCESS;
}

LONG RegistryKey::DeleteKey(const wchar_t* name) {
  if (!Valid()) {
    LOG(ERROR) << "No key open to delete " << Printable(name) << " from";
    return ERROR_INVALID_HANDLE;
  }
  // Deleting the key itself through an empty name is not offered: the
  // handle would outlive its key.
  if (!name || !*name) {
    LOG(ERROR) << "No subkey named for deletion";
    return ERROR_INVALID_PARAMETER;
  }
  LONG result = DeleteTreeInView(key_.Get(), name, wow64access_, 0);
  if (result != ERROR_SUCCESS)
    return Logged(result, "Deleting registry tree", name);
  return ERROR_SUCCESS;
}

LONG RegistryKey::DeleteEmptyKey(const wchar_t* name) {
  if (!Valid()) {
    LOG(ERROR) << "No key open to delete " << Printable(name) << " from";
    return ERROR_INVALID_HANDLE;
  }
  if (!name || !*name) {
    LOG(ERROR) << "No subkey named for deletion";
    return ERROR_INVALID_PARAMETER;
  }
  RegistryKey subkey;
  LONG result = subkey.Open(key_.Get(), name, KEY_QUERY_VALUE | wow64access_);
  if (result != ERROR_SUCCESS)
    return result;
  DWORD subkeys = 0;
  DWORD values = 0;
  result = ::RegQueryInfoKeyW(subkey.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                              nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegQueryInfoKeyW", name);
  if (subkeys || values) {
    LOG(ERROR) << "Registry key " << name << " is not empty";
    return ERROR_DIR_NOT_EMPTY;
  }
  subkey.Close();
  result = ::RegDeleteKeyExW(key_.Get(), name, wow64access_, 0);
  if (result != ERROR_SUCCESS)
    return Logged(result, "RegDeleteKeyExW", name);
  return ERROR_SUCCESS;
}

// RegistryValueIterator -----------------------------------------------------

RegistryValueIterator::RegistryValueIterator(HKEY root, const wchar_t* folder_key,
                                             REGSAM wow64access) {
  if (key_.Open(root, folder_key, KEY_QUERY_VALUE | (wow64access & kWow64AccessMask)) !=
      ERROR_SUCCESS) {
    return;
  }
  count_ = key_.GetValueCount();
  index_ = static_cast<long>(count_) - 1;
  if (!Read())
    index_ = -1;
}

void RegistryValueIterator::operator++() {
  if (index_ < 0)
    return;
  --index_;
  if (!Read())
    index_ = -1;
}

bool RegistryValueIterator::Read() {
  if (index_ < 0)
    return true;
  std::wstring name(kMaxValueNameLength, L'\0');
  // Reuses the buffer of the previous value.
  data_.resize(std::max<size_t>(data_.capacity(), 256));
  for (int attempt = 0; attempt < 5; ++attempt) {
    DWORD name_length = kMaxValueNameLength;
    DWORD size = static_cast<DWORD>(data_.size());
    LONG result = ::RegEnumValueW(key_.Handle(), static_cast<DWORD>(index_), name.data(),
                                  &name_length, nullptr, &type_, data_.data(), &size);
    if (result == ERROR_SUCCESS) {
      name_.assign(name.data(), std::min(name_length, kMaxValueNameLength));
      data_.resize(std::min<size_t>(size, data_.size()));
      return true;
    }
    if (result != ERROR_MORE_DATA) {
      ELOG(ERROR, static_cast<unsigned long>(result)) << "RegEnumValueW failed at " << index_;
      return false;
    }
    data_.resize(std::max<size_t>(size, data_.size() * 2));
  }
  LOG(ERROR) << "Registry value " << index_ << " keeps growing";
  return false;
}

std::wstring RegistryValueIterator::Value() const {
  if (type_ != REG_SZ && type_ != REG_EXPAND_SZ)
    return std::wstring();
  return TextOf(data_);
}

// RegistryKeyIterator -------------------------------------------------------

RegistryKeyIterator::RegistryKeyIterator(HKEY root, const wchar_t* folder_key, REGSAM wow64access) {
  if (key_.Open(root, folder_key,
                KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | (wow64access & kWow64AccessMask)) !=
      ERROR_SUCCESS) {
    return;
  }
  count_ = key_.GetSubkeyCount();
  index_ = static_cast<long>(count_) - 1;
  if (!Read())
    index_ = -1;
}

void RegistryKeyIterator::operator++() {
  if (index_ < 0)
    return;
  --index_;
  if (!Read())
    index_ = -1;
}

bool RegistryKeyIterator::Read() {
  if (index_ < 0)
    return true;
  wchar_t name[kMaxKeyNameLength];
  DWORD length = kMaxKeyNameLength;
  LONG result = ::RegEnumKeyExW(key_.Handle(), static_cast<DWORD>(index_), name, &length, nullptr,
                                nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, static_cast<unsigned long>(result)) << "RegEnumKeyExW failed at " << index_;
    return false;
  }
  name_.assign(name, std::min(length, kMaxKeyNameLength));
  return true;
}

}  // namespace base::win
