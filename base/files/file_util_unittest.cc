#include "base/files/file_util.h"

#include <windows.h>
#include <knownfolders.h>

#include <string>

#include "base/files/file.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace base {
namespace {

bool WriteText(const FilePath& path, std::string_view text) {
  return WriteFileBytes(path, text.data(), static_cast<int>(text.size())) ==
         static_cast<int>(text.size());
}

std::string ReadText(const FilePath& path) {
  std::string text;
  EXPECT_TRUE(ReadFileToString(path, &text)) << path;
  return text;
}

bool IsReadOnly(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

void MakeReadOnly(const FilePath& path) {
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY)) << path;
}

// A path of exactly |length| characters below |dir|.
FilePath PathOfLength(const FilePath& dir, size_t length) {
  const size_t prefix = dir.value().size() + 1;
  return dir.Append(std::wstring(length > prefix ? length - prefix : 1, L'x'));
}

class FileUtilTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  const FilePath& dir() const { return temp_.GetPath(); }

  ScopedTempDir temp_;
};

TEST_F(FileUtilTest, ExistenceAndWritability) {
  const FilePath file = dir().Append(L"file.txt");
  EXPECT_FALSE(PathExists(file));
  EXPECT_FALSE(PathExists(FilePath()));
  ASSERT_TRUE(WriteText(file, "12345"));
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(DirectoryExists(file));
  EXPECT_TRUE(DirectoryExists(dir()));
  EXPECT_TRUE(PathIsWritable(file));
  EXPECT_TRUE(PathIsWritable(dir()));
  int64_t size = -1;
  ASSERT_TRUE(GetFileSize(file, &size));
  EXPECT_EQ(5, size);
  EXPECT_FALSE(GetFileSize(dir(), &size));
  EXPECT_FALSE(GetFileSize(dir().Append(L"missing"), &size));
  EXPECT_FALSE(PathIsWritable(dir().Append(L"missing")));
  {
    // Held by someone who shares no writing.
    File holder(file, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_EXCLUSIVE_WRITE);
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(PathIsWritable(file));
  }
  EXPECT_TRUE(PathIsWritable(file));
}

TEST_F(FileUtilTest, IsValidPath) {
  struct Case {
    std::wstring path;
    bool is_directory;
    bool valid;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Velmo", true, true},
      {L"relative\\name.txt", false, true},
      {L"\\\\server\\share\\x", false, true},
      {L"", false, false},
      {L"C:\\a<b", false, false},
      {L"C:\\a>b", false, false},
      {L"C:\\a\"b", false, false},
      {L"C:\\a|b", false, false},
      {L"C:\\a?b", false, false},
      {L"C:\\a*b", false, false},
      {L"C:\\a\tb", false, false},
      {std::wstring(L"C:\\a\0b", 6), false, false},
      {L"C:\\a:b", false, false},
      {L"a:\\b", false, true},
      {L"1:\\b", false, false},
      {L"C:\\" + std::wstring(244, L'x'), true, true},   // 247 characters.
      {L"C:\\" + std::wstring(245, L'x'), true, false},  // 248 characters.
      {L"C:\\" + std::wstring(245, L'x'), false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.valid, IsValidPath(FilePath(c.path), c.is_directory))
        << FilePath(c.path) << " folder=" << c.is_directory;
  }
}

TEST_F(FileUtilTest, CreateDirectoryTree) {
  const FilePath deep = dir().Append(L"a\\b/c\\");
  ASSERT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(DirectoryExists(dir().Append(L"a\\b\\c")));
  // Existing folders are fine.
  EXPECT_TRUE(CreateDirectoryTree(deep));
  EXPECT_TRUE(CreateDirectoryTree(dir()));
  // A file in the way is not.
  const FilePath file = dir().Append(L"file");
  ASSERT_TRUE(WriteText(file, "x"));
  EXPECT_FALSE(CreateDirectoryTree(file));
  EXPECT_FALSE(CreateDirectoryTree(file.Append(L"sub")));
  EXPECT_FALSE(CreateDirectoryTree(FilePath()));
}

