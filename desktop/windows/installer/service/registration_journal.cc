#include "desktop/windows/installer/service/registration_journal.h"

#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "base/logging.h"
#include "base/string_printf.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/service/named_program.h"
#include "desktop/windows/installer/service/registry_names.h"

namespace installer {

namespace {

constexpr wchar_t kKeyValue[] = L"Key";
constexpr wchar_t kNameValue[] = L"Name";
constexpr wchar_t kBeforeValue[] = L"Before";
constexpr wchar_t kAfterValue[] = L"After";
constexpr wchar_t kCreatedValue[] = L"Created";

bool SameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::string Describe(const std::wstring& key_path, std::wstring_view name) {
  return "\"" + base::WideToUTF8(name) + "\" of " + base::WideToUTF8(key_path);
}

bool KeyExists(HKEY root, const std::wstring& key_path) {
  base::win::RegistryKey key;
  return key.Open(root, key_path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS;
}

// The number of components of a key path.
size_t Depth(const std::wstring& key_path) {
  return std::count(key_path.begin(), key_path.end(), L'\\') + 1;
}

}  // namespace

RegistrationJournal::RegistrationJournal(HKEY root, const base::FilePath& install_folder)
    : root_(root), installation_(install_folder.StripTrailingSeparators().value()) {
  // A key name holds no "\" and at most 255 characters.
  std::replace(installation_.begin(), installation_.end(), L'\\', L'/');
  if (installation_.size() > 255)
    installation_.erase(0, installation_.size() - 255);
  if (installation_.empty())
    installation_ = L"-";
  Load();
}

RegistrationJournal::~RegistrationJournal() = default;

std::wstring RegistrationJournal::RecordPath() const {
  return GetCompanyRegistryKey() + L"\\" + kReplacedRegistrationKey + L"\\" + installation_;
}

void RegistrationJournal::Load() {
  const std::wstring record = RecordPath();
  for (base::win::RegistryKeyIterator it(root_, record.c_str()); it.Valid(); ++it) {
    base::win::RegistryKey key;
    if (key.Open(root_, (record + L"\\" + it.Name()).c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
      continue;
    Change change;
    change.subkey = it.Name();
    if (key.ReadValue(kKeyValue, &change.key_path) != ERROR_SUCCESS || change.key_path.empty()) {
      LOG(WARNING) << "Skipping the unreadable registration record " << base::WideToUTF8(it.Name());
      continue;
    }
    DWORD created = 0;
    change.created_key = key.ReadValueDW(kCreatedValue, &created) == ERROR_SUCCESS && created;
    if (!change.created_key) {
      key.ReadValue(kNameValue, &change.name);
      RawValue raw;
      if (key.ReadValueBinary(kBeforeValue, &raw.data, &raw.type) == ERROR_SUCCESS)
        change.before = raw;
      if (key.ReadValueBinary(kAfterValue, &raw.data, &raw.type) == ERROR_SUCCESS)
        change.after = raw;
    }
    next_index_ = std::max(next_index_, _wtoi(it.Name().c_str()) + 1);
    changes_.push_back(std::move(change));
  }
  // The numbered names give the order of the changes.
  std::sort(changes_.begin(), changes_.end(),
            [](const Change& a, const Change& b) { return a.subkey < b.subkey; });
}

RegistrationJournal::Change* RegistrationJournal::Find(const std::wstring& key_path,
                                                       const wchar_t* name) {
  for (Change& change : changes_) {
    if (change.created_key != (name == nullptr) || !SameName(change.key_path, key_path))
      continue;
    if (!name || SameName(change.name, name))
      return &change;
  }
  return nullptr;
}

bool RegistrationJournal::SaveChange(const Change& change) {
  const std::wstring path = RecordPath() + L"\\" + change.subkey;
  base::win::RegistryKey key;
  LONG result = key.Create(root_, path.c_str(), KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (result == ERROR_SUCCESS)
    result = key.WriteValue(kKeyValue, change.key_path);
  if (result == ERROR_SUCCESS && change.created_key)
    result = key.WriteValue(kCreatedValue, static_cast<DWORD>(1));
  if (result == ERROR_SUCCESS && !change.created_key)
    result = key.WriteValue(kNameValue, change.name);
  for (const auto& [value_name, raw] :
       {std::pair{kBeforeValue, &change.before}, std::pair{kAfterValue, &change.after}}) {
    if (result != ERROR_SUCCESS || change.created_key)
      break;
    if (raw->has_value()) {
      result = key.WriteValue(value_name, (*raw)->data.data(),
                              static_cast<DWORD>((*raw)->data.size()), (*raw)->type);
    } else if (key.HasValue(value_name)) {
      result = key.DeleteValue(value_name);
    }
  }
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot record what the registration replaces in "
                        << base::WideToUTF8(path);
    return false;
  }
  return true;
}

std::optional<RegistrationJournal::RawValue> RegistrationJournal::ReadCurrent(
    const std::wstring& key_path, const wchar_t* name) const {
  base::win::RegistryKey key;
  if (key.Open(root_, key_path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS || !key.HasValue(name))
    return std::nullopt;
  RawValue raw;
  if (key.ReadValueBinary(name, &raw.data, &raw.type) != ERROR_SUCCESS)
    return std::nullopt;
  return raw;
}

bool RegistrationJournal::RecordCreatedKeys(const std::wstring& key_path) {
  std::vector<std::wstring> missing;
  for (std::wstring path = key_path; !path.empty() && !KeyExists(root_, path);) {
    missing.push_back(path);
    const size_t split = path.rfind(L'\\');
    path = split == std::wstring::npos ? std::wstring() : path.substr(0, split);
  }
  for (const std::wstring& path : missing) {
    if (Find(path, nullptr))
      continue;
    Change change;
    change.subkey = base::FormatString16(L"%05d", next_index_++);
    change.key_path = path;
    change.created_key = true;
    if (!SaveChange(change))
      return false;
    changes_.push_back(std::move(change));
  }
  return true;
}

bool RegistrationJournal::RecordValue(const std::wstring& key_path, const wchar_t* name,
                                      const std::optional<RawValue>& after) {
  const wchar_t* value_name = name ? name : L"";
  if (Change* change = Find(key_path, value_name)) {
    // Registered before: what was there before that stays the one to give
    // back; only the registration's own value is brought up to date.
    if (change->after == after)
      return true;
    Change updated = *change;
    updated.after = after;
    if (!SaveChange(updated))
      return false;
    *change = std::move(updated);
    return true;
  }
  Change change;
  change.subkey = base::FormatString16(L"%05d", next_index_++);
  change.key_path = key_path;
  change.name = value_name;
  change.before = ReadCurrent(key_path, value_name);
  change.after = after;
  if (change.before == change.after)
    return true;  // Nothing is replaced.
  if (!SaveChange(change))
    return false;
  changes_.push_back(std::move(change));
  return true;
}

bool RegistrationJournal::WriteValue(const std::wstring& key_path, const wchar_t* name, DWORD type,
                                     const void* data, DWORD size) {
  RawValue after;
  after.type = type;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  after.data.assign(bytes, bytes + size);
  if (!RecordCreatedKeys(key_path) || !RecordValue(key_path, name, after))
    return false;
  base::win::RegistryKey key;
  LONG result = key.Create(root_, key_path.c_str(), KEY_SET_VALUE);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot create registry key " << base::WideToUTF8(key_path);
    return false;
  }
  result = key.WriteValue(name, data, size, type);
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot write registry value " << Describe(key_path, name ? name : L"");
    return false;
  }
  return true;
}

bool RegistrationJournal::WriteString(const std::wstring& key_path, const wchar_t* name,
                                      std::wstring_view value) {
  const std::wstring text(value);
  return WriteValue(key_path, name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

bool RegistrationJournal::ClearKey(const std::wstring& key_path) {
  std::vector<std::wstring> names;
  for (base::win::RegistryValueIterator it(root_, key_path.c_str()); it.Valid(); ++it)
    names.push_back(it.Name());
  base::win::RegistryKey key;
  LONG result = key.Open(root_, key_path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (result == ERROR_FILE_NOT_FOUND)
    return true;
  if (result != ERROR_SUCCESS) {
    ELOG(ERROR, result) << "Cannot open registry key " << base::WideToUTF8(key_path);
    return false;
  }
  for (const std::wstring& name : names) {
    if (!RecordValue(key_path, name.c_str(), std::nullopt))
      return false;
    result = key.DeleteValue(name.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      ELOG(ERROR, result) << "Cannot delete registry value " << Describe(key_path, name);
      return false;
    }
  }
  key.Close();
  const size_t split = key_path.rfind(L'\\');
  if (split == std::wstring::npos)
    return true;
  base::win::RegistryKey parent;
  if (parent.Open(root_, key_path.substr(0, split).c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS) {
    base::win::RegistryKey child;
    // Left in place when it holds subkeys.
    if (child.Open(root_, key_path.c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS &&
        child.GetSubkeyCount() == 0) {
      child.Close();
      parent.DeleteEmptyKey(key_path.substr(split + 1).c_str());
    }
  }
  return true;
}

bool RegistrationJournal::Restore() {
  bool ok = true;
  // Keys of values that went instead of being given back.
  std::vector<std::wstring> emptied;
  // Values, last change first.
  for (auto it = changes_.rbegin(); it != changes_.rend(); ++it) {
    const Change& change = *it;
    if (change.created_key)
      continue;
    if (ReadCurrent(change.key_path, change.name.c_str()) != change.after) {
      VLOG(1) << "Leaving " << Describe(change.key_path, change.name)
              << ": it changed since the registration";
      continue;
    }
    base::win::RegistryKey key;
    LONG result;
    if (change.before &&
        RegistryValueNamesMissingProgram(change.before->type, change.before->data)) {
      // What was there before sends the shell to a program that is gone
      // (another installation, removed since): nothing comes back in place
      // of the registration's own value.
      LOG(INFO) << "Not giving back " << Describe(change.key_path, change.name)
                << ": the program it named is no longer there; the value goes";
      result = key.Open(root_, change.key_path.c_str(), KEY_SET_VALUE);
      if (result == ERROR_SUCCESS)
        result = key.DeleteValue(change.name.c_str());
      if (result == ERROR_FILE_NOT_FOUND)
        result = ERROR_SUCCESS;
      emptied.push_back(change.key_path);
    } else if (change.before) {
      result = key.Create(root_, change.key_path.c_str(), KEY_SET_VALUE);
      if (result == ERROR_SUCCESS) {
        result =
            key.WriteValue(change.name.c_str(), change.before->data.data(),
                           static_cast<DWORD>(change.before->data.size()), change.before->type);
      }
    } else {
      result = key.Open(root_, change.key_path.c_str(), KEY_SET_VALUE);
      if (result == ERROR_SUCCESS)
        result = key.DeleteValue(change.name.c_str());
      if (result == ERROR_FILE_NOT_FOUND)
        result = ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS) {
      ELOG(ERROR, result) << "Cannot give back the registry value "
                          << Describe(change.key_path, change.name);
      ok = false;
    }
  }
  // Created keys, deepest first; one that holds anything now stays.
  std::vector<const Change*> created;
  for (const Change& change : changes_) {
    if (change.created_key)
      created.push_back(&change);
  }
  std::sort(created.begin(), created.end(), [](const Change* a, const Change* b) {
    return a->key_path.size() > b->key_path.size();
  });
  for (const Change* change : created) {
    const size_t split = change->key_path.rfind(L'\\');
    if (split == std::wstring::npos)
      continue;
    base::win::RegistryKey child;
    if (child.Open(root_, change->key_path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        child.GetSubkeyCount() != 0 || child.GetValueCount() != 0) {
      continue;
    }
    child.Close();
    base::win::RegistryKey parent;
    if (parent.Open(root_, change->key_path.substr(0, split).c_str(), KEY_QUERY_VALUE) ==
        ERROR_SUCCESS) {
      parent.DeleteEmptyKey(change->key_path.substr(split + 1).c_str());
    }
  }
  RemoveEmptyKeysUpward(emptied);
  if (ok) {
    const std::wstring records = GetCompanyRegistryKey() + L"\\" + kReplacedRegistrationKey;
    base::win::RegistryKey key;
    if (key.Open(root_, records.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
      const LONG result = key.DeleteKey(installation_.c_str());
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        ELOG(ERROR, result) << "Cannot delete the record of the replaced registration";
        ok = false;
      }
      const bool empty = key.GetSubkeyCount() == 0 && key.GetValueCount() == 0;
      key.Close();
      base::win::RegistryKey company;
      if (empty &&
          company.Open(root_, GetCompanyRegistryKey().c_str(), KEY_QUERY_VALUE) == ERROR_SUCCESS) {
        company.DeleteEmptyKey(kReplacedRegistrationKey);
      }
    }
    changes_.clear();
  }
  return ok;
}

void RegistrationJournal::RemoveEmptyKeysUpward(const std::vector<std::wstring>& keys) const {
  // Deepest first, so that a key's emptied subkeys are gone before it is
  // looked at. "Software" itself stays.
  std::set<std::pair<size_t, std::wstring>, std::greater<>> pending;
  auto add = [&pending](const std::wstring& path) {
    if (Depth(path) >= 2)
      pending.emplace(Depth(path), path);
  };
  for (const std::wstring& key : keys)
    add(key);
  while (!pending.empty()) {
    const std::wstring path = pending.begin()->second;
    pending.erase(pending.begin());
    base::win::RegistryKey key;
    if (key.Open(root_, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        key.GetSubkeyCount() != 0 || key.GetValueCount() != 0) {
      continue;
    }
    key.Close();
    const size_t split = path.rfind(L'\\');
    base::win::RegistryKey parent;
    LONG result = parent.Open(root_, path.substr(0, split).c_str(), KEY_QUERY_VALUE);
    if (result == ERROR_SUCCESS)
      result = parent.DeleteEmptyKey(path.substr(split + 1).c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      ELOG(WARNING, result) << "Cannot delete the emptied registry key " << base::WideToUTF8(path);
      continue;
    }
    add(path.substr(0, split));
  }
}

}  // namespace installer
