#include "base/trace_event/trace_event.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "base/json_reader.h"
#include "base/trace_event/string_tokenizer.h"
#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base::trace_event {
namespace {

TraceCategory g_category("cat\"egory");

std::string ValueJson(uint8_t type, uint64_t value) {
  std::string out;
  TraceEvent::AppendValueAsJSON(type, value, &out);
  return out;
}

std::string DoubleJson(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  return ValueJson(TRACE_VALUE_TYPE_DOUBLE, bits);
}

std::string EventJson(const TraceEvent& event) {
  std::string out;
  event.AppendAsJSON(&out, 4321, nullptr);
  return out;
}

// An event without arguments.
void InitPlain(TraceEvent* event, char phase, uint32_t flags, int thread_id = 7,
               const char* scope = nullptr) {
  event->Initialize(thread_id, 100, 0, phase, &g_category, "name", scope, 0x2a, 0x2b, 0, nullptr,
                    nullptr, nullptr, nullptr, flags);
}

TEST(TraceEventTest, ValuesPrintByType) {
  EXPECT_EQ("true", ValueJson(TRACE_VALUE_TYPE_BOOL, 0x101));
  EXPECT_EQ("false", ValueJson(TRACE_VALUE_TYPE_BOOL, 0x100));
  EXPECT_EQ("18446744073709551615", ValueJson(TRACE_VALUE_TYPE_UINT, ~0ull));
  EXPECT_EQ("-5", ValueJson(TRACE_VALUE_TYPE_INT, static_cast<uint64_t>(-5)));
  EXPECT_EQ("\"0xbeef\"", ValueJson(TRACE_VALUE_TYPE_POINTER, 0xbeef));
  EXPECT_EQ("\"NULL\"", ValueJson(TRACE_VALUE_TYPE_STRING, 0));
  EXPECT_EQ("\"a\\\"b\"",
            ValueJson(TRACE_VALUE_TYPE_COPY_STRING, reinterpret_cast<uintptr_t>("a\"b")));
  EXPECT_EQ("", ValueJson(TRACE_VALUE_TYPE_CONVERTABLE, 0));

  // Doubles keep a form that readers cannot take for an integer.
  EXPECT_EQ("1.0", DoubleJson(1.0));
  EXPECT_EQ("-3.0", DoubleJson(-3.0));
  EXPECT_EQ("0.5", DoubleJson(0.5));
  EXPECT_EQ("-0.5", DoubleJson(-0.5));
  EXPECT_EQ("\"NaN\"", DoubleJson(std::nan("")));
  EXPECT_EQ("\"Infinity\"", DoubleJson(std::numeric_limits<double>::infinity()));
  EXPECT_EQ("\"-Infinity\"", DoubleJson(-std::numeric_limits<double>::infinity()));
  double parsed = 0;
  const std::string tiny = DoubleJson(1.5e-300);
  ASSERT_TRUE(tiny.find_first_of("eE") != std::string::npos) << tiny;
  std::unique_ptr<Value> read = JsonReader::Read(tiny);
  ASSERT_TRUE(read && read->GetAsDouble(&parsed));
  EXPECT_EQ(1.5e-300, parsed);
}

TEST(TraceEventTest, JsonFieldsFollowFlags) {
  TraceEvent event;
  InitPlain(&event, 'I', kTraceEventFlagScopeMask);
  EXPECT_EQ(
      "{\"pid\":4321,\"tid\":7,\"ts\":100,\"ph\":\"I\",\"cat\":\"cat\\\"egory\",\"name\":\"name\","
      "\"args\":{},\"s\":\"?\"}",
      EventJson(event));

  InitPlain(&event, 'I', kTraceEventFlagScopeThread);
  EXPECT_NE(std::string::npos, EventJson(event).find(",\"s\":\"t\"}"));

  // Both id kinds at once: the scope goes out, no id.
  InitPlain(&event, 'n', kTraceEventFlagHasId | kTraceEventFlagHasLocalId, 7, "sc\"ope");
  std::string json = EventJson(event);
  EXPECT_NE(std::string::npos, json.find(",\"scope\":\"sc\\\"ope\"")) << json;
  EXPECT_EQ(std::string::npos, json.find("\"id"));

  InitPlain(&event, 'n', kTraceEventFlagHasGlobalId);
  EXPECT_NE(std::string::npos, EventJson(event).find(",\"id2\":{\"global\":\"0x2a\"}"));

  // The thread-id field holding no process id: the log's pid and thread 0.
  InitPlain(&event, 'X', kTraceEventFlagHasProcessId, 0);
  json = EventJson(event);
  EXPECT_EQ(0u, json.find("{\"pid\":4321,\"tid\":0,")) << json;
  InitPlain(&event, 'X', kTraceEventFlagHasProcessId, 99);
  EXPECT_EQ(0u, EventJson(event).find("{\"pid\":99,\"tid\":-1,"));

  // A complete event prints its duration once closed; flows their binding.
  InitPlain(&event, 'X', kTraceEventFlagHasId | kTraceEventFlagFlowIn | kTraceEventFlagAsyncTts);
  EXPECT_EQ(std::string::npos, EventJson(event).find("dur"));
  event.UpdateDuration(130, 0);
  json = EventJson(event);
  EXPECT_NE(std::string::npos, json.find(",\"dur\":30, \"use_async_tts\":1,\"id\":\"0x2a\","
                                         "\"bind_id\":\"0x2b\",\"flow_in\":true}"))
      << json;
}

TEST(TraceEventTest, ARecycledSlotForgetsThePreviousDurations) {
  TraceEvent event;
  event.Initialize(7, 100, 50, 'X', &g_category, "first", nullptr, 0, 0, 0, nullptr, nullptr,
                   nullptr, nullptr, 0);
  event.UpdateDuration(130, 70);
  ASSERT_NE(std::string::npos, EventJson(event).find(",\"tdur\":20"));
  // A new complete event in the same slot, not closed yet: no durations.
  event.Initialize(7, 200, 60, 'X', &g_category, "second", nullptr, 0, 0, 0, nullptr, nullptr,
                   nullptr, nullptr, 0);
  EXPECT_EQ(-1, event.thread_duration());
  std::string json = EventJson(event);
  EXPECT_EQ(std::string::npos, json.find("dur")) << json;

  event.UpdateDuration(230, 90);
  ASSERT_EQ(30, event.thread_duration());
  event.Reset();
  EXPECT_EQ(-1, event.duration());
  EXPECT_EQ(-1, event.thread_duration());
}

TEST(TraceEventTest, CopyFlagCopiesTextsAndKeepsNulls) {
  std::string name = "na\"me";
  std::string arg_name = "ar\"g";
  std::string arg_value = "va\"lue";
  const char* names[2] = {arg_name.c_str(), "second"};
  const uint8_t types[2] = {TRACE_VALUE_TYPE_STRING, TRACE_VALUE_TYPE_STRING};
  const uint64_t values[2] = {reinterpret_cast<uintptr_t>(arg_value.c_str()), 0};
  TraceEvent event;
  event.Initialize(1, 5, 0, 'B', &g_category, name.c_str(), nullptr, 0, 0, 2, names, types, values,
                   nullptr, kTraceEventFlagCopy);
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, event.arg_type(0));
  // A null string argument stays null and takes no room.
  EXPECT_EQ(TRACE_VALUE_TYPE_COPY_STRING, event.arg_type(1));
  EXPECT_EQ(0u, event.arg_value(1));
  EXPECT_EQ(nullptr, event.scope());
  ASSERT_NE(nullptr, event.copied_strings());
  EXPECT_EQ(name.size() + arg_name.size() + std::strlen("second") + arg_value.size() + 4,
            event.copied_strings()->size());

