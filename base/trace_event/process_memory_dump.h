// The records of one process memory dump: allocator dumps with scalar
// attributes, keyed by absolute name. A background dump keeps only names on
// the whitelist; anything else lands in a "discarded" record.
#ifndef BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
#define BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/trace_event/trace_config.h"
#include "base/trace_event/traced_value.h"

namespace base::trace_event {

class ProcessMemoryDump;

class AllocatorDumpRecord {
 public:
  AllocatorDumpRecord(std::string absolute_name, ProcessMemoryDump* process_memory_dump);

  // Writes {"type":"scalar","units":units,"value":"<hex>"} under |name|.
  void SetScalar(const char* name, const char* units, uint64_t value);

  const std::string& absolute_name() const { return absolute_name_; }
  // The first 8 bytes (little-endian) of the SHA-1 of "<pid>:<name>".
  uint64_t guid() const { return guid_; }
  const TracedValue& attributes() const { return *attributes_; }
  ProcessMemoryDump* process_memory_dump() const { return process_memory_dump_; }

 private:
  std::string absolute_name_;
  ProcessMemoryDump* process_memory_dump_;
  std::unique_ptr<TracedValue> attributes_;
  uint64_t guid_;
  uint32_t flags_ = 0;
  std::string string_conversion_buffer_;
};

class ProcessMemoryDump {
 public:
  explicit ProcessMemoryDump(MemoryDumpLevelOfDetail level_of_detail)
      : level_of_detail_(level_of_detail) {}

  // The record that receives |absolute_name|'s attributes: made by the first
  // call for that name, the same record on every later one.
  AllocatorDumpRecord* CreateAllocatorDump(const std::string& absolute_name);
  // Null when there is no record of that name.
  AllocatorDumpRecord* GetAllocatorDump(const std::string& absolute_name) const;
  const std::map<std::string, std::unique_ptr<AllocatorDumpRecord>>& allocator_dumps() const {
    return allocator_dumps_;
  }
  MemoryDumpLevelOfDetail level_of_detail() const { return level_of_detail_; }

 private:
  std::map<std::string, std::unique_ptr<AllocatorDumpRecord>> allocator_dumps_;
  MemoryDumpLevelOfDetail level_of_detail_;
  std::unique_ptr<AllocatorDumpRecord> black_hole_dump_;
};

// True when |name|, with every "0x" and the hex digits after it written as
// "0x?", is on the list of names background dumps may report.
bool IsMemoryDumpNameWhitelisted(std::string_view name);

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_PROCESS_MEMORY_DUMP_H_
