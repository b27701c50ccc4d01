#include "base/json_reader.h"

#include <cmath>
#include <memory>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

std::unique_ptr<Value> ReadOk(std::string_view json) {
  int code = -1;
  std::string message = "stale";
  std::unique_ptr<Value> value = JsonReader::ReadAndReturnError(json, &code, &message);
  EXPECT_TRUE(value) << "input: " << json << " error: " << message;
  EXPECT_EQ(JsonReader::kNoError, code);
  EXPECT_TRUE(message.empty());
  return value;
}

int ReadError(std::string_view json) {
  int code = JsonReader::kNoError;
  std::string message;
  std::unique_ptr<Value> value = JsonReader::ReadAndReturnError(json, &code, &message);
  EXPECT_FALSE(value) << "input accepted: " << json;
  EXPECT_FALSE(message.empty());
  return code;
}

std::string ReadString(std::string_view json) {
  std::unique_ptr<Value> value = ReadOk(json);
  std::string text;
  EXPECT_TRUE(value && value->GetAsString(&text)) << json;
  return text;
}

TEST(JsonReaderTest, Scalars) {
  bool flag = false;
  EXPECT_TRUE(ReadOk("true")->GetAsBoolean(&flag));
  EXPECT_TRUE(flag);
  EXPECT_TRUE(ReadOk(" \t\r\nfalse \n")->GetAsBoolean(&flag));
  EXPECT_FALSE(flag);
  EXPECT_TRUE(ReadOk("null")->IsType(Value::Type::kNull));
  EXPECT_EQ("a b", ReadString("\"a b\""));
  EXPECT_EQ("", ReadString("\"\""));
}

TEST(JsonReaderTest, Numbers) {
  struct IntCase {
    const char* json;
    int expected;
  } int_cases[] = {
      {"0", 0},
      {"-0", 0},
      {"7", 7},
      {"-12", -12},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
  };
  for (const auto& c : int_cases) {
    std::unique_ptr<Value> value = ReadOk(c.json);
    int result = 0;
    ASSERT_TRUE(value->GetAsInteger(&result)) << c.json;
    EXPECT_EQ(c.expected, result) << c.json;
  }

  // Anything with a fraction or exponent, or beyond 32 bits, is a double.
  struct DoubleCase {
    const char* json;
    double expected;
  } double_cases[] = {
      {"1.5", 1.5},
      {"-0.5e-1", -0.05},
      {"1e3", 1000.0},
      {"1E+2", 100.0},
      {"0.0", 0.0},
      {"2147483648", 2147483648.0},
      {"-2147483649", -2147483649.0},
      {"12345678901234567890", 12345678901234567890.0},
      {"1e0", 1.0},  // An exponent alone makes it a double.
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"1e-400", 0.0},  // Underflow reads as zero.
  };
  for (const auto& c : double_cases) {
    std::unique_ptr<Value> value = ReadOk(c.json);
    ASSERT_TRUE(value) << c.json;
    EXPECT_TRUE(value->IsType(Value::Type::kDouble)) << c.json;
    double result = -1;
    ASSERT_TRUE(value->GetAsDouble(&result)) << c.json;
    EXPECT_EQ(c.expected, result) << c.json;
  }
  double negative_zero = 1;
  ASSERT_TRUE(ReadOk("-0.0")->GetAsDouble(&negative_zero));
  EXPECT_TRUE(std::signbit(negative_zero));
}

TEST(JsonReaderTest, Containers) {
  std::unique_ptr<Value> root =
      ReadOk(" { \"list\" : [ 1 , \"two\" , [ ] , { } , null ] , \"a.b\" : { \"c\" : true } } ");
  const DictValue* dict = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dict));
  EXPECT_EQ(2u, dict->size());
  const ListValue* list = nullptr;
  ASSERT_TRUE(dict->GetList("list", &list));
  ASSERT_EQ(5u, list->size());
  std::string text;
  EXPECT_TRUE(list->GetString(1, &text));
  EXPECT_EQ("two", text);
  const ListValue* empty_list = nullptr;
  ASSERT_TRUE(list->GetList(2, &empty_list));
  EXPECT_TRUE(empty_list->empty());
  const DictValue* empty_dict = nullptr;
  ASSERT_TRUE(list->GetDictionary(3, &empty_dict));
  EXPECT_TRUE(empty_dict->empty());
  // Keys are stored literally, dots included.
  EXPECT_TRUE(dict->HasKey("a.b"));

  // A repeated key keeps its last value.
  root = ReadOk("{\"k\": 1, \"k\": [2]}");
  ASSERT_TRUE(root->GetAsDictionary(&dict));
  EXPECT_EQ(1u, dict->size());
  EXPECT_TRUE(dict->GetList("k", &list));
}

