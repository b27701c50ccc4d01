#include "desktop/windows/installer/package_fetcher/archive_header_coders.h"

#include <algorithm>
#include <string>
#include <utility>

namespace installer {
namespace {

// Property ids of the 7z catalogue.
constexpr uint8_t kEnd = 0x00;
constexpr uint8_t kPackInfo = 0x06;
constexpr uint8_t kUnpackInfo = 0x07;
constexpr uint8_t kSize = 0x09;
constexpr uint8_t kCrc = 0x0A;
constexpr uint8_t kFolder = 0x0B;
constexpr uint8_t kEncodedHeader = 0x17;

// The 7z signature and the start header's size.
constexpr char kSignature[] = {'7', 'z', '\xBC', '\xAF', '\x27', '\x1C'};
constexpr size_t kStartHeaderSize = 32;

// Reads the catalogue's bytes and numbers, and fails for good on the
// first read past the end.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}

  bool ok() const { return ok_; }

  uint8_t Byte() {
    if (at_ >= data_.size()) {
      ok_ = false;
      return 0;
    }
    return static_cast<uint8_t>(data_[at_++]);
  }

  // The variable-length number: the high bits of the first byte count the
  // bytes that follow, low byte first.
  uint64_t Number() {
    const uint8_t first = Byte();
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i, mask >>= 1) {
      if ((first & mask) == 0)
        return value | (static_cast<uint64_t>(first & (mask - 1)) << (8 * i));
      value |= static_cast<uint64_t>(Byte()) << (8 * i);
    }
    return value;
  }

  void Skip(uint64_t count) {
    if (count > data_.size() - std::min(at_, data_.size())) {
      ok_ = false;
      return;
    }
    at_ += static_cast<size_t>(count);
  }

 private:
  std::string_view data_;
  size_t at_ = 0;
  bool ok_ = true;
};

// Skips a list of |count| CRCs: which are defined, then four bytes each.
void SkipDigests(Reader* reader, uint64_t count) {
  uint64_t defined = count;
  if (reader->Byte() == 0) {
    defined = 0;
    uint8_t bits = 0;
    for (uint64_t i = 0; i < count && reader->ok(); ++i) {
      if (i % 8 == 0)
        bits = reader->Byte();
      defined += (bits >> (7 - i % 8)) & 1;
    }
  }
  reader->Skip(defined > UINT64_MAX / 4 ? UINT64_MAX : defined * 4);
}

bool SkipPackInfo(Reader* reader) {
  reader->Number();  // Where the packed streams start.
  const uint64_t streams = reader->Number();
  while (reader->ok()) {
    const uint64_t id = reader->Number();
    if (id == kEnd)
      return true;
    if (id == kSize) {
      for (uint64_t i = 0; i < streams && reader->ok(); ++i)
        reader->Number();
    } else if (id == kCrc) {
      SkipDigests(reader, streams);
    } else {
      reader->Skip(reader->Number());
    }
  }
  return false;
}

// The methods of the first block that the unpack information describes.
bool ReadFirstFolderMethods(Reader* reader, std::vector<uint64_t>* methods) {
  if (reader->Number() != kFolder || reader->Number() == 0 || reader->Byte() != 0)
    return false;
  const uint64_t coders = reader->Number();
  // The format allows 64 coders a block.
  if (coders == 0 || coders > 64)
    return false;
  std::vector<uint64_t> found;
  for (uint64_t c = 0; c < coders && reader->ok(); ++c) {
    const uint8_t main = reader->Byte();
    if (main & 0xC0)
      return false;  // A form no 7z writer makes.
    const int id_size = main & 0x0F;
    if (id_size > 8)
      return false;
    uint64_t id = 0;
    for (int i = 0; i < id_size; ++i)
      id = (id << 8) | reader->Byte();
    if (main & 0x10) {
      reader->Number();  // Input streams.
      reader->Number();  // Output streams.
    }
    if (main & 0x20)
      reader->Skip(reader->Number());  // The coder's properties.
    found.push_back(id);
  }
  if (!reader->ok())
    return false;
  *methods = std::move(found);
  return true;
}

}  // namespace

bool ReadPackedHeaderMethods(std::string_view end_header, std::vector<uint64_t>* methods) {
  Reader reader(end_header);
  if (reader.Byte() != kEncodedHeader)
    return false;
  while (reader.ok()) {
    const uint64_t id = reader.Number();
    if (id == kPackInfo) {
      if (!SkipPackInfo(&reader))
        return false;
    } else if (id == kUnpackInfo) {
      return ReadFirstFolderMethods(&reader, methods);
    } else {
      return false;
    }
  }
  return false;
}

bool ReadArchiveHeaderMethods(HANDLE archive, std::vector<uint64_t>* methods) {
  auto read_at = [archive](uint64_t offset, size_t size, std::string* bytes) {
    bytes->assign(size, '\0');
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!::ReadFile(archive, bytes->data(), static_cast<DWORD>(size), &read, &at))
      return false;
    bytes->resize(read);
    return true;
  };
  std::string start;
  if (!read_at(0, kStartHeaderSize, &start) || start.size() < kStartHeaderSize ||
      start.compare(0, sizeof(kSignature), kSignature, sizeof(kSignature)) != 0) {
    return false;
  }
  auto u64_at = [&start](size_t at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
      value = (value << 8) | static_cast<uint8_t>(start[at + i]);
    return value;
  };
  const uint64_t offset = u64_at(12);
  const uint64_t size = u64_at(20);
  if (offset > UINT64_MAX - kStartHeaderSize || offset + kStartHeaderSize > INT64_MAX)
    return false;
  std::string end_header;
  if (!read_at(offset + kStartHeaderSize,
               static_cast<size_t>(std::min<uint64_t>(size, kMaxPackedHeaderDescription)),
               &end_header)) {
    return false;
  }
  return ReadPackedHeaderMethods(end_header, methods);
}

}  // namespace installer
