// A flat message: a 32-bit header holding the payload size, then the
// payload, a sequence of fields that each start at a multiple of 4 bytes
// from the start of the payload. Integers are little-endian; padding bytes
// are zero.
//
//   uint32, int32, bool  4 bytes (bool as 0 or 1)
//   int64, uint64, double 8 bytes
//   string               int32 byte count, the bytes, padding to 4
//   string16             int32 count of UTF-16 units, 2 bytes each, padding
//
// A message is either built by writing fields (it owns a growing buffer), or
// is a read-only view of received bytes, which it neither copies nor frees.
#ifndef BASE_BINARY_MESSAGE_H_
#define BASE_BINARY_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace base {

class BinaryMessage {
 public:
  // Largest payload a message may hold; keeps every count an int32 and
  // every rounding free of overflow.
  static constexpr size_t kMaxPayloadSize = 0x7FFFFFF0;

  // An empty, writable message: a 4-byte header with payload size 0.
  BinaryMessage();
  // The same with room for |payload_capacity| bytes before the first growth.
  explicit BinaryMessage(size_t payload_capacity);
  // A read-only view of |size| received bytes. The header is the first
  // |size| - payload size bytes, where the payload size is read from the
  // first four bytes. The view is empty (size() 0, no payload) when |size| is
  // below 4, or when that header size would be 0, larger than |size| or not
  // a multiple of 4. |data| must outlive the view.
  BinaryMessage(const void* data, size_t size);
  // Copies header and payload; a copy of a view owns its bytes and may be
  // written to (a copy of an empty view is empty and read-only).
  BinaryMessage(const BinaryMessage& other);
  BinaryMessage& operator=(const BinaryMessage& other);
  ~BinaryMessage();

  // Header and payload.
  const void* data() const { return data_; }
  size_t size() const { return header_size_ + payload_size_; }
  const char* payload() const { return data_ + header_size_; }
  size_t payload_size() const { return payload_size_; }
  size_t header_size() const { return header_size_; }
  // Bytes of owned storage, header included (0 for views).
  size_t capacity() const { return capacity_; }
  // True for views of received bytes (and empty views' copies).
  bool read_only() const { return read_only_; }

  // Each write appends one field and grows the payload size; false (logged)
  // on a read-only message or when the payload would exceed kMaxPayloadSize.
  bool WriteBool(bool value) { return WriteUInt32(value ? 1 : 0); }
  bool WriteInt(int value) { return WriteUInt32(static_cast<uint32_t>(value)); }
  bool WriteUInt32(uint32_t value);
  bool WriteInt64(int64_t value) { return WriteUInt64(static_cast<uint64_t>(value)); }
  bool WriteUInt64(uint64_t value);
  bool WriteDouble(double value);
  bool WriteString(std::string_view value);
  bool WriteString16(std::wstring_view value);
  // |length| raw bytes, zero-padded to 4 (no count).
  bool WriteBytes(const void* data, size_t length);

  // Reserves |length| more bytes, rounded up to a multiple of 4, at the end
  // of the payload (zero-filled) and returns where to write them; null
  // (logged) when the message is read-only or would grow too large. The
  // pointer stays valid until the next write.
  char* ClaimBytes(size_t length);

 private:
  void CopyFrom(const BinaryMessage& other);
  // Makes room for |payload_size| bytes of payload, doubling the capacity.
  void Reserve(size_t payload_size);
  void StorePayloadSize();
  char* mutable_data() { return buffer_.get(); }

  // Owned storage (null for views); data_ points into it or at the viewed
  // bytes, and is null for an empty view.
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  const char* data_ = nullptr;
  size_t header_size_ = 0;
  size_t payload_size_ = 0;
  bool read_only_ = false;
};

// A cursor over a message's payload. Reads never go past the payload,
// whatever it holds. A failed read of a fixed-size field, a string or raw
// bytes moves the cursor to the end, so every later read fails too.
class BinaryMessageReader {
 public:
  explicit BinaryMessageReader(const BinaryMessage& message);
  BinaryMessageReader(const char* payload, size_t payload_size);

  // False when fewer than 4 (8) bytes remain.
  bool ReadUInt32(uint32_t* value);
  bool ReadInt(int* value);
  bool ReadInt64(int64_t* value);
  bool ReadUInt64(uint64_t* value);
  bool ReadDouble(double* value);
  // The first byte of the next 4-byte field (or of what remains, when less
  // than a field remains); false only at the end.
  bool ReadBool(bool* value);
  // False on fewer than 4 bytes, a negative count, a count (of UTF-16 units,
  // doubled) larger than what remains; on success the cursor moves past the
  // padding, or to the end when the padding is missing.
  bool ReadString(std::string* value);
  bool ReadString16(std::wstring* value);
  // |length| raw bytes (pointing into the message) and their padding.
  bool ReadBytes(const char** data, size_t length);

  size_t remaining_bytes() const { return size_ - offset_; }
  bool AtEnd() const { return offset_ == size_; }

 private:
  // Copies |length| bytes and advances past them; fails to the end.
  bool ReadFixed(void* out, size_t length, const char* what);
  // Advances past |length| bytes rounded up to 4, or to the end.
  void Skip(size_t length);
  void SkipToEnd() { offset_ = size_; }

  const char* payload_;
  size_t size_;
  size_t offset_ = 0;
};

}  // namespace base

#endif  // BASE_BINARY_MESSAGE_H_
