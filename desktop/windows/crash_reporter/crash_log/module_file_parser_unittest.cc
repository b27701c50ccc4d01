#include "desktop/windows/crash_reporter/crash_log/module_file_parser.h"

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/scoped_generic.h"
#include "desktop/windows/installer/ipc/ipc_test_util.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using installer::test::ScopedLogCapture;

constexpr uint64_t kLoadAddress = 0x7FF612340000;

base::FilePath FixtureModulePath() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir.Append(L"crash_fixture.dll");
}

struct VirtualTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void*& memory) { ::VirtualFree(memory, 0, MEM_RELEASE); }
};
using ScopedVirtual = base::ScopedGeneric<void*, VirtualTraits>;

// Bytes placed so that they end where a no-access page begins: a read past
// the end faults instead of passing unnoticed.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::string& bytes) : size_(bytes.size()) {
    const size_t page = 4096;
    const size_t pages = (bytes.size() + page - 1) / page + 1;
    memory_.Reset(::VirtualAlloc(nullptr, pages * page, MEM_RESERVE, PAGE_NOACCESS));
    ::VirtualAlloc(memory_.Get(), (pages - 1) * page, MEM_COMMIT, PAGE_READWRITE);
    data_ = static_cast<uint8_t*>(memory_.Get()) + (pages - 1) * page - bytes.size();
    memcpy(data_, bytes.data(), bytes.size());
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  ScopedVirtual memory_;
  uint8_t* data_ = nullptr;
  size_t size_;
};

template <typename T>
T Get(const std::string& bytes, size_t offset) {
  T value;
  memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}
template <typename T>
void Set(std::string* bytes, size_t offset, T value) {
  memcpy(bytes->data() + offset, &value, sizeof(T));
}

class ModuleFileParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::ReadFileToString(FixtureModulePath(), &file_));
    nt_ = Get<int32_t>(file_, 0x3C);
    optional_ = nt_ + 4 + sizeof(IMAGE_FILE_HEADER);
    ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, Get<uint16_t>(file_, optional_));
  }

  size_t DirectoryOffset(int index) const {
    return optional_ + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) +
           index * sizeof(IMAGE_DATA_DIRECTORY);
  }
  // The file position of |rva|, found here the way a loader would.
  size_t FileOffset(uint32_t rva) const {
    auto file_header = Get<IMAGE_FILE_HEADER>(file_, nt_ + 4);
    size_t table = optional_ + file_header.SizeOfOptionalHeader;
    for (int i = 0; i < file_header.NumberOfSections; ++i) {
      auto section = Get<IMAGE_SECTION_HEADER>(file_, table + i * sizeof(IMAGE_SECTION_HEADER));
      if (rva >= section.VirtualAddress && rva < section.VirtualAddress + section.SizeOfRawData)
        return section.PointerToRawData + rva - section.VirtualAddress;
    }
    ADD_FAILURE() << "no section holds " << rva;
    return 0;
  }

  bool Parse(const std::string& bytes, ModuleFileData* data, const std::string& name = "") {
    GuardedBytes guarded(bytes);
    data->name = name;
    return ParseModuleFile(guarded.data(), guarded.size(), kLoadAddress, name, data);
  }

  std::string file_;
  size_t nt_ = 0;
  size_t optional_ = 0;
};

TEST_F(ModuleFileParserTest, ReadsTheFixtureModule) {
  ModuleFileData data;
  ASSERT_TRUE(Parse(file_, &data));
  EXPECT_EQ("crash_fixture.dll", data.name);  // from the export directory
  EXPECT_EQ("7.6.5.4", data.file_version);
  EXPECT_EQ(Get<IMAGE_FILE_HEADER>(file_, nt_ + 4).TimeDateStamp, data.time_stamp);
  auto optional = Get<IMAGE_OPTIONAL_HEADER64>(file_, optional_);
  EXPECT_EQ(kLoadAddress + optional.BaseOfCode + optional.SizeOfCode, data.code_end);

  ModuleFileData named;
  ASSERT_TRUE(Parse(file_, &named, "given.dll"));
  EXPECT_EQ("given.dll", named.name);
  EXPECT_EQ("7.6.5.4", named.file_version);
}

TEST_F(ModuleFileParserTest, OriginalFileNameWhenThereAreNoExports) {
  std::string bytes = file_;
  Set<IMAGE_DATA_DIRECTORY>(&bytes, DirectoryOffset(IMAGE_DIRECTORY_ENTRY_EXPORT), {0, 0});
  ScopedLogCapture log;
  ModuleFileData data;
  ASSERT_TRUE(Parse(bytes, &data));
  EXPECT_EQ("velmo_fixture_original.dll", data.name);
  EXPECT_EQ(1, log.Count("Could not find exports directory"));
}

TEST_F(ModuleFileParserTest, NotAPeFileKeepsNothing) {
  for (std::string bytes : {std::string(), std::string("MZ"), std::string(4096, 'x'), file_}) {
    if (bytes.size() > 0x40) {
      Set<int32_t>(&bytes, 0x3C, 0x7FFFFFF0);  // e_lfanew far past the end
      bytes[0] = bytes.size() == 4096 ? 'x' : 'M';
    }
    ScopedLogCapture log;
    ModuleFileData data;
    EXPECT_FALSE(Parse(bytes, &data, "bad.dll"));
    EXPECT_EQ(1, log.Count("GetNtHeaders failed for bad.dll"));
    EXPECT_EQ("bad.dll", data.name);
    EXPECT_EQ("", data.file_version);
    EXPECT_EQ(0u, data.time_stamp);
  }
  ScopedLogCapture log;
  ModuleFileData data;
  EXPECT_FALSE(Parse("MZ", &data));
  EXPECT_EQ(1, log.Count("GetNtHeaders failed for <unknown>"));
}

