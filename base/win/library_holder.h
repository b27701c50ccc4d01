// LibraryHolder: loads a library and frees it on destruction.
//
// A bare file name ("dbghelp.dll") is loaded from the system folder only:
// searching the application folder or the current folder for a system
// library would load whatever a stranger put there. A name with a folder
// loads exactly that file.
#ifndef BASE_WIN_LIBRARY_HOLDER_H_
#define BASE_WIN_LIBRARY_HOLDER_H_

#include <windows.h>

#include <string_view>

#include "base/scoped_generic.h"

namespace base::win {

struct ModuleTraits {
  static HMODULE InvalidValue() { return nullptr; }
  static void Free(HMODULE& module);
};
using ScopedModule = ScopedGeneric<HMODULE, ModuleTraits>;

class LibraryHolder {
 public:
  LibraryHolder() = default;
  // Loads |name| (see Load).
  explicit LibraryHolder(std::wstring_view name, DWORD extra_flags = 0);
  LibraryHolder(LibraryHolder&&) = default;
  LibraryHolder& operator=(LibraryHolder&&) = default;

  // Frees any library held, then loads |name|: a bare file name from the
  // system folder, a path as given. |extra_flags| are further LoadLibraryExW
  // flags (LOAD_LIBRARY_AS_DATAFILE for a resource-only module, ...). False
  // (and logged) when the library cannot be loaded.
  bool Load(std::wstring_view name, DWORD extra_flags = 0);

  bool IsLoaded() const { return module_.IsValid(); }
  HMODULE Handle() const { return module_.Get(); }
  void Reset() { module_.Reset(); }

  // The address of the exported |function_name|, or null (logged).
  void* GetFunctionPointer(const char* function_name) const;

  // The same, typed: GetFunction<decltype(&::SomeApi)>("SomeApi").
  template <typename Function>
  Function GetFunction(const char* function_name) const {
    // Through a plain function pointer type, which converts to any other.
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetFunctionPointer(function_name)));
  }

 private:
  ScopedModule module_;
};

}  // namespace base::win

#endif  // BASE_WIN_LIBRARY_HOLDER_H_
