#include "desktop/windows/crash_reporter/crash_log/crash_log_zip.h"

#include <minizip/unzip.h>
#include <minizip/iowin32.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/scoped_generic.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

struct UnzipTraits {
  static unzFile InvalidValue() { return nullptr; }
  static void Free(unzFile& file) { unzClose(file); }
};
using ScopedUnzip = base::ScopedGeneric<unzFile, UnzipTraits>;

class ZipCrashLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    text_ = temp_.GetPath().Append(L"crash log \u00e9.txt");
    zip_ = temp_.GetPath().Append(L"crash log \u00e9.zip");
  }
  base::ScopedTempDir temp_;
  base::FilePath text_;
  base::FilePath zip_;
};

TEST_F(ZipCrashLogTest, OneDeflatedEntryEqualToTheFile) {
  // Larger than one copy chunk, with CR LF line ends that must survive.
  std::string text;
  for (int i = 0; text.size() < 1048576 + 5000; ++i)
    text += "line " + std::to_string(i * 7919 % 100003) + "\r\n";
  ASSERT_EQ(static_cast<int>(text.size()), base::WriteFileBytes(text_, text.data(), text.size()));
  ASSERT_TRUE(ZipCrashLog(text_, zip_));

  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  ScopedUnzip unzip(unzOpen2_64(zip_.c_str(), &functions));
  ASSERT_TRUE(unzip.IsValid());
  unz_global_info64 global;
  ASSERT_EQ(UNZ_OK, unzGetGlobalInfo64(unzip.Get(), &global));
  EXPECT_EQ(1u, global.number_entry);
  ASSERT_EQ(UNZ_OK, unzGoToFirstFile(unzip.Get()));
  unz_file_info64 info;
  char name[64];
  ASSERT_EQ(UNZ_OK, unzGetCurrentFileInfo64(unzip.Get(), &info, name, sizeof(name), nullptr, 0,
                                            nullptr, 0));
  EXPECT_STREQ("crashlog.txt", name);
  EXPECT_EQ(8u, info.compression_method);
  EXPECT_EQ(text.size(), info.uncompressed_size);
  EXPECT_LT(info.compressed_size, info.uncompressed_size);
  ASSERT_EQ(UNZ_OK, unzOpenCurrentFile(unzip.Get()));
  std::string back(text.size() + 1, '\0');
  int read = unzReadCurrentFile(unzip.Get(), back.data(), static_cast<unsigned>(back.size()));
  EXPECT_EQ(UNZ_OK, unzCloseCurrentFile(unzip.Get()));  // checks the CRC
  ASSERT_EQ(static_cast<int>(text.size()), read);
  back.resize(read);
  EXPECT_TRUE(back == text);
}

TEST_F(ZipCrashLogTest, EmptyOrMissingLogGivesNoZip) {
  ASSERT_EQ(0, base::WriteFileBytes(text_, "", 0));
  EXPECT_FALSE(ZipCrashLog(text_, zip_));
  EXPECT_FALSE(base::PathExists(zip_));

  EXPECT_FALSE(ZipCrashLog(temp_.GetPath().Append(L"missing.txt"), zip_));
  EXPECT_FALSE(base::PathExists(zip_));
}

}  // namespace
}  // namespace crash_reporter
