#include "desktop/windows/installer/service/kernel_object_name.h"

#include <algorithm>

namespace installer {

std::wstring GetKernelObjectName(const base::FilePath& path, std::wstring_view name,
                                 bool global) {
  std::wstring tail(name);
  tail += L'/';
  tail += path.value();
  std::replace(tail.begin(), tail.end(), L'\\', L'/');
  return (global ? std::wstring(L"Global\\") : std::wstring(L"Local\\")) + tail;
}

}  // namespace installer
