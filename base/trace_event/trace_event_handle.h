// Names one recorded event in the trace buffer so that its duration can be
// filled in when its scope ends. All zero means "no event".
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_

#include <cstdint>

namespace base::trace_event {

struct TraceEventHandle {
  uint32_t chunk_seq = 0;
  uint16_t chunk_index = 0;
  uint16_t event_index = 0;

  bool is_valid() const { return chunk_seq != 0; }
};

// One argument of an event: a string (not copied; must outlive the call) or
// a number.
struct TraceArgValue {
  enum class Type : uint8_t { kNone, kString, kInt, kUInt, kDouble };

  constexpr TraceArgValue() = default;
  constexpr TraceArgValue(const char* value) : type(Type::kString), as_string(value) {}
  constexpr TraceArgValue(int value) : type(Type::kInt), as_int(value) {}
  constexpr TraceArgValue(long value) : type(Type::kInt), as_int(value) {}
  constexpr TraceArgValue(long long value) : type(Type::kInt), as_int(value) {}
  constexpr TraceArgValue(unsigned value) : type(Type::kUInt), as_uint(value) {}
  constexpr TraceArgValue(unsigned long value) : type(Type::kUInt), as_uint(value) {}
  constexpr TraceArgValue(unsigned long long value) : type(Type::kUInt), as_uint(value) {}
  constexpr TraceArgValue(double value) : type(Type::kDouble), as_double(value) {}

  Type type = Type::kNone;
  union {
    const char* as_string = nullptr;
    int64_t as_int;
    uint64_t as_uint;
    double as_double;
  };
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_HANDLE_H_
