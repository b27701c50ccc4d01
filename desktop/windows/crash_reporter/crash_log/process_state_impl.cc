#include "desktop/windows/crash_reporter/crash_log/process_state_impl.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>

#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_log/memory_reader.h"
#include "desktop/windows/crash_reporter/crash_log/module_info_impl.h"
#include "desktop/windows/crash_reporter/crash_log/thread_info_impl.h"

namespace crash_reporter {
namespace {

std::atomic<ProcessStateImpl::CreateSnapshotFunction> g_create_snapshot{nullptr};

HANDLE CreateSnapshot(DWORD flags, DWORD pid) {
  ProcessStateImpl::CreateSnapshotFunction function = g_create_snapshot.load();
  return function ? function(flags, pid) : ::CreateToolhelp32Snapshot(flags, pid);
}

// The smallest THREADENTRY32 that still holds the owner's process id.
constexpr DWORD kMinThreadEntrySize = 16;

}  // namespace

ProcessStateImpl::ProcessStateImpl() = default;
ProcessStateImpl::~ProcessStateImpl() = default;

// static
void ProcessStateImpl::SetCreateSnapshotFunctionForTesting(CreateSnapshotFunction function) {
  g_create_snapshot.store(function);
}

bool ProcessStateImpl::ReadExactly(uint64_t address, void* out, size_t size) const {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process_.Get(), reinterpret_cast<const void*>(address), out, size,
                             &read) &&
         read == size;
}

bool ProcessStateImpl::IsReadable(uint64_t address) const {
  uint8_t byte = 0;
  return ReadExactly(address, &byte, 1);
}

std::unique_ptr<MemoryReader> ProcessStateImpl::CreateMemoryReader() const {
  return std::make_unique<MemoryReader>(process_.Get());
}

void ProcessStateImpl::ReadMemoryFigures() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  static_assert(sizeof(counters) == 80);
  if (!::GetProcessMemoryInfo(process_.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof(counters))) {
    LOG(ERROR) << "GetProcessMemoryInfo failed";
    return;
  }
  working_set_size_ = counters.WorkingSetSize;
  peak_working_set_size_ = counters.PeakWorkingSetSize;
  private_bytes_ = counters.PrivateUsage;
}

// static
std::vector<std::wstring> ProcessStateImpl::ListLogicalDrives() {
  DWORD length = ::GetLogicalDriveStringsW(0, nullptr);
  if (length == 0) {
    LOG(ERROR) << "GetLogicalDriveStrings failed";
    return {};
  }
  std::wstring buffer(length, L'\0');
  DWORD result = ::GetLogicalDriveStringsW(length, buffer.data());
  if (result == 0 || result >= length) {
    LOG(ERROR) << "GetLogicalDriveStrings failed, result=" << result << ", length=" << length;
    return {};
  }
  std::vector<std::wstring> drives;
  for (size_t start = 0; start < result;) {
    size_t end = buffer.find(L'\0', start);
    if (end == std::wstring::npos || end == start)
      break;
    drives.push_back(buffer.substr(start, end - start));
    start = end + 1;
  }
  return drives;
}

// static
base::FilePath ProcessStateImpl::GetDeviceName(const std::wstring& drive) {
  if (drive.size() != 3 || !iswalpha(drive[0]) || drive[1] != L':' || drive[2] != L'\\') {
    LOG(WARNING) << "GetDeviceName: '" << drive << "'";
    return base::FilePath();
  }
  std::wstring letter = drive.substr(0, 2);
  wchar_t device[MAX_PATH] = {};
  if (::QueryDosDeviceW(letter.c_str(), device, MAX_PATH) == 0) {
    LOG(ERROR) << "QueryDosDevice failed for '" << letter << "' (from '" << drive << "')";
    return base::FilePath();
  }
  return base::FilePath(device);
}

// static
base::FilePath ProcessStateImpl::GetImagePath(HANDLE process) {
  wchar_t image[MAX_PATH] = {};
  DWORD length = ::GetProcessImageFileNameW(process, image, MAX_PATH);
  if (length == 0) {
    LOG(ERROR) << "GetProcessImageFileName failed";
    return base::FilePath();
  }
  const base::FilePath device_path(std::wstring_view(image, length));
  const std::vector<std::wstring> drives = ListLogicalDrives();
  std::vector<base::FilePath> devices;
  for (const std::wstring& drive : drives) {
    devices.push_back(GetDeviceName(drive));
    base::FilePath rest;
    if (!devices.back().empty() && devices.back().AppendRelativePath(device_path, &rest))
      return base::FilePath(drive).Append(rest);
  }
  LOG(WARNING) << "Could not convert process image file name '" << device_path.value() << "'";
  for (size_t i = 0; i < drives.size(); ++i) {
    LOG(INFO) << "Logical drive: " << drives[i];
    LOG(INFO) << "Device name: " << devices[i].value();
  }
  return base::FilePath();
}

void ProcessStateImpl::AddModule(const std::wstring& name, const base::FilePath& path,
                                 uint64_t load_address, uint32_t size, bool is_main) {
  auto module = std::make_unique<ModuleInfoImpl>(name, path, load_address, size);
  if (is_main)
    main_module_ = module.get();
  module_paths_.push_back(path);
  modules_.push_back(std::move(module));
}

