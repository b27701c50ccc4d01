#include "crash_upload/file/file_io_win.h"

#include <string>
#include <thread>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace crash_upload {
namespace {

TEST(FileIoWinTest, ChunkReadsGoOnPastShortPipeReadsUntilTheWriterCloses) {
  HANDLE read_end = nullptr, write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  base::win::ScopedHandle reader(read_end);
  base::win::ScopedHandle writer(write_end);
  std::thread writing([&writer] {
    DWORD written = 0;
    WriteFile(writer.Get(), "abc", 3, &written, nullptr);
    Sleep(100);
    WriteFile(writer.Get(), "defg", 4, &written, nullptr);
    writer.Reset();  // the reader then sees a broken pipe
  });
  char buffer[100];
  int64_t read = ReadFileChunk(reader.Get(), buffer, sizeof(buffer));
  writing.join();
  ASSERT_EQ(7, read);
  EXPECT_EQ("abcdefg", std::string(buffer, 7));
}

TEST(FileIoWinTest, OpenReadAndCloseAFile) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath path = temp.GetPath().Append(L"data.bin");
  ASSERT_EQ(5, base::WriteFileBytes(path, "12345", 5));
  EXPECT_EQ(INVALID_HANDLE_VALUE, LoggingOpenFileForRead(temp.GetPath().Append(L"missing")));

  HANDLE file = LoggingOpenFileForRead(path);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  // Others may still write the file while it is read.
  base::win::ScopedHandle other(CreateFileW(path.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(other.IsValid());
  char buffer[16];
  EXPECT_EQ(3, ReadFileChunk(file, buffer, 3));
  EXPECT_EQ(2, ReadFileChunk(file, buffer + 3, sizeof(buffer) - 3));
  EXPECT_EQ(0, ReadFileChunk(file, buffer, sizeof(buffer)));
  EXPECT_EQ("12345", std::string(buffer, 5));
  EXPECT_TRUE(LoggingCloseFile(file));
  EXPECT_FALSE(LoggingCloseFile(reinterpret_cast<HANDLE>(0x7ffc)));
  EXPECT_DEATH(CloseFileOrDie(reinterpret_cast<HANDLE>(0x7ffc)), "");
}

}  // namespace
}  // namespace crash_upload
