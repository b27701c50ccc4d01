// The single-file host: the engine travels inside the executable as a
// resource, since the installer a user downloads is one file in a folder
// (Downloads) that anyone may have put a DLL of the same name into. At start
// the engine is written into a folder of its own under the user's temporary
// folder, named after a digest of the engine's bytes (one folder per engine
// build), and loaded from there by its full path. A file already there is
// used only when its bytes are exactly the resource's, and it is held open
// against writers from that comparison until it is loaded: a planted,
// stale or half-written file is replaced, never loaded. The engine stays in
// that folder after the run; it is loaded until the process ends.
#include <windows.h>

#include <cstring>
#include <string>
#include <utility>

#include "desktop/windows/installer/host/host_support.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace installer_host {
namespace {

constexpr wchar_t kEngineResource[] = L"VELMO_ENGINE";
constexpr wchar_t kEngineTagResource[] = L"VELMO_ENGINE_TAG";
constexpr wchar_t kFolderPrefix[] = L"velmo_installer_engine_";
constexpr wchar_t kEngineFileName[] = L"installer_engine.dll";
// The tag is a prefix of the engine's SHA-256, in hexadecimal.
constexpr size_t kTagLength = 16;

// A file mapping is null when it could not be made.
struct MappingTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE& mapping) { ::CloseHandle(mapping); }
};
using ScopedMapping = base::ScopedGeneric<HANDLE, MappingTraits>;

struct Engine {
  const char* bytes = nullptr;
  DWORD size = 0;
  std::wstring tag;
};

bool LockResourceBytes(const wchar_t* name, const char** bytes, DWORD* size) {
  HRSRC resource = ::FindResourceW(nullptr, name, MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!resource)
    return false;
  HGLOBAL loaded = ::LoadResource(nullptr, resource);
  *size = ::SizeofResource(nullptr, resource);
  *bytes = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
  return *bytes != nullptr && *size != 0;
}

bool FindEngine(Engine* engine) {
  const char* tag = nullptr;
  DWORD tag_size = 0;
  if (!LockResourceBytes(kEngineResource, &engine->bytes, &engine->size) ||
      !LockResourceBytes(kEngineTagResource, &tag, &tag_size) || tag_size < kTagLength) {
    return false;
  }
  // The tag becomes a folder name: hexadecimal digits only.
  for (size_t i = 0; i < kTagLength; ++i) {
    const char c = tag[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
      return false;
    engine->tag.push_back(static_cast<wchar_t>(c));
  }
  return true;
}

// The engine's folder under the user's temporary folder, created when
// missing; empty when it cannot be had.
std::wstring EngineFolder(const Engine& engine) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH)
    return std::wstring();
  std::wstring folder(temp, length);
  if (folder.back() != L'\\')
    folder.push_back(L'\\');
  folder += kFolderPrefix + engine.tag;
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return std::wstring();
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return std::wstring();
  return folder;
}

// |path| opened for reading with writers, deleters and renames kept out,
// when it holds exactly the engine's bytes; an empty holder otherwise. The
// file is compared through a view of it: no copy of its bytes is made, and
// the pages the loader reads next are already in memory.
ScopedFile OpenIfEngine(const std::wstring& path, const Engine& engine) {
  ScopedFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart != engine.size)
    return ScopedFile();
  ScopedMapping mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping)
    return ScopedFile();
  const void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
  if (!view)
    return ScopedFile();
  const bool same = std::memcmp(view, engine.bytes, engine.size) == 0;
  ::UnmapViewOfFile(view);
  return same ? std::move(file) : ScopedFile();
}

// Writes the engine into a new file of a name no other process uses.
bool WriteUniqueCopy(const std::wstring& folder, const Engine& engine, std::wstring* path) {
  *path = folder + L"\\" + kEngineFileName + L"." + std::to_wstring(::GetCurrentProcessId()) +
          L"." + std::to_wstring(::GetTickCount64()) + L".tmp";
  ScopedFile file(::CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file)
    return false;
  DWORD written = 0;
  const bool complete = ::WriteFile(file.Get(), engine.bytes, engine.size, &written, nullptr) &&
                        written == engine.size;
  file.Reset();
  if (!complete)
    ::DeleteFileW(path->c_str());
  return complete;
}

HMODULE LoadHeldFile(const std::wstring& path) {
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, 0);
  if (!module)
    ReportStartFailure(L"cannot load the installer engine", path);
  return module;
}

// Only the system folder is searched for the engine's own imports and for
// what it loads by name later: the folder of this executable is never
// searched. Windows 7 without its loader update lacks the call; there the
// current directory is already out (see wWinMain).
void SearchSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default)
    set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

HMODULE LoadInstallerEngine() {
  SearchSystemFolderOnly();
  Engine engine;
  if (!FindEngine(&engine)) {
    ReportStartFailure(L"the installer engine resource is missing");
    return nullptr;
  }
  const std::wstring folder = EngineFolder(engine);
  if (folder.empty()) {
    ReportStartFailure(L"cannot create the installer engine folder");
    return nullptr;
  }
  const std::wstring path = folder + L"\\" + kEngineFileName;
  if (ScopedFile held = OpenIfEngine(path, engine))
    return LoadHeldFile(path);

  std::wstring copy;
  if (!WriteUniqueCopy(folder, engine, &copy)) {
    ReportStartFailure(L"cannot write the installer engine");
    return nullptr;
  }
  // The rename fails when the file in place is in use, which another
  // installer that started at the same moment may have put there: it is
  // used when it is the same engine, and the unique copy otherwise.
  const bool renamed = ::MoveFileExW(copy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (ScopedFile held = OpenIfEngine(path, engine)) {
    if (!renamed)
      ::DeleteFileW(copy.c_str());
    return LoadHeldFile(path);
  }
  // The copy stays where it is while it is loaded, which is until this
  // process ends; a later start finds the place free again.
  if (!renamed) {
    if (ScopedFile held = OpenIfEngine(copy, engine))
      return LoadHeldFile(copy);
    ::DeleteFileW(copy.c_str());
  }
  ReportStartFailure(L"the installer engine written to the temporary folder changed");
  return nullptr;
}

}  // namespace installer_host
