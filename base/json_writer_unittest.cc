#include "base/json_writer.h"

#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <string>

#include "base/json_reader.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// A tree with every type, awkward text and awkward numbers.
std::unique_ptr<DictValue> MakeEveryTypeTree() {
  auto root = std::make_unique<DictValue>();
  root->Set("null", Value::CreateNullValue());
  root->SetBoolean("true", true);
  root->SetBoolean("false", false);
  root->SetInteger("int_max", INT_MAX);
  root->SetInteger("int_min", INT_MIN);
  root->SetInteger("zero", 0);
  auto doubles = std::make_unique<ListValue>();
  for (double d : {1.0, -2.0, 0.0, 0.1, -1.5e-7, 1e21, 1e300, 5e-324, 2147483648.0,
                   std::numeric_limits<double>::max()})
    doubles->AppendDouble(d);
  root->Set("doubles", std::move(doubles));
  std::string controls;
  for (char c = 1; c < 0x20; ++c)
    controls.push_back(c);
  root->SetString("controls", controls);
  root->SetString("with_nul", std::string_view("a\0b", 3));
  root->SetString("quotes", "\"quoted\" \\back\\slash/ \x7F");
  root->SetString("unicode", L"caf\u00e9 \u0416 \u20ac \u2028 \U0001F600");
  root->SetStringWithoutPathExpansion("key.with.dots", "x");
  root->SetStringWithoutPathExpansion("\xD0\x96\n\"", "non-ASCII key");
  root->Set("empty_list", std::make_unique<ListValue>());
  root->Set("empty_dict", std::make_unique<DictValue>());
  root->SetInteger("deep.er.still", 3);
  auto list = std::make_unique<ListValue>();
  list->Append(root->CreateDeepCopy());
  list->Append(Value::CreateNullValue());
  root->Set("list_of_copy", std::move(list));
  return root;
}

void ExpectRoundTrip(const Value& value, int options) {
  std::string json;
  ASSERT_TRUE(JsonWriter::WriteWithOptions(value, options, &json));
  int code = -1;
  std::string message;
  std::unique_ptr<Value> read = JsonReader::ReadAndReturnError(json, &code, &message);
  ASSERT_TRUE(read) << message << "\n" << json;
  EXPECT_TRUE(value.Equals(read.get())) << json;
}

TEST(JsonWriterTest, RoundTripKeepsEveryType) {
  std::unique_ptr<DictValue> tree = MakeEveryTypeTree();
  ExpectRoundTrip(*tree, JsonWriter::kOptionsNone);
  ExpectRoundTrip(*tree, JsonWriter::kOptionsPrettyPrint);

  // Scalars as the root.
  ExpectRoundTrip(ScalarValue(3.0), JsonWriter::kOptionsNone);
  ExpectRoundTrip(ScalarValue(-0.0), JsonWriter::kOptionsNone);
  ExpectRoundTrip(TextValue(""), JsonWriter::kOptionsNone);
  ExpectRoundTrip(ScalarValue(), JsonWriter::kOptionsPrettyPrint);

  // Written control characters stay escapes, never raw bytes.
  std::string json;
  ASSERT_TRUE(JsonWriter::Write(*tree, &json));
  for (char c : json)
    EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << json;
}

TEST(JsonWriterTest, CompactForm) {
  DictValue dict;
  auto list = std::make_unique<ListValue>();
  list->AppendInteger(1);
  list->AppendDouble(2.0);
  list->AppendString("x");
  list->Append(std::make_unique<DictValue>());
  dict.Set("a", std::move(list));
  dict.Set("b.c", Value::CreateNullValue());
  dict.SetBoolean("b.d", true);
  dict.SetString("\xC3\xA9", "\t");
  std::string json;
  ASSERT_TRUE(JsonWriter::Write(dict, &json));
  EXPECT_EQ("{\"a\":[1,2.0,\"x\",{}],\"b\":{\"c\":null,\"d\":true},\"\xC3\xA9\":\"\\t\"}", json);
}

