// A tally of the memory that tracing objects use, by type name. Type names
// are compared by address, so callers pass the same literal every time.
#ifndef BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>

namespace base::trace_event {

// Type names used from more than one file, so that their addresses agree.
inline constexpr char kOverheadStdString[] = "std::string";
inline constexpr char kOverheadTraceEvent[] = "TraceEvent";
inline constexpr char kOverheadConvertableUnknown[] = "ConvertableToTraceFormat(Unknown)";
inline constexpr char kOverheadSelf[] = "TraceEventMemoryOverhead";
inline constexpr char kOverheadTracedValue[] = "TracedValue";

class ProcessMemoryDump;

class TraceEventMemoryOverhead {
 public:
  struct Entry {
    const char* type_name = nullptr;
    size_t count = 0;
    size_t allocated_bytes = 0;
    size_t resident_bytes = 0;
  };

  void Add(const char* type_name, size_t allocated_bytes) {
    Add(type_name, 1, allocated_bytes, allocated_bytes);
  }
  void Add(const char* type_name, size_t count, size_t allocated_bytes, size_t resident_bytes);
  // "std::string" with the capacity rounded as the allocator does.
  void AddString(size_t capacity);
  void Update(const TraceEventMemoryOverhead& other);
  size_t GetCount(const char* type_name) const;
  const Entry* Find(const char* type_name) const;
  // Visits every entry, the fixed ones first.
  void ForEach(const std::function<void(const Entry&)>& visit) const;
  // One allocator dump "<base_name>/<type name>" per entry, with its size,
  // resident size and object count.
  void DumpInto(const char* base_name, ProcessMemoryDump* process_memory_dump) const;

 private:
  static constexpr size_t kFixedEntries = 16;

  Entry* FindOrAdd(const char* type_name);

  Entry fixed_[kFixedEntries];
  size_t fixed_used_ = 0;
  // Entries beyond the fixed ones, keyed by the type-name address.
  std::unordered_map<const char*, Entry> overflow_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_MEMORY_OVERHEAD_H_
