#include "base/files/path_registry.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/scoped_generic.h"
#include "base/threading/lock.h"
#include "base/win/scoped_co_task_mem.h"

// The image base of the module this code is linked into (set by the linker).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {

namespace {

// Upper bound of a module path (the longest extended-length path).
constexpr DWORD kMaxModulePath = 32768;

struct Provider {
  PathRegistry::ProviderFunction function;
  int key_start;
  int key_end;
};

struct RegistryState {
  Lock lock;
  std::map<int, FilePath> overrides;
  std::map<int, FilePath> cache;
  // Newest first; the built-in provider is the last.
  std::vector<Provider> providers;
};

bool ModuleFileName(HMODULE module, FilePath* result) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) {
      PLOG(ERROR) << "GetModuleFileNameW failed";
      return false;
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      *result = FilePath(buffer);
      return true;
    }
    // Truncated: grow and retry.
    if (buffer.size() >= kMaxModulePath) {
      LOG(ERROR) << "Module path longer than " << kMaxModulePath << " characters";
      return false;
    }
    buffer.resize(std::min<size_t>(buffer.size() * 2, kMaxModulePath));
  }
}

bool KnownFolder(const KNOWNFOLDERID& folder_id, const char* name, FilePath* result) {
  win::ScopedCoTaskMemString folder;
  const HRESULT hr = ::SHGetKnownFolderPath(folder_id, 0, nullptr, folder.Receive());
  if (FAILED(hr) || !folder.IsValid()) {
    ELOG(WARNING, static_cast<unsigned long>(hr)) << "Known folder " << name << " not available";
    return false;
  }
  *result = FilePath(folder.Get());
  return true;
}

bool EnvironmentPath(const wchar_t* name, FilePath* result) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    PLOG(WARNING) << "Environment variable " << name << " unusable";
    return false;
  }
  *result = FilePath(std::wstring_view(buffer, length));
  return true;
}

bool SystemFolder(UINT (*getter)(LPWSTR, UINT), const char* name, FilePath* result) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT length = getter(buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) {
    PLOG(ERROR) << "Cannot get the " << name << " folder";
    return false;
  }
  *result = FilePath(std::wstring_view(buffer, length));
  return true;
}

bool NativeProgramFiles(FilePath* result) {
#if !defined(_WIN64)
  // A 32-bit process on 64-bit Windows sees the 32-bit folder as its own;
  // the native one is only told through the environment.
  BOOL is_wow64 = FALSE;
  if (::IsWow64Process(::GetCurrentProcess(), &is_wow64) && is_wow64)
    return EnvironmentPath(L"ProgramW6432", result);
#endif
  return KnownFolder(FOLDERID_ProgramFiles, "ProgramFiles", result);
}

bool QuickLaunchFolder(FilePath* result) {
  win::ScopedCoTaskMemString folder;
  const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_QuickLaunch, 0, nullptr, folder.Receive());
  if (SUCCEEDED(hr) && folder.IsValid()) {
    *result = FilePath(folder.Get());
    return true;
  }
  // Not every system knows this folder; it lives at a fixed place below the
  // roaming application data.
  VLOG(1) << "Known folder QuickLaunch not available (0x" << std::hex
          << static_cast<unsigned long>(hr) << "); deriving it";
  FilePath roaming;
  if (!PathRegistry::Get(kPathRoamingAppData, &roaming))
    return false;
  *result = roaming.Append(L"Microsoft\\Internet Explorer\\Quick Launch");
  return true;
}

