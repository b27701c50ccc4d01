#include "base/files/path_registry.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Keys of a test-only range.
constexpr int kTestKeyA = 5001;
constexpr int kTestKeyB = 5002;
constexpr int kTestKeyOutside = 5010;

bool OlderProvider(int key, FilePath* result) {
  if (key == kTestKeyA || key == kTestKeyB) {
    *result = FilePath(L"C:\\older").Append(std::to_wstring(key));
    return true;
  }
  return false;
}

bool NewerProvider(int key, FilePath* result) {
  if (key == kTestKeyA) {
    *result = FilePath(L"C:\\newer");
    return true;
  }
  return false;  // Leaves kTestKeyB to the older provider.
}

// Answers through another key, as providers may.
bool DerivedProvider(int key, FilePath* result) {
  FilePath temp;
  if (key != kTestKeyA || !PathRegistry::Get(kPathTempDirectory, &temp))
    return false;
  *result = temp.Append(L"derived");
  return true;
}

class PathRegistryTest : public testing::Test {
 protected:
  void TearDown() override {
    PathRegistry::UnregisterProviderForTesting(&OlderProvider);
    PathRegistry::UnregisterProviderForTesting(&NewerProvider);
    PathRegistry::UnregisterProviderForTesting(&DerivedProvider);
    PathRegistry::ClearOverridesForTesting();
  }
};

TEST_F(PathRegistryTest, ExecutableAndModule) {
  wchar_t expected[MAX_PATH] = {};
  ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, expected, MAX_PATH));
  FilePath exe_file;
  ASSERT_TRUE(PathRegistry::Get(kPathExeFile, &exe_file));
  EXPECT_EQ(FilePath(expected), exe_file);
  EXPECT_EQ(L".exe", exe_file.Extension());
  FilePath exe_dir;
  ASSERT_TRUE(PathRegistry::Get(kPathExeDirectory, &exe_dir));
  EXPECT_EQ(exe_file.DirName(), exe_dir);
  EXPECT_TRUE(DirectoryExists(exe_dir));

  // The tests link this code statically, so its module is the executable.
  FilePath module_file;
  ASSERT_TRUE(PathRegistry::Get(kPathModuleFile, &module_file));
  EXPECT_EQ(exe_file, module_file);
  FilePath module_dir;
  ASSERT_TRUE(PathRegistry::Get(kPathModuleDirectory, &module_dir));
  EXPECT_EQ(exe_dir, module_dir);
}

TEST_F(PathRegistryTest, SystemFolders) {
  FilePath temp;
  ASSERT_TRUE(GetTempDirectory(&temp));
  FilePath from_registry;
  ASSERT_TRUE(PathRegistry::Get(kPathTempDirectory, &from_registry));
  EXPECT_EQ(temp, from_registry);

  for (int key :
       {kPathHomeDirectory, kPathWindowsDirectory, kPathSystemDirectory, kPathProgramFiles,
        kPathProgramFilesX86, kPathProgramFilesNative, kPathCommonAppData, kPathStartMenu,
        kPathCommonStartMenu, kPathLocalAppData, kPathRoamingAppData, kPathUserDesktop,
        kPathCommonDesktop, kPathQuickLaunch, kPathDownloads, kPathCurrentDirectory}) {
    FilePath path;
    ASSERT_TRUE(PathRegistry::Get(key, &path)) << "key " << key;
    EXPECT_TRUE(path.IsAbsolute()) << "key " << key << ": " << path;
  }
  FilePath x86;
  FilePath native;
  ASSERT_TRUE(PathRegistry::Get(kPathProgramFilesX86, &x86));
  ASSERT_TRUE(PathRegistry::Get(kPathProgramFilesNative, &native));
  EXPECT_NE(x86, native);  // A 64-bit process on 64-bit Windows.

  FilePath quick_launch;
  ASSERT_TRUE(PathRegistry::Get(kPathQuickLaunch, &quick_launch));
  EXPECT_EQ(L"Quick Launch", quick_launch.BaseName().value());
  FilePath roaming;
  ASSERT_TRUE(PathRegistry::Get(kPathRoamingAppData, &roaming));
  EXPECT_TRUE(roaming.IsParent(quick_launch)) << quick_launch;
}

