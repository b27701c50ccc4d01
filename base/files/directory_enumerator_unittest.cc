#include "base/files/directory_enumerator.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The mount-point layout of REPARSE_DATA_BUFFER (not in every SDK's headers).
struct MountPointReparseBuffer {
  DWORD reparse_tag;
  WORD reparse_data_length;
  WORD reserved;
  WORD substitute_name_offset;
  WORD substitute_name_length;
  WORD print_name_offset;
  WORD print_name_length;
  wchar_t path_buffer[1];
};

// Makes |link| (an empty folder) a junction to |target|. False when the file
// system does not support it.
bool CreateJunction(const FilePath& link, const FilePath& target) {
  if (!::CreateDirectoryW(link.c_str(), nullptr))
    return false;
  win::ScopedHandle handle(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                         nullptr));
  if (!handle.IsValid())
    return false;
  const std::wstring substitute = L"\\??\\" + target.value();
  const std::wstring& print = target.value();
  const size_t names_bytes = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
  std::vector<char> storage(offsetof(MountPointReparseBuffer, path_buffer) + names_bytes);
  auto* buffer = reinterpret_cast<MountPointReparseBuffer*>(storage.data());
  buffer->reparse_tag = IO_REPARSE_TAG_MOUNT_POINT;
  buffer->reparse_data_length = static_cast<WORD>(8 + names_bytes);
  buffer->substitute_name_offset = 0;
  buffer->substitute_name_length = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  buffer->print_name_offset = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
  buffer->print_name_length = static_cast<WORD>(print.size() * sizeof(wchar_t));
  std::memcpy(buffer->path_buffer, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
  std::memcpy(buffer->path_buffer + substitute.size() + 1, print.c_str(),
              (print.size() + 1) * sizeof(wchar_t));
  DWORD returned = 0;
  return ::DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, storage.data(),
                           static_cast<DWORD>(storage.size()), nullptr, 0, &returned, nullptr) != 0;
}

class DirectoryEnumeratorTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    root_ = temp_.GetPath();
    ASSERT_TRUE(CreateDirectoryTree(root_.Append(L"sub\\deeper")));
    ASSERT_TRUE(CreateDirectoryTree(root_.Append(L"sub.txt")));
    for (const wchar_t* name : {L"a.txt", L"b.log", L"sub\\c.txt", L"sub\\deeper\\D.TXT",
                                L"sub\\e.dat", L"sub.txt\\f.bin"}) {
      const std::string contents(wcslen(name), 'x');
      ASSERT_EQ(
          static_cast<int>(contents.size()),
          WriteFileBytes(root_.Append(name), contents.data(), static_cast<int>(contents.size())));
    }
  }

  // The relative paths of every entry found.
  std::set<std::wstring> Collect(bool recursive, int kinds, const wchar_t* pattern) {
    std::set<std::wstring> found;
    DirectoryEnumerator enumerator(root_, recursive, kinds, pattern);
    for (FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
      FilePath relative;
      EXPECT_TRUE(root_.AppendRelativePath(path, &relative)) << path;
      EXPECT_TRUE(found.insert(relative.value()).second) << "twice: " << path;
    }
    EXPECT_TRUE(enumerator.Next().empty());  // Stays at the end.
    return found;
  }

  ScopedTempDir temp_;
  FilePath root_;
};

using Names = std::set<std::wstring>;