TEST(JsonReaderTest, MalformedInputIsRejected) {
  struct Case {
    std::string json;
    int error;
  } cases[] = {
      // Nothing, or not a value.
      {"", JsonReader::kUnexpectedEnd},
      {"  \n ", JsonReader::kUnexpectedEnd},
      {",", JsonReader::kUnexpectedToken},
      {"]", JsonReader::kUnexpectedToken},
      {"'a'", JsonReader::kUnexpectedToken},
      {"tru", JsonReader::kUnexpectedEnd},
      {"trUe", JsonReader::kUnexpectedToken},
      {"nul", JsonReader::kUnexpectedEnd},
      {"NaN", JsonReader::kUnexpectedToken},
      {"Infinity", JsonReader::kUnexpectedToken},
      {"undefined", JsonReader::kUnexpectedToken},
      // Trailing commas and comments.
      {"[1,]", JsonReader::kTrailingComma},
      {"[1 , ]", JsonReader::kTrailingComma},
      {"{\"a\":1,}", JsonReader::kTrailingComma},
      {"[,1]", JsonReader::kUnexpectedToken},
      {"[1,,2]", JsonReader::kUnexpectedToken},
      {"// c\n1", JsonReader::kCommentNotAllowed},
      {"/* c */ 1", JsonReader::kCommentNotAllowed},
      {"[1 /* c */]", JsonReader::kCommentNotAllowed},
      {"1 // c", JsonReader::kCommentNotAllowed},
      {"{\"a\"/**/:1}", JsonReader::kCommentNotAllowed},
      // Structure.
      {"[1 2]", JsonReader::kSyntaxError},
      {"{\"a\" 1}", JsonReader::kSyntaxError},
      {"{\"a\":1 \"b\":2}", JsonReader::kSyntaxError},
      {"{\"a\":}", JsonReader::kUnexpectedToken},
      {"{a:1}", JsonReader::kUnquotedDictionaryKey},
      {"{'a':1}", JsonReader::kUnexpectedToken},
      {"{1:1}", JsonReader::kUnquotedDictionaryKey},
      {"[", JsonReader::kUnexpectedEnd},
      {"[1", JsonReader::kUnexpectedEnd},
      {"{", JsonReader::kUnexpectedEnd},
      {"{\"a\"", JsonReader::kUnexpectedEnd},
      {"{\"a\":1", JsonReader::kUnexpectedEnd},
      {"[1]]", JsonReader::kUnexpectedDataAfterRoot},
      {"[1] x", JsonReader::kUnexpectedDataAfterRoot},
      {"1 2", JsonReader::kUnexpectedDataAfterRoot},
      {"truex", JsonReader::kUnexpectedDataAfterRoot},
      {"{} {}", JsonReader::kUnexpectedDataAfterRoot},
      {std::string("[1]\0", 4), JsonReader::kUnexpectedDataAfterRoot},
      {std::string("[1,\0]", 5), JsonReader::kUnexpectedToken},
      {"\v1", JsonReader::kUnexpectedToken},  // Only JSON's four whitespace kinds.
      // Numbers.
      {"01", JsonReader::kInvalidNumber},
      {"-01", JsonReader::kInvalidNumber},
      {"00", JsonReader::kInvalidNumber},
      {"-", JsonReader::kInvalidNumber},
      {"-a", JsonReader::kInvalidNumber},
      {"- 1", JsonReader::kInvalidNumber},
      {"1.", JsonReader::kInvalidNumber},
      {"1.e5", JsonReader::kInvalidNumber},
      {".5", JsonReader::kUnexpectedToken},
      {"1e", JsonReader::kInvalidNumber},
      {"1e+", JsonReader::kInvalidNumber},
      {"1E-x", JsonReader::kInvalidNumber},
      {"+1", JsonReader::kUnexpectedToken},
      {"-Infinity", JsonReader::kInvalidNumber},
      {"0x10", JsonReader::kUnexpectedDataAfterRoot},
      {"1.5.3", JsonReader::kUnexpectedDataAfterRoot},
      {"1e400", JsonReader::kNumberOutOfRange},
      {"-1e400", JsonReader::kNumberOutOfRange},
      {"[1e99999999999999999999]", JsonReader::kNumberOutOfRange},
      // Strings.
      {"\"abc", JsonReader::kUnexpectedEnd},
      {"\"abc\\", JsonReader::kUnexpectedEnd},
      {"\"\\x\"", JsonReader::kInvalidEscape},
      {"\"\\'\"", JsonReader::kInvalidEscape},
      {"\"\\U0041\"", JsonReader::kInvalidEscape},
      {"\"\\u12\"", JsonReader::kInvalidEscape},
      {"\"\\u12G4\"", JsonReader::kInvalidEscape},
      {"\"\\u12", JsonReader::kInvalidEscape},
      {"\"\\uD83D\\u12\"", JsonReader::kInvalidEscape},
      {"\"a\x01\"", JsonReader::kControlCharacterInString},
      {"\"tab\there\"", JsonReader::kControlCharacterInString},
      {"\"line\nbreak\"", JsonReader::kControlCharacterInString},
      {std::string("\"nul\0\"", 6), JsonReader::kControlCharacterInString},
      // Ill-formed UTF-8 in strings.
      {"\"\xFF\"", JsonReader::kInvalidUtf8},
      {"\"\x80\"", JsonReader::kInvalidUtf8},
      {"\"\xC0\xAF\"", JsonReader::kInvalidUtf8},          // Overlong '/'.
      {"\"\xC1\xBF\"", JsonReader::kInvalidUtf8},          // Overlong.
      {"\"\xE0\x80\xAF\"", JsonReader::kInvalidUtf8},      // Overlong, 3 bytes.
      {"\"\xF0\x80\x80\xAF\"", JsonReader::kInvalidUtf8},  // Overlong, 4 bytes.
      {"\"\xED\xA0\x80\"", JsonReader::kInvalidUtf8},      // Encoded surrogate.
      {"\"\xF4\x90\x80\x80\"", JsonReader::kInvalidUtf8},  // Past U+10FFFF.
      {"\"\xF5\x80\x80\x80\"", JsonReader::kInvalidUtf8},
      {"\"\xE2\x82\"", JsonReader::kInvalidUtf8},  // Truncated.
      {"\"\xE2\x82", JsonReader::kInvalidUtf8},    // Truncated at the end.
      {"\"\xC3\"", JsonReader::kInvalidUtf8},
      {"{\"\xC3(\":1}", JsonReader::kInvalidUtf8},  // In a key.
      // Byte order marks other than one leading UTF-8 mark.
      {"\xEF\xBB\xBF\xEF\xBB\xBF"
       "1",
       JsonReader::kUnexpectedToken},
      {"1\xEF\xBB\xBF", JsonReader::kUnexpectedDataAfterRoot},
      {"\xFF\xFE"
       "1",
       JsonReader::kUnexpectedToken},
      {"\xEF\xBB", JsonReader::kUnexpectedToken},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error, ReadError(c.json)) << "input: " << c.json;
  }
  EXPECT_FALSE(JsonReader::Read("[1,]"));
}