TEST_F(PathRegistryTest, UnknownKeyLeavesResultAlone) {
  FilePath result(L"unchanged");
  EXPECT_FALSE(PathRegistry::Get(kTestKeyOutside, &result));
  EXPECT_FALSE(PathRegistry::Get(-1, &result));
  EXPECT_EQ(L"unchanged", result.value());
  EXPECT_FALSE(PathRegistry::Get(kPathExeFile, nullptr));
}

TEST_F(PathRegistryTest, OverrideAndCreate) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const FilePath target = temp.GetPath().Append(L"override\\nested");
  ASSERT_TRUE(PathRegistry::OverrideAndCreateIfNeeded(kPathLocalAppData, target, false, true));
  EXPECT_TRUE(DirectoryExists(target));
  FilePath result;
  ASSERT_TRUE(PathRegistry::Get(kPathLocalAppData, &result));
  EXPECT_EQ(target, result);

  // Without |create| nothing is made on disk.
  const FilePath not_created = temp.GetPath().Append(L"not_created");
  ASSERT_TRUE(PathRegistry::OverrideAndCreateIfNeeded(kTestKeyA, not_created, true, false));
  EXPECT_FALSE(PathExists(not_created));
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(not_created, result);

  // A relative path is made absolute against the current folder.
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectoryPath(&current));
  ASSERT_TRUE(
      PathRegistry::OverrideAndCreateIfNeeded(kTestKeyB, FilePath(L"rel\\..\\x"), true, false));
  ASSERT_TRUE(PathRegistry::Get(kTestKeyB, &result));
  EXPECT_EQ(current.Append(L"x"), result);

  // A file in the way of the folder refuses the override.
  const FilePath file = temp.GetPath().Append(L"file");
  ASSERT_EQ(1, WriteFileBytes(file, "x", 1));
  EXPECT_FALSE(
      PathRegistry::OverrideAndCreateIfNeeded(kPathUserDesktop, file.Append(L"d"), false, true));
  ASSERT_TRUE(PathRegistry::Get(kPathUserDesktop, &result));
  EXPECT_NE(file.Append(L"d"), result);

  PathRegistry::ClearOverridesForTesting();
  ASSERT_TRUE(PathRegistry::Get(kPathLocalAppData, &result));
  EXPECT_NE(target, result);
  EXPECT_FALSE(PathRegistry::Get(kTestKeyA, &result));
}

TEST_F(PathRegistryTest, ProviderChainNewestFirst) {
  FilePath result;
  EXPECT_FALSE(PathRegistry::Get(kTestKeyA, &result));
  PathRegistry::RegisterProvider(&OlderProvider, 5000, 5010);
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(L"C:\\older\\5001", result.value());

  PathRegistry::RegisterProvider(&NewerProvider, 5000, 5005);
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(L"C:\\newer", result.value());
  ASSERT_TRUE(PathRegistry::Get(kTestKeyB, &result));
  EXPECT_EQ(L"C:\\older\\5002", result.value());
  // Outside every range (the end is exclusive).
  result = FilePath(L"same");
  EXPECT_FALSE(PathRegistry::Get(kTestKeyOutside, &result));
  EXPECT_EQ(L"same", result.value());

  // Overrides win over providers.
  ASSERT_TRUE(PathRegistry::Override(kTestKeyA, FilePath(L"D:\\override")));
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(L"D:\\override", result.value());

  // Bad registrations are ignored.
  PathRegistry::RegisterProvider(nullptr, 5000, 5010);
  PathRegistry::RegisterProvider(&DerivedProvider, 5010, 5010);
  result = FilePath(L"same");
  EXPECT_FALSE(PathRegistry::Get(kTestKeyOutside, &result));
}

TEST_F(PathRegistryTest, ProviderMayAskForOtherKeys) {
  PathRegistry::RegisterProvider(&DerivedProvider, 5000, 5010);
  FilePath temp;
  ASSERT_TRUE(GetTempDirectory(&temp));
  FilePath result;
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(temp.Append(L"derived"), result);

  // An override drops cached answers derived from the old value.
  ASSERT_TRUE(PathRegistry::Override(kPathTempDirectory, FilePath(L"C:\\other")));
  ASSERT_TRUE(PathRegistry::Get(kTestKeyA, &result));
  EXPECT_EQ(L"C:\\other\\derived", result.value());
  EXPECT_FALSE(PathRegistry::Override(kPathTempDirectory, FilePath()));
}

}  // namespace
}  // namespace base