TEST(JsonWriterTest, Doubles) {
  struct Case {
    double value;
    const char* preserved;
    const char* omitted;
  } cases[] = {
      {1.0, "1.0", "1"},    {-3.0, "-3.0", "-3"},     {0.5, "0.5", "0.5"}, {1e21, "1e+21", "1e+21"},
      {-0.0, "-0.0", "-0"}, {1e-7, "1e-07", "1e-07"}, {0.1, "0.1", "0.1"},
  };
  for (const auto& c : cases) {
    std::string json;
    ASSERT_TRUE(JsonWriter::Write(ScalarValue(c.value), &json));
    EXPECT_EQ(c.preserved, json);
    // Whatever the form, it reads back as a double of the same value.
    std::unique_ptr<Value> read = JsonReader::Read(json);
    ASSERT_TRUE(read) << json;
    EXPECT_TRUE(read->IsType(Value::Type::kDouble)) << json;
    ASSERT_TRUE(JsonWriter::WriteWithOptions(
        ScalarValue(c.value), JsonWriter::kOptionsOmitDoubleTypePreservation, &json));
    EXPECT_EQ(c.omitted, json);
  }
}

TEST(JsonWriterTest, PrettyPrintForm) {
  DictValue dict;
  auto list = std::make_unique<ListValue>();
  list->AppendInteger(1);
  auto inner = std::make_unique<DictValue>();
  inner->SetString("k", "v");
  list->Append(std::move(inner));
  list->Append(std::make_unique<ListValue>());
  dict.Set("list", std::move(list));
  dict.Set("empty", std::make_unique<DictValue>());
  dict.SetDouble("n", 2.0);
  std::string json;
  ASSERT_TRUE(JsonWriter::WriteWithOptions(dict, JsonWriter::kOptionsPrettyPrint, &json));
  EXPECT_EQ(
      "{\n"
      "   \"empty\": {},\n"
      "   \"list\": [\n"
      "      1,\n"
      "      {\n"
      "         \"k\": \"v\"\n"
      "      },\n"
      "      []\n"
      "   ],\n"
      "   \"n\": 2.0\n"
      "}\n",
      json);

  ASSERT_TRUE(JsonWriter::WriteWithOptions(
      ScalarValue(2.0),
      JsonWriter::kOptionsPrettyPrint | JsonWriter::kOptionsOmitDoubleTypePreservation, &json));
  EXPECT_EQ("2\n", json);
}

TEST(JsonWriterTest, UnwritableValuesFail) {
  std::string json;
  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(JsonWriter::Write(ScalarValue(bad), &json));
    DictValue dict;
    dict.SetDouble("a.b", bad);
    EXPECT_FALSE(JsonWriter::Write(dict, &json));
  }

  // Text that is not UTF-8 would not read back.
  EXPECT_FALSE(JsonWriter::Write(TextValue(std::string_view("\xC0\xAF")), &json));
  DictValue bad_key;
  bad_key.SetIntegerWithoutPathExpansion("\xFF", 1);
  EXPECT_FALSE(JsonWriter::Write(bad_key, &json));

  // Nesting the reader accepts is written; one level more is not.
  auto build = [](int depth) {
    std::unique_ptr<Value> value = std::make_unique<ListValue>();
    for (int i = 1; i < depth; ++i) {
      auto outer = std::make_unique<ListValue>();
      outer->Append(std::move(value));
      value = std::move(outer);
    }
    return value;
  };
  std::unique_ptr<Value> at_limit = build(JsonReader::kMaxDepth);
  ExpectRoundTrip(*at_limit, JsonWriter::kOptionsNone);
  EXPECT_FALSE(JsonWriter::Write(*build(JsonReader::kMaxDepth + 1), &json));
}

}  // namespace
}  // namespace base
