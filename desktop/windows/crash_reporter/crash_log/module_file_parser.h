// Reads the identifying data of a module out of its file: the end of its code,
// its link time stamp, and (for a module without a name) the name from its
// export directory or version resource. The file comes from disk and may be
// damaged or hostile: every offset and size is checked against the view, and
// a file that does not parse leaves the fields as they were.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_FILE_PARSER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_FILE_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace crash_reporter {

// The longest name or version text kept, in characters.
inline constexpr size_t kMaxModuleText = 127;

struct ModuleFileData {
  // Input: the name known so far (may be empty). Output: the export name or
  // the original file name when it was empty and the file holds one.
  std::string name;
  std::string file_version;
  uint32_t time_stamp = 0;
  // Absolute: load address + BaseOfCode + SizeOfCode.
  uint64_t code_end = 0;
};

// Parses the file bytes |view| of |size| bytes for a module loaded at
// |load_address|. |log_name| names the module in log lines. False (logged)
// when the headers are not those of a PE file; missing exports or version
// data are logged and leave their fields empty.
bool ParseModuleFile(const uint8_t* view, size_t size, uint64_t load_address,
                     const std::string& log_name, ModuleFileData* data);

// The value of |key| (upper-case ASCII) in the UTF-16 version data, as 8-bit
// text of at most kMaxModuleText characters; false when the key is absent.
bool FindVersionString(const uint8_t* data, size_t size, const char* key, std::string* value);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_FILE_PARSER_H_
