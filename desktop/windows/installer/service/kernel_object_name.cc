#include "desktop/windows/installer/service/kernel_object_name.h"

#include <algorithm>

namespace installer {

namespace {

constexpr wchar_t kInstallerMutexPrefix[] = L"Global\\Velmo/Installer/";
constexpr wchar_t kInstallerMailslotPrefix[] = L"velmo_installer\\";

}  // namespace

std::wstring GetKernelObjectName(const base::FilePath& path, std::wstring_view name, bool global) {
  std::wstring tail(name);
  tail += L'/';
  tail += path.value();
  std::replace(tail.begin(), tail.end(), L'\\', L'/');
  return (global ? std::wstring(L"Global\\") : std::wstring(L"Local\\")) + tail;
}

std::wstring GetInstallerMutexName(const base::FilePath& install_folder) {
  std::wstring name = kInstallerMutexPrefix;
  for (wchar_t c : install_folder.value())
    name.push_back(c == L'\\' ? L'/' : c);
  return name;
}

std::wstring GetInstallerMailslotName(const base::FilePath& install_folder) {
  return kInstallerMailslotPrefix + install_folder.value();
}

}  // namespace installer