  // The event no longer points at the caller's texts.
  name.assign("XXXXXX");
  arg_name.assign("XXXX");
  arg_value.assign("XXXXXX");
  const std::string json = EventJson(event);
  std::unique_ptr<Value> parsed = JsonReader::Read(json);
  ASSERT_NE(nullptr, parsed) << json;
  DictValue* dict = nullptr;
  ASSERT_TRUE(parsed->GetAsDictionary(&dict));
  std::string text;
  EXPECT_TRUE(dict->GetString("name", &text));
  EXPECT_EQ("na\"me", text);
  DictValue* args = nullptr;
  ASSERT_TRUE(dict->GetDictionaryWithoutPathExpansion("args", &args));
  EXPECT_TRUE(args->GetStringWithoutPathExpansion("ar\"g", &text));
  EXPECT_EQ("va\"lue", text);
  EXPECT_TRUE(args->GetStringWithoutPathExpansion("second", &text));
  EXPECT_EQ("NULL", text);

  // A null name with the copy flag is no crash either.
  TraceEvent unnamed;
  unnamed.Initialize(1, 5, 0, 'B', &g_category, nullptr, nullptr, 0, 0, 0, nullptr, nullptr,
                     nullptr, nullptr, kTraceEventFlagCopy);
  EXPECT_EQ(nullptr, unnamed.name());
  EXPECT_EQ(nullptr, unnamed.copied_strings());
}

