// Where a download's body goes. The base class accepts and discards it.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"

namespace installer {

class ResponseWriter {
 public:
  virtual ~ResponseWriter() = default;
  // False when the block could not be kept whole; the download then fails.
  virtual bool Write(const char* /*data*/, uint32_t /*size*/) { return true; }
  virtual void Close() {}
  // Drops everything written so far, for a server that answered a resumed
  // request with the whole body. False when that is impossible.
  virtual bool Rewind() { return true; }
};

class FileResponseWriter : public ResponseWriter {
 public:
  // A body longer than |limit| bytes is refused (logged), which fails the
  // download.
  explicit FileResponseWriter(uint64_t limit = UINT64_MAX) : limit_(limit) {}
  ~FileResponseWriter() override = default;
  // Creates or replaces |path| for writing.
  bool Open(const base::FilePath& path);
  bool Write(const char* data, uint32_t size) override;
  void Close() override;
  bool Rewind() override;

 private:
  base::win::ScopedHandle file_;
  const uint64_t limit_;
  uint64_t written_ = 0;
};

class StringResponseWriter : public ResponseWriter {
 public:
  // Empties |out|, which must outlive the writer. A body longer than
  // |limit| bytes is refused (logged), which fails the download.
  explicit StringResponseWriter(std::string* out, size_t limit = SIZE_MAX);
  bool Write(const char* data, uint32_t size) override;
  bool Rewind() override;

 private:
  std::string* out_;
  const size_t limit_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_RESPONSE_WRITER_H_