// Every prefix of the file parses or fails without reading past its end.
TEST_F(ModuleFileParserTest, TruncatedFilesNeverReadPastTheirEnd) {
  for (size_t size = 0; size < file_.size(); size += size < 1024 ? 7 : 509) {
    ModuleFileData data;
    Parse(file_.substr(0, size), &data);
  }
  // The version data cut inside "7.6.5.4": the value ends with the data.
  ModuleFileData data;
  auto resources =
      Get<IMAGE_DATA_DIRECTORY>(file_, DirectoryOffset(IMAGE_DIRECTORY_ENTRY_RESOURCE));
  size_t start = FileOffset(resources.VirtualAddress);
  const std::u16string key = u"FileVersion";
  std::string wide_key(reinterpret_cast<const char*>(key.data()), key.size() * 2);
  size_t key_at = file_.find(wide_key, start);
  ASSERT_NE(std::string::npos, key_at);
  size_t value_at = file_.find(std::string("7\0.\0", 4), key_at);
  ASSERT_NE(std::string::npos, value_at);
  ASSERT_TRUE(Parse(file_.substr(0, value_at + 6), &data));
  EXPECT_EQ("", data.file_version) << "the version data no longer fits the file";
}

// Offsets and counts in the headers and resource levels that point outside
// the file: each damage is logged and the rest of the module is kept.
TEST_F(ModuleFileParserTest, DamagedHeadersAndDirectories) {
  auto file_header = Get<IMAGE_FILE_HEADER>(file_, nt_ + 4);
  auto resources =
      Get<IMAGE_DATA_DIRECTORY>(file_, DirectoryOffset(IMAGE_DIRECTORY_ENTRY_RESOURCE));
  const size_t root = FileOffset(resources.VirtualAddress);
  struct Damage {
    const char* what;
    std::function<void(std::string*)> apply;
    const char* expected_log;
  };
  const std::vector<Damage> damages = {
      {"section count", [&](std::string* b) { Set<uint16_t>(b, nt_ + 6, 0xFFFF); }, nullptr},
      {"optional header past the end",
       [&](std::string* b) {
         Set<uint16_t>(b, nt_ + 4 + 16, 0xFFFF);
         b->resize(optional_ + 0x400);
       },
       "GetNtHeaders failed"},
      {"optional header size", [&](std::string* b) { Set<uint16_t>(b, nt_ + 4 + 16, 8); },
       "GetNtHeaders failed"},
      {"directory count",
       [&](std::string* b) {
         Set<uint32_t>(b, optional_ + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes), 1);
       },
       "Could not find resources directory in fixture.dll"},
      {"resource address",
       [&](std::string* b) {
         Set<uint32_t>(b, DirectoryOffset(IMAGE_DIRECTORY_ENTRY_RESOURCE), 0x7FFFFFF0);
       },
       "Could not find resources directory in fixture.dll"},
      {"root named entry count", [&](std::string* b) { Set<uint16_t>(b, root + 12, 0xFFFF); },
       "Could not find version resource in fixture.dll"},
      {"root entry offset",
       [&](std::string* b) { Set<uint32_t>(b, root + 16 + 4, 0x80000000u | 0x7FFFFFF0u); },
       "Could not find version resource in fixture.dll"},
      {"section raw data",
       [&](std::string* b) {
         size_t table = optional_ + file_header.SizeOfOptionalHeader;
         for (int i = 0; i < file_header.NumberOfSections; ++i) {
           Set<uint32_t>(b,
                         table + i * sizeof(IMAGE_SECTION_HEADER) +
                             offsetof(IMAGE_SECTION_HEADER, PointerToRawData),
                         0xFFFFFF00u);
         }
       },
       "Could not find resources directory in fixture.dll"},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    std::string bytes = file_;
    damage.apply(&bytes);
    ScopedLogCapture log;
    ModuleFileData data;
    bool parsed = Parse(bytes, &data, "fixture.dll");
    EXPECT_EQ("fixture.dll", data.name);
    if (damage.expected_log) {
      EXPECT_EQ(1, log.Count(damage.expected_log));
      EXPECT_EQ("", data.file_version);
    }
    if (parsed) {
      EXPECT_EQ(file_header.TimeDateStamp, data.time_stamp);
    }
  }
}

TEST(FindVersionStringTest, KeyRulesAndUnterminatedValues) {
  auto wide = [](const std::u16string& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  };
  std::string value;
  // Case-insensitive; the key must end with a zero or a blank.
  std::string data = wide(std::u16string(u"xFileVersionX\0\0\0FileVersion\0\0\0001.0\0", 36));
  ASSERT_TRUE(FindVersionString(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                "FILEVERSION", &value));
  EXPECT_EQ("1.0", value);
  data = wide(u"fileversion 2.5");
  ASSERT_TRUE(FindVersionString(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                "FILEVERSION", &value));
  EXPECT_EQ(" 2.5", value) << "a blank ends the key and is not skipped";
  EXPECT_FALSE(FindVersionString(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                 "ORIGINALFILENAME", &value));
  // No terminator: the value ends with the data, at most 127 characters.
  data = wide(u"FileVersion") + std::string(2, '\0') + wide(std::u16string(300, u'9'));
  ASSERT_TRUE(FindVersionString(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                "FILEVERSION", &value));
  EXPECT_EQ(std::string(127, '9'), value);
  // A key at the very end has no room for its terminator.
  data = wide(u"FileVersion");
  EXPECT_FALSE(FindVersionString(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                 "FILEVERSION", &value));
}

}  // namespace
}  // namespace crash_reporter