class FixedText : public ConvertableToTraceFormat {
 public:
  void AppendAsTraceFormat(std::string* out) const override { *out += "[1,2]"; }
};

bool RefuseAll(const char*, const char*, ArgumentNameFilterPredicate*) { return false; }
bool OnlyKeep(const char* name) { return std::strcmp(name, "keep") == 0; }
bool KeepSome(const char*, const char*, ArgumentNameFilterPredicate* filter) {
  *filter = &OnlyKeep;
  return true;
}

TEST(TraceEventTest, ConvertablesAndArgumentFilters) {
  const char* names[2] = {"keep", "drop"};
  const uint8_t types[2] = {TRACE_VALUE_TYPE_CONVERTABLE, TRACE_VALUE_TYPE_INT};
  const uint64_t values[2] = {0, 3};
  std::unique_ptr<ConvertableToTraceFormat> convertables[2] = {std::make_unique<FixedText>(),
                                                               nullptr};
  TraceEvent event;
  event.Initialize(1, 5, 0, 'B', &g_category, "n", nullptr, 0, 0, 2, names, types, values,
                   convertables, 0);
  EXPECT_EQ(nullptr, convertables[0]);
  std::string out;
  event.AppendAsJSON(&out, 1, nullptr);
  EXPECT_NE(std::string::npos, out.find("\"args\":{\"keep\":[1,2],\"drop\":3}")) << out;
  out.clear();
  event.AppendAsJSON(&out, 1, &RefuseAll);
  EXPECT_NE(std::string::npos, out.find("\"args\":\"__stripped__\"")) << out;
  out.clear();
  event.AppendAsJSON(&out, 1, &KeepSome);
  EXPECT_NE(std::string::npos, out.find("\"args\":{\"keep\":[1,2],\"drop\":\"__stripped__\"}"))
      << out;
  out.clear();
  event.AppendPrettyPrinted(&out);
  EXPECT_EQ("n[cat\"egory], {keep:[1,2], drop:3}", out);
}

TEST(TraceBufferTest, VectorBufferFillsAtItsMaximum) {
  TraceBufferVector buffer(4000);
  for (size_t i = 0; i < 4000; ++i) {
    EXPECT_FALSE(buffer.IsFull());
    size_t index = 0;
    std::unique_ptr<TraceBufferChunk> chunk = buffer.GetChunk(&index);
    ASSERT_NE(nullptr, chunk);
    EXPECT_EQ(i, index);
    EXPECT_EQ(i + 1, chunk->seq());
    buffer.ReturnChunk(index, std::move(chunk));
  }
  EXPECT_TRUE(buffer.IsFull());
  EXPECT_EQ(4000u * 64, buffer.Capacity());
}

