// Names one recorded event in the trace buffer so that its duration can be
// filled in when its scope ends, and the argument values that trace sites
// hand over. A handle with sequence number 0 means "no event".
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_

#include <cstdint>
#include <cstring>

namespace base::trace_event {

struct TraceEventHandle {
  // The chunk index keeps 26 bits: the largest buffer (8,000,000 chunks)
  // needs 23, and a narrower field would make events of later chunks
  // unreachable for their duration.
  static constexpr uint32_t kChunkIndexBits = 26;
  static constexpr uint32_t kMaxChunkIndex = (1u << kChunkIndexBits) - 1;

  uint32_t chunk_seq = 0;
  uint32_t chunk_index : kChunkIndexBits = 0;
  uint32_t event_index : 32 - kChunkIndexBits = 0;

  bool is_valid() const { return chunk_seq != 0; }
};
static_assert(sizeof(TraceEventHandle) == 8);

// Argument types as events store and print them.
enum TraceValueType : uint8_t {
  TRACE_VALUE_TYPE_BOOL = 1,
  TRACE_VALUE_TYPE_UINT = 2,
  TRACE_VALUE_TYPE_INT = 3,
  TRACE_VALUE_TYPE_DOUBLE = 4,
  TRACE_VALUE_TYPE_POINTER = 5,
  TRACE_VALUE_TYPE_STRING = 6,
  TRACE_VALUE_TYPE_COPY_STRING = 7,
  TRACE_VALUE_TYPE_CONVERTABLE = 8,
};

// One argument of an event as a trace site passes it. A string is not copied
// (it must outlive the call) unless it is wrapped in TraceCopiedString.
struct TraceCopiedString {
  const char* text;
};
struct TracePointer {
  const void* address;
};

struct TraceArgValue {
  constexpr TraceArgValue() = default;
  constexpr TraceArgValue(bool value) : type(TRACE_VALUE_TYPE_BOOL), bits(value ? 1 : 0) {}
  constexpr TraceArgValue(const char* value)
      : type(TRACE_VALUE_TYPE_STRING), bits(reinterpret_cast<uintptr_t>(value)) {}
  constexpr TraceArgValue(TraceCopiedString value)
      : type(TRACE_VALUE_TYPE_COPY_STRING), bits(reinterpret_cast<uintptr_t>(value.text)) {}
  constexpr TraceArgValue(TracePointer value)
      : type(TRACE_VALUE_TYPE_POINTER), bits(reinterpret_cast<uintptr_t>(value.address)) {}
  constexpr TraceArgValue(int value)
      : type(TRACE_VALUE_TYPE_INT), bits(static_cast<int64_t>(value)) {}
  constexpr TraceArgValue(long value)
      : type(TRACE_VALUE_TYPE_INT), bits(static_cast<int64_t>(value)) {}
  constexpr TraceArgValue(long long value) : type(TRACE_VALUE_TYPE_INT), bits(value) {}
  constexpr TraceArgValue(unsigned value) : type(TRACE_VALUE_TYPE_UINT), bits(value) {}
  constexpr TraceArgValue(unsigned long value) : type(TRACE_VALUE_TYPE_UINT), bits(value) {}
  constexpr TraceArgValue(unsigned long long value) : type(TRACE_VALUE_TYPE_UINT), bits(value) {}
  TraceArgValue(double value) : type(TRACE_VALUE_TYPE_DOUBLE) { std::memcpy(&bits, &value, 8); }

  uint8_t type = TRACE_VALUE_TYPE_UINT;
  // A double by its bits, a string or pointer by its address.
  uint64_t bits = 0;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
