#include "desktop/windows/installer/service/transactions/registry_tree_snapshot.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/win/registry.h"

namespace installer {

namespace {

// Registry keys nest at most 512 levels deep.
constexpr int kMaxDepth = 512;
// Key names are at most 255 characters.
constexpr DWORD kMaxKeyNameLength = 256;

constexpr SECURITY_INFORMATION kBaseSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

unsigned long Code(LONG result) { return static_cast<unsigned long>(result); }

// Opens |name| below |parent| for reading, with the SACL when |sacl|.
LONG OpenForCapture(HKEY parent, const wchar_t* name, REGSAM view, bool sacl,
                    base::win::ScopedHKey* key) {
  HKEY raw = nullptr;
  const REGSAM access = KEY_READ | view | (sacl ? ACCESS_SYSTEM_SECURITY : 0);
  const LONG result = ::RegOpenKeyExW(parent, name, 0, access, &raw);
  if (result == ERROR_SUCCESS)
    key->Reset(raw);
  return result;
}

bool ReadSecurity(HKEY key, SECURITY_INFORMATION info, std::vector<uint8_t>* out) {
  DWORD size = 0;
  LONG result = ::RegGetKeySecurity(key, info, nullptr, &size);
  for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    out->resize(size);
    result = ::RegGetKeySecurity(key, info, out->data(), &size);
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, Code(result)) << "RegGetKeySecurity failed";
    return false;
  }
  out->resize(size);
  return true;
}

}  // namespace

bool RegistryTreeSnapshot::Capture(HKEY root, const std::wstring& key_path, REGSAM view,
                                   bool* missing) {
  *missing = false;
  captured_ = false;
  root_key_ = Key();
  if (!root || key_path.empty()) {
    LOG(ERROR) << "No registry key to save";
    return false;
  }
  base::win::ScopedHKey key;
  // The SACL only comes with SeSecurityPrivilege enabled; without it the
  // tree is saved with owner, group and DACL.
  bool sacl = true;
  LONG result = OpenForCapture(root, key_path.c_str(), view, true, &key);
  if (result == ERROR_PRIVILEGE_NOT_HELD || result == ERROR_ACCESS_DENIED) {
    sacl = false;
    result = OpenForCapture(root, key_path.c_str(), view, false, &key);
  }
  if (result == ERROR_FILE_NOT_FOUND) {
    *missing = true;
    return false;
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, Code(result)) << "Cannot open registry key " << key_path << " to save it";
    return false;
  }
  root_key_.security_info = kBaseSecurity | (sacl ? SACL_SECURITY_INFORMATION : 0);
  if (!CaptureKey(key.Get(), 0, &root_key_)) {
    LOG(ERROR) << "Cannot save registry tree " << key_path;
    return false;
  }
  captured_ = true;
  return true;
}

// static
bool RegistryTreeSnapshot::CaptureKey(HKEY key, int depth, Key* out) {
  if (depth > kMaxDepth) {
    LOG(ERROR) << "Registry tree nested too deeply";
    return false;
  }
  if (!ReadSecurity(key, out->security_info, &out->security))
    return false;

  DWORD subkeys = 0, values = 0, max_name = 0, max_data = 0;
  LONG result = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                   &values, &max_name, &max_data, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, Code(result)) << "RegQueryInfoKeyW failed";
    return false;
  }
  for (DWORD index = 0;; ++index) {
    std::wstring name(max_name + 1, L'\0');
    std::vector<uint8_t> data(std::max<DWORD>(max_data, 1));
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    result = ::RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, data.data(),
                             &data_size);
    if (result == ERROR_MORE_DATA) {
      // The key changed since it was measured: measure again.
      ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &max_name, &max_data, nullptr, nullptr);
      max_name += 16;
      max_data += 16;
      if (index > values + 64) {
        LOG(ERROR) << "Registry values keep changing";
        return false;
      }
      --index;
      continue;
    }
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, Code(result)) << "RegEnumValueW failed";
      return false;
    }
    name.resize(name_length);
    data.resize(data_size);
    out->values.push_back(Value{std::move(name), type, std::move(data)});
  }

  for (DWORD index = 0;; ++index) {
    std::wstring name(kMaxKeyNameLength, L'\0');
    DWORD length = kMaxKeyNameLength;
    result = ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS)
      break;
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, Code(result)) << "RegEnumKeyExW failed";
      return false;
    }
    name.resize(length);
    Key child;
    child.name = name;
    child.security_info = out->security_info;
    base::win::ScopedHKey child_key;
    // The view bits only matter at the root; below it the handle decides.
    result = OpenForCapture(key, name.c_str(), 0,
                            (out->security_info & SACL_SECURITY_INFORMATION) != 0, &child_key);
    if ((result == ERROR_PRIVILEGE_NOT_HELD || result == ERROR_ACCESS_DENIED) &&
        (child.security_info & SACL_SECURITY_INFORMATION)) {
      // This key refuses its SACL: saved without it.
      child.security_info = kBaseSecurity;
      result = OpenForCapture(key, name.c_str(), 0, false, &child_key);
    }
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, Code(result)) << "Cannot open registry key " << name << " to save it";
      return false;
    }
    if (!CaptureKey(child_key.Get(), depth + 1, &child)) {
      LOG(ERROR) << "Cannot save registry key " << name;
      return false;
    }
    out->children.push_back(std::move(child));
  }
  return true;
}

bool RegistryTreeSnapshot::Restore(HKEY root, const std::wstring& key_path, REGSAM view) const {
  if (!captured_) {
    LOG(ERROR) << "No saved registry tree to restore at " << key_path;
    return false;
  }
  return RestoreKey(root, key_path, view, root_key_);
}

