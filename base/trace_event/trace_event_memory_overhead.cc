#include "base/trace_event/trace_event_memory_overhead.h"

#include <algorithm>
#include <string>

#include "base/string_printf.h"
#include "base/trace_event/process_memory_dump.h"

namespace base::trace_event {

TraceEventMemoryOverhead::Entry* TraceEventMemoryOverhead::FindOrAdd(const char* type_name) {
  for (size_t i = 0; i < fixed_used_; ++i) {
    if (fixed_[i].type_name == type_name)
      return &fixed_[i];
  }
  if (fixed_used_ < kFixedEntries) {
    Entry* entry = &fixed_[fixed_used_++];
    entry->type_name = type_name;
    return entry;
  }
  Entry& entry = overflow_[type_name];
  entry.type_name = type_name;
  return &entry;
}

void TraceEventMemoryOverhead::Add(const char* type_name, size_t count, size_t allocated_bytes,
                                   size_t resident_bytes) {
  Entry* entry = FindOrAdd(type_name);
  entry->count += count;
  entry->allocated_bytes += allocated_bytes;
  entry->resident_bytes += resident_bytes;
}

void TraceEventMemoryOverhead::AddString(size_t capacity) {
  // The heap hands out multiples of 16, at least 32, and the string object
  // itself takes 32 more.
  const size_t rounded = std::max<size_t>(32, (capacity + 15) & ~size_t{15});
  Add(kOverheadStdString, rounded + 32);
}

void TraceEventMemoryOverhead::Update(const TraceEventMemoryOverhead& other) {
  other.ForEach([this](const Entry& entry) {
    Add(entry.type_name, entry.count, entry.allocated_bytes, entry.resident_bytes);
  });
}

const TraceEventMemoryOverhead::Entry* TraceEventMemoryOverhead::Find(const char* type_name) const {
  for (size_t i = 0; i < fixed_used_; ++i) {
    if (fixed_[i].type_name == type_name)
      return &fixed_[i];
  }
  auto it = overflow_.find(type_name);
  return it == overflow_.end() ? nullptr : &it->second;
}

size_t TraceEventMemoryOverhead::GetCount(const char* type_name) const {
  const Entry* entry = Find(type_name);
  return entry ? entry->count : 0;
}

void TraceEventMemoryOverhead::ForEach(const std::function<void(const Entry&)>& visit) const {
  for (size_t i = 0; i < fixed_used_; ++i)
    visit(fixed_[i]);
  for (const auto& [name, entry] : overflow_)
    visit(entry);
}

void TraceEventMemoryOverhead::DumpInto(const char* base_name,
                                        ProcessMemoryDump* process_memory_dump) const {
  ForEach([&](const Entry& entry) {
    AllocatorDumpRecord* dump =
        process_memory_dump->CreateAllocatorDump(FormatString("%s/%s", base_name, entry.type_name));
    dump->SetScalar("size", "bytes", entry.allocated_bytes);
    dump->SetScalar("resident_size", "bytes", entry.resident_bytes);
    dump->SetScalar("object_count", "objects", entry.count);
  });
}

}  // namespace base::trace_event
