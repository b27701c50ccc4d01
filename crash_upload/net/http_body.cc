#include "crash_upload/net/http_body.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/logging.h"
#include "crash_upload/file/file_io_win.h"

namespace crash_upload {
namespace {

constexpr uint64_t kMaxCount = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

}  // namespace

int64_t HttpStringBody::GetBytesBuffer(uint8_t* buffer, size_t max_length) {
  uint64_t left = bytes_.size() - position_;
  uint64_t count = std::min<uint64_t>({left, max_length, kMaxCount});
  if (count == 0)
    return 0;
  memcpy(buffer, bytes_.data() + position_, count);
  position_ += count;
  return static_cast<int64_t>(count);
}

void BodyFileTraits::Free(HANDLE& handle) {
  LoggingCloseFile(handle);
}

int64_t HttpFileBody::GetBytesBuffer(uint8_t* buffer, size_t max_length) {
  if (state_ == kError)
    return -1;
  if (state_ == kFinished)
    return 0;
  if (state_ == kNotOpened) {
    file_.Reset(LoggingOpenFileForRead(path_));
    if (!file_.IsValid()) {
      state_ = kError;
      return -1;
    }
    state_ = kOpen;
  }
  // A single read is bounded to 32 bits.
  size_t size = std::min<size_t>(max_length, 0xFFFFFFFFu);
  int64_t read = ReadFileChunk(file_.Get(), buffer, size);
  if (read == 0) {
    file_.Reset();
    state_ = kFinished;
  } else if (read < 0) {
    PLOG(ERROR) << "read";
  }
  return read;
}

int64_t HttpConcatBody::GetBytesBuffer(uint8_t* buffer, size_t max_length) {
  uint64_t max = std::min<uint64_t>(max_length, kMaxCount);
  if (max < 1)
    return 0;
  uint64_t total = 0;
  while (total < max && current_ < streams_.size()) {
    int64_t got = streams_[current_]->GetBytesBuffer(buffer + total, max - total);
    if (got < 0)
      return got;
    if (got == 0) {
      ++current_;
      continue;
    }
    total += got;
  }
  return static_cast<int64_t>(total);
}

}  // namespace crash_upload