TEST_F(DirectoryEnumeratorTest, PatternsKindsAndRecursion) {
  constexpr int kFiles = DirectoryEnumerator::FILES;
  constexpr int kFolders = DirectoryEnumerator::DIRECTORIES;
  EXPECT_EQ((Names{L"a.txt", L"b.log"}), Collect(false, kFiles, L"*"));
  EXPECT_EQ((Names{L"sub", L"sub.txt"}), Collect(false, kFolders, L"*"));
  EXPECT_EQ((Names{L"a.txt", L"sub.txt"}), Collect(false, kFiles | kFolders, L"*.txt"));
  EXPECT_EQ((Names{L"a.txt", L"sub\\c.txt", L"sub\\deeper\\D.TXT"}),
            Collect(true, kFiles, L"*.txt"));
  EXPECT_EQ((Names{L"sub", L"sub.txt", L"sub\\deeper"}), Collect(true, kFolders, L"*"));
  EXPECT_EQ((Names{L"a.txt", L"sub.txt", L"sub\\c.txt", L"sub\\deeper\\D.TXT"}),
            Collect(true, kFiles | kFolders, L"*.TXT"));
  EXPECT_EQ((Names{L"a.txt", L"sub\\c.txt", L"sub\\deeper\\D.TXT"}),
            Collect(true, kFiles, L"?.txt"));
  EXPECT_EQ((Names{L"b.log"}), Collect(true, kFiles, L"?.*g"));
  EXPECT_EQ((Names{L"sub.txt\\f.bin"}), Collect(true, kFiles, L"f*"));
  EXPECT_EQ(Names{}, Collect(true, kFiles, L"*.none"));
  EXPECT_EQ(Names{}, Collect(true, 0, L"*"));
}

TEST_F(DirectoryEnumeratorTest, InfoOfCurrentEntry) {
  DirectoryEnumerator enumerator(root_, true,
                                 DirectoryEnumerator::FILES | DirectoryEnumerator::DIRECTORIES);
  int seen = 0;
  for (FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    ++seen;
    const DirectoryEnumerator::EntryInfo info = enumerator.GetInfo();
    EXPECT_EQ(DirectoryExists(path), info.is_directory) << path;
    EXPECT_FALSE(info.last_modified.is_null()) << path;
    if (!info.is_directory) {
      FilePath relative;
      ASSERT_TRUE(root_.AppendRelativePath(path, &relative));
      // Each file holds as many bytes as its relative name has characters.
      EXPECT_EQ(static_cast<int64_t>(relative.value().size()), info.size) << path;
    }
  }
  EXPECT_EQ(9, seen);
}

TEST_F(DirectoryEnumeratorTest, MissingRootGivesNothing) {
  DirectoryEnumerator enumerator(root_.Append(L"missing"), true, DirectoryEnumerator::FILES);
  EXPECT_TRUE(enumerator.Next().empty());
}

TEST_F(DirectoryEnumeratorTest, DoesNotFollowJunctions) {
  const FilePath loop = root_.Append(L"sub\\loop");
  if (!CreateJunction(loop, root_))
    GTEST_SKIP() << "Junctions not supported here (error " << ::GetLastError() << ")";
  ASSERT_TRUE(DirectoryExists(loop.Append(L"sub")));  // The loop is real.
  EXPECT_EQ((Names{L"sub", L"sub.txt", L"sub\\deeper", L"sub\\loop"}),
            Collect(true, DirectoryEnumerator::DIRECTORIES, L"*"));
  // Deleting the tree removes the junction, not what it points at.
  EXPECT_TRUE(DeletePath(root_.Append(L"sub"), true));
  EXPECT_FALSE(PathExists(root_.Append(L"sub")));
  EXPECT_TRUE(PathExists(root_.Append(L"a.txt")));
}

TEST(DirectoryEnumeratorMatchTest, MatchesPattern) {
  struct Case {
    const wchar_t* name;
    const wchar_t* pattern;
    bool matches;
  };
  const Case cases[] = {
      {L"a.txt", L"*", true},
      {L"", L"*", true},
      {L"", L"?", false},
      {L"a.txt", L"*.txt", true},
      {L"A.TXT", L"*.txt", true},
      {L"a.txt.bak", L"*.txt", false},
      {L"a.txt", L"?.txt", true},
      {L"ab.txt", L"?.txt", false},
      {L"abcabd", L"*abd", true},
      {L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", L"*a*a*a*a*a*a*c", false},
      {L"setup.exe", L"s*p.e?e", true},
      {L"setup.exe", L"s*p.e?", false},
      {L"x", L"x**", true},
      {L"\u00e9t\u00e9", L"\u00c9T*", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.matches, DirectoryEnumerator::MatchesPattern(c.name, c.pattern))
        << FilePath(c.name) << " ~ " << FilePath(c.pattern);
  }
}

}  // namespace
}  // namespace base
