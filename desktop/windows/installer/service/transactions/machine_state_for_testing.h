// Test support: a comparable picture of the parts of the machine the
// operation tests touch: every file and folder below a folder (attributes
// and contents) and every key below a registry key in one view (values with
// type and data, and the security descriptor as SDDL).
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MACHINE_STATE_FOR_TESTING_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MACHINE_STATE_FOR_TESTING_H_

#include <sddl.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/files/directory_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/string_printf.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_local_alloc.h"

namespace installer::testing {

using MachineState = std::map<std::string, std::string>;

inline std::string Hex(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 0; i < size; ++i)
    text += base::FormatString("%02x", data[i]);
  return text;
}

// The owner, group and DACL of |key| as SDDL, or an error text.
inline std::string KeySecuritySddl(HKEY key) {
  constexpr SECURITY_INFORMATION kInfo =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  ::RegGetKeySecurity(key, kInfo, nullptr, &size);
  std::vector<uint8_t> descriptor(size ? size : 1);
  LONG result = ::RegGetKeySecurity(key, kInfo, descriptor.data(), &size);
  if (result != ERROR_SUCCESS)
    return "RegGetKeySecurity error " + std::to_string(result);
  wchar_t* raw = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              kInfo, &raw, nullptr)) {
    return "conversion error " + std::to_string(::GetLastError());
  }
  base::win::ScopedLocalAllocTyped<wchar_t*> sddl(raw);
  return base::WideToUTF8(sddl.Get());
}

// Every file and folder below |root| into |state|, named relative to it.
inline void AddFiles(const base::FilePath& root, MachineState* state) {
  base::DirectoryEnumerator enumerator(
      root, true, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    base::FilePath relative;
    root.AppendRelativePath(path, &relative);
    const std::string name = "file:" + relative.AsUTF8Unsafe();
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    std::string entry = base::FormatString("attributes %lx", attributes);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      std::string contents;
      entry += base::ReadFileToString(path, &contents) ? " contents " + contents : " unreadable";
    }
    (*state)[name] = entry;
  }
}

// The tree of |key_path| under |root| in |view| into |state|, under |label|.
inline void AddRegistryTree(HKEY root, const std::wstring& key_path, REGSAM view,
                            const std::string& label, MachineState* state) {
  HKEY raw = nullptr;
  LONG result = ::RegOpenKeyExW(root, key_path.c_str(), 0, KEY_READ | view, &raw);
  if (result != ERROR_SUCCESS) {
    (*state)[label] = "open error " + std::to_string(result);
    return;
  }
  base::win::ScopedHKey key(raw);
  (*state)[label + "#security"] = KeySecuritySddl(key.Get());
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    uint8_t data[4096];
    DWORD name_length = 16384, size = sizeof(data), type = 0;
    result = ::RegEnumValueW(key.Get(), index, name, &name_length, nullptr, &type, data, &size);
    if (result != ERROR_SUCCESS)
      break;
    (*state)[label + "|" + base::WideToUTF8(std::wstring(name, name_length))] =
        std::to_string(type) + ":" + Hex(data, size);
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = 256;
    result = ::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS)
      break;
    const std::wstring child(name, length);
    AddRegistryTree(root, key_path + L"\\" + child, view, label + "\\" + base::WideToUTF8(child),
                    state);
  }
}

// Sets the security of |key_path| (in |view|) from |sddl|. True on success.
inline bool SetKeySecurityFromSddl(HKEY root, const std::wstring& key_path, REGSAM view,
                                   const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR raw_descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              &raw_descriptor, nullptr)) {
    return false;
  }
  base::win::ScopedLocalAllocTyped<PSECURITY_DESCRIPTOR> descriptor(raw_descriptor);
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(root, key_path.c_str(), 0, WRITE_DAC | WRITE_OWNER | view, &raw) !=
      ERROR_SUCCESS) {
    return false;
  }
  base::win::ScopedHKey key(raw);
  return ::RegSetKeySecurity(
             key.Get(),
             OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
             descriptor.Get()) == ERROR_SUCCESS;
}

}  // namespace installer::testing

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_MACHINE_STATE_FOR_TESTING_H_
