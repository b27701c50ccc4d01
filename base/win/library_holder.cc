#include "base/win/library_holder.h"

#include <cstdint>
#include <string>

#include "base/logging.h"

namespace base::win {

namespace {

bool HasFolder(std::wstring_view name) {
  return name.find_first_of(L"\\/") != std::wstring_view::npos;
}

// "<system folder>\<name>", or empty when the folder cannot be read.
std::wstring SystemLibraryPath(std::wstring_view name) {
  wchar_t folder[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    PLOG(ERROR) << "GetSystemDirectoryW failed";
    return std::wstring();
  }
  std::wstring path(folder, length);
  if (path.back() != L'\\')
    path.push_back(L'\\');
  path.append(name);
  return path;
}

}  // namespace

void ModuleTraits::Free(HMODULE& module) {
  if (!::FreeLibrary(module))
    PLOG(ERROR) << "FreeLibrary(" << static_cast<void*>(module) << ") failed";
}

LibraryHolder::LibraryHolder(std::wstring_view name, DWORD extra_flags) { Load(name, extra_flags); }

bool LibraryHolder::Load(std::wstring_view name, DWORD extra_flags) {
  module_.Reset();
  if (name.empty() || name.find(L'\0') != std::wstring_view::npos) {
    LOG(ERROR) << "Cannot load a library with an empty or NUL-holding name";
    return false;
  }
  const std::wstring file(name);
  HMODULE module = nullptr;
  if (HasFolder(name)) {
    // Dependencies are searched beside the library first.
    module = ::LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH | extra_flags);
  } else {
    module = ::LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32 | extra_flags);
    // Systems without the search flags reject them; the full system path
    // gives the same file there.
    if (!module && ::GetLastError() == ERROR_INVALID_PARAMETER) {
      const std::wstring path = SystemLibraryPath(name);
      if (!path.empty())
        module =
            ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH | extra_flags);
    }
  }
  if (!module) {
    PLOG(ERROR) << "Cannot load library " << file;
    return false;
  }
  module_.Reset(module);
  return true;
}

void* LibraryHolder::GetFunctionPointer(const char* function_name) const {
  if (!function_name) {
    LOG(ERROR) << "No function name given";
    return nullptr;
  }
  // An ordinal (MAKEINTRESOURCEA) is no text to print.
  const std::string printable =
      IS_INTRESOURCE(function_name)
          ? "#" + std::to_string(reinterpret_cast<uintptr_t>(function_name))
          : std::string(function_name);
  if (!module_.IsValid()) {
    LOG(ERROR) << "No library loaded to look up " << printable;
    return nullptr;
  }
  FARPROC function = ::GetProcAddress(module_.Get(), function_name);
  if (!function) {
    PLOG(ERROR) << "Function " << printable << " not found";
    return nullptr;
  }
  return reinterpret_cast<void*>(function);
}

}  // namespace base::win
