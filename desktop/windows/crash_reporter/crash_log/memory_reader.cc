#include "desktop/windows/crash_reporter/crash_log/memory_reader.h"

#include <new>

#include "base/logging.h"

namespace crash_reporter {

MemoryReader::MemoryReader(HANDLE process) : process_(process) {}

MemoryReader::~MemoryReader() = default;

const uint8_t* MemoryReader::ReadMemory(uint64_t address, size_t size, size_t* bytes_read) {
  *bytes_read = 0;
  if (size > capacity_) {
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]);
    if (!bigger) {
      LOG(ERROR) << "Could not allocate " << size << " bytes for a memory read";
      return nullptr;
    }
    buffer_ = std::move(bigger);
    capacity_ = size;
  }
  SIZE_T read = 0;
  if (size > 0 && buffer_) {
    // A partial copy fails the call but still reports the bytes copied.
    ::ReadProcessMemory(process_, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)),
                        buffer_.get(), size, &read);
  }
  if (read > 0) {
    *bytes_read = read;
    return buffer_.get();
  }
  ++failure_count_;
  if (failure_count_ <= kMaxLoggedFailures) {
    LOG(ERROR) << "ReadProcessMemory failed for address 0x" << std::hex << address << std::dec
               << " and size " << size << ", bytes_read=" << read;
    if (failure_count_ == kMaxLoggedFailures)
      LOG(INFO) << "Reached limit of logged memory read errors";
  }
  return nullptr;
}

}  // namespace crash_reporter
