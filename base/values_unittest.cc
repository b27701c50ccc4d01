#include "base/values.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::unique_ptr<DictValue> MakeSampleTree() {
  auto root = std::make_unique<DictValue>();
  root->SetBoolean("flag", true);
  root->SetInteger("count", 7);
  root->SetDouble("ratio", 0.25);
  root->SetString("name", "velmo");
  root->Set("nothing", Value::CreateNullValue());
  root->SetInteger("nested.level.value", 3);
  auto list = std::make_unique<ListValue>();
  list->AppendInteger(1);
  list->AppendString("two");
  auto inner = std::make_unique<DictValue>();
  inner->SetString("k", "v");
  list->Append(std::move(inner));
  root->Set("items", std::move(list));
  return root;
}

TEST(ValuesTest, TypeNumbersAndTypedViews) {
  ScalarValue null_value;
  ScalarValue boolean(true);
  ScalarValue integer(42);
  ScalarValue real(2.5);
  TextValue text("abc");
  EXPECT_EQ(0, static_cast<int>(null_value.type()));
  EXPECT_EQ(1, static_cast<int>(boolean.type()));
  EXPECT_EQ(2, static_cast<int>(integer.type()));
  EXPECT_EQ(3, static_cast<int>(real.type()));
  EXPECT_EQ(4, static_cast<int>(text.type()));
  EXPECT_EQ(5, static_cast<int>(ListValue().type()));
  EXPECT_EQ(6, static_cast<int>(DictValue().type()));

  int i = -1;
  EXPECT_FALSE(boolean.GetAsInteger(&i));
  EXPECT_EQ(-1, i);  // Untouched on a type mismatch.
  EXPECT_TRUE(integer.GetAsInteger(&i));
  EXPECT_EQ(42, i);
  double d = 0;
  EXPECT_TRUE(integer.GetAsDouble(&d));  // Integers widen.
  EXPECT_EQ(42.0, d);
  EXPECT_FALSE(real.GetAsInteger(&i));  // Doubles never narrow.
  EXPECT_FALSE(null_value.GetAsBoolean(nullptr));
  std::string s;
  EXPECT_FALSE(integer.GetAsString(&s));
  EXPECT_TRUE(text.GetAsString(&s));
  EXPECT_EQ("abc", s);
  const ListValue* list = nullptr;
  EXPECT_FALSE(text.GetAsList(&list));
}

TEST(ValuesTest, TextFromUtf16) {
  TextValue text(std::wstring_view(L"\u00e9\U0001F600"));
  EXPECT_EQ("\xC3\xA9\xF0\x9F\x98\x80", text.GetString());
  std::wstring wide;
  ASSERT_TRUE(text.GetAsString(&wide));
  EXPECT_EQ(L"\u00e9\U0001F600", wide);
}

TEST(ValuesTest, DeepCopyIsIndependent) {
  std::unique_ptr<DictValue> original = MakeSampleTree();
  std::unique_ptr<Value> copy = original->CreateDeepCopy();
  ASSERT_TRUE(copy);
  EXPECT_TRUE(original->Equals(copy.get()));
  EXPECT_TRUE(copy->Equals(original.get()));

  const DictValue* copy_dict = nullptr;
  ASSERT_TRUE(copy->GetAsDictionary(&copy_dict));
  const ListValue* original_items = nullptr;
  const ListValue* copy_items = nullptr;
  ASSERT_TRUE(original->GetList("items", &original_items));
  ASSERT_TRUE(copy_dict->GetList("items", &copy_items));
  EXPECT_NE(original_items, copy_items);

  // Changes deep inside the original do not reach the copy.
  original->SetInteger("nested.level.value", 4);
  ListValue* items = nullptr;
  ASSERT_TRUE(original->GetList("items", &items));
  DictValue* inner = nullptr;
  ASSERT_TRUE(items->GetDictionary(2, &inner));
  inner->SetString("k", "changed");
  items->AppendInteger(99);

  int value = 0;
  EXPECT_TRUE(copy_dict->GetInteger("nested.level.value", &value));
  EXPECT_EQ(3, value);
  EXPECT_EQ(3u, copy_items->size());
  const DictValue* copy_inner = nullptr;
  ASSERT_TRUE(copy_items->GetDictionary(2, &copy_inner));
  std::string text;
  EXPECT_TRUE(copy_inner->GetString("k", &text));
  EXPECT_EQ("v", text);
  EXPECT_FALSE(original->Equals(copy.get()));

  // And destroying the original leaves the copy whole.
  original.reset();
  EXPECT_TRUE(copy_dict->GetString("name", &text));
  EXPECT_EQ("velmo", text);
}

