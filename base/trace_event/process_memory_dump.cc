#include "base/trace_event/process_memory_dump.h"

#include <windows.h>

#include <cctype>
#include <utility>

#include "base/sha1.h"
#include "base/string_printf.h"
#include "base/trace_event/trace_log.h"

namespace base::trace_event {
namespace {

constexpr const char* kWhitelist[] = {
    "layout_gc",
    "layout_gc/allocated_objects",
    "discardable",
    "discardable/child_0x?",
    "dom_storage/0x?/cache_size",
    "dom_storage/session_storage_0x?",
    "java_heap",
    "java_heap/allocated_objects",
    "kvdb/index_db/0x?",
    "kvdb/kvdb_proto/0x?",
    "kvdb/kvdb_proto/BudgetManager/0x?",
    "kvdb/kvdb_proto/ReaderStore/0x?",
    "kvdb/kvdb_proto/PushKeyStore/0x?",
    "kvdb/kvdb_proto/ImageManager/0x?",
    "kvdb/kvdb_proto/StartPageSnippetImages/0x?",
    "kvdb/kvdb_proto/StartPageSnippets/0x?",
    "kvdb/value_store/Extensions.Database.Open.Settings/0x?",
    "kvdb/value_store/Extensions.Database.Open.Rules/0x?",
    "kvdb/value_store/Extensions.Database.Open.State/0x?",
    "kvdb/value_store/Extensions.Database.Open/0x?",
    "kvdb/value_store/Extensions.Database.Restore/0x?",
    "kvdb/value_store/Extensions.Database.Value.Restore/0x?",
    "malloc",
    "malloc/allocated_objects",
    "malloc/metadata_fragmentation_caches",
    "web_cache/Image_resources",
    "web_cache/CSS stylesheet_resources",
    "web_cache/Script_resources",
    "web_cache/XSL stylesheet_resources",
    "web_cache/Font_resources",
    "web_cache/Other_resources",
    "partition_heap/allocated_objects",
    "partition_heap/partitions",
    "partition_heap/partitions/buffer",
    "partition_heap/partitions/fast_malloc",
    "partition_heap/partitions/layout",
    "graphics2d/glyph_cache",
    "graphics2d/resource_cache",
    "sqlite",
    "ui/resource_manager_0x?",
    "script/isolate_0x?/heap_spaces",
    "script/isolate_0x?/heap_spaces/code_space",
    "script/isolate_0x?/heap_spaces/large_object_space",
    "script/isolate_0x?/heap_spaces/map_space",
    "script/isolate_0x?/heap_spaces/new_space",
    "script/isolate_0x?/heap_spaces/old_space",
    "script/isolate_0x?/heap_spaces/other_spaces",
    "script/isolate_0x?/malloc",
    "script/isolate_0x?/zapped_for_debug",
    "winheap",
    "winheap/allocated_objects",
};

uint64_t ComputeGuid(const std::string& absolute_name) {
  const uint32_t pid = TraceLog::GetInstance()->process_id();
  const std::string digest =
      SHA1HashString(FormatString("%d:%s", static_cast<int>(pid), absolute_name.c_str()));
  uint64_t guid = 0;
  for (int i = 7; i >= 0; --i)
    guid = (guid << 8) | static_cast<uint8_t>(digest[i]);
  return guid;
}

}  // namespace

AllocatorDumpRecord::AllocatorDumpRecord(std::string absolute_name,
                                         ProcessMemoryDump* process_memory_dump)
    : absolute_name_(std::move(absolute_name)),
      process_memory_dump_(process_memory_dump),
      attributes_(std::make_unique<TracedValue>()),
      guid_(ComputeGuid(absolute_name_)) {}

void AllocatorDumpRecord::SetScalar(const char* name, const char* units, uint64_t value) {
  string_conversion_buffer_ = FormatString("%llx", static_cast<unsigned long long>(value));
  attributes_->BeginDictionaryWithCopiedName(name);
  attributes_->SetString("type", "scalar");
  attributes_->SetStringWithCopiedName("units", units);
  attributes_->SetString("value", string_conversion_buffer_);
  attributes_->EndDictionary();
}

AllocatorDumpRecord* ProcessMemoryDump::CreateAllocatorDump(const std::string& absolute_name) {
  if (level_of_detail_ == MemoryDumpLevelOfDetail::kBackground &&
      !IsMemoryDumpNameWhitelisted(absolute_name)) {
    if (!black_hole_dump_)
      black_hole_dump_ = std::make_unique<AllocatorDumpRecord>("discarded", this);
    return black_hole_dump_.get();
  }
  // A record of that name made earlier stays: pointers to it were handed
  // out and must not dangle.
  std::unique_ptr<AllocatorDumpRecord>& slot = allocator_dumps_[absolute_name];
  if (!slot)
    slot = std::make_unique<AllocatorDumpRecord>(absolute_name, this);
  return slot.get();
}

AllocatorDumpRecord* ProcessMemoryDump::GetAllocatorDump(const std::string& absolute_name) const {
  auto it = allocator_dumps_.find(absolute_name);
  return it == allocator_dumps_.end() ? nullptr : it->second.get();
}

bool IsMemoryDumpNameWhitelisted(std::string_view name) {
  std::string normalized;
  normalized.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    // A trailing "0x" has no number after it and stays as it is.
    if (name[i] == '0' && i + 2 < name.size() && name[i + 1] == 'x') {
      normalized += "0x?";
      i += 2;
      while (i < name.size() && std::isxdigit(static_cast<unsigned char>(name[i])))
        ++i;
      continue;
    }
    normalized += name[i++];
  }
  for (const char* entry : kWhitelist) {
    if (normalized == entry)
      return true;
  }
  return false;
}

}  // namespace base::trace_event
