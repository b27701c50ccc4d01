#include "desktop/windows/installer/install_log_path.h"

#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallLogPathTest, OnlyPlainRelativeEntriesResolveBelowTheInstallFolder) {
  const base::FilePath install(L"C:\\Users\\me\\Velmo");
  base::FilePath path;
  ASSERT_TRUE(ResolveInstallLogPath(install, base::FilePath(L"43.0.1.2"),
                                    base::FilePath(L"locales\\en-US.pak"), &path));
  EXPECT_EQ(base::FilePath(L"C:\\Users\\me\\Velmo\\43.0.1.2\\locales\\en-US.pak"), path);
  ASSERT_TRUE(
      ResolveInstallLogPath(install, base::FilePath(), base::FilePath(L"launcher.exe"), &path));
  EXPECT_EQ(base::FilePath(L"C:\\Users\\me\\Velmo\\launcher.exe"), path);
  // Names that merely contain dots or blanks are ordinary names.
  for (const wchar_t* plain : {L"a..b", L".vex", L"x.old", L"with blank\\f.txt", L"..a"})
    EXPECT_TRUE(IsPlainRelativePath(base::FilePath(plain))) << plain;

  const wchar_t* refused[] = {
      L"",
      L"..\\..\\outside\\decoy.txt",
      L"../../x",
      L"\\..\\..\\x",
      L"sub\\..\\..\\x",
      L"...\\x",
      L".. \\x",
      L".\\x",
      L"a\\\\b",
      L"a\\",
      L"a/b",
      L"\\x",
      L"C:\\Windows\\x.dll",
      L"C:x.dll",
      L"\\\\server\\share\\x",
      L"\\\\?\\C:\\x",
      L"\\\\.\\PhysicalDrive0",
      L"x\" & echo PWNED>\"C:\\x.txt\" & rem \".dll",
      L"line\nbreak.dll",
      L"cr\rx.dll",
      L"tab\tx.dll",
      L"a|b",
      L"a<b",
      L"a>b",
      L"wild*.dll",
      L"what?.dll",
      L"stream.dll:evil",
  };
  for (const wchar_t* entry : refused) {
    base::FilePath untouched(L"untouched");
    EXPECT_FALSE(IsPlainRelativePath(base::FilePath(entry))) << entry;
    EXPECT_FALSE(
        ResolveInstallLogPath(install, base::FilePath(L"1.0"), base::FilePath(entry), &untouched))
        << entry;
    EXPECT_EQ(base::FilePath(L"untouched"), untouched);
  }
  // The same rules hold the version subfolder, which may also be empty.
  EXPECT_TRUE(IsUsableVersionSubfolder(base::FilePath()));
  for (const wchar_t* subfolder :
       {L"..\\outside", L"..", L"C:\\", L"\\", L"a/..", L"1.0\\..\\.."}) {
    EXPECT_FALSE(IsUsableVersionSubfolder(base::FilePath(subfolder))) << subfolder;
    EXPECT_FALSE(
        ResolveInstallLogPath(install, base::FilePath(subfolder), base::FilePath(L"a.dll"), &path))
        << subfolder;
  }
  // Without an install folder nothing resolves.
  EXPECT_FALSE(
      ResolveInstallLogPath(base::FilePath(), base::FilePath(), base::FilePath(L"a"), &path));
}

}  // namespace
}  // namespace installer