TEST(ValuesTest, DottedPathsCreateIntermediateDictionaries) {
  DictValue dict;
  dict.SetInteger("a.b.c", 1);
  const DictValue* a = nullptr;
  const DictValue* b = nullptr;
  ASSERT_TRUE(dict.GetDictionary("a", &a));
  ASSERT_TRUE(dict.GetDictionary("a.b", &b));
  EXPECT_EQ(1u, dict.size());
  EXPECT_EQ(1u, a->size());
  int value = 0;
  EXPECT_TRUE(b->GetInteger("c", &value));
  EXPECT_EQ(1, value);

  // A second value below an existing dictionary keeps the first.
  dict.SetString("a.b.d", "x");
  EXPECT_TRUE(dict.GetInteger("a.b.c", &value));
  EXPECT_EQ(2u, b->size());

  // A path through a non-dictionary replaces it.
  dict.SetString("s", "text");
  dict.SetInteger("s.t", 5);
  EXPECT_TRUE(dict.GetInteger("s.t", &value));
  EXPECT_EQ(5, value);

  // Missing components and components that are no dictionary.
  EXPECT_FALSE(dict.Get("a.x.c", static_cast<const Value**>(nullptr)));
  EXPECT_FALSE(dict.Get("a.b.c.d", static_cast<const Value**>(nullptr)));
  EXPECT_FALSE(dict.GetInteger("a.b", &value));
}

TEST(ValuesTest, LiteralKeysWithDots) {
  DictValue dict;
  dict.SetStringWithoutPathExpansion("host.example.com", "literal");
  EXPECT_TRUE(dict.HasKey("host.example.com"));
  EXPECT_FALSE(dict.HasKey("host"));
  std::string text;
  EXPECT_TRUE(dict.GetString("host.example.com", &text));
  EXPECT_EQ("literal", text);
  EXPECT_TRUE(dict.GetStringWithoutPathExpansion("host.example.com", &text));

  // When both exist the literal key wins, even with a type that does not fit.
  dict.SetInteger("host.example.com", 8);  // Path: host -> example -> com.
  EXPECT_TRUE(dict.GetString("host.example.com", &text));
  EXPECT_EQ("literal", text);
  int value = 0;
  EXPECT_FALSE(dict.GetInteger("host.example.com", &value));
  const DictValue* host = nullptr;
  ASSERT_TRUE(dict.GetDictionaryWithoutPathExpansion("host", &host));
  EXPECT_TRUE(host->GetInteger("example.com", &value));
  EXPECT_EQ(8, value);

  // The path is followed once the literal key is gone.
  EXPECT_TRUE(dict.Remove("host.example.com", nullptr));
  EXPECT_FALSE(dict.HasKey("host.example.com"));
  EXPECT_TRUE(dict.GetInteger("host.example.com", &value));
  EXPECT_EQ(8, value);
}

