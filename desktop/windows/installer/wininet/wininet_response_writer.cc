#include "desktop/windows/installer/wininet/wininet_response_writer.h"

#include "base/logging.h"

namespace installer {

bool FileResponseWriter::Open(const base::FilePath& path) {
  written_ = 0;
  file_.Reset(CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_.IsValid()) {
    PLOG(ERROR) << "Could not open download file for writing";
    return false;
  }
  return true;
}

bool FileResponseWriter::Write(const char* data, uint32_t size) {
  if (!file_.IsValid()) {
    LOG(ERROR) << "Failed writing response to downloading file: it is not open";
    return false;
  }
  if (size > limit_ - written_) {
    LOG(ERROR) << "Response is larger than the limit of " << limit_ << " bytes";
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file_.Get(), data, size, &written, nullptr) || written != size) {
    PLOG(ERROR) << "Failed writing response to downloading file";
    return false;
  }
  written_ += size;
  return true;
}

void FileResponseWriter::Close() { file_.Reset(); }

bool FileResponseWriter::Rewind() {
  LARGE_INTEGER start = {};
  if (!file_.IsValid() || !SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(file_.Get())) {
    PLOG(ERROR) << "Could not truncate the download file";
    return false;
  }
  written_ = 0;
  return true;
}

StringResponseWriter::StringResponseWriter(std::string* out, size_t limit)
    : out_(out), limit_(limit) {
  CHECK(out_);
  out_->clear();
}

bool StringResponseWriter::Write(const char* data, uint32_t size) {
  if (size > limit_ - out_->size()) {
    LOG(ERROR) << "Response is larger than the limit of " << limit_ << " bytes";
    return false;
  }
  out_->append(data, size);
  return true;
}

bool StringResponseWriter::Rewind() {
  out_->clear();
  return true;
}

}  // namespace installer
