#include "base/files/file.h"

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/process.h"
#include "base/time.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base {
namespace {

class FileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }
  FilePath PathOf(const wchar_t* name) const { return temp_.GetPath().Append(name); }

  ScopedTempDir temp_;
};

TEST_F(FileTest, OpenModesAndCreatedFlag) {
  const FilePath path = PathOf(L"f.txt");
  {
    File missing(path, File::FLAG_OPEN | File::FLAG_READ);
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.error_details());
  }
  {
    File file(path, File::FLAG_CREATE | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.created());
    EXPECT_EQ(3, file.WriteAtCurrentPos("abc", 3));
  }
  {
    File again(path, File::FLAG_CREATE | File::FLAG_WRITE);
    EXPECT_FALSE(again.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), again.error_details());
  }
  {
    File file(path, File::FLAG_OPEN_ALWAYS | File::FLAG_READ);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
    EXPECT_EQ(3, file.GetLength());
  }
  {
    File file(path, File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
    EXPECT_EQ(0, file.GetLength());  // Truncated.
  }
  {
    File file(PathOf(L"new.txt"), File::FLAG_OPEN_ALWAYS | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.created());
  }
  {
    // Two ways to open at once is a caller error.
    File file(path, File::FLAG_OPEN | File::FLAG_CREATE | File::FLAG_READ);
    EXPECT_FALSE(file.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), file.error_details());
    File no_way(path, File::FLAG_READ);
    EXPECT_FALSE(no_way.IsValid());
  }
}

TEST_F(FileTest, ReadWriteSeekAndLength) {
  File file(PathOf(L"rw.bin"), File::FLAG_CREATE_ALWAYS | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(6, file.Write(0, "012345", 6));
  EXPECT_EQ(2, file.Write(10, "ab", 2));  // Leaves a zero-filled gap.
  EXPECT_EQ(12, file.GetLength());

  char buffer[16] = {};
  EXPECT_EQ(12, file.Read(0, buffer, sizeof(buffer)));
  EXPECT_EQ(std::string("012345\0\0\0\0ab", 12), std::string(buffer, 12));
  EXPECT_EQ(0, file.Read(12, buffer, 4));  // At the end.
  EXPECT_EQ(0, file.Read(100, buffer, 4));

  EXPECT_EQ(2, file.Seek(File::FROM_BEGIN, 2));
  EXPECT_EQ(3, file.ReadAtCurrentPos(buffer, 3));
  EXPECT_EQ("234", std::string(buffer, 3));
  EXPECT_EQ(4, file.Seek(File::FROM_CURRENT, -1));
  EXPECT_EQ(1, file.WriteAtCurrentPos("X", 1));
  EXPECT_EQ(10, file.Seek(File::FROM_END, -2));
  EXPECT_EQ(2, file.ReadAtCurrentPos(buffer, 8));
  EXPECT_EQ(0, file.ReadAtCurrentPos(buffer, 8));
  EXPECT_EQ(-1, file.Seek(File::FROM_BEGIN, -5));

  // SetLength keeps the position.
  EXPECT_EQ(3, file.Seek(File::FROM_BEGIN, 3));
  EXPECT_TRUE(file.SetLength(5));
  EXPECT_EQ(5, file.GetLength());
  EXPECT_EQ(2, file.ReadAtCurrentPos(buffer, 8));
  EXPECT_EQ("3X", std::string(buffer, 2));
  EXPECT_TRUE(file.SetLength(8));
  EXPECT_EQ(8, file.Read(0, buffer, 16));
  EXPECT_EQ(std::string("0123X\0\0\0", 8), std::string(buffer, 8));
  EXPECT_FALSE(file.SetLength(-1));
  EXPECT_TRUE(file.Flush());

  // Bad buffers are refused, not used.
  EXPECT_EQ(-1, file.Read(0, buffer, -1));
  EXPECT_EQ(-1, file.Write(0, nullptr, 4));
  EXPECT_EQ(-1, file.Read(-1, buffer, 1));
}

TEST_F(FileTest, GetInfo) {
  const Time before = Time::Now() - TimeSpan::FromSeconds(5);
  File file(PathOf(L"info.txt"), File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  ASSERT_EQ(4, file.WriteAtCurrentPos("data", 4));
  File::Info info;
  ASSERT_TRUE(file.GetInfo(&info));
  const Time after = Time::Now() + TimeSpan::FromSeconds(5);
  EXPECT_EQ(4, info.size);
  EXPECT_FALSE(info.is_directory);
  EXPECT_GT(info.last_modified, before);
  EXPECT_LT(info.last_modified, after);
  EXPECT_GT(info.creation_time, before);
  EXPECT_LT(info.creation_time, after);
  EXPECT_FALSE(info.last_accessed.is_null());

  File folder(temp_.GetPath(), File::FLAG_OPEN | File::FLAG_READ | File::FLAG_BACKUP_SEMANTICS);
  ASSERT_TRUE(folder.IsValid());
  ASSERT_TRUE(folder.GetInfo(&info));
  EXPECT_TRUE(info.is_directory);

  File closed;
  EXPECT_FALSE(closed.GetInfo(&info));
  EXPECT_EQ(-1, closed.ReadAtCurrentPos(nullptr, 0));
}

TEST_F(FileTest, SharingFlags) {
  const FilePath path = PathOf(L"shared.txt");
  ASSERT_EQ(1, WriteFileBytes(path, "x", 1));
  {
    File exclusive(path, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_EXCLUSIVE_READ);
    ASSERT_TRUE(exclusive.IsValid());
    File reader(path, File::FLAG_OPEN | File::FLAG_READ);
    EXPECT_FALSE(reader.IsValid());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), reader.error_details());
  }
  {
    File exclusive(path, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_EXCLUSIVE_WRITE);
    ASSERT_TRUE(exclusive.IsValid());
    File reader(path, File::FLAG_OPEN | File::FLAG_READ);
    EXPECT_TRUE(reader.IsValid());
    File writer(path, File::FLAG_OPEN | File::FLAG_WRITE);
    EXPECT_FALSE(writer.IsValid());
  }
  {
    File plain(path, File::FLAG_OPEN | File::FLAG_READ);
    ASSERT_TRUE(plain.IsValid());
    EXPECT_FALSE(DeletePath(path, false));  // Open without delete sharing.
  }
  {
    File shared(path, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_SHARE_DELETE);
    ASSERT_TRUE(shared.IsValid());
    EXPECT_TRUE(DeletePath(path, false));
  }
}

