#include "base/json_file_deserializer.h"

#include <windows.h>

#include <string>

#include "base/files/file_util.h"
#include "base/json_reader.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class JsonFileDeserializerTest : public testing::Test {
 protected:
  void SetUp() override {
    FilePath temp;
    ASSERT_TRUE(GetTempDirectory(&temp));
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = temp.AppendASCII(std::string("json_deserializer_") + info->name() + "_" +
                            std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(CreateDirectoryTree(dir_));
  }
  void TearDown() override { EXPECT_TRUE(DeletePath(dir_, true)); }

  FilePath WriteFile(std::wstring_view name, std::string_view contents) {
    FilePath path = dir_.Append(name);
    EXPECT_EQ(static_cast<int>(contents.size()),
              WriteFileBytes(path, contents.data(), static_cast<int>(contents.size())));
    return path;
  }

  FilePath dir_;
};

TEST_F(JsonFileDeserializerTest, GoodFile) {
  // A byte order mark and a non-ASCII file name, as editors leave them.
  FilePath path =
      WriteFile(L"prefs \u00e9.json",
                "\xEF\xBB\xBF{\r\n  \"installer\": {\"lang\": \"fr\"},\r\n  \"n\": 2\r\n}\r\n");
  int code = -1;
  std::string message = "stale";
  std::unique_ptr<Value> root = JsonFileDeserializer(path).Deserialize(&code, &message);
  ASSERT_TRUE(root);
  EXPECT_EQ(0, code);
  EXPECT_TRUE(message.empty());
  const DictValue* dict = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dict));
  std::string lang;
  EXPECT_TRUE(dict->GetString("installer.lang", &lang));
  EXPECT_EQ("fr", lang);

  // The out parameters are optional.
  EXPECT_TRUE(JsonFileDeserializer(path).Deserialize(nullptr, nullptr));
}

TEST_F(JsonFileDeserializerTest, UnreadableFile) {
  int code = 0;
  std::string message;
  EXPECT_FALSE(JsonFileDeserializer(dir_.Append(L"missing.json")).Deserialize(&code, &message));
  EXPECT_EQ(JsonFileDeserializer::kErrorCannotReadFile, code);
  EXPECT_NE(std::string::npos, message.find("missing.json")) << message;

  // A folder is no file.
  code = 0;
  EXPECT_FALSE(JsonFileDeserializer(dir_).Deserialize(&code, &message));
  EXPECT_EQ(JsonFileDeserializer::kErrorCannotReadFile, code);
}

TEST_F(JsonFileDeserializerTest, BadFile) {
  struct Case {
    const wchar_t* name;
    std::string_view contents;
    int error;
  } cases[] = {
      {L"truncated.json", "{\"a\": [1, 2", JsonReader::kUnexpectedEnd},
      {L"empty.json", "", JsonReader::kUnexpectedEnd},
      {L"comment.json", "{} // done", JsonReader::kCommentNotAllowed},
      {L"binary.json", std::string_view("\"\xFF\xFE\0\0\"", 6), JsonReader::kInvalidUtf8},
  };
  for (const auto& c : cases) {
    FilePath path = WriteFile(c.name, c.contents);
    int code = 0;
    std::string message;
    EXPECT_FALSE(JsonFileDeserializer(path).Deserialize(&code, &message)) << path;
    EXPECT_EQ(c.error, code) << path;
    EXPECT_NE(JsonFileDeserializer::kErrorCannotReadFile, code);
    EXPECT_EQ(0u, message.find("Line: 1, column: ")) << message;
  }
}

TEST(JsonStringDeserializerTest, ParsesText) {
  int code = -1;
  std::string message;
  std::unique_ptr<Value> root = JsonStringDeserializer("[1, \"x\"]").Deserialize(&code, &message);
  ASSERT_TRUE(root);
  EXPECT_EQ(0, code);
  const ListValue* list = nullptr;
  ASSERT_TRUE(root->GetAsList(&list));
  EXPECT_EQ(2u, list->size());

  EXPECT_FALSE(JsonStringDeserializer("[1, \"x\",]").Deserialize(&code, &message));
  EXPECT_EQ(JsonReader::kTrailingComma, code);
  EXPECT_EQ("Line: 1, column: 9, Trailing comma not allowed.", message);
  EXPECT_FALSE(JsonStringDeserializer("nope").Deserialize(nullptr, nullptr));
}

}  // namespace
}  // namespace base
