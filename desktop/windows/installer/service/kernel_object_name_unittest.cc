#include "desktop/windows/installer/service/kernel_object_name.h"

#include "gtest/gtest.h"

namespace installer {

TEST(KernelObjectNameTest, JoinsPrefixNameAndPathWithSlashes) {
  EXPECT_EQ(L"Global\\VelmoInstaller/PackageReady/C:/Program Files/Velmo",
            GetKernelObjectName(base::FilePath(L"C:\\Program Files\\Velmo"),
                                L"VelmoInstaller/PackageReady", true));
  // Backslashes of the name turn into slashes too; mixed separators in the
  // path all end up as slashes; only the prefix keeps its backslash.
  EXPECT_EQ(L"Local\\Velmo/Installer/D:/a/b/c",
            GetKernelObjectName(base::FilePath(L"D:\\a/b\\c"), L"Velmo\\Installer", false));
  EXPECT_EQ(L"Local\\Mutex/", GetKernelObjectName(base::FilePath(), L"Mutex", false));
  EXPECT_EQ(L"Global\\/", GetKernelObjectName(base::FilePath(), L"", true));
}

TEST(KernelObjectNameTest, InstallationNamesFollowTheFolder) {
  const base::FilePath back(L"C:\\Program Files\\Velmo");
  const base::FilePath forward(L"C:/Program Files/Velmo");
  EXPECT_EQ(L"Global\\Velmo/Installer/C:/Program Files/Velmo", GetInstallerMutexName(back));
  EXPECT_EQ(GetInstallerMutexName(back), GetInstallerMutexName(forward));
  EXPECT_EQ(GetKernelObjectName(back, kPackageReadyEventName, true),
            GetKernelObjectName(forward, kPackageReadyEventName, true));
  EXPECT_EQ(L"Global\\VelmoInstaller/InstallationInterrupted/C:/Program Files/Velmo",
            GetKernelObjectName(back, kInstallationInterruptedEventName, true));
  // The mailslot keeps the folder as it is.
  EXPECT_EQ(L"velmo_installer\\C:\\Program Files\\Velmo", GetInstallerMailslotName(back));
  EXPECT_NE(GetInstallerMailslotName(back), GetInstallerMailslotName(forward));
}

}  // namespace installer