TEST_F(FileTest, DeleteOnCloseAndTemporary) {
  const FilePath path = PathOf(L"scratch.tmp");
  {
    File file(path, File::FLAG_CREATE | File::FLAG_WRITE | File::FLAG_TEMPORARY |
                        File::FLAG_DELETE_ON_CLOSE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(2, file.WriteAtCurrentPos("zz", 2));
    EXPECT_TRUE(PathExists(path));
  }
  EXPECT_FALSE(PathExists(path));
}

TEST_F(FileTest, TakeAndCloseHandle) {
  File file(PathOf(L"take.txt"), File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  HANDLE raw = file.TakePlatformFile();
  EXPECT_FALSE(file.IsValid());
  ASSERT_NE(nullptr, raw);
  File adopted(raw);
  ASSERT_TRUE(adopted.IsValid());
  EXPECT_EQ(1, adopted.WriteAtCurrentPos("q", 1));
  File moved(std::move(adopted));
  EXPECT_TRUE(moved.IsValid());
  moved.Close();
  EXPECT_FALSE(moved.IsValid());
  EXPECT_EQ(-1, moved.Write(0, "q", 1));
  std::string contents;
  ASSERT_TRUE(ReadFileToString(PathOf(L"take.txt"), &contents));
  EXPECT_EQ("q", contents);
}

TEST_F(FileTest, MapsWindowsErrors) {
  const struct {
    DWORD os_error;
    File::Error expected;
  } kCases[] = {
      {ERROR_SUCCESS, File::FILE_OK},
      {ERROR_ACCESS_DENIED, File::FILE_ERROR_ACCESS_DENIED},
      {ERROR_WRITE_PROTECT, File::FILE_ERROR_ACCESS_DENIED},
      {ERROR_SHARING_VIOLATION, File::FILE_ERROR_IN_USE},
      {ERROR_ALREADY_EXISTS, File::FILE_ERROR_EXISTS},
      {ERROR_PATH_NOT_FOUND, File::FILE_ERROR_NOT_FOUND},
      {ERROR_TOO_MANY_OPEN_FILES, File::FILE_ERROR_TOO_MANY_OPENED},
      {ERROR_OUTOFMEMORY, File::FILE_ERROR_NO_MEMORY},
      {ERROR_HANDLE_DISK_FULL, File::FILE_ERROR_NO_SPACE},
      {ERROR_DISK_FULL, File::FILE_ERROR_NO_SPACE},
      {ERROR_DIRECTORY, File::FILE_ERROR_NOT_A_DIRECTORY},
      {ERROR_INVALID_HANDLE, File::FILE_ERROR_INVALID_OPERATION},
      {ERROR_OPERATION_ABORTED, File::FILE_ERROR_ABORT},
      {ERROR_DIR_NOT_EMPTY, File::FILE_ERROR_NOT_EMPTY},
      {ERROR_CRC, File::FILE_ERROR_IO},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.expected, File::OSErrorToFileError(c.os_error)) << "Windows error " << c.os_error;
}

// A fresh process with a registry, so that the histogram is its own.
CHILD_PROCESS_MAIN(UnknownFileErrors) {
  HistogramRegistry::Initialize();
  if (File::OSErrorToFileError(ERROR_FILE_NOT_FOUND) != File::FILE_ERROR_NOT_FOUND ||
      File::OSErrorToFileError(ERROR_SHARING_VIOLATION) != File::FILE_ERROR_IN_USE ||
      File::OSErrorToFileError(ERROR_SUCCESS) != File::FILE_OK) {
    return 2;
  }
  // Known codes are not recorded.
  if (HistogramRegistry::FindHistogram("PlatformFile.UnknownErrors.Windows"))
    return 3;
  constexpr DWORD kUnmapped = 10801;
  if (File::OSErrorToFileError(kUnmapped) != File::FILE_ERROR_FAILED ||
      File::OSErrorToFileError(kUnmapped) != File::FILE_ERROR_FAILED ||
      File::OSErrorToFileError(ERROR_INVALID_FUNCTION) != File::FILE_ERROR_FAILED) {
    return 4;
  }
  HistogramBase* histogram = HistogramRegistry::FindHistogram("PlatformFile.UnknownErrors.Windows");
  if (!histogram || histogram->GetHistogramType() != SPARSE_HISTOGRAM)
    return 5;
  std::unique_ptr<HistogramSampleSet> samples = histogram->TakeSnapshot();
  if (samples->GetCount(kUnmapped) != 2 || samples->GetCount(ERROR_INVALID_FUNCTION) != 1 ||
      samples->TotalCount() != 3) {
    return 6;
  }
  return 0;
}

TEST_F(FileTest, UnmappedWindowsErrorsAreRecorded) {
  Process child = LaunchProcess(testing::GetChildCommandLine("UnknownFileErrors"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  EXPECT_EQ(0, exit_code);

  // An open that fails says why.
  File missing(PathOf(L"missing.txt"), File::FLAG_OPEN | File::FLAG_READ);
  EXPECT_FALSE(missing.IsValid());
  EXPECT_EQ(File::FILE_ERROR_NOT_FOUND, missing.error());
  File file(PathOf(L"there.txt"), File::FLAG_CREATE | File::FLAG_WRITE);
  EXPECT_EQ(File::FILE_OK, file.error());
  File again(PathOf(L"there.txt"), File::FLAG_CREATE | File::FLAG_WRITE);
  EXPECT_EQ(File::FILE_ERROR_EXISTS, again.error());
}

}  // namespace
}  // namespace base
