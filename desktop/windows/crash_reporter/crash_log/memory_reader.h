// Reads memory of another process into a buffer of its own that grows to the
// largest read. A crash log makes thousands of reads, many of them into
// memory that is gone; only the first failures are worth a log line each.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_READER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_READER_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace crash_reporter {

class MemoryReader {
 public:
  // Failed reads beyond this count are not logged.
  static constexpr int kMaxLoggedFailures = 100;

  // |process| must stay open for the reader's lifetime (it is not owned).
  explicit MemoryReader(HANDLE process);
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;
  ~MemoryReader();

  // Reads up to |size| bytes at |address|. Returns the reader's buffer when
  // at least one byte was read (|bytes_read| says how many; the bytes after
  // them are stale), null otherwise. The buffer stays valid until the next
  // read.
  const uint8_t* ReadMemory(uint64_t address, size_t size, size_t* bytes_read);

  int failure_count() const { return failure_count_; }

 private:
  HANDLE process_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0;
  int failure_count_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MEMORY_READER_H_