void ProcessStateImpl::AddToolHelpModules(uint32_t pid, const base::FilePath& image_path) {
  base::win::ScopedHandle snapshot;
  int retries_left = kModuleSnapshotAttempts;
  while (retries_left > 0) {
    --retries_left;
    snapshot.Reset(CreateSnapshot(TH32CS_SNAPMODULE, pid));
    if (snapshot.IsValid() || ::GetLastError() != ERROR_BAD_LENGTH)
      break;
  }
  if (!snapshot.IsValid()) {
    LOG(ERROR) << "TH32CS_SNAPMODULE failed, retries_left=" << retries_left;
    return;
  }
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  if (!::Module32FirstW(snapshot.Get(), &entry)) {
    LOG(ERROR) << "Module32First failed";
    return;
  }
  do {
    const base::FilePath path(entry.szExePath);
    bool is_main =
        !main_module_ && base::FilePath::CompareEqualIgnoreCase(path.value(), image_path.value());
    AddModule(entry.szModule, path, reinterpret_cast<uintptr_t>(entry.modBaseAddr),
              entry.modBaseSize, is_main);
    entry.dwSize = sizeof(entry);
  } while (::Module32NextW(snapshot.Get(), &entry));
}

bool ProcessStateImpl::ReadException(uint64_t exception_pointers_address, CONTEXT* context) {
  uint64_t pointers_address = 0;
  uint64_t pointers[2] = {};  // ExceptionRecord, ContextRecord
  uint32_t code = 0;
  uint64_t address = 0;
  if (!ReadExactly(exception_pointers_address, &pointers_address, sizeof(pointers_address)) ||
      !ReadExactly(pointers_address, pointers, sizeof(pointers)) ||
      !ReadExactly(pointers[0], &code, sizeof(code)) ||
      !ReadExactly(pointers[0] + offsetof(EXCEPTION_RECORD, ExceptionAddress), &address,
                   sizeof(address)) ||
      !ReadExactly(pointers[1], context, sizeof(CONTEXT))) {
    LOG(ERROR) << "Could not read the exception of the crashed process";
    return false;
  }
  exception_code_ = code;
  exception_address_ = address;
  return true;
}

void ProcessStateImpl::AddOtherThreads(uint32_t pid, uint32_t crashed_thread_id) {
  base::win::ScopedHandle snapshot(CreateSnapshot(TH32CS_SNAPTHREAD, pid));
  if (!snapshot.IsValid()) {
    LOG(ERROR) << "TH32CS_SNAPTHREAD failed";
    return;
  }
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  static_assert(sizeof(THREADENTRY32) == 28);
  if (!::Thread32First(snapshot.Get(), &entry) || entry.dwSize < kMinThreadEntrySize) {
    LOG(ERROR) << "Thread32First failed, te.dwSize=" << entry.dwSize
               << ", min size=" << kMinThreadEntrySize;
    return;
  }
  do {
    if (entry.dwSize >= kMinThreadEntrySize && entry.th32OwnerProcessID == pid &&
        entry.th32ThreadID != crashed_thread_id) {
      auto thread = std::make_unique<ThreadInfoImpl>(entry.th32ThreadID, false);
      if (thread->Init(process_.Get()))
        threads_.push_back(std::move(thread));
    }
    entry.dwSize = sizeof(entry);
  } while (::Thread32Next(snapshot.Get(), &entry));
}

bool ProcessStateImpl::Snapshot(uint32_t pid, uint64_t exception_pointers_address,
                                uint64_t thread_id_address,
                                const std::vector<FallbackModule>& fallback_modules) {
  process_.Reset(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process_.IsValid()) {
    PLOG(ERROR) << "OpenProcess failed for " << pid;
    return false;
  }
  ReadMemoryFigures();
  const base::FilePath image_path = GetImagePath(process_.Get());

  AddToolHelpModules(pid, image_path);
  if (modules_.empty()) {
    LOG(INFO) << "Using fallback modules";
    for (const FallbackModule& module : fallback_modules) {
      bool is_main = !main_module_ && base::FilePath::CompareEqualIgnoreCase(module.path.value(),
                                                                             image_path.value());
      AddModule(module.name, module.path, module.load_address, module.size, is_main);
    }
  }
  if (!main_module_ && !image_path.empty()) {
    LOG(WARNING) << "Couldn't find main module for '" << image_path.value() << "'";
    for (const base::FilePath& path : module_paths_)
      LOG(WARNING) << "Module path: " << path.value();
  }

  alignas(16) CONTEXT context = {};
  if (!ReadException(exception_pointers_address, &context))
    return false;

  uint32_t crashed_thread_id = 0;
  if (!ReadExactly(thread_id_address, &crashed_thread_id, sizeof(crashed_thread_id))) {
    LOG(WARNING) << "Could not read ID of crashed thread";
    crashed_thread_id = 0;
  }
  auto crashed = std::make_unique<ThreadInfoImpl>(crashed_thread_id, true);
  crashed->InitFromContext(process_.Get(), context);
  threads_.push_back(std::move(crashed));

  AddOtherThreads(pid, crashed_thread_id);
  return true;
}

}  // namespace crash_reporter
