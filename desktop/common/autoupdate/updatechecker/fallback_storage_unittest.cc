#include "desktop/common/autoupdate/updatechecker/fallback_storage.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json_reader.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace autoupdate {
namespace {

class FallbackStorageTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_dir_.CreateUniqueTempDir());
    path_ = temp_dir_.GetPath().Append(L"au_global_storage");
  }

  void WriteFile(const std::string& contents) {
    ASSERT_EQ(static_cast<int>(contents.size()),
              base::WriteFileBytes(path_, contents.data(), static_cast<int>(contents.size())));
  }

  std::string ReadFile(const base::FilePath& path) {
    std::string contents;
    EXPECT_TRUE(base::ReadFileToString(path, &contents));
    return contents;
  }

  base::ScopedTempDir temp_dir_;
  base::FilePath path_;
};

TEST_F(FallbackStorageTest, FileFormatRoundTrip) {
  WriteFile(R"({"kept": {"x": 1}, "GS": {"A": "1"}})");
  {
    FallbackStorage storage(path_);
    EXPECT_TRUE(storage.WriteFallbackValue("UUID", "0a1b"));
    EXPECT_TRUE(storage.WriteFallbackValue("a.b", "dotted"));
    EXPECT_TRUE(storage.WriteFallbackValue("A", ""));
    EXPECT_TRUE(storage.WriteFallbackValue("missing", ""));
  }
  // The file is JSON holding the names as literal keys of "GS"; other
  // top-level keys survive.
  std::unique_ptr<base::Value> root = base::JsonReader::Read(ReadFile(path_));
  const base::DictValue* dict = nullptr;
  ASSERT_TRUE(root && root->GetAsDictionary(&dict));
  int kept = 0;
  EXPECT_TRUE(dict->GetInteger("kept.x", &kept));
  EXPECT_EQ(1, kept);
  const base::DictValue* values = nullptr;
  ASSERT_TRUE(dict->GetDictionaryWithoutPathExpansion("GS", &values));
  EXPECT_EQ(2u, values->size());
  std::string value;
  EXPECT_TRUE(values->GetStringWithoutPathExpansion("a.b", &value));
  EXPECT_EQ("dotted", value);

  FallbackStorage reread(path_);
  EXPECT_TRUE(reread.ReadFallbackValue("UUID", &value));
  EXPECT_EQ("0a1b", value);
  EXPECT_TRUE(reread.ReadFallbackValue("A", &value));
  EXPECT_EQ("", value);
  std::unique_ptr<base::DictValue> copy;
  ASSERT_TRUE(reread.ReadFallbackDictionary(&copy));
  EXPECT_TRUE(copy->Equals(values));
}

TEST_F(FallbackStorageTest, MissingFileAndMissingObjectReadEmpty) {
  std::string value = "stale";
  {
    FallbackStorage storage(path_);
    EXPECT_TRUE(storage.ReadFallbackValue("UUID", &value));
    EXPECT_EQ("", value);
    EXPECT_TRUE(storage.WriteFallbackValue("UUID", ""));  // Nothing to remove ...
  }
  EXPECT_FALSE(base::PathExists(path_));  // ... so no file is made.

  WriteFile(R"({"other": 1})");
  FallbackStorage storage(path_);
  value = "stale";
  EXPECT_TRUE(storage.ReadFallbackValue("UUID", &value));
  EXPECT_EQ("", value);
}

TEST_F(FallbackStorageTest, CorruptFileIsKeptAsideAndRewritten) {
  const std::string corrupt = R"({"GS": {"UUID": "lost)";
  WriteFile(corrupt);
  {
    FallbackStorage storage(path_);
    EXPECT_EQ(FallbackStorage::ReadState::kCorrupt, storage.read_state());
    std::string value = "stale";
    EXPECT_FALSE(storage.ReadFallbackValue("UUID", &value));
    EXPECT_EQ("", value);
    std::unique_ptr<base::DictValue> values;
    EXPECT_FALSE(storage.ReadFallbackDictionary(&values));
    EXPECT_EQ(corrupt, ReadFile(path_.AddExtension(L"bad")));
    // A write starts afresh.
    EXPECT_TRUE(storage.WriteFallbackValue("UUID", "new"));
    EXPECT_TRUE(storage.ReadFallbackValue("UUID", &value));
    EXPECT_EQ("new", value);
  }
  FallbackStorage reread(path_);
  std::string value;
  EXPECT_TRUE(reread.ReadFallbackValue("UUID", &value));
  EXPECT_EQ("new", value);

  // A "GS" that is no object fails reads and is replaced by a write.
  WriteFile(R"({"GS": "text"})");
  FallbackStorage wrong_type(path_);
  EXPECT_FALSE(wrong_type.ReadFallbackValue("UUID", &value));
  EXPECT_TRUE(wrong_type.WriteFallbackValue("UUID", "x"));
  EXPECT_TRUE(wrong_type.ReadFallbackValue("UUID", &value));
  EXPECT_EQ("x", value);
}

TEST_F(FallbackStorageTest, UnreadableFileIsNeverOverwritten) {
  WriteFile(R"({"GS": {"UUID": "precious"}})");
  // Another process holds the file open without sharing.
  base::win::ScopedHandle lock(CreateFileW(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(lock.IsValid());
  {
    FallbackStorage storage(path_);
    EXPECT_TRUE(storage.read_only());
    std::string value;
    EXPECT_FALSE(storage.ReadFallbackValue("UUID", &value));
    EXPECT_FALSE(storage.WriteFallbackValue("UUID", "clobbered"));
  }
  lock.Reset();
  EXPECT_EQ(R"({"GS": {"UUID": "precious"}})", ReadFile(path_));
}

}  // namespace
}  // namespace autoupdate
