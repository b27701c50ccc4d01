// A snapshot of a crashed (and frozen) process: its memory figures, main
// image, modules, the exception and every thread's registers.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_IMPL_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_log/process_state.h"

namespace crash_reporter {

// A module the crashed process described itself, used when Tool Help gives
// none.
struct FallbackModule {
  std::wstring name;
  base::FilePath path;
  uint64_t load_address = 0;
  uint32_t size = 0;
};

class ProcessStateImpl : public ProcessState {
 public:
  // Tool Help's snapshot creator; tests replace it to make it fail.
  using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD flags, DWORD pid);
  static constexpr int kModuleSnapshotAttempts = 10;

  ProcessStateImpl();
  ~ProcessStateImpl() override;

  // |exception_pointers_address| and |thread_id_address| are addresses in
  // the crashed process. False (logged) when the process cannot be opened or
  // the exception or the crashed thread cannot be read; every other failure
  // is logged and leaves its part empty.
  bool Snapshot(uint32_t pid, uint64_t exception_pointers_address, uint64_t thread_id_address,
                const std::vector<FallbackModule>& fallback_modules);

  void AddModule(const std::wstring& name, const base::FilePath& path, uint64_t load_address,
                 uint32_t size, bool is_main);

  // The process's image as a drive path; empty (logged) when it cannot be
  // mapped back from its device path.
  static base::FilePath GetImagePath(HANDLE process);
  static std::vector<std::wstring> ListLogicalDrives();
  static base::FilePath GetDeviceName(const std::wstring& drive);

  static void SetCreateSnapshotFunctionForTesting(CreateSnapshotFunction function);

  uint64_t working_set_size() const { return working_set_size_; }
  uint64_t peak_working_set_size() const { return peak_working_set_size_; }
  uint64_t private_bytes() const { return private_bytes_; }

  // ProcessState:
  bool IsReadable(uint64_t address) const override;
  uint32_t GetExceptionCodeValue() const override { return exception_code_; }
  const char* GetExceptionName() const override { return nullptr; }
  uint64_t GetExceptionAddress() const override { return exception_address_; }
  const ThreadList& GetThreads() const override { return threads_; }
  const ModuleInfo* GetMainModule() const override { return main_module_; }
  const ModuleList& GetModules() const override { return modules_; }
  std::unique_ptr<MemoryReader> CreateMemoryReader() const override;

 private:
  void ReadMemoryFigures();
  void AddToolHelpModules(uint32_t pid, const base::FilePath& image_path);
  bool ReadException(uint64_t exception_pointers_address, CONTEXT* context);
  // Exactly |size| bytes or false.
  bool ReadExactly(uint64_t address, void* out, size_t size) const;
  void AddOtherThreads(uint32_t pid, uint32_t crashed_thread_id);

  // Destruction order: threads, modules, then the process handle.
  base::win::ScopedHandle process_;
  ModuleList modules_;
  std::vector<base::FilePath> module_paths_;
  ThreadList threads_;
  const ModuleInfo* main_module_ = nullptr;
  uint32_t exception_code_ = 0;
  uint64_t exception_address_ = 0;
  uint64_t working_set_size_ = 0;
  uint64_t peak_working_set_size_ = 0;
  uint64_t private_bytes_ = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_PROCESS_STATE_IMPL_H_