TEST_F(FileUtilTest, CopySingleFile) {
  const FilePath source = dir().Append(L"source.bin");
  const FilePath target = dir().Append(L"target.bin");
  ASSERT_TRUE(WriteText(source, std::string("first\0copy", 10)));
  MakeReadOnly(source);
  ASSERT_TRUE(CopySingleFile(source, target));
  EXPECT_EQ(std::string("first\0copy", 10), ReadText(target));
  // The copy does not keep the source's read-only attribute...
  EXPECT_FALSE(IsReadOnly(target));

  // ...and a read-only target is replaced all the same.
  MakeReadOnly(target);
  ASSERT_TRUE(::SetFileAttributesW(source.c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(WriteText(source, "second"));
  ASSERT_TRUE(CopySingleFile(source, target));
  EXPECT_EQ("second", ReadText(target));
  EXPECT_FALSE(IsReadOnly(target));

  EXPECT_FALSE(CopySingleFile(dir().Append(L"missing"), target));
  EXPECT_EQ("second", ReadText(target));
}

TEST_F(FileUtilTest, CopySingleFileRefusesParentReferencesAndLongPaths) {
  const FilePath source = dir().Append(L"source.txt");
  ASSERT_TRUE(WriteText(source, "data"));
  ASSERT_TRUE(CreateDirectoryTree(dir().Append(L"sub")));
  EXPECT_FALSE(CopySingleFile(source, dir().Append(L"sub\\..\\escaped.txt")));
  EXPECT_FALSE(PathExists(dir().Append(L"escaped.txt")));
  EXPECT_FALSE(CopySingleFile(dir().Append(L"sub\\..\\source.txt"), dir().Append(L"copy.txt")));
  EXPECT_FALSE(PathExists(dir().Append(L"copy.txt")));

  const FilePath at_limit = PathOfLength(dir(), MAX_PATH);
  ASSERT_EQ(static_cast<size_t>(MAX_PATH), at_limit.value().size());
  EXPECT_FALSE(CopySingleFile(source, at_limit));
  const FilePath below_limit = PathOfLength(dir(), MAX_PATH - 1);
  EXPECT_TRUE(CopySingleFile(source, below_limit));
  EXPECT_EQ("data", ReadText(below_limit));
}

TEST_F(FileUtilTest, MoveFileReplacesTarget) {
  const FilePath from = dir().Append(L"from.txt");
  const FilePath to = dir().Append(L"to.txt");
  ASSERT_TRUE(WriteText(from, "new"));
  ASSERT_TRUE(WriteText(to, "old contents"));
  ASSERT_TRUE(MovePath(from, to));
  EXPECT_FALSE(PathExists(from));
  EXPECT_EQ("new", ReadText(to));
  EXPECT_FALSE(MovePath(from, to));  // Gone now.
}

TEST_F(FileUtilTest, MoveFolder) {
  const FilePath from = dir().Append(L"from");
  ASSERT_TRUE(CreateDirectoryTree(from.Append(L"sub")));
  ASSERT_TRUE(WriteText(from.Append(L"sub\\f.txt"), "f"));

  const FilePath renamed = dir().Append(L"renamed");
  ASSERT_TRUE(MovePath(from, renamed));
  EXPECT_FALSE(PathExists(from));
  EXPECT_EQ("f", ReadText(renamed.Append(L"sub\\f.txt")));

  // Onto an existing folder: the contents are merged in, same-named files
  // replaced.
  const FilePath existing = dir().Append(L"existing");
  ASSERT_TRUE(CreateDirectoryTree(existing.Append(L"sub")));
  ASSERT_TRUE(WriteText(existing.Append(L"sub\\f.txt"), "old"));
  ASSERT_TRUE(WriteText(existing.Append(L"keep.txt"), "keep"));
  ASSERT_TRUE(MovePath(renamed, existing));
  EXPECT_FALSE(PathExists(renamed));
  EXPECT_EQ("f", ReadText(existing.Append(L"sub\\f.txt")));
  EXPECT_EQ("keep", ReadText(existing.Append(L"keep.txt")));
}

TEST_F(FileUtilTest, MoveRefusesParentReferences) {
  const FilePath from = dir().Append(L"sub\\from.txt");
  ASSERT_TRUE(CreateDirectoryTree(from.DirName()));
  ASSERT_TRUE(WriteText(from, "x"));
  EXPECT_FALSE(MovePath(from, dir().Append(L"sub\\..\\to.txt")));
  EXPECT_FALSE(MovePath(dir().Append(L"sub\\..\\sub\\from.txt"), dir().Append(L"to.txt")));
  EXPECT_TRUE(PathExists(from));
  EXPECT_FALSE(PathExists(dir().Append(L"to.txt")));
}

TEST_F(FileUtilTest, DeleteFilesAndTrees) {
  const FilePath file = dir().Append(L"ro.txt");
  ASSERT_TRUE(WriteText(file, "x"));
  MakeReadOnly(file);
  EXPECT_TRUE(DeletePath(file, false));
  EXPECT_FALSE(PathExists(file));
  EXPECT_TRUE(DeletePath(file, false));  // Missing counts as deleted.
  EXPECT_TRUE(DeletePath(dir().Append(L"no\\such\\folder"), true));

  const FilePath tree = dir().Append(L"tree");
  ASSERT_TRUE(CreateDirectoryTree(tree.Append(L"a\\b")));
  ASSERT_TRUE(WriteText(tree.Append(L"a\\b\\ro.txt"), "x"));
  MakeReadOnly(tree.Append(L"a\\b\\ro.txt"));
  ASSERT_TRUE(WriteText(tree.Append(L"top.txt"), "x"));
  EXPECT_FALSE(DeletePath(tree, false));  // Not empty.
  EXPECT_TRUE(PathExists(tree.Append(L"top.txt")));
  EXPECT_TRUE(DeletePath(tree, true));
  EXPECT_FALSE(PathExists(tree));

  const FilePath empty = dir().Append(L"empty");
  ASSERT_TRUE(CreateDirectoryTree(empty));
  EXPECT_TRUE(DeletePath(empty, false));
  EXPECT_FALSE(PathExists(empty));
}

TEST_F(FileUtilTest, DeleteWithWildcard) {
  ASSERT_TRUE(WriteText(dir().Append(L"a.tmp"), "x"));
  ASSERT_TRUE(WriteText(dir().Append(L"B.TMP"), "x"));
  ASSERT_TRUE(WriteText(dir().Append(L"c.txt"), "x"));
  ASSERT_TRUE(WriteText(dir().Append(L"ab.tmpx"), "x"));
  ASSERT_TRUE(CreateDirectoryTree(dir().Append(L"d.tmp\\inner")));
  MakeReadOnly(dir().Append(L"a.tmp"));

  EXPECT_TRUE(DeletePath(dir().Append(L"*.tmp"), true));
  EXPECT_FALSE(PathExists(dir().Append(L"a.tmp")));
  EXPECT_FALSE(PathExists(dir().Append(L"B.TMP")));
  EXPECT_FALSE(PathExists(dir().Append(L"d.tmp")));
  EXPECT_TRUE(PathExists(dir().Append(L"c.txt")));
  EXPECT_TRUE(PathExists(dir().Append(L"ab.tmpx")));

  EXPECT_TRUE(DeletePath(dir().Append(L"?.txt"), false));
  EXPECT_FALSE(PathExists(dir().Append(L"c.txt")));
  EXPECT_TRUE(PathExists(dir().Append(L"ab.tmpx")));
  // Nothing matching is no failure.
  EXPECT_TRUE(DeletePath(dir().Append(L"*.none"), false));
}

TEST_F(FileUtilTest, DeleteRefusesLongPaths) {
  const FilePath below_limit = PathOfLength(dir(), MAX_PATH - 1);
  ASSERT_TRUE(WriteText(below_limit, "x"));
  EXPECT_TRUE(DeletePath(below_limit, false));
  EXPECT_FALSE(PathExists(below_limit));
  EXPECT_FALSE(DeletePath(PathOfLength(dir(), MAX_PATH), false));
  EXPECT_FALSE(DeletePath(FilePath(), true));
}

TEST_F(FileUtilTest, WriteAndReadBinaryRoundTrip) {
  std::string data;
  for (int i = 0; i < 70000; ++i)
    data.push_back(static_cast<char>(i * 7));
  data[0] = '\0';
  data[data.size() - 1] = '\0';
  const FilePath file = dir().Append(L"binary.dat");
  ASSERT_EQ(static_cast<int>(data.size()),
            WriteFileBytes(file, data.data(), static_cast<int>(data.size())));
  std::string read;
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ(data, read);
  EXPECT_TRUE(ReadFileToString(file, nullptr));

  // Rewriting truncates.
  ASSERT_EQ(2, WriteFileBytes(file, "\0z", 2));
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_EQ(std::string("\0z", 2), read);
  ASSERT_EQ(0, WriteFileBytes(file, "", 0));
  ASSERT_TRUE(ReadFileToString(file, &read));
  EXPECT_TRUE(read.empty());

  read = "stale";
  EXPECT_FALSE(ReadFileToString(dir().Append(L"missing"), &read));
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(-1, WriteFileBytes(file, "abc", -1));
  EXPECT_EQ(-1, WriteFileBytes(dir().Append(L"no\\such\\dir\\f"), "abc", 3));
}

TEST_F(FileUtilTest, CreateTemporaryFileInDirectory) {
  FilePath first;
  FilePath second;
  ASSERT_TRUE(CreateTemporaryFileInDirectory(dir(), &first));
  ASSERT_TRUE(CreateTemporaryFileInDirectory(dir(), &second));
  EXPECT_NE(first, second);
  EXPECT_TRUE(PathExists(first));
  EXPECT_FALSE(DirectoryExists(first));
  EXPECT_TRUE(dir().IsParent(first)) << first;
  EXPECT_EQ(0u, first.BaseName().value().find(L"vlm")) << first;
  EXPECT_EQ(L".tmp", first.Extension());
  int64_t size = -1;
  ASSERT_TRUE(GetFileSize(first, &size));
  EXPECT_EQ(0, size);
  FilePath none;
  EXPECT_FALSE(CreateTemporaryFileInDirectory(dir().Append(L"missing"), &none));
  EXPECT_TRUE(none.empty());
}

TEST_F(FileUtilTest, TempAndCurrentFolders) {
  FilePath temp;
  ASSERT_TRUE(GetTempDirectory(&temp));
  EXPECT_TRUE(temp.IsAbsolute()) << temp;
  EXPECT_FALSE(temp.EndsWithSeparator()) << temp;
  EXPECT_TRUE(DirectoryExists(temp)) << temp;
  EXPECT_TRUE(temp.IsParent(dir())) << temp << " " << dir();

  FilePath current;
  ASSERT_TRUE(GetCurrentDirectoryPath(&current));
  EXPECT_TRUE(DirectoryExists(current));
  EXPECT_EQ(current.Append(L"x\\y"), MakeAbsoluteFilePath(FilePath(L"x\\z\\..\\y")));
  EXPECT_EQ(FilePath(L"C:\\a\\c"), MakeAbsoluteFilePath(FilePath(L"C:\\a\\b\\..\\c")));
  EXPECT_TRUE(MakeAbsoluteFilePath(FilePath()).empty());
}

TEST_F(FileUtilTest, KnownFolders) {
  FilePath local;
  ASSERT_TRUE(GetKnownFolderPath(FOLDERID_LocalAppData, GUID_NULL, &local, false));
  EXPECT_TRUE(local.IsAbsolute());
  EXPECT_TRUE(DirectoryExists(local));

  // No system knows this id, so the fallback answers.
  static constexpr GUID kUnknown = {0x6b1d2c11, 0x48f3, 0x4c5e, {1, 2, 3, 4, 5, 6, 7, 8}};
  FilePath fallback;
  ASSERT_TRUE(GetKnownFolderPath(kUnknown, FOLDERID_LocalAppData, &fallback, true));
  EXPECT_EQ(local, fallback);

  FilePath untouched(L"untouched");
  EXPECT_FALSE(GetKnownFolderPath(kUnknown, GUID_NULL, &untouched, true));
  EXPECT_EQ(L"untouched", untouched.value());
}

}  // namespace
}  // namespace base
