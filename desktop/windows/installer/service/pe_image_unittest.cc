#include "desktop/windows/installer/service/pe_image.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {

namespace {

class PeImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    ASSERT_TRUE(base::ReadFileToString(testing::AuthenticodeFixture("unsigned.exe"), &image_));
    uint32_t pe = 0;
    ASSERT_TRUE(
        ReadPeUint32(reinterpret_cast<const uint8_t*>(image_.data()), image_.size(), 0x3C, &pe));
    pe_offset_ = pe;
  }

  base::FilePath Write(const char* name, const std::string& bytes) {
    base::FilePath path = temp_dir_.GetPath().AppendASCII(name);
    EXPECT_EQ(static_cast<int>(bytes.size()),
              base::WriteFileBytes(path, bytes.data(), static_cast<int>(bytes.size())));
    return path;
  }

  void SetUint32(std::string* bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
      (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
  }

  base::ScopedTempDir temp_dir_;
  std::string image_;
  size_t pe_offset_ = 0;
};

TEST_F(PeImageTest, TellsX64FromX86) {
  bool not_x86 = false;
  EXPECT_TRUE(IsPeImage(testing::AuthenticodeFixture("unsigned.exe"), &not_x86));
  EXPECT_TRUE(not_x86);

  std::string x86 = image_;
  x86[pe_offset_ + 4] = static_cast<char>(IMAGE_FILE_MACHINE_I386 & 0xFF);
  x86[pe_offset_ + 5] = static_cast<char>(IMAGE_FILE_MACHINE_I386 >> 8);
  not_x86 = true;
  EXPECT_TRUE(IsPeImage(Write("x86.exe", x86), &not_x86));
  EXPECT_FALSE(not_x86);
}

TEST_F(PeImageTest, RefusesWhatIsNoImage) {
  bool flag = false;
  EXPECT_FALSE(IsPeImage(Write("text.txt", "MZ but nothing else follows here"), &flag));
  EXPECT_FALSE(IsPeImage(Write("empty.exe", ""), &flag));
  EXPECT_FALSE(IsPeImage(temp_dir_.GetPath().AppendASCII("missing.exe"), &flag));
  // Cut inside the file header.
  EXPECT_FALSE(IsPeImage(Write("cut.exe", image_.substr(0, pe_offset_ + 10)), &flag));

  std::string no_pe = image_;
  no_pe[pe_offset_ + 1] = 'X';
  EXPECT_FALSE(IsPeImage(Write("no_pe.exe", no_pe), &flag));
  bool is_signed = false;
  EXPECT_FALSE(HasEmbeddedSignature(Write("no_pe2.exe", no_pe), &is_signed));
}

TEST_F(PeImageTest, HostileSignatureOffsetsStayInsideTheFile) {
  bool flag = false;
  bool is_signed = false;
  for (uint32_t offset : {0xFFFFFFFFu, 0xFFFFFFFCu, static_cast<uint32_t>(image_.size()),
                          static_cast<uint32_t>(image_.size() - 2)}) {
    std::string hostile = image_;
    SetUint32(&hostile, 0x3C, offset);
    const base::FilePath path = Write("hostile.exe", hostile);
    EXPECT_FALSE(IsPeImage(path, &flag)) << offset;
    EXPECT_FALSE(HasEmbeddedSignature(path, &is_signed)) << offset;
  }
  // A PE signature so close to the end that the certificate-table word lies
  // past it.
  std::string tail = image_.substr(0, 0x40);
  SetUint32(&tail, 0x3C, 0x40);
  tail += std::string("PE\0\0", 4) + std::string(150, '\0');
  const base::FilePath path = Write("tail.exe", tail);
  EXPECT_TRUE(IsPeImage(path, &flag));
  EXPECT_FALSE(HasEmbeddedSignature(path, &is_signed));
}

TEST_F(PeImageTest, EmbeddedSignatureFlag) {
  bool is_signed = false;
  EXPECT_TRUE(
      HasEmbeddedSignature(testing::AuthenticodeFixture("signed_expected.exe"), &is_signed));
  EXPECT_TRUE(is_signed);
  is_signed = true;
  EXPECT_TRUE(HasEmbeddedSignature(testing::AuthenticodeFixture("unsigned.exe"), &is_signed));
  EXPECT_FALSE(is_signed);
  // Cut inside the optional header, before the certificate-table entry.
  EXPECT_FALSE(HasEmbeddedSignature(testing::AuthenticodeFixture("truncated.exe"), &is_signed));
  EXPECT_FALSE(HasEmbeddedSignature(temp_dir_.GetPath().AppendASCII("missing.exe"), &is_signed));
}

}  // namespace

}  // namespace installer