bool BuiltInProvider(int key, FilePath* result) {
  switch (key) {
    case kPathCurrentDirectory: return GetCurrentDirectoryPath(result);
    case kPathExeFile: return ModuleFileName(nullptr, result);
    case kPathExeDirectory: {
      FilePath exe;
      if (!ModuleFileName(nullptr, &exe))
        return false;
      *result = exe.DirName();
      return true;
    }
    case kPathModuleFile: return ModuleFileName(reinterpret_cast<HMODULE>(&__ImageBase), result);
    case kPathModuleDirectory: {
      FilePath module;
      if (!ModuleFileName(reinterpret_cast<HMODULE>(&__ImageBase), &module))
        return false;
      *result = module.DirName();
      return true;
    }
    case kPathTempDirectory: return GetTempDirectory(result);
    case kPathHomeDirectory:
      return KnownFolder(FOLDERID_Profile, "Profile", result) ||
             EnvironmentPath(L"USERPROFILE", result);
    case kPathWindowsDirectory: return SystemFolder(&::GetWindowsDirectoryW, "Windows", result);
    case kPathSystemDirectory: return SystemFolder(&::GetSystemDirectoryW, "system", result);
    case kPathProgramFiles: return KnownFolder(FOLDERID_ProgramFiles, "ProgramFiles", result);
    case kPathProgramFilesX86:
      return KnownFolder(FOLDERID_ProgramFilesX86, "ProgramFilesX86", result);
    case kPathProgramFilesNative: return NativeProgramFiles(result);
    case kPathCommonAppData: return KnownFolder(FOLDERID_ProgramData, "ProgramData", result);
    case kPathStartMenu: return KnownFolder(FOLDERID_Programs, "Programs", result);
    case kPathCommonStartMenu:
      return KnownFolder(FOLDERID_CommonPrograms, "CommonPrograms", result);
    case kPathLocalAppData: return KnownFolder(FOLDERID_LocalAppData, "LocalAppData", result);
    case kPathRoamingAppData: return KnownFolder(FOLDERID_RoamingAppData, "RoamingAppData", result);
    case kPathUserDesktop: return KnownFolder(FOLDERID_Desktop, "Desktop", result);
    case kPathCommonDesktop: return KnownFolder(FOLDERID_PublicDesktop, "PublicDesktop", result);
    case kPathQuickLaunch: return QuickLaunchFolder(result);
    case kPathDownloads: return KnownFolder(FOLDERID_Downloads, "Downloads", result);
    default: return false;
  }
}

RegistryState& State() {
  // Lives as long as the process: lookups may come from threads still
  // running while static objects are destroyed.
  static RegistryState* state = [] {
    auto* s = new RegistryState;
    s->providers.push_back({&BuiltInProvider, 1, 200});
    return s;
  }();
  return *state;
}

}  // namespace

// static
bool PathRegistry::Get(int key, FilePath* result) {
  if (!result) {
    LOG(ERROR) << "PathRegistry::Get without an output for key " << key;
    return false;
  }
  RegistryState& state = State();
  std::vector<Provider> providers;
  {
    AutoLock lock(state.lock);
    auto found = state.overrides.find(key);
    if (found != state.overrides.end()) {
      *result = found->second;
      return true;
    }
    found = state.cache.find(key);
    if (found != state.cache.end()) {
      *result = found->second;
      return true;
    }
    providers = state.providers;
  }

  FilePath path;
  bool answered = false;
  for (const Provider& provider : providers) {
    if (key < provider.key_start || key >= provider.key_end)
      continue;
    FilePath candidate;
    if (provider.function(key, &candidate) && !candidate.empty()) {
      path = candidate;
      answered = true;
      break;
    }
  }
  if (!answered) {
    LOG(WARNING) << "No path for key " << key;
    return false;
  }
  if (key != kPathCurrentDirectory) {
    AutoLock lock(state.lock);
    state.cache[key] = path;
  }
  *result = path;
  return true;
}

// static
bool PathRegistry::Override(int key, const FilePath& path) {
  if (path.empty()) {
    LOG(ERROR) << "Refusing an empty override for path key " << key;
    return false;
  }
  RegistryState& state = State();
  AutoLock lock(state.lock);
  state.overrides[key] = path;
  state.cache.clear();
  return true;
}

// static
bool PathRegistry::OverrideAndCreateIfNeeded(int key, const FilePath& path, bool make_absolute,
                                             bool create) {
  FilePath target = path;
  if (make_absolute && !target.IsAbsolute()) {
    target = MakeAbsoluteFilePath(target);
    if (target.empty()) {
      LOG(ERROR) << "Cannot override path key " << key << ": " << path << " has no absolute form";
      return false;
    }
  }
  if (create && !DirectoryExists(target) && !CreateDirectoryTree(target)) {
    LOG(ERROR) << "Cannot override path key " << key << ": folder " << target << " not created";
    return false;
  }
  return Override(key, target);
}

// static
void PathRegistry::RegisterProvider(ProviderFunction provider, int key_start, int key_end) {
  if (!provider || key_start >= key_end) {
    LOG(ERROR) << "Bad path provider registration for keys [" << key_start << ", " << key_end
               << ")";
    return;
  }
  RegistryState& state = State();
  AutoLock lock(state.lock);
  state.providers.insert(state.providers.begin(), Provider{provider, key_start, key_end});
  // Its keys may have been answered by an older provider.
  state.cache.clear();
}

// static
void PathRegistry::ClearOverridesForTesting() {
  RegistryState& state = State();
  AutoLock lock(state.lock);
  state.overrides.clear();
  state.cache.clear();
}

// static
void PathRegistry::UnregisterProviderForTesting(ProviderFunction provider) {
  RegistryState& state = State();
  AutoLock lock(state.lock);
  std::erase_if(state.providers, [provider](const Provider& p) { return p.function == provider; });
  state.cache.clear();
}

}  // namespace base