TEST(JsonReaderTest, ErrorMessageNamesLineAndColumn) {
  int code = 0;
  std::string message;
  EXPECT_FALSE(JsonReader::ReadAndReturnError("{\n  \"a\": x\n}", &code, &message));
  EXPECT_EQ(JsonReader::kUnexpectedToken, code);
  EXPECT_EQ("Line: 2, column: 8, Unexpected token.", message);

  EXPECT_FALSE(JsonReader::ReadAndReturnError("[1,\n2,\n]", &code, &message));
  EXPECT_EQ("Line: 3, column: 1, Trailing comma not allowed.", message);

  // The out parameters are optional.
  EXPECT_FALSE(JsonReader::ReadAndReturnError("[", nullptr, nullptr));
  EXPECT_TRUE(JsonReader::ReadAndReturnError("[]", nullptr, nullptr));
}

TEST(JsonReaderTest, NestingDepthIsCapped) {
  auto nested_lists = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  auto nested_dicts = [](int depth) {
    std::string json;
    for (int i = 0; i < depth; ++i)
      json += "{\"k\":";
    json += "1";
    json += std::string(depth, '}');
    return json;
  };

  ASSERT_TRUE(ReadOk(nested_lists(JsonReader::kMaxDepth)));
  EXPECT_EQ(JsonReader::kTooMuchNesting, ReadError(nested_lists(JsonReader::kMaxDepth + 1)));
  ASSERT_TRUE(ReadOk(nested_dicts(JsonReader::kMaxDepth)));
  EXPECT_EQ(JsonReader::kTooMuchNesting, ReadError(nested_dicts(JsonReader::kMaxDepth + 1)));

  // Depth counts open containers, not every container seen: siblings at the
  // limit are fine.
  std::string siblings = std::string(JsonReader::kMaxDepth - 1, '[') + "[],[],{}" +
                         std::string(JsonReader::kMaxDepth - 1, ']');
  EXPECT_TRUE(ReadOk(siblings));

  // Hostile depths fail quickly instead of exhausting the stack.
  EXPECT_EQ(JsonReader::kTooMuchNesting, ReadError(std::string(100000, '[')));
  std::string deep_dicts;
  for (int i = 0; i < 100000; ++i)
    deep_dicts += "{\"a\":";
  EXPECT_EQ(JsonReader::kTooMuchNesting, ReadError(deep_dicts));
  EXPECT_EQ(JsonReader::kTooMuchNesting, ReadError(nested_lists(100000)));
}

