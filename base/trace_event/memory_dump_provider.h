// A component that reports its memory into process memory dumps.
#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_

#include <cstdint>

#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/trace_config.h"

namespace base::trace_event {

struct MemoryDumpArgs {
  MemoryDumpLevelOfDetail level_of_detail = MemoryDumpLevelOfDetail::kDetailed;
};

class MemoryDumpProvider {
 public:
  struct Options {};

  virtual ~MemoryDumpProvider() = default;
  // False when the provider could not report.
  virtual bool WriteDump(const MemoryDumpArgs& args, ProcessMemoryDump* process_memory_dump) = 0;
  virtual void OnHeapProfilingEnabled(bool /*enabled*/) {}
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_PROVIDER_H_