// static
bool RegistryTreeSnapshot::RestoreKey(HKEY parent, const std::wstring& subkey, REGSAM view,
                                      const Key& key) {
  const bool sacl = (key.security_info & SACL_SECURITY_INFORMATION) != 0;
  HKEY raw = nullptr;
  DWORD disposition = 0;
  LONG result = ::RegCreateKeyExW(parent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS | view | (sacl ? ACCESS_SYSTEM_SECURITY : 0),
                                  nullptr, &raw, &disposition);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, Code(result)) << "Cannot recreate registry key " << subkey;
    return false;
  }
  base::win::ScopedHKey handle(raw);
  bool ok = true;
  for (const Value& value : key.values) {
    result = ::RegSetValueExW(handle.Get(), value.name.c_str(), 0, value.type,
                              value.data.empty() ? nullptr : value.data.data(),
                              static_cast<DWORD>(value.data.size()));
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, Code(result)) << "Cannot restore value \"" << value.name << "\" of " << subkey;
      ok = false;
    }
  }
  for (const Key& child : key.children) {
    if (!RestoreKey(handle.Get(), child.name, 0, child))
      ok = false;
  }
  // Last, since the saved descriptor may deny the writes above.
  if (!key.security.empty()) {
    result = ::RegSetKeySecurity(
        handle.Get(), key.security_info,
        reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<uint8_t*>(key.security.data())));
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, Code(result)) << "Cannot restore the security of registry key " << subkey;
      ok = false;
    }
  }
  return ok;
}

namespace {

// Sizes and types as 4 little-endian bytes, strings as their size and bytes.
void PutNumber(uint32_t value, std::string* out) {
  for (int i = 0; i < 4; ++i)
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutBytes(const void* data, size_t size, std::string* out) {
  PutNumber(static_cast<uint32_t>(size), out);
  out->append(static_cast<const char*>(data), size);
}

bool GetNumber(const std::string& bytes, size_t* position, uint32_t* value) {
  if (bytes.size() - *position < 4)
    return false;
  *value = 0;
  for (int i = 0; i < 4; ++i)
    *value |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[*position + i])) << (8 * i);
  *position += 4;
  return true;
}

bool GetBytes(const std::string& bytes, size_t* position, std::string* out) {
  uint32_t size = 0;
  if (!GetNumber(bytes, position, &size) || bytes.size() - *position < size)
    return false;
  out->assign(bytes, *position, size);
  *position += size;
  return true;
}

bool GetWide(const std::string& bytes, size_t* position, std::wstring* out) {
  std::string raw;
  if (!GetBytes(bytes, position, &raw) || raw.size() % sizeof(wchar_t))
    return false;
  out->assign(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
  return true;
}

bool GetVector(const std::string& bytes, size_t* position, std::vector<uint8_t>* out) {
  std::string raw;
  if (!GetBytes(bytes, position, &raw))
    return false;
  out->assign(raw.begin(), raw.end());
  return true;
}

}  // namespace

std::string RegistryTreeSnapshot::Serialize() const {
  std::string out;
  if (captured_)
    SerializeKey(root_key_, &out);
  return out;
}

bool RegistryTreeSnapshot::Parse(const std::string& bytes) {
  captured_ = false;
  root_key_ = Key();
  size_t position = 0;
  if (!ParseKey(bytes, &position, 0, &root_key_) || position != bytes.size()) {
    root_key_ = Key();
    return false;
  }
  captured_ = true;
  return true;
}

// static
void RegistryTreeSnapshot::SerializeKey(const Key& key, std::string* out) {
  PutBytes(key.name.data(), key.name.size() * sizeof(wchar_t), out);
  PutNumber(key.security_info, out);
  PutBytes(key.security.data(), key.security.size(), out);
  PutNumber(static_cast<uint32_t>(key.values.size()), out);
  for (const Value& value : key.values) {
    PutBytes(value.name.data(), value.name.size() * sizeof(wchar_t), out);
    PutNumber(value.type, out);
    PutBytes(value.data.data(), value.data.size(), out);
  }
  PutNumber(static_cast<uint32_t>(key.children.size()), out);
  for (const Key& child : key.children)
    SerializeKey(child, out);
}

// static
bool RegistryTreeSnapshot::ParseKey(const std::string& bytes, size_t* position, int depth,
                                    Key* key) {
  uint32_t info = 0, count = 0;
  if (depth > kMaxDepth || !GetWide(bytes, position, &key->name) ||
      !GetNumber(bytes, position, &info) || !GetVector(bytes, position, &key->security) ||
      !GetNumber(bytes, position, &count)) {
    return false;
  }
  key->security_info = info;
  for (uint32_t i = 0; i < count; ++i) {
    Value value;
    uint32_t type = 0;
    if (!GetWide(bytes, position, &value.name) || !GetNumber(bytes, position, &type) ||
        !GetVector(bytes, position, &value.data)) {
      return false;
    }
    value.type = type;
    key->values.push_back(std::move(value));
  }
  if (!GetNumber(bytes, position, &count))
    return false;
  for (uint32_t i = 0; i < count; ++i) {
    Key child;
    if (!ParseKey(bytes, position, depth + 1, &child))
      return false;
    key->children.push_back(std::move(child));
  }
  return true;
}

size_t RegistryTreeSnapshot::key_count() const { return captured_ ? CountKeys(root_key_) : 0; }

// static
size_t RegistryTreeSnapshot::CountKeys(const Key& key) {
  size_t count = 1;
  for (const Key& child : key.children)
    count += CountKeys(child);
  return count;
}

}  // namespace installer
