#include "base/files/memory_mapped_file.h"

#include <string>

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"
#include "testing/temp_dir_test.h"

namespace base {
namespace {

using MemoryMappedFileTest = ::testing::TempDirTest;

TEST_F(MemoryMappedFileTest, MapsWholeFile) {
  std::string data(3 * 4096 + 17, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i % 251);
  const FilePath path = WriteFile(L"data.bin", data);

  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(nullptr, mapped.data());
  ASSERT_TRUE(mapped.Initialize(path));
  EXPECT_TRUE(mapped.IsValid());
  ASSERT_EQ(data.size(), mapped.length());
  EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(mapped.data()), mapped.length()));

  // While mapped, nobody may change it underneath.
  File writer(path, File::FLAG_OPEN | File::FLAG_WRITE);
  EXPECT_FALSE(writer.IsValid());
  File reader(path, File::FLAG_OPEN | File::FLAG_READ);
  EXPECT_TRUE(reader.IsValid());
}

TEST_F(MemoryMappedFileTest, SecondInitializeFails) {
  const FilePath first = WriteFile(L"first.bin", "first");
  const FilePath second = WriteFile(L"second.bin", "second!");
  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(first));
  EXPECT_FALSE(mapped.Initialize(second));
  EXPECT_FALSE(mapped.Initialize(first));
  // The first mapping is untouched.
  ASSERT_EQ(5u, mapped.length());
  EXPECT_EQ("first", std::string(reinterpret_cast<const char*>(mapped.data()), 5));
}

TEST_F(MemoryMappedFileTest, MissingFileFailsAndAllowsRetry) {
  MemoryMappedFile mapped;
  EXPECT_FALSE(mapped.Initialize(temp_.GetPath().Append(L"missing.bin")));
  EXPECT_FALSE(mapped.IsValid());
  EXPECT_EQ(0u, mapped.length());
  EXPECT_FALSE(mapped.Initialize(temp_.GetPath()));  // A folder is no file.
  ASSERT_TRUE(mapped.Initialize(WriteFile(L"late.bin", "late")));
  EXPECT_EQ(4u, mapped.length());
}

TEST_F(MemoryMappedFileTest, EmptyFile) {
  MemoryMappedFile mapped;
  ASSERT_TRUE(mapped.Initialize(WriteFile(L"empty.bin", "")));
  EXPECT_TRUE(mapped.IsValid());
  EXPECT_EQ(0u, mapped.length());
  EXPECT_NE(nullptr, mapped.data());
  EXPECT_FALSE(mapped.Initialize(WriteFile(L"other.bin", "x")));
}

}  // namespace
}  // namespace base