TEST(TraceBufferTest, HandlesReachLateChunksAndNotRecycledOnes) {
  // A chunk index past 16 bits still finds its event.
  TraceBufferVector vector(70000);
  size_t index = 0;
  std::unique_ptr<TraceBufferChunk> chunk;
  for (size_t i = 0; i <= 65540; ++i) {
    chunk = vector.GetChunk(&index);
    ASSERT_NE(nullptr, chunk);
    // Dropped rather than returned, to keep the test small.
    if (i < 65540)
      chunk.reset();
  }
  size_t event_index = 0;
  TraceEvent* slot = chunk->AddTraceEvent(&event_index);
  InitPlain(slot, 'X', 0);
  const uint32_t seq = chunk->seq();
  vector.ReturnChunk(index, std::move(chunk));
  TraceEventHandle handle;
  handle.chunk_seq = seq;
  handle.chunk_index = static_cast<uint32_t>(index);
  handle.event_index = static_cast<uint32_t>(event_index);
  EXPECT_EQ(65540u, handle.chunk_index);
  EXPECT_EQ(slot, vector.GetEventByHandle(handle));

  // A recycled ring-buffer chunk has a new sequence number.
  TraceBufferRingBuffer ring(2);
  chunk = ring.GetChunk(&index);
  slot = chunk->AddTraceEvent(&event_index);
  InitPlain(slot, 'X', 0);
  handle.chunk_seq = chunk->seq();
  handle.chunk_index = static_cast<uint32_t>(index);
  handle.event_index = static_cast<uint32_t>(event_index);
  ring.ReturnChunk(index, std::move(chunk));
  EXPECT_NE(nullptr, ring.GetEventByHandle(handle));
  for (int i = 0; i < 2; ++i) {
    chunk = ring.GetChunk(&index);
    ring.ReturnChunk(index, std::move(chunk));
  }
  EXPECT_EQ(nullptr, ring.GetEventByHandle(handle));
}

TEST(TraceBufferTest, RingBufferGivesNoChunkWhenAllAreOut) {
  TraceBufferRingBuffer ring(2);
  size_t first = 0, second = 0, third = 99;
  std::unique_ptr<TraceBufferChunk> a = ring.GetChunk(&first);
  std::unique_ptr<TraceBufferChunk> b = ring.GetChunk(&second);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(first, second);
  // Handing out a queued index again would give one chunk two owners.
  EXPECT_EQ(nullptr, ring.GetChunk(&third));
  ring.ReturnChunk(second, std::move(b));
  std::unique_ptr<TraceBufferChunk> c = ring.GetChunk(&third);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(second, third);
  ring.ReturnChunk(first, std::move(a));
  ring.ReturnChunk(third, std::move(c));
  // Reading walks the chunks in the order they came back.
  EXPECT_NE(nullptr, ring.NextChunk());
  EXPECT_NE(nullptr, ring.NextChunk());
  EXPECT_EQ(nullptr, ring.NextChunk());
}

// The tally's entry named |name| (compared by text), or null.
const TraceEventMemoryOverhead::Entry* FindByText(const TraceEventMemoryOverhead& overhead,
                                                  const char* name) {
  const TraceEventMemoryOverhead::Entry* found = nullptr;
  overhead.ForEach([&](const TraceEventMemoryOverhead::Entry& entry) {
    if (std::strcmp(entry.type_name, name) == 0)
      found = &entry;
  });
  return found;
}