TEST(ValuesTest, TypedDictionaryGetters) {
  std::unique_ptr<DictValue> dict = MakeSampleTree();
  dict->SetString("unicode", L"caf\u00e9");
  dict->SetStringWithoutPathExpansion("wide.key", std::wstring_view(L"\u0416"));

  bool flag = false;
  EXPECT_TRUE(dict->GetBoolean("flag", &flag));
  EXPECT_TRUE(flag);
  double ratio = 0;
  EXPECT_TRUE(dict->GetDouble("ratio", &ratio));
  EXPECT_EQ(0.25, ratio);
  EXPECT_TRUE(dict->GetDouble("count", &ratio));  // An integer reads as a double.
  EXPECT_EQ(7.0, ratio);

  std::string text = "unchanged";
  EXPECT_FALSE(dict->GetString("count", &text));
  EXPECT_FALSE(dict->GetString("missing", &text));
  EXPECT_FALSE(dict->GetString("nothing", &text));
  EXPECT_EQ("unchanged", text);

  EXPECT_TRUE(dict->GetStringASCII("name", &text));
  EXPECT_EQ("velmo", text);
  EXPECT_FALSE(dict->GetStringASCII("unicode", &text));
  EXPECT_EQ("velmo", text);
  std::wstring wide;
  EXPECT_TRUE(dict->GetString16("unicode", &wide));
  EXPECT_EQ(L"caf\u00e9", wide);
  EXPECT_TRUE(dict->GetString16("wide.key", &wide));
  EXPECT_EQ(L"\u0416", wide);

  ListValue* list = nullptr;
  EXPECT_TRUE(dict->GetList("items", &list));
  EXPECT_FALSE(dict->GetList("name", &list));
  DictValue* sub = nullptr;
  EXPECT_FALSE(dict->GetDictionary("items", &sub));
  EXPECT_TRUE(dict->GetDictionary("nested.level", &sub));

  // Non-const lookups hand out the stored value itself.
  Value* stored = nullptr;
  ASSERT_TRUE(dict->Get("nested.level.value", &stored));
  EXPECT_TRUE(stored->Equals(std::make_unique<ScalarValue>(3).get()));
}

TEST(ValuesTest, DictionaryRemove) {
  std::unique_ptr<DictValue> dict = MakeSampleTree();
  std::unique_ptr<Value> removed;
  EXPECT_TRUE(dict->Remove("nested.level.value", &removed));
  ASSERT_TRUE(removed);
  int value = 0;
  EXPECT_TRUE(removed->GetAsInteger(&value));
  EXPECT_EQ(3, value);
  // Only the leaf goes; its parents stay.
  const DictValue* level = nullptr;
  ASSERT_TRUE(dict->GetDictionary("nested.level", &level));
  EXPECT_TRUE(level->empty());

  EXPECT_FALSE(dict->Remove("nested.level.value", &removed));
  EXPECT_FALSE(dict->Remove("nested.none.value", nullptr));
  EXPECT_FALSE(dict->Remove("absent", nullptr));

  size_t before = dict->size();
  EXPECT_TRUE(dict->RemoveWithoutPathExpansion("name", nullptr));
  EXPECT_EQ(before - 1, dict->size());
  EXPECT_FALSE(dict->RemoveWithoutPathExpansion("nested.level", nullptr));
}

TEST(ValuesTest, DictionaryIteratesInKeyOrder) {
  DictValue dict;
  for (const char* key : {"b", "a", "c", "B", "a.b", "aa"})
    dict.SetIntegerWithoutPathExpansion(key, 1);
  dict.SetIntegerWithoutPathExpansion("a", 2);  // Replaces, does not add.
  std::vector<std::string> keys;
  for (DictValue::Iterator it(dict); !it.IsAtEnd(); it.Advance())
    keys.push_back(it.key());
  EXPECT_EQ((std::vector<std::string>{"B", "a", "a.b", "aa", "b", "c"}), keys);
  int value = 0;
  EXPECT_TRUE(dict.GetInteger("a", &value));
  EXPECT_EQ(2, value);

  DictValue empty;
  EXPECT_TRUE(DictValue::Iterator(empty).IsAtEnd());
}

TEST(ValuesTest, MissingValuesAreRefused) {
  DictValue dict;
  EXPECT_EQ(nullptr, dict.Set("a.b", nullptr));
  EXPECT_TRUE(dict.empty());
  EXPECT_EQ(nullptr, dict.SetWithoutPathExpansion("a", nullptr));
  ListValue list;
  list.Append(nullptr);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(list.Set(0, nullptr));
  EXPECT_TRUE(list.empty());
}

