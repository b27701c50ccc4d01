// One module of the crashed process, with the identifying data of its file.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_INFO_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_INFO_IMPL_H_

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/crash_reporter/crash_log/process_state.h"

namespace crash_reporter {

class ModuleInfoImpl : public ModuleInfo {
 public:
  // Keeps |name| (the low byte of each unit, at most 127 characters), the
  // address and the size, then reads the rest from the file at |path|.
  // A file that cannot be opened or parsed is logged and leaves the version,
  // time stamp and end of code empty.
  ModuleInfoImpl(const std::wstring& name, const base::FilePath& path, uint64_t load_address,
                 uint32_t size);
  ~ModuleInfoImpl() override;

  const char* GetName() const override { return name_.c_str(); }
  uint64_t GetLoadAddress() const override { return load_address_; }
  uint32_t GetSize() const override { return size_; }
  uint64_t GetBaseAddress() const override { return load_address_; }
  uint64_t GetCodeEnd() const override { return code_end_ - load_address_; }
  const char* GetFileVersion() const override { return file_version_.c_str(); }
  uint32_t GetTimeStamp() const override { return time_stamp_; }

 private:
  void ReadFile(const base::FilePath& path);

  std::string name_;
  std::string file_version_;
  uint32_t time_stamp_ = 0;
  uint64_t load_address_;
  uint32_t size_;
  uint64_t code_end_;
};

// The 8-bit form of a UTF-16 name: the low byte of each unit, at most 127.
std::string NarrowModuleText(std::wstring_view text);

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_MODULE_INFO_IMPL_H_
