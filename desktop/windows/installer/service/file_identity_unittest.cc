#include "desktop/windows/installer/service/file_identity.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/string_util.h"
#include "base/win/scoped_com.h"
#include "base/win/shortcut.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

class FileIdentityTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Succeeded());
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    file_ = temp_.GetPath().Append(L"launcher.exe");
    link_ = temp_.GetPath().Append(L"hard link.exe");
    copy_ = temp_.GetPath().Append(L"copy.exe");
    ASSERT_EQ(base::WriteFileBytes(file_, "MZ-original", 11), 11);
    ASSERT_TRUE(::CreateHardLinkW(link_.c_str(), file_.c_str(), nullptr));
    ASSERT_TRUE(base::CopySingleFile(file_, copy_));
  }

  bool WriteShortcutTo(const base::FilePath& shortcut, const base::FilePath& target) {
    base::win::ShortcutSpec spec;
    spec.set_target(target);
    return base::win::WriteShortcut(shortcut, spec, base::win::kShortcutCreateAlways);
  }

  base::win::ScopedComInitializer com_;
  base::ScopedTempDir temp_;
  base::FilePath file_;
  base::FilePath link_;
  base::FilePath copy_;
};

TEST_F(FileIdentityTest, SameFileThroughAnyPathDifferentForACopy) {
  FileIdentity original;
  FileIdentity through_link;
  FileIdentity other_case;
  FileIdentity copy;
  ASSERT_TRUE(GetFileIdentity(file_, &original));
  ASSERT_TRUE(GetFileIdentity(link_, &through_link));
  std::wstring upper = file_.value();
  for (wchar_t& c : upper)
    c = base::ToUpperASCII(c);
  ASSERT_TRUE(GetFileIdentity(base::FilePath(upper), &other_case));
  ASSERT_TRUE(GetFileIdentity(copy_, &copy));

  EXPECT_EQ(original, through_link);
  EXPECT_EQ(original, other_case);
  EXPECT_NE(original, copy);
  // Same volume, different file.
  EXPECT_EQ(original.volume_serial_number, copy.volume_serial_number);
  EXPECT_NE(original.file_index, copy.file_index);

  // Folders have an identity too; a missing path has none and leaves the
  // output alone.
  FileIdentity folder;
  EXPECT_TRUE(GetFileIdentity(temp_.GetPath(), &folder));
  EXPECT_NE(folder, original);
  FileIdentity untouched = original;
  EXPECT_FALSE(GetFileIdentity(temp_.GetPath().Append(L"missing.exe"), &untouched));
  EXPECT_EQ(untouched, original);
}

TEST_F(FileIdentityTest, ShortcutPointsToComparesTheResolvedFile) {
  FileIdentity original;
  ASSERT_TRUE(GetFileIdentity(file_, &original));

  const base::FilePath to_file = temp_.GetPath().Append(L"to file.lnk");
  const base::FilePath to_link = temp_.GetPath().Append(L"to link.lnk");
  const base::FilePath to_copy = temp_.GetPath().Append(L"to copy.lnk");
  ASSERT_TRUE(WriteShortcutTo(to_file, file_));
  ASSERT_TRUE(WriteShortcutTo(to_link, link_));
  ASSERT_TRUE(WriteShortcutTo(to_copy, copy_));

  EXPECT_EQ(ShortcutPointsTo(to_file, original), 1);
  EXPECT_EQ(ShortcutPointsTo(to_link, original), 1);
  EXPECT_EQ(ShortcutPointsTo(to_copy, original), 0);
  EXPECT_EQ(ShortcutPointsTo(temp_.GetPath().Append(L"missing.lnk"), original), 0);

  // A shortcut whose target was removed points nowhere.
  ASSERT_TRUE(::DeleteFileW(copy_.c_str()));
  FileIdentity copy_identity = original;
  copy_identity.file_index ^= 1;
  EXPECT_EQ(ShortcutPointsTo(to_copy, copy_identity), 0);
}

TEST_F(FileIdentityTest, FindTaskbarPinLooksInThePinsFolder) {
  base::FilePath pins;
  ASSERT_TRUE(GetTaskbarPinsFolder(&pins));
  EXPECT_TRUE(
      base::EndsWith(pins.value(), L"\\User Pinned\\TaskBar", base::CompareCase::INSENSITIVE_ASCII))
      << pins;
  ASSERT_TRUE(base::CreateDirectoryTree(pins));

  // The pins folder is shared with other tests running at the same time:
  // names of this test and process only.
  const base::FilePath pin =
      pins.Append(L"FindTaskbarPin test " + std::to_wstring(::GetCurrentProcessId()) + L".lnk");
  const base::FilePath not_a_shortcut_name =
      pins.Append(L"FindTaskbarPin test " + std::to_wstring(::GetCurrentProcessId()) + L".lnk.txt");

  FileIdentity original;
  FileIdentity copy;
  ASSERT_TRUE(GetFileIdentity(file_, &original));
  ASSERT_TRUE(GetFileIdentity(copy_, &copy));
  EXPECT_TRUE(FindTaskbarPin(original).empty());

  // Only "*.lnk" files count.
  ASSERT_TRUE(WriteShortcutTo(not_a_shortcut_name, file_));
  EXPECT_TRUE(FindTaskbarPin(original).empty());

  ASSERT_TRUE(WriteShortcutTo(pin, link_));
  const base::FilePath found = FindTaskbarPin(original);
  const base::FilePath found_for_copy = FindTaskbarPin(copy);
  ::DeleteFileW(pin.c_str());
  ::DeleteFileW(not_a_shortcut_name.c_str());

  EXPECT_TRUE(base::FilePath::CompareEqualIgnoreCase(found.value(), pin.value())) << found;
  EXPECT_TRUE(found_for_copy.empty()) << found_for_copy;
  EXPECT_TRUE(FindTaskbarPin(original).empty());
}

}  // namespace
}  // namespace installer