TEST(JsonReaderTest, ByteOrderMarkIsSkipped) {
  std::unique_ptr<Value> root = ReadOk("\xEF\xBB\xBF{\"a\":1}");
  const DictValue* dict = nullptr;
  ASSERT_TRUE(root->GetAsDictionary(&dict));
  int value = 0;
  EXPECT_TRUE(dict->GetInteger("a", &value));
  EXPECT_EQ(1, value);
  EXPECT_EQ(JsonReader::kUnexpectedEnd, ReadError("\xEF\xBB\xBF"));
}

TEST(JsonReaderTest, StringEscapes) {
  EXPECT_EQ("\"\\/\b\f\n\r\t", ReadString("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""));
  EXPECT_EQ("A", ReadString("\"\\u0041\""));
  EXPECT_EQ("\xC3\xA9", ReadString("\"\\u00e9\""));
  EXPECT_EQ("\xC3\xA9", ReadString("\"\\u00E9\""));
  EXPECT_EQ("\xE2\x82\xAC", ReadString("\"\\u20AC\""));
  EXPECT_EQ(std::string("a\0b", 3), ReadString("\"a\\u0000b\""));
  // Surrogate pairs join into one character.
  EXPECT_EQ("\xF0\x9F\x98\x80", ReadString("\"\\uD83D\\uDE00\""));
  EXPECT_EQ("\xF4\x8F\xBF\xBF", ReadString("\"\\udbff\\udfff\""));
  // Lone surrogates become U+FFFD; what follows is read normally.
  EXPECT_EQ("\xEF\xBF\xBD", ReadString("\"\\uD83D\""));
  EXPECT_EQ("\xEF\xBF\xBDx", ReadString("\"\\uD83Dx\""));
  EXPECT_EQ("\xEF\xBF\xBD\n", ReadString("\"\\uD83D\\n\""));
  EXPECT_EQ("\xEF\xBF\xBD", ReadString("\"\\uDE00\""));
  EXPECT_EQ("\xEF\xBF\xBD\xF0\x9F\x98\x80", ReadString("\"\\uD83D\\uD83D\\uDE00\""));
  EXPECT_EQ(
      "\xEF\xBF\xBD"
      "A",
      ReadString("\"\\uD83D\\u0041\""));
  // Well-formed UTF-8 passes through unchanged, up to U+10FFFF.
  const std::string raw = "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF \x7F\"";
  EXPECT_EQ(raw.substr(1, raw.size() - 2), ReadString(raw));
}

}  // namespace
}  // namespace base
