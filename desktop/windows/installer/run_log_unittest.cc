#include "desktop/windows/installer/run_log.h"

#include <windows.h>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/installer_folders.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// A process that may run elevated adds to the file its command line names
// only when that is an installer log of its own: never a file of another
// name, a folder, a link to another file, or a file it would have to make.
TEST(RunLogTest, OnlyAnExistingInstallerLogIsAddedTo) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath log = temp.GetPath().Append(LogFileNameForTime(2021, 5, 6, 7, 8, 9));
  const base::FilePath other = temp.GetPath().Append(L"settings.ini");
  const base::FilePath linked = temp.GetPath().Append(LogFileNameForTime(2021, 5, 6, 7, 8, 10));
  const base::FilePath folder = temp.GetPath().Append(LogFileNameForTime(2021, 5, 6, 7, 8, 11));
  for (const base::FilePath& file : {log, other})
    ASSERT_EQ(1, base::WriteFileBytes(file, "x", 1));
  ASSERT_TRUE(::CreateHardLinkW(linked.c_str(), other.c_str(), nullptr));
  ASSERT_TRUE(base::CreateDirectoryTree(folder));
  const struct {
    base::FilePath path;
    bool usable;
  } cases[] = {
      {log, true},
      {log.BaseName(), false},  // Relative.
      {other, false},
      {linked, false},
      {folder, false},
      {temp.GetPath().Append(LogFileNameForTime(2021, 5, 6, 7, 8, 12)), false},  // Missing.
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.usable, IsRunLogFile(c.path)) << c.path;
}

}  // namespace
}  // namespace installer
