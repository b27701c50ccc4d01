#include "desktop/windows/crash_reporter/crash_log/module_file_parser.h"

#include <windows.h>

#include <cstring>

#include "base/logging.h"

namespace crash_reporter {
namespace {

constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kVersionInfoId = 1;

// A bounds-checked view of the file: every read says whether it fit.
class FileView {
 public:
  FileView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Contains(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  template <typename T>
  bool Read(uint64_t offset, T* out) const {
    if (!Contains(offset, sizeof(T)))
      return false;
    memcpy(out, data_ + offset, sizeof(T));
    return true;
  }
  const uint8_t* At(uint64_t offset) const { return data_ + offset; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct Headers {
  uint32_t section_table = 0;
  uint16_t section_count = 0;
  uint32_t data_directories = 0;
  uint32_t data_directory_count = 0;
};

// The file position of a relative virtual address, through the section
// whose [virtual address, virtual address + raw size) holds it.
bool RvaToOffset(const FileView& view, const Headers& headers, uint32_t rva, uint64_t* offset) {
  for (uint16_t i = 0; i < headers.section_count; ++i) {
    IMAGE_SECTION_HEADER section;
    if (!view.Read(headers.section_table + uint64_t{i} * sizeof(section), &section))
      return false;
    uint64_t start = section.VirtualAddress;
    uint64_t end = start + section.SizeOfRawData;
    if (rva >= start && rva < end) {
      *offset = uint64_t{section.PointerToRawData} + (rva - start);
      return true;
    }
  }
  return false;
}

bool GetDataDirectory(const FileView& view, const Headers& headers, uint32_t index,
                      IMAGE_DATA_DIRECTORY* directory) {
  if (index >= headers.data_directory_count)
    return false;
  if (!view.Read(headers.data_directories + uint64_t{index} * sizeof(*directory), directory))
    return false;
  return directory->VirtualAddress != 0 && directory->Size != 0;
}

// A zero-terminated 8-bit text at |offset|; the file's end stops an
// unterminated one.
std::string ReadAsciiText(const FileView& view, uint64_t offset) {
  std::string text;
  while (view.Contains(offset, 1) && text.size() < kMaxModuleText) {
    char c = static_cast<char>(*view.At(offset));
    if (c == '\0')
      break;
    text.push_back(c);
    ++offset;
  }
  return text;
}

std::string ExportName(const FileView& view, const Headers& headers) {
  IMAGE_DATA_DIRECTORY directory;
  uint64_t offset = 0;
  IMAGE_EXPORT_DIRECTORY exports;
  uint64_t name_offset = 0;
  if (!GetDataDirectory(view, headers, IMAGE_DIRECTORY_ENTRY_EXPORT, &directory) ||
      !RvaToOffset(view, headers, directory.VirtualAddress, &offset) ||
      !view.Read(offset, &exports) || !RvaToOffset(view, headers, exports.Name, &name_offset)) {
    LOG(INFO) << "Could not find exports directory";
    return std::string();
  }
  return ReadAsciiText(view, name_offset);
}

// The entry of |id| among the ID entries of the resource directory at
// |directory_offset| (relative to the resource section start |base|).
bool FindResourceEntry(const FileView& view, uint64_t base, uint64_t directory_offset,
                       bool first_any, uint16_t id, IMAGE_RESOURCE_DIRECTORY_ENTRY* found) {
  IMAGE_RESOURCE_DIRECTORY directory;
  if (!view.Read(base + directory_offset, &directory))
    return false;
  uint64_t entries = base + directory_offset + sizeof(directory);
  uint32_t named = directory.NumberOfNamedEntries;
  uint32_t total = named + directory.NumberOfIdEntries;
  for (uint32_t i = first_any ? 0 : named; i < total; ++i) {
    IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
    if (!view.Read(entries + uint64_t{i} * sizeof(entry), &entry))
      return false;
    if (first_any || (!entry.NameIsString && entry.Id == id)) {
      *found = entry;
      return true;
    }
  }
  return false;
}

// The version resource's bytes, or false (logged) when any level is missing.
bool FindVersionData(const FileView& view, const Headers& headers, const std::string& log_name,
                     uint64_t* data_offset, uint32_t* data_size) {
  IMAGE_DATA_DIRECTORY directory;
  uint64_t base = 0;
  if (!GetDataDirectory(view, headers, IMAGE_DIRECTORY_ENTRY_RESOURCE, &directory) ||
      !RvaToOffset(view, headers, directory.VirtualAddress, &base) ||
      !view.Contains(base, sizeof(IMAGE_RESOURCE_DIRECTORY))) {
    LOG(INFO) << "Could not find resources directory in " << log_name;
    return false;
  }
  IMAGE_RESOURCE_DIRECTORY_ENTRY type_entry;
  IMAGE_RESOURCE_DIRECTORY_ENTRY id_entry;
  if (!FindResourceEntry(view, base, 0, false, kRtVersion, &type_entry) ||
      !type_entry.DataIsDirectory ||
      !FindResourceEntry(view, base, type_entry.OffsetToDirectory, false, kVersionInfoId,
                         &id_entry) ||
      !id_entry.DataIsDirectory) {
    LOG(INFO) << "Could not find version resource in " << log_name;
    return false;
  }
  IMAGE_RESOURCE_DIRECTORY_ENTRY language_entry;
  IMAGE_RESOURCE_DATA_ENTRY data_entry;
  if (!FindResourceEntry(view, base, id_entry.OffsetToDirectory, true, 0, &language_entry) ||
      language_entry.DataIsDirectory ||
      !view.Read(base + language_entry.OffsetToData, &data_entry) ||
      !RvaToOffset(view, headers, data_entry.OffsetToData, data_offset) ||
      !view.Contains(*data_offset, data_entry.Size)) {
    LOG(INFO) << "Could not find version info in " << log_name;
    return false;
  }
  *data_size = data_entry.Size;
  return true;
}

}  // namespace

bool FindVersionString(const uint8_t* data, size_t size, const char* key, std::string* value) {
  size_t key_length = strlen(key);
  size_t units = size / 2;
  auto unit_at = [data](size_t index) -> uint16_t {
    return static_cast<uint16_t>(data[2 * index] | (data[2 * index + 1] << 8));
  };
  for (size_t start = 0; start + key_length < units; ++start) {
    size_t i = 0;
    for (; i < key_length; ++i) {
      uint16_t unit = unit_at(start + i);
      if (unit >= 'a' && unit <= 'z')
        unit = static_cast<uint16_t>(unit - 'a' + 'A');
      if (unit != static_cast<uint8_t>(key[i]))
        break;
    }
    if (i < key_length)
      continue;
    uint16_t after = unit_at(start + key_length);
    if (after != 0 && after != ' ')
      continue;
    size_t position = start + key_length;
    while (position < units && unit_at(position) == 0)
      ++position;
    std::string text;
    // The end of the data stops a value without its terminator.
    while (position < units && text.size() < kMaxModuleText) {
      uint16_t unit = unit_at(position++);
      if (unit == 0)
        break;
      text.push_back(static_cast<char>(unit & 0xFF));
    }
    *value = std::move(text);
    return true;
  }
  return false;
}

bool ParseModuleFile(const uint8_t* bytes, size_t size, uint64_t load_address,
                     const std::string& log_name, ModuleFileData* data) {
  FileView view(bytes, size);
  IMAGE_DOS_HEADER dos;
  uint32_t signature = 0;
  IMAGE_FILE_HEADER file_header;
  uint64_t optional_offset = 0;
  uint16_t magic = 0;
  bool headers_ok = view.Read(0, &dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew >= 0 &&
                    view.Read(dos.e_lfanew, &signature) && signature == IMAGE_NT_SIGNATURE &&
                    view.Read(uint64_t(dos.e_lfanew) + 4, &file_header);
  if (headers_ok) {
    optional_offset = uint64_t(dos.e_lfanew) + 4 + sizeof(IMAGE_FILE_HEADER);
    headers_ok = view.Read(optional_offset, &magic) &&
                 (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC || magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  }
  // Both optional header forms keep SizeOfCode and BaseOfCode at the same
  // place; the data directories sit after the wider image base of PE32+.
  uint32_t size_of_code = 0;
  uint32_t base_of_code = 0;
  Headers headers;
  if (headers_ok) {
    bool is64 = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    uint32_t count_field = is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes)
                                : offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
    uint32_t directories = is64 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    uint32_t declared = 0;
    headers_ok =
        file_header.SizeOfOptionalHeader >= count_field + 4 &&
        view.Contains(optional_offset, file_header.SizeOfOptionalHeader) &&
        view.Read(optional_offset + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfCode), &size_of_code) &&
        view.Read(optional_offset + offsetof(IMAGE_OPTIONAL_HEADER64, BaseOfCode), &base_of_code) &&
        view.Read(optional_offset + count_field, &declared);
    if (headers_ok) {
      // Only the directories that both the count and the header's size hold.
      uint32_t room =
          (file_header.SizeOfOptionalHeader - directories) / sizeof(IMAGE_DATA_DIRECTORY);
      if (file_header.SizeOfOptionalHeader < directories)
        room = 0;
      headers.data_directories = static_cast<uint32_t>(optional_offset + directories);
      headers.data_directory_count = declared < room ? declared : room;
      headers.section_table =
          static_cast<uint32_t>(optional_offset + file_header.SizeOfOptionalHeader);
      headers.section_count = file_header.NumberOfSections;
    }
  }
  const std::string& shown_name = log_name.empty() ? std::string("<unknown>") : log_name;
  if (!headers_ok) {
    LOG(ERROR) << "GetNtHeaders failed for " << shown_name;
    return false;
  }
  data->code_end = load_address + base_of_code + size_of_code;
  data->time_stamp = file_header.TimeDateStamp;
  if (data->name.empty())
    data->name = ExportName(view, headers);

  uint64_t version_offset = 0;
  uint32_t version_size = 0;
  if (FindVersionData(view, headers, shown_name, &version_offset, &version_size)) {
    const uint8_t* version = view.At(version_offset);
    std::string original_name;
    if (data->name.empty() &&
        FindVersionString(version, version_size, "ORIGINALFILENAME", &original_name)) {
      data->name = original_name;
    }
    FindVersionString(version, version_size, "FILEVERSION", &data->file_version);
  }
  return true;
}

}  // namespace crash_reporter
