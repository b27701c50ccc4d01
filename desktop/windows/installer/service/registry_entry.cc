#include "desktop/windows/installer/service/registry_entry.h"

#include <cstdint>

#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/placeholder_resolver.h"
#include "desktop/windows/installer/service/transactions/change_reg_value_operation.h"
#include "desktop/windows/installer/service/transactions/delete_reg_key_operation.h"

namespace installer {

namespace {

std::string Describe(const std::wstring& key_path, const std::wstring& value_name) {
  if (value_name.empty())
    return "default value of " + base::WideToUTF8(key_path);
  return "value " + base::WideToUTF8(value_name) + " of " + base::WideToUTF8(key_path);
}

}  // namespace

RegistryEntry::RegistryEntry(const RegistryRow& row, PlaceholderResolver* resolver)
    : key_path_(row.key_path ? row.key_path : L""),
      value_name_(row.value_name ? row.value_name : L""),
      type_(row.type),
      data_(row.data ? row.data : L""),
      has_data_(row.data != nullptr),
      min_windows_version_(row.min_windows_version),
      required_root_(row.required_root),
      min_channel_(row.min_channel),
      cleanup_depth_(row.cleanup_depth),
      view_flags_(row.view_flags),
      resolver_(resolver) {}

RegistryEntry::~RegistryEntry() = default;

// static
const char* RegistryEntry::GetTypeName(int type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case kTextBytes: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return "";
  }
}

bool RegistryEntry::AppliesTo(HKEY root) const {
  if (static_cast<int>(base::win::GetWindowsVersion()) < min_windows_version_)
    return false;
  if (required_root_ == RegistryRoot::kLocalMachine && root != HKEY_LOCAL_MACHINE)
    return false;
  if (required_root_ == RegistryRoot::kCurrentUser && root != HKEY_CURRENT_USER)
    return false;
  return GetBuildStream() >= min_channel_;
}

bool RegistryEntry::ResolvePlaceholders(std::wstring_view text, std::wstring* result) const {
  std::wstring out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find(L'{', pos);
    if (open == std::wstring_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    out.append(text.substr(pos, open - pos));
    const size_t close = text.find(L'}', open + 1);
    if (close == std::wstring_view::npos) {
      LOG(ERROR) << "Unterminated placeholder in registry text \"" << base::WideToUTF8(text)
                 << "\"";
      return false;
    }
    const std::wstring name(text.substr(open + 1, close - open - 1));
    std::wstring value;
    if (!resolver_) {
      LOG(ERROR) << "No resolver for the placeholder {" << base::WideToUTF8(name) << "}";
      return false;
    }
    if (!resolver_->ResolvePlaceholder(name, &value)) {
      LOG(ERROR) << "Unknown placeholder {" << base::WideToUTF8(name) << "} in registry text \""
                 << base::WideToUTF8(text) << "\"";
      return false;
    }
    out += value;
    pos = close + 1;
  }
  *result = std::move(out);
  return true;
}

bool RegistryEntry::CreateOperation(HKEY root, std::unique_ptr<Operation>* operation) const {
  operation->reset();
  if (!AppliesTo(root))
    return true;

  std::wstring key_path;
  std::wstring value_name;
  if (!ResolvePlaceholders(key_path_, &key_path) ||
      !ResolvePlaceholders(value_name_, &value_name)) {
    return false;
  }
  if (key_path.empty()) {
    LOG(ERROR) << "A registry row without a key path";
    return false;
  }
  if (type_ == kDeleteKey) {
    *operation = std::make_unique<DeleteRegKeyOperation>(root, key_path, view_flags_);
    return true;
  }
  if (type_ == kDeleteValue) {
    *operation = std::make_unique<ChangeRegValueOperation>(
        root, key_path, value_name, nullptr, ChangeRegValueOperation::kDeleteValue, 0, view_flags_);
    return true;
  }

  std::wstring data;
  if (!ResolvePlaceholders(data_, &data))
    return false;

  std::string bytes;
  uint32_t number = 0;
  const void* raw = nullptr;
  size_t size = 0;
  int registry_type = type_;
  switch (type_) {
    case REG_NONE:
      if (has_data_ && !data.empty()) {
        LOG(ERROR) << "Data for the REG_NONE " << Describe(key_path, value_name);
        return false;
      }
      break;
    case REG_SZ:
    case REG_EXPAND_SZ:
      raw = data.c_str();
      size = (data.size() + 1) * sizeof(wchar_t);
      break;
    case kTextBytes:
      bytes = base::WideToUTF8(data);
      raw = bytes.data();
      size = bytes.size();
      registry_type = REG_BINARY;
      break;
    case REG_DWORD:
      if (!base::StringToUint16(data, &number)) {
        LOG(ERROR) << "\"" << base::WideToUTF8(data) << "\" is no decimal number for the "
                   << "REG_DWORD " << Describe(key_path, value_name);
        return false;
      }
      raw = &number;
      size = sizeof(number);
      break;
    default:
      LOG(ERROR) << "Unsupported registry type " << type_ << " for the "
                 << Describe(key_path, value_name);
      return false;
  }
  if (size > UINT32_MAX) {
    LOG(ERROR) << "Data too large for the " << Describe(key_path, value_name);
    return false;
  }

  if (resolver_) {
    if (InstallLogRegistryKeys* keys = resolver_->GetInstallLogRecorder(root)) {
      if (!RecordRegistryValue(keys, key_path, cleanup_depth_, GetTypeName(type_), value_name,
                               data)) {
        LOG(ERROR) << "Cannot record the " << Describe(key_path, value_name)
                   << " in the install log";
        return false;
      }
    }
  }
  *operation = std::make_unique<ChangeRegValueOperation>(
      root, key_path, value_name, raw, registry_type, static_cast<uint32_t>(size), view_flags_);
  return true;
}

}  // namespace installer
