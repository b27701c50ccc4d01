#include "base/binary_message.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/logging.h"

namespace base {

namespace {

constexpr size_t kHeaderSize = sizeof(uint32_t);
constexpr size_t kMinCapacity = 64;

constexpr size_t AlignUp4(size_t n) { return (n + 3) & ~size_t{3}; }

}  // namespace

// BinaryMessage ----------------------------------------------------------------

BinaryMessage::BinaryMessage() : BinaryMessage(size_t{0}) {}

BinaryMessage::BinaryMessage(size_t payload_capacity) {
  header_size_ = kHeaderSize;
  Reserve(std::min(payload_capacity, kMaxPayloadSize));
  StorePayloadSize();
}

BinaryMessage::BinaryMessage(const void* data, size_t size) {
  read_only_ = true;
  if (size < kHeaderSize) {
    LOG(ERROR) << "Message of " << size << " bytes has no room for its header";
    return;
  }
  uint32_t payload_size;
  memcpy(&payload_size, data, sizeof(payload_size));
  // Compared before subtracting: a payload size above |size| must not wrap
  // around into a plausible header size.
  if (payload_size > size) {
    LOG(ERROR) << "Message of " << size << " bytes claims a payload of " << payload_size;
    return;
  }
  const size_t header_size = size - payload_size;
  if (header_size == 0 || header_size % 4 != 0) {
    LOG(ERROR) << "Message of " << size << " bytes with payload size " << payload_size
               << " has a bad header size " << header_size;
    return;
  }
  data_ = static_cast<const char*>(data);
  header_size_ = header_size;
  payload_size_ = payload_size;
}

BinaryMessage::BinaryMessage(const BinaryMessage& other) { CopyFrom(other); }

BinaryMessage& BinaryMessage::operator=(const BinaryMessage& other) {
  if (this != &other)
    CopyFrom(other);
  return *this;
}

BinaryMessage::~BinaryMessage() = default;

void BinaryMessage::CopyFrom(const BinaryMessage& other) {
  buffer_.reset();
  capacity_ = 0;
  data_ = nullptr;
  header_size_ = 0;
  payload_size_ = 0;
  read_only_ = false;
  if (other.size() == 0) {
    read_only_ = true;
    return;
  }
  header_size_ = other.header_size_;
  Reserve(other.payload_size_);
  memcpy(mutable_data(), other.data_, other.size());
  payload_size_ = other.payload_size_;
}

void BinaryMessage::Reserve(size_t payload_size) {
  const size_t needed = header_size_ + payload_size;
  if (needed <= capacity_)
    return;
  size_t new_capacity = std::max(kMinCapacity, capacity_ * 2);
  new_capacity = std::max(new_capacity, needed);
  std::unique_ptr<char[]> new_buffer(new char[new_capacity]);
  if (buffer_)
    memcpy(new_buffer.get(), buffer_.get(), header_size_ + payload_size_);
  buffer_ = std::move(new_buffer);
  capacity_ = new_capacity;
  data_ = buffer_.get();
}

void BinaryMessage::StorePayloadSize() {
  const uint32_t payload_size = static_cast<uint32_t>(payload_size_);
  memcpy(mutable_data(), &payload_size, sizeof(payload_size));
}

char* BinaryMessage::ClaimBytes(size_t length) {
  if (read_only_) {
    LOG(ERROR) << "Cannot write to a read-only message";
    return nullptr;
  }
  // A copy of a received message may hold a payload whose size is no
  // multiple of 4 (or beyond the limit): new fields still start aligned.
  const size_t start = AlignUp4(std::min(payload_size_, kMaxPayloadSize + 1));
  if (start > kMaxPayloadSize || length > kMaxPayloadSize - start) {
    LOG(ERROR) << "Message payload of " << payload_size_ << " bytes cannot grow by " << length;
    return nullptr;
  }
  // kMaxPayloadSize is a multiple of 4, so the rounded end stays within it.
  const size_t end = start + AlignUp4(length);
  Reserve(end);
  char* base = mutable_data() + header_size_;
  memset(base + payload_size_, 0, end - payload_size_);
  payload_size_ = end;
  StorePayloadSize();
  return base + start;
}

bool BinaryMessage::WriteUInt32(uint32_t value) {
  char* out = ClaimBytes(sizeof(value));
  if (!out)
    return false;
  memcpy(out, &value, sizeof(value));
  return true;
}

bool BinaryMessage::WriteUInt64(uint64_t value) {
  char* out = ClaimBytes(sizeof(value));
  if (!out)
    return false;
  memcpy(out, &value, sizeof(value));
  return true;
}

bool BinaryMessage::WriteDouble(double value) {
  char* out = ClaimBytes(sizeof(value));
  if (!out)
    return false;
  memcpy(out, &value, sizeof(value));
  return true;
}

bool BinaryMessage::WriteString(std::string_view value) {
  if (value.size() > kMaxPayloadSize) {
    LOG(ERROR) << "String of " << value.size() << " bytes is too long for a message";
    return false;
  }
  char* out = ClaimBytes(sizeof(int32_t) + value.size());
  if (!out)
    return false;
  const int32_t count = static_cast<int32_t>(value.size());
  memcpy(out, &count, sizeof(count));
  if (!value.empty())
    memcpy(out + sizeof(count), value.data(), value.size());
  return true;
}

bool BinaryMessage::WriteString16(std::wstring_view value) {
  static_assert(sizeof(wchar_t) == 2, "UTF-16 strings are wchar_t strings");
  if (value.size() > kMaxPayloadSize / 2) {
    LOG(ERROR) << "UTF-16 string of " << value.size() << " units is too long for a message";
    return false;
  }
  const size_t bytes = value.size() * 2;
  char* out = ClaimBytes(sizeof(int32_t) + bytes);
  if (!out)
    return false;
  const int32_t count = static_cast<int32_t>(value.size());
  memcpy(out, &count, sizeof(count));
  if (bytes)
    memcpy(out + sizeof(count), value.data(), bytes);
  return true;
}

bool BinaryMessage::WriteBytes(const void* data, size_t length) {
  char* out = ClaimBytes(length);
  if (!out)
    return false;
  if (length)
    memcpy(out, data, length);
  return true;
}

// BinaryMessageReader ----------------------------------------------------------

BinaryMessageReader::BinaryMessageReader(const BinaryMessage& message)
    : BinaryMessageReader(message.payload(), message.payload_size()) {}

BinaryMessageReader::BinaryMessageReader(const char* payload, size_t payload_size)
    : payload_(payload), size_(payload ? payload_size : 0) {}

void BinaryMessageReader::Skip(size_t length) {
  const size_t remaining = remaining_bytes();
  offset_ += (length >= remaining) ? remaining : std::min(AlignUp4(length), remaining);
}

bool BinaryMessageReader::ReadFixed(void* out, size_t length, const char* what) {
  if (remaining_bytes() < length) {
    LOG(ERROR) << "Cannot read " << what << ": " << remaining_bytes()
               << " bytes left in the message";
    SkipToEnd();
    return false;
  }
  memcpy(out, payload_ + offset_, length);
  Skip(length);
  return true;
}

bool BinaryMessageReader::ReadUInt32(uint32_t* value) {
  return ReadFixed(value, sizeof(*value), "a 32-bit field");
}

bool BinaryMessageReader::ReadInt(int* value) {
  static_assert(sizeof(int) == 4);
  return ReadFixed(value, sizeof(*value), "a 32-bit field");
}

bool BinaryMessageReader::ReadInt64(int64_t* value) {
  return ReadFixed(value, sizeof(*value), "a 64-bit field");
}

bool BinaryMessageReader::ReadUInt64(uint64_t* value) {
  return ReadFixed(value, sizeof(*value), "a 64-bit field");
}

bool BinaryMessageReader::ReadDouble(double* value) {
  return ReadFixed(value, sizeof(*value), "a double");
}

bool BinaryMessageReader::ReadBool(bool* value) {
  if (AtEnd()) {
    LOG(ERROR) << "Cannot read a bool at the end of the message";
    return false;
  }
  *value = payload_[offset_] != 0;
  Skip(sizeof(uint32_t));
  return true;
}

bool BinaryMessageReader::ReadString(std::string* value) {
  int32_t count;
  if (!ReadFixed(&count, sizeof(count), "a string length"))
    return false;
  if (count < 0 || static_cast<size_t>(count) > remaining_bytes()) {
    LOG(ERROR) << "Bad string length " << count << " with " << remaining_bytes()
               << " bytes left in the message";
    SkipToEnd();
    return false;
  }
  value->assign(payload_ + offset_, static_cast<size_t>(count));
  Skip(static_cast<size_t>(count));
  return true;
}

bool BinaryMessageReader::ReadString16(std::wstring* value) {
  int32_t count;
  if (!ReadFixed(&count, sizeof(count), "a UTF-16 string length"))
    return false;
  int32_t bytes = 0;
  if (count < 0 || __builtin_mul_overflow(count, 2, &bytes) ||
      static_cast<size_t>(bytes) > remaining_bytes()) {
    LOG(ERROR) << "Bad UTF-16 string length " << count << " with " << remaining_bytes()
               << " bytes left in the message";
    SkipToEnd();
    return false;
  }
  value->resize(static_cast<size_t>(count));
  if (count)
    memcpy(value->data(), payload_ + offset_, static_cast<size_t>(bytes));
  Skip(static_cast<size_t>(bytes));
  return true;
}

bool BinaryMessageReader::ReadBytes(const char** data, size_t length) {
  if (remaining_bytes() < length) {
    LOG(ERROR) << "Cannot read " << length << " bytes: " << remaining_bytes()
               << " bytes left in the message";
    SkipToEnd();
    return false;
  }
  *data = payload_ + offset_;
  Skip(length);
  return true;
}

}  // namespace base
