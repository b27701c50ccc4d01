#include "desktop/windows/crash_reporter/crash_log/module_info_impl.h"

#include <windows.h>
#include <psapi.h>

#include "base/logging.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/mapped_section_view.h"
#include "desktop/windows/crash_reporter/crash_log/module_file_parser.h"

namespace crash_reporter {

std::string NarrowModuleText(std::wstring_view text) {
  std::string narrow;
  for (wchar_t unit : text) {
    if (narrow.size() >= kMaxModuleText)
      break;
    narrow.push_back(static_cast<char>(unit & 0xFF));
  }
  return narrow;
}

ModuleInfoImpl::ModuleInfoImpl(const std::wstring& name, const base::FilePath& path,
                               uint64_t load_address, uint32_t size)
    : name_(NarrowModuleText(name)),
      load_address_(load_address),
      size_(size),
      code_end_(load_address) {
  ReadFile(path);
}

ModuleInfoImpl::~ModuleInfoImpl() = default;

void ModuleInfoImpl::ReadFile(const base::FilePath& path) {
  base::win::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    LOG(ERROR) << "CreateFile failed for " << path.value();
  if (name_.empty())
    LOG(WARNING) << "Module " << path.value() << " has no name";
  if (!file.IsValid())
    return;

  const std::string log_name = name_.empty() ? std::string("<unknown>") : name_;
  base::win::ScopedHandle mapping(
      ::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) {
    LOG(ERROR) << "CreateFileMappingFailed for " << log_name;
    return;
  }
  // The size comes from the mapping: the file may grow meanwhile, and the
  // view holds only what the mapping took.
  MappedSectionView view;
  if (!view.Map(mapping.Get())) {
    LOG(ERROR) << "MapViewOfFile failed for " << log_name;
    return;
  }
  ModuleFileData data;
  data.name = name_;
  if (!ParseModuleFile(view.data(), view.size(), load_address_, name_, &data))
    return;
  name_ = data.name;
  file_version_ = data.file_version;
  time_stamp_ = data.time_stamp;
  code_end_ = data.code_end;
  if (name_.empty()) {
    char mapped_name[MAX_PATH] = {};
    DWORD length = ::GetMappedFileNameA(::GetCurrentProcess(), const_cast<uint8_t*>(view.data()),
                                        mapped_name, MAX_PATH);
    if (length == 0) {
      LOG(ERROR) << "GetMappedFileNameA failed";
      return;
    }
    std::string_view full(mapped_name, length);
    size_t slash = full.rfind('\\');
    name_ = std::string(
        full.substr(slash == std::string_view::npos ? 0 : slash + 1).substr(0, kMaxModuleText));
  }
}

}  // namespace crash_reporter