TEST(TraceEventMemoryOverheadTest, TallyOverflowsIntoTheMapAndMerges) {
  static const char kNames[20][8] = {"t0",  "t1",  "t2",  "t3",  "t4",  "t5",  "t6",
                                     "t7",  "t8",  "t9",  "t10", "t11", "t12", "t13",
                                     "t14", "t15", "t16", "t17", "t18", "t19"};
  TraceEventMemoryOverhead overhead;
  for (int round = 0; round < 2; ++round) {
    for (const char* name : kNames)
      overhead.Add(name, 1, 10, 4);
  }
  size_t entries = 0;
  overhead.ForEach([&](const TraceEventMemoryOverhead::Entry&) { ++entries; });
  EXPECT_EQ(20u, entries);
  for (const char* name : kNames) {
    const TraceEventMemoryOverhead::Entry* entry = overhead.Find(name);
    ASSERT_NE(nullptr, entry) << name;
    EXPECT_EQ(2u, entry->count);
    EXPECT_EQ(20u, entry->allocated_bytes);
    EXPECT_EQ(8u, entry->resident_bytes);
  }
  TraceEventMemoryOverhead total;
  total.Update(overhead);
  total.Update(overhead);
  EXPECT_EQ(4u, total.GetCount(kNames[19]));

  // Strings: the capacity rounded up to 16, at least 32, plus the object.
  TraceEventMemoryOverhead strings;
  strings.AddString(10);
  strings.AddString(33);
  EXPECT_EQ(2u, strings.GetCount(kOverheadStdString));
  EXPECT_EQ(64u + 80u, strings.Find(kOverheadStdString)->allocated_bytes);
}

TEST(TraceEventMemoryOverheadTest, ChunkEstimateCountsEventsOnce) {
  TraceBufferChunk chunk(1);
  size_t index = 0;
  for (int i = 0; i < 3; ++i)
    InitPlain(chunk.AddTraceEvent(&index), 'X', 0);
  TraceEventMemoryOverhead first;
  chunk.EstimateTraceMemoryOverhead(&first);
  EXPECT_EQ(3u, first.GetCount(kOverheadTraceEvent));
  const TraceEventMemoryOverhead::Entry* unused = FindByText(first, "TraceEvent (unused)");
  ASSERT_NE(nullptr, unused);
  EXPECT_EQ(61 * sizeof(TraceEvent), unused->allocated_bytes);

  // Filled up: only the new events are estimated, and the full chunk's
  // tally counts itself.
  while (!chunk.IsFull())
    InitPlain(chunk.AddTraceEvent(&index), 'X', kTraceEventFlagCopy);
  TraceEventMemoryOverhead second;
  chunk.EstimateTraceMemoryOverhead(&second);
  EXPECT_EQ(64u, second.GetCount(kOverheadTraceEvent));
  EXPECT_EQ(61u, second.GetCount(kOverheadStdString));
  EXPECT_EQ(nullptr, FindByText(second, "TraceEvent (unused)"));
  EXPECT_EQ(1u, second.GetCount(kOverheadSelf));
  TraceEventMemoryOverhead third;
  chunk.EstimateTraceMemoryOverhead(&third);
  EXPECT_EQ(64u, third.GetCount(kOverheadTraceEvent));
  EXPECT_EQ(1u, third.GetCount(kOverheadSelf));
}

TEST(StringTokenizerTest, SeparatorsQuotesAndEscapes) {
  StringTokenizer plain(",a,,bc,", ",");
  ASSERT_TRUE(plain.GetNext());
  EXPECT_EQ("a", plain.token());
  ASSERT_TRUE(plain.GetNext());
  EXPECT_EQ("bc", plain.token());
  EXPECT_FALSE(plain.GetNext());

  StringTokenizer quoted("a\"x,\\\"y\",b", ",");
  quoted.set_quote_chars("\"");
  ASSERT_TRUE(quoted.GetNext());
  EXPECT_EQ("a\"x,\\\"y\"", quoted.token());
  ASSERT_TRUE(quoted.GetNext());
  EXPECT_EQ("b", quoted.token());

  StringTokenizer with_separators("a,b", ",");
  with_separators.set_return_separators(true);
  ASSERT_TRUE(with_separators.GetNext());
  ASSERT_TRUE(with_separators.GetNext());
  EXPECT_TRUE(with_separators.token_is_separator());
  EXPECT_EQ(",", with_separators.token());
}

}  // namespace
}  // namespace base::trace_event
