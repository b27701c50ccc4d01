#include "desktop/windows/installer/package_file_placement.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

bool WriteText(const base::FilePath& path, const std::string& text) {
  return base::CreateDirectoryTree(path.DirName()) &&
         base::WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
             static_cast<int>(text.size());
}

// Which folders move whole and which entries are copied, for a package
// with every reason a folder must not move in one rename.
TEST(PackageFilePlacementTest, OnlyFoldersHoldingExactlyAListedRunMoveWhole) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath package = temp.GetPath().Append(L"package");
  const base::FilePath destination = temp.GetPath().Append(L"install\\1.0");
  const std::vector<std::string> entries = {
      "Docs\\a.txt",     "docs/Deep/b.txt",  // 0-1: "Docs" moves whole
      "split\\1.txt",    "top.txt",          // 2-3
      "split\\2.txt",                        // 4: "split" is not one run
      "extra\\k.txt",                        // 5: "extra" holds an unlisted file
      "twice\\t.txt",    "twice\\T.TXT",     // 6-7: listed twice
      "kept\\root.txt",                      // 8: a later step reads it
      "ro\\r.txt",                           // 9: read-only
      "there\\x.txt",                        // 10: already at the destination
      "nest\\in\\y.txt", "nest\\in\\z.txt",  // 11-12: "nest" moves whole
      "..\\outside.txt",                     // 13: not inside the package
  };
  for (const std::string& entry : entries) {
    if (entry[0] != '.') {
      ASSERT_TRUE(WriteText(package.Append(base::FilePath::FromUTF8Unsafe(entry)), entry));
    }
  }
  ASSERT_TRUE(WriteText(package.Append(L"extra\\unlisted.txt"), "x"));
  ASSERT_TRUE(::SetFileAttributesW(package.Append(L"ro\\r.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(base::CreateDirectoryTree(destination.Append(L"there")));
  ASSERT_TRUE(WriteText(temp.GetPath().Append(L"outside.txt"), "o"));

  const PackageFilePlacement plan =
      PackageFilePlacement::Plan(package, entries, {L"KEPT\\Root.txt"}, destination);

  ASSERT_TRUE(plan.covers(entries.size() - 1));
  EXPECT_FALSE(plan.covers(entries.size()));
  std::vector<size_t> runs;
  std::vector<std::wstring> folders;
  std::vector<bool> copied;
  for (size_t i = 0; i < entries.size(); ++i) {
    runs.push_back(plan.folder_run(i));
    folders.push_back(plan.folder_at(i).value());
    copied.push_back(plan.must_copy(i));
  }
  EXPECT_EQ((std::vector<size_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}), runs);
  EXPECT_EQ(L"Docs", folders[0]);
  EXPECT_EQ(L"nest", folders[11]);
  EXPECT_EQ((std::vector<bool>{false, false, false, false, false, false, true, true, true, true,
                               false, false, false, true}),
            copied);

  PackageFilePlacement all = PackageFilePlacement::CopyAll(3);
  EXPECT_TRUE(all.must_copy(2));
  EXPECT_EQ(0u, all.folder_run(0));
  PackageFilePlacement moved = plan;
  moved.CopyEverything();
  EXPECT_EQ(0u, moved.folder_run(0));
  EXPECT_TRUE(moved.must_copy(3));
  ::SetFileAttributesW(package.Append(L"ro\\r.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace installer
