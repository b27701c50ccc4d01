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

}  // namespace installer
