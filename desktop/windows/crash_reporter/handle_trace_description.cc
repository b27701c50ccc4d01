#include "desktop/windows/crash_reporter/handle_trace_description.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log_directories.h"

namespace crash_reporter {
namespace {

template <typename T>
T ReadField(const uint8_t* entry, size_t offset) {
  T value;
  std::memcpy(&value, entry + offset, sizeof(value));
  return value;
}

// The crashed process need not have ended its texts within their fields:
// never read past the field.
std::string FieldText(const uint8_t* entry, size_t offset) {
  const char* text = reinterpret_cast<const char*>(entry + offset);
  return std::string(text, strnlen(text, 15));
}

std::string DescribeEntry(const uint8_t* entry) {
  char line[160];
  std::snprintf(line, sizeof(line), "Handle %" PRIx64 ", timestamp %" PRIx32,
                ReadField<uint64_t>(entry, 0), ReadField<uint32_t>(entry, 12));
  std::string text = line;
  text += ", info " + FieldText(entry, 200) + ", type " + FieldText(entry, 184);
  std::snprintf(line, sizeof(line),
                ", thread id %" PRIx32 ", inherit %" PRIu32 ", protect from close %" PRIu32
                ", backtrace ",
                ReadField<uint32_t>(entry, 8), ReadField<uint32_t>(entry, 216),
                ReadField<uint32_t>(entry, 220));
  text += line;
  const size_t frames = std::min<size_t>(20, ReadField<uint16_t>(entry, 16));
  for (size_t i = 0; i < frames; ++i) {
    std::snprintf(line, sizeof(line), "%p ",
                  reinterpret_cast<void*>(ReadField<uint64_t>(entry, 24 + i * 8)));
    text += line;
  }
  return text;
}

}  // namespace

std::vector<std::string> DescribeHandleTraceRing(const std::vector<uint8_t>& ring,
                                                 const uint64_t* only_handle) {
  std::vector<std::string> lines;
  if (ring.size() < kHandleTraceSize)
    return lines;
  const uint64_t start = ReadField<uint64_t>(ring.data(), 0);
  const uint64_t end = ReadField<uint64_t>(ring.data(), 8);
  if (start >= kHandleTraceEntries || end >= kHandleTraceEntries)
    return lines;
  size_t index = static_cast<size_t>(end);
  while (lines.size() < kMaxDescribedHandleEntries) {
    index = index == 0 ? kHandleTraceEntries - 1 : index - 1;
    const uint8_t* entry = ring.data() + kHandleTraceHeaderSize + index * kHandleTraceEntrySize;
    if (!only_handle || ReadField<uint64_t>(entry, 0) == *only_handle)
      lines.push_back(DescribeEntry(entry));
    if (index == start)
      break;
  }
  return lines;
}

void DescribeHandleTrace(HANDLE process, const CustomInfo& keys) {
  uint64_t address = 0;
  if (!LookupCustomInfoNumber(keys, L"handle_info_items", &address))
    return;
  std::vector<uint8_t> ring(kHandleTraceSize);
  SIZE_T read = 0;
  if (!::ReadProcessMemory(process, reinterpret_cast<const void*>(address), ring.data(),
                           ring.size(), &read) ||
      read != ring.size()) {
    return;
  }
  uint64_t invalid_handle = 0;
  const bool filtered = LookupCustomInfoNumber(keys, L"invalid_handle", &invalid_handle);
  for (const std::string& line :
       DescribeHandleTraceRing(ring, filtered ? &invalid_handle : nullptr))
    LOG(INFO) << line;
}

}  // namespace crash_reporter
