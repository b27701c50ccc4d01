#include "base/binary_message.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/scoped_generic.h"

namespace base {
namespace {

// The fuzz cases log a line per malformed field; keep them out of the output.
class QuietLogs {
 public:
  QuietLogs() : previous_(logging::GetLogMessageHandler()) {
    logging::SetLogMessageHandler(
        [](int, const char*, int, size_t, const std::string&) { return true; });
  }
  ~QuietLogs() { logging::SetLogMessageHandler(previous_); }

 private:
  logging::LogMessageHandlerFunction previous_;
};

struct VirtualMemoryTraits {
  static void* InvalidValue() { return nullptr; }
  static void Free(void*& memory) { VirtualFree(memory, 0, MEM_RELEASE); }
};

// Places bytes so that they end exactly where an inaccessible page begins:
// reading one byte past them faults at once instead of going unnoticed.
class GuardedBuffer {
 public:
  GuardedBuffer() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_size_ = info.dwPageSize;
    capacity_ = 16 * page_size_;
    memory_.Reset(
        VirtualAlloc(nullptr, capacity_ + page_size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old_protection;
    ok_ = memory_.IsValid() && VirtualProtect(static_cast<char*>(memory_.Get()) + capacity_,
                                              page_size_, PAGE_NOACCESS, &old_protection);
  }

  bool ok() const { return ok_; }
  size_t capacity() const { return capacity_; }

  // Copies |bytes| so that their last byte is the last accessible one.
  const char* Place(const void* bytes, size_t size) {
    char* start = static_cast<char*>(memory_.Get()) + capacity_ - size;
    if (size)
      memcpy(start, bytes, size);
    return start;
  }

 private:
  ScopedGeneric<void*, VirtualMemoryTraits> memory_;
  size_t page_size_ = 0;
  size_t capacity_ = 0;
  bool ok_ = false;
};

std::string Bytes(const BinaryMessage& message) {
  return std::string(static_cast<const char*>(message.data()), message.size());
}

// Reads everything a message could hold, field kind by field kind, until the
// reader is exhausted; a crash or a read past the guard page is the failure.
void ReadEverything(const BinaryMessage& message, uint32_t choices) {
  BinaryMessageReader reader(message);
  std::string s;
  std::wstring w;
  uint32_t u;
  uint64_t u64;
  bool b;
  const char* raw;
  for (int i = 0; i < 64 && !reader.AtEnd(); ++i) {
    const size_t before = reader.remaining_bytes();
    switch ((choices >> ((i % 8) * 4)) & 7) {
      case 0: reader.ReadString(&s); break;
      case 1: reader.ReadString16(&w); break;
      case 2: reader.ReadUInt32(&u); break;
      case 3: reader.ReadUInt64(&u64); break;
      case 4: reader.ReadBool(&b); break;
      case 5: reader.ReadBytes(&raw, i); break;
      default: reader.ReadString16(&w); break;
    }
    EXPECT_LE(reader.remaining_bytes(), before);
  }
}

TEST(BinaryMessageTest, RoundTripOfEveryFieldKind) {
  BinaryMessage message;
  EXPECT_EQ(4u, message.size());
  EXPECT_EQ(0u, message.payload_size());

  const std::string odd = "abcde";              // 5 bytes: 3 of padding
  const std::wstring odd16 = L"\u00e9t\u00e9";  // 3 units: 2 bytes of padding
  const std::string binary("\0\xff\x01", 3);
  ASSERT_TRUE(message.WriteUInt32(0xDEADBEEF));
  ASSERT_TRUE(message.WriteInt(-7));
  ASSERT_TRUE(message.WriteBool(true));
  ASSERT_TRUE(message.WriteBool(false));
  ASSERT_TRUE(message.WriteString(odd));
  ASSERT_TRUE(message.WriteString(""));
  ASSERT_TRUE(message.WriteString16(odd16));
  ASSERT_TRUE(message.WriteString16(L""));
  ASSERT_TRUE(message.WriteInt64(-1234567890123456789));
  ASSERT_TRUE(message.WriteUInt64(0xFEDCBA9876543210));
  ASSERT_TRUE(message.WriteDouble(2.5));
  ASSERT_TRUE(message.WriteString(binary));
  ASSERT_TRUE(message.WriteBytes("x", 1));

  // 4+4+4+4 + (4+8) + 4 + (4+8) + 4 + 8+8+8 + (4+4) + 4
  EXPECT_EQ(84u, message.payload_size());
  EXPECT_EQ(88u, message.size());
  uint32_t header;
  memcpy(&header, message.data(), 4);
  EXPECT_EQ(84u, header);
  // The padding after "abcde" is zero.
  EXPECT_EQ(0, memcmp(message.payload() + 16, "\x05\0\0\0abcde\0\0\0", 12));

  BinaryMessageReader reader(message);
  uint32_t u;
  int i;
  bool b;
  std::string s;
  std::wstring w;
  int64_t i64;
  uint64_t u64;
  double d;
  const char* raw;
  ASSERT_TRUE(reader.ReadUInt32(&u));
  EXPECT_EQ(0xDEADBEEF, u);
  ASSERT_TRUE(reader.ReadInt(&i));
  EXPECT_EQ(-7, i);
  ASSERT_TRUE(reader.ReadBool(&b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(reader.ReadBool(&b));
  EXPECT_FALSE(b);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ(odd, s);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ("", s);
  ASSERT_TRUE(reader.ReadString16(&w));
  EXPECT_EQ(odd16, w);
  ASSERT_TRUE(reader.ReadString16(&w));
  EXPECT_EQ(L"", w);
  ASSERT_TRUE(reader.ReadInt64(&i64));
  EXPECT_EQ(-1234567890123456789, i64);
  ASSERT_TRUE(reader.ReadUInt64(&u64));
  EXPECT_EQ(0xFEDCBA9876543210, u64);
  ASSERT_TRUE(reader.ReadDouble(&d));
  EXPECT_EQ(2.5, d);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ(binary, s);
  ASSERT_TRUE(reader.ReadBytes(&raw, 1));
  EXPECT_EQ('x', raw[0]);
  EXPECT_TRUE(reader.AtEnd());
}

TEST(BinaryMessageTest, ClaimBytesRoundsUpAndGrows) {
  BinaryMessage message;
  char* first = message.ClaimBytes(5);
  ASSERT_NE(nullptr, first);
  memset(first, 'a', 5);
  EXPECT_EQ(8u, message.payload_size());
  // Growing far past the initial capacity keeps what was written.
  char* big = message.ClaimBytes(100000);
  ASSERT_NE(nullptr, big);
  memset(big, 'b', 100000);
  EXPECT_EQ(100008u, message.payload_size());
  EXPECT_EQ(0, memcmp(message.payload(), "aaaaa\0\0\0bb", 10));
  EXPECT_EQ(nullptr, message.ClaimBytes(BinaryMessage::kMaxPayloadSize));
  EXPECT_EQ(100008u, message.payload_size());
}

TEST(BinaryMessageTest, ViewsAndCopies) {
  BinaryMessage written;
  written.WriteString("hello");
  written.WriteInt(42);
  const std::string bytes = Bytes(written);

  BinaryMessage view(bytes.data(), bytes.size());
  EXPECT_TRUE(view.read_only());
  EXPECT_EQ(bytes.data(), view.data());  // no copy
  EXPECT_EQ(written.payload_size(), view.payload_size());
  EXPECT_FALSE(view.WriteInt(1));

  BinaryMessage copy(view);
  EXPECT_NE(view.data(), copy.data());
  EXPECT_EQ(bytes, Bytes(copy));
  ASSERT_TRUE(copy.WriteInt(7));  // a copy owns its bytes
  BinaryMessageReader reader(copy);
  std::string s;
  int i;
  ASSERT_TRUE(reader.ReadString(&s));
  ASSERT_TRUE(reader.ReadInt(&i));
  EXPECT_EQ(42, i);
  ASSERT_TRUE(reader.ReadInt(&i));
  EXPECT_EQ(7, i);
  EXPECT_EQ(bytes, Bytes(view));  // the viewed bytes are untouched

  BinaryMessage assigned;
  assigned = written;
  EXPECT_EQ(bytes, Bytes(assigned));

  // A longer header than four bytes is accepted when the rules allow it.
  const char eight_byte_header[] = {4, 0, 0, 0, 9, 9, 9, 9, 5, 0, 0, 0};
  BinaryMessage long_header(eight_byte_header, sizeof(eight_byte_header));
  EXPECT_EQ(8u, long_header.header_size());
  ASSERT_EQ(4u, long_header.payload_size());
  BinaryMessageReader long_reader(long_header);
  ASSERT_TRUE(long_reader.ReadInt(&i));
  EXPECT_EQ(5, i);
}

TEST(BinaryMessageTest, MalformedHeadersGiveEmptyMessages) {
  QuietLogs quiet;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"nothing", {}},
      {"shorter than a header", {0, 0, 0}},
      {"header size 0", {4, 0, 0, 0}},
      {"header size 0 with payload", {8, 0, 0, 0, 1, 2, 3, 4}},
      {"payload size larger than n", {9, 0, 0, 0, 1, 2, 3, 4}},
      {"payload size wrapping n - size", {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4}},
      {"header size 6", {0, 0, 0, 0, 1, 2}},
      {"header size 5", {3, 0, 0, 0, 0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BinaryMessage message(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(0u, message.size());
    EXPECT_EQ(0u, message.payload_size());
    BinaryMessageReader reader(message);
    std::string s;
    EXPECT_FALSE(reader.ReadString(&s));
    BinaryMessage copy(message);
    EXPECT_EQ(0u, copy.size());
  }
  // The smallest valid message: a header and nothing else.
  const uint8_t empty_payload[] = {0, 0, 0, 0};
  BinaryMessage message(empty_payload, sizeof(empty_payload));
  EXPECT_EQ(4u, message.size());
}

TEST(BinaryMessageTest, FailedReadsMoveToTheEnd) {
  QuietLogs quiet;
  uint32_t u;
  uint64_t u64;
  std::string s;
  std::wstring w;
  bool b;
  {
    // Six bytes: a 32-bit field reads, a second one fails and exhausts.
    const char payload[] = {1, 0, 0, 0, 2, 0};
    BinaryMessageReader reader(payload, sizeof(payload));
    ASSERT_TRUE(reader.ReadUInt32(&u));
    EXPECT_FALSE(reader.ReadUInt32(&u));
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.ReadBool(&b));
  }
  {
    // A 64-bit field needs eight bytes.
    const char payload[] = {1, 0, 0, 0, 0, 0, 0};
    BinaryMessageReader reader(payload, sizeof(payload));
    EXPECT_FALSE(reader.ReadUInt64(&u64));
    EXPECT_TRUE(reader.AtEnd());
  }
  {
    // A bool takes the first byte of what remains, even a short remainder.
    const char payload[] = {0, 0, 0, 0, 7, 0};
    BinaryMessageReader reader(payload, sizeof(payload));
    ASSERT_TRUE(reader.ReadBool(&b));
    EXPECT_FALSE(b);
    ASSERT_TRUE(reader.ReadBool(&b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_FALSE(reader.ReadBool(&b));
  }
  {
    // Negative, too long, and overflowing doubled counts.
    const int32_t counts[] = {-1, 5, 0x40000001, 0x7FFFFFFF};
    for (int32_t count : counts) {
      SCOPED_TRACE(count);
      char payload[8] = {};
      memcpy(payload, &count, 4);
      BinaryMessageReader narrow(payload, sizeof(payload));
      EXPECT_FALSE(narrow.ReadString(&s));
      EXPECT_TRUE(narrow.AtEnd());
      BinaryMessageReader wide(payload, sizeof(payload));
      EXPECT_FALSE(wide.ReadString16(&w));
      EXPECT_TRUE(wide.AtEnd());
    }
    // Three units need six bytes; four remain.
    const char payload[] = {3, 0, 0, 0, 'a', 0, 'b', 0};
    BinaryMessageReader reader(payload, sizeof(payload));
    EXPECT_FALSE(reader.ReadString16(&w));
  }
  {
    // A string whose padding is cut off still reads and ends the cursor.
    const char payload[] = {3, 0, 0, 0, 'a', 'b', 'c'};
    BinaryMessageReader reader(payload, sizeof(payload));
    ASSERT_TRUE(reader.ReadString(&s));
    EXPECT_EQ("abc", s);
    EXPECT_TRUE(reader.AtEnd());
  }
}

TEST(BinaryMessageTest, FuzzNeverReadsPastTheBuffer) {
  QuietLogs quiet;
  GuardedBuffer guard;
  ASSERT_TRUE(guard.ok());
  std::mt19937 random(20240229);

  // Valid messages cut at every length, and with their header rewritten to
  // the length of what is left, so that the reader sees the truncation.
  BinaryMessage valid;
  valid.WriteString("some text of odd length");
  valid.WriteString16(L"wide text");
  valid.WriteUInt64(1);
  valid.WriteBool(true);
  valid.WriteString("");
  const std::string full = Bytes(valid);
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    std::string bytes = full.substr(0, cut);
    for (int fix_header = 0; fix_header < 2; ++fix_header) {
      if (fix_header && cut >= 4) {
        const uint32_t payload_size = static_cast<uint32_t>(cut - 4);
        memcpy(bytes.data(), &payload_size, 4);
      }
      const char* placed = guard.Place(bytes.data(), bytes.size());
      BinaryMessage message(placed, bytes.size());
      for (uint32_t choices : {0x00000000u, 0x11111111u, 0x22222222u, 0x33333333u, 0x44444444u,
                               0x01234567u, 0x76543210u})
        ReadEverything(message, choices);
    }
  }

  // Random bytes behind a header that mostly claims a plausible size.
  std::vector<char> bytes;
  for (int round = 0; round < 3000; ++round) {
    const size_t size = random() % 200;
    bytes.resize(size);
    for (char& c : bytes)
      c = static_cast<char>(random() % 4 == 0 ? random() % 3 : random());
    if (size >= 4 && random() % 4 != 0) {
      const uint32_t payload_size = static_cast<uint32_t>(size - 4 - 4 * (random() % 2));
      memcpy(bytes.data(), &payload_size, 4);
    }
    const char* placed = guard.Place(bytes.data(), bytes.size());
    BinaryMessage message(placed, bytes.size());
    ASSERT_LE(message.size(), size);
    ReadEverything(message, static_cast<uint32_t>(random()));
    BinaryMessage copy(message);
    ReadEverything(copy, static_cast<uint32_t>(random()));
  }
}

}  // namespace
}  // namespace base
