#include "base/trace_event/traced_value.h"

#include <string>

#include "base/json_reader.h"
#include "base/trace_event/heap_profiler_deduplicators.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace base::trace_event {
namespace {

std::string Json(const ConvertableToTraceFormat& value) {
  std::string out;
  value.AppendAsTraceFormat(&out);
  return out;
}

TEST(TracedValueTest, NestedContainersAndCopiedNames) {
  EXPECT_EQ("{}", Json(TracedValue()));

  TracedValue value;
  value.SetInteger("int", -7);
  value.SetDouble("double", 0.25);
  value.SetBoolean("bool", true);
  value.SetString("string", "a\"b");
  value.BeginArray("list");
  value.AppendInteger(1);
  value.BeginDictionary();
  value.SetStringWithCopiedName(std::string("copied ") + "key", "v");
  value.EndDictionary();
  value.BeginArray();
  value.AppendBoolean(false);
  value.EndArray();
  value.AppendString("s");
  value.AppendDouble(1.5);
  value.EndArray();
  value.BeginDictionaryWithCopiedName("inner");
  value.SetIntegerWithCopiedName("n", 3);
  value.EndDictionary();

  std::unique_ptr<Value> parsed = JsonReader::Read(Json(value));
  ASSERT_NE(nullptr, parsed) << Json(value);
  std::unique_ptr<DictValue> expected = value.ToValue();
  ASSERT_NE(nullptr, expected);
  EXPECT_TRUE(parsed->Equals(expected.get()));
  EXPECT_EQ(
      "{\"bool\":true,\"double\":0.25,\"inner\":{\"n\":3},\"int\":-7,"
      "\"list\":[1,{\"copied key\":\"v\"},[false],\"s\",1.5],\"string\":\"a\\\"b\"}",
      Json(value));

  TraceEventMemoryOverhead overhead;
  value.EstimateTraceMemoryOverhead(&overhead);
  const TraceEventMemoryOverhead::Entry* entry = overhead.Find(kOverheadTracedValue);
  ASSERT_NE(nullptr, entry);
  EXPECT_GE(entry->allocated_bytes, entry->resident_bytes);
  EXPECT_GT(entry->resident_bytes, 64u);
}

TEST(TracedValueTest, UnbalancedEndGivesNoValue) {
  TracedValue value;
  value.SetInteger("a", 1);
  value.EndDictionary();
  EXPECT_EQ(nullptr, value.ToValue());
  EXPECT_EQ("{}", Json(value));
}

TEST(HeapProfilerDeduplicatorTest, TypeNamesAreNumberedAndCleaned) {
  TypeNameDeduplicator types;
  EXPECT_EQ(0, types.Insert(nullptr));
  const int path = types.Insert("../../velmo/thing.cc");
  const int category = types.Insert("disabled-by-default-memory,more");
  EXPECT_EQ(path, types.Insert("../../velmo/thing.cc"));
  EXPECT_NE(path, category);
  EXPECT_EQ("velmo", TypeNameDeduplicator::CleanTypeName("../../velmo/thing.cc"));
  EXPECT_EQ("memory", TypeNameDeduplicator::CleanTypeName("disabled-by-default-memory,more"));
  EXPECT_EQ("a\\b", TypeNameDeduplicator::CleanTypeName("a\\b\\c.h"));

  std::unique_ptr<Value> parsed = JsonReader::Read(Json(types));
  DictValue* dict = nullptr;
  ASSERT_TRUE(parsed && parsed->GetAsDictionary(&dict)) << Json(types);
  EXPECT_EQ(3u, dict->size());
  std::string text;
  EXPECT_TRUE(dict->GetString("0", &text));
  EXPECT_EQ("[unknown]", text);
  EXPECT_TRUE(dict->GetString(std::to_string(path), &text));
  EXPECT_EQ("velmo", text);
  EXPECT_TRUE(dict->GetString(std::to_string(category), &text));
  EXPECT_EQ("memory", text);
}

TEST(HeapProfilerDeduplicatorTest, StackFramesShareTheirPrefixes) {
  using Frame = StackFrameDeduplicator::StackFrame;
  const Frame thread{Frame::Kind::kThreadName, "Main"};
  const Frame run{Frame::Kind::kTraceEventName, "Run"};
  const Frame pc{Frame::Kind::kProgramCounter, reinterpret_cast<const void*>(0xab)};
  StackFrameDeduplicator frames;
  const Frame first[] = {thread, run};
  const Frame second[] = {thread, run, pc};
  const Frame other_root[] = {run};
  EXPECT_EQ(1, frames.Insert(first, first + 2));
  EXPECT_EQ(2, frames.Insert(second, second + 3));
  EXPECT_EQ(1, frames.Insert(first, first + 2));
  EXPECT_EQ(3, frames.Insert(other_root, other_root + 1));
  EXPECT_EQ(-1, frames.Insert(first, first));

  std::unique_ptr<Value> parsed = JsonReader::Read(Json(frames));
  DictValue* dict = nullptr;
  ASSERT_TRUE(parsed && parsed->GetAsDictionary(&dict)) << Json(frames);
  std::string text;
  EXPECT_TRUE(dict->GetString("0.name", &text));
  EXPECT_EQ("[Thread: Main]", text);
  // A frame without parent has no "parent" member.
  EXPECT_FALSE(dict->GetString("0.parent", &text));
  EXPECT_FALSE(dict->GetString("3.parent", &text));
  EXPECT_TRUE(dict->GetString("2.name", &text));
  EXPECT_EQ("pc:ab", text);
  EXPECT_TRUE(dict->GetString("2.parent", &text));
  EXPECT_EQ("1", text);
}

}  // namespace
}  // namespace base::trace_event