TEST(ValuesTest, ListSetPadsWithNulls) {
  ListValue list;
  ASSERT_TRUE(list.Set(3, std::make_unique<ScalarValue>(4)));
  ASSERT_EQ(4u, list.size());
  for (size_t i = 0; i < 3; ++i) {
    const Value* value = nullptr;
    ASSERT_TRUE(list.Get(i, &value));
    EXPECT_TRUE(value->IsType(Value::Type::kNull)) << i;
  }
  // Inside the list Set replaces; at the end it appends.
  ASSERT_TRUE(list.Set(1, std::make_unique<TextValue>("one")));
  ASSERT_TRUE(list.Set(4, std::make_unique<ScalarValue>(true)));
  EXPECT_EQ(5u, list.size());
  std::string text;
  EXPECT_TRUE(list.GetString(1, &text));
  EXPECT_EQ("one", text);
  bool flag = false;
  EXPECT_TRUE(list.GetBoolean(4, &flag));
  EXPECT_TRUE(flag);

  EXPECT_FALSE(list.Set(ListValue::kMaxSetIndex, std::make_unique<ScalarValue>(1)));
  EXPECT_EQ(5u, list.size());
}

TEST(ValuesTest, ListAccessRemoveAndOrder) {
  ListValue list;
  for (int i = 0; i < 5; ++i)
    list.AppendInteger(i * 10);
  list.AppendString(std::wstring_view(L"w"));

  std::vector<int> seen;
  for (const auto& item : list) {
    int value = 0;
    if (item->GetAsInteger(&value))
      seen.push_back(value);
  }
  EXPECT_EQ((std::vector<int>{0, 10, 20, 30, 40}), seen);

  int value = 0;
  EXPECT_FALSE(list.GetInteger(6, &value));
  EXPECT_FALSE(list.GetInteger(5, &value));  // A string.
  const DictValue* dict = nullptr;
  EXPECT_FALSE(list.GetDictionary(0, &dict));
  EXPECT_FALSE(list.GetDictionary(100, &dict));

  std::unique_ptr<Value> removed;
  EXPECT_TRUE(list.Remove(1, &removed));
  EXPECT_TRUE(removed->GetAsInteger(&value));
  EXPECT_EQ(10, value);
  EXPECT_EQ(5u, list.size());
  EXPECT_TRUE(list.GetInteger(1, &value));
  EXPECT_EQ(20, value);  // Later entries moved down.
  EXPECT_FALSE(list.Remove(5, nullptr));
  EXPECT_TRUE(list.Remove(4, nullptr));
  EXPECT_EQ(4u, list.size());
}

TEST(ValuesTest, Equals) {
  std::unique_ptr<DictValue> a = MakeSampleTree();
  std::unique_ptr<DictValue> b = MakeSampleTree();
  EXPECT_TRUE(a->Equals(b.get()));
  EXPECT_FALSE(a->Equals(nullptr));

  // An integer never equals a double of the same amount.
  EXPECT_FALSE(ScalarValue(1).Equals(std::make_unique<ScalarValue>(1.0).get()));
  EXPECT_TRUE(ScalarValue(1.5).Equals(std::make_unique<ScalarValue>(1.5).get()));
  EXPECT_FALSE(ScalarValue(false).Equals(std::make_unique<ScalarValue>(0).get()));
  EXPECT_TRUE(ScalarValue().Equals(Value::CreateNullValue().get()));
  EXPECT_FALSE(TextValue("").Equals(Value::CreateNullValue().get()));

  b->SetDouble("ratio", 0.5);
  EXPECT_FALSE(a->Equals(b.get()));
  b = MakeSampleTree();
  b->SetInteger("extra", 1);
  EXPECT_FALSE(a->Equals(b.get()));
  EXPECT_FALSE(b->Equals(a.get()));
  b = MakeSampleTree();
  b->RemoveWithoutPathExpansion("count", nullptr);
  b->SetInteger("count2", 7);  // Same size, other key.
  EXPECT_FALSE(a->Equals(b.get()));

  ListValue l1;
  ListValue l2;
  l1.AppendInteger(1);
  l1.AppendInteger(2);
  l2.AppendInteger(2);
  l2.AppendInteger(1);
  EXPECT_FALSE(l1.Equals(&l2));
  l2.Clear();
  l2.AppendInteger(1);
  EXPECT_FALSE(l1.Equals(&l2));
  l2.AppendInteger(2);
  EXPECT_TRUE(l1.Equals(&l2));
  EXPECT_FALSE(l1.Equals(a.get()));
}

}  // namespace
}  // namespace base
