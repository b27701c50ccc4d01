// Well-known paths by integer key: answered by overrides first, then by a
// chain of providers (the newest first); answers are cached.
#ifndef BASE_FILES_PATH_REGISTRY_H_
#define BASE_FILES_PATH_REGISTRY_H_

#include "base/files/file_path.h"

namespace base {

// Keys 1-99: process and general folders.
constexpr int kPathCurrentDirectory = 1;  // Never cached.
constexpr int kPathExeDirectory = 2;      // Folder of the running executable.
constexpr int kPathModuleDirectory = 3;   // Folder of the module holding this code.
constexpr int kPathTempDirectory = 4;
constexpr int kPathHomeDirectory = 5;  // The user's profile folder.
constexpr int kPathExeFile = 6;        // The running executable.
constexpr int kPathModuleFile = 7;     // The module (DLL or EXE) holding this code.

// Keys 100-199: Windows folders.
constexpr int kPathWindowsDirectory = 101;
constexpr int kPathSystemDirectory = 102;
constexpr int kPathProgramFiles = 103;        // Program files of this process's bitness.
constexpr int kPathProgramFilesX86 = 104;     // 32-bit program files.
constexpr int kPathProgramFilesNative = 105;  // Program files of the machine's bitness.
constexpr int kPathCommonAppData = 106;
constexpr int kPathStartMenu = 108;        // The user's start-menu programs.
constexpr int kPathCommonStartMenu = 109;  // All users' start-menu programs.
constexpr int kPathLocalAppData = 110;
constexpr int kPathRoamingAppData = 111;
constexpr int kPathUserDesktop = 112;
constexpr int kPathCommonDesktop = 113;
constexpr int kPathQuickLaunch = 114;  // The user's Quick Launch folder.
constexpr int kPathDownloads = 115;

// Keys from 1000 up belong to other subsystems' providers.

class PathRegistry {
 public:
  // Answers |key| with true and the path, or false leaving |result| alone.
  using ProviderFunction = bool (*)(int key, FilePath* result);

  PathRegistry() = delete;

  // True and the path when an override or a provider answers; false and
  // |result| unchanged otherwise.
  static bool Get(int key, FilePath* result);

  // Later Get calls for |key| give |path| as it is (nothing on disk is
  // touched). Cached answers for every key are dropped, since providers may
  // derive one key from another.
  static bool Override(int key, const FilePath& path);

  // Like Override, but first makes |path| absolute (relative to the current
  // folder) when |make_absolute| is set, and creates the folder with its
  // parents when |create| is set and it does not exist. False, without an
  // override, when either step fails.
  static bool OverrideAndCreateIfNeeded(int key, const FilePath& path, bool make_absolute,
                                        bool create);

  // Adds |provider| in front of the chain for keys in [key_start, key_end).
  // Providers are called without the registry's lock held, so they may call
  // Get for other keys.
  static void RegisterProvider(ProviderFunction provider, int key_start, int key_end);

  // Test seams: drop every override and cached answer; remove a provider a
  // test registered.
  static void ClearOverridesForTesting();
  static void UnregisterProviderForTesting(ProviderFunction provider);
};

}  // namespace base

#endif  // BASE_FILES_PATH_REGISTRY_H_
