// A made-up crashed process for the crash-log tests: its threads, modules and
// exception are set by the test, and its memory is the test process's own, so
// that stacks and pointers can be laid out in real pages.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_FAKE_PROCESS_STATE_FOR_TEST_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_FAKE_PROCESS_STATE_FOR_TEST_H_

#include <windows.h>

#include <memory>
#include <string>

#include "desktop/windows/crash_reporter/crash_log/memory_reader.h"
#include "desktop/windows/crash_reporter/crash_log/process_state.h"

namespace crash_reporter {

class FakeThread : public ThreadInfo {
 public:
  FakeThread(uint32_t id, bool crashed) : id_(id), crashed_(crashed) {}
  uint32_t GetThreadId() const override { return id_; }
  int32_t GetPriority() const override { return priority; }
  const RegisterBlock& GetRegisters() const override { return registers; }
  uint64_t GetStackSize() const override { return stack_size; }
  bool IsCrashed() const override { return crashed_; }

  RegisterBlock registers = {};
  int32_t priority = 0;
  uint64_t stack_size = 0;

 private:
  uint32_t id_;
  bool crashed_;
};

class FakeModule : public ModuleInfo {
 public:
  const char* GetName() const override { return name.c_str(); }
  uint64_t GetLoadAddress() const override { return load_address; }
  uint32_t GetSize() const override { return size; }
  uint64_t GetBaseAddress() const override { return load_address; }
  uint64_t GetCodeEnd() const override { return code_end; }
  const char* GetFileVersion() const override { return version.c_str(); }
  uint32_t GetTimeStamp() const override { return time_stamp; }

  std::string name;
  std::string version;
  uint64_t load_address = 0;
  uint32_t size = 0;
  uint64_t code_end = 0;
  uint32_t time_stamp = 0;
};

class FakeProcessState : public ProcessState {
 public:
  bool IsReadable(uint64_t address) const override {
    if (address >= claimed_readable_start && address < claimed_readable_end)
      return true;
    uint8_t byte;
    SIZE_T read = 0;
    return ::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address), &byte,
                               1, &read) &&
           read == 1;
  }
  uint32_t GetExceptionCodeValue() const override { return crash_code; }
  const char* GetExceptionName() const override { return nullptr; }
  uint64_t GetExceptionAddress() const override { return exception_address; }
  const ThreadList& GetThreads() const override { return threads; }
  const ModuleInfo* GetMainModule() const override { return main_module; }
  const ModuleList& GetModules() const override { return modules; }
  std::unique_ptr<MemoryReader> CreateMemoryReader() const override {
    if (!reader_available)
      return nullptr;
    return std::make_unique<MemoryReader>(::GetCurrentProcess());
  }

  FakeThread* AddThread(uint32_t id, bool crashed) {
    auto thread = std::make_unique<FakeThread>(id, crashed);
    FakeThread* raw = thread.get();
    threads.push_back(std::move(thread));
    return raw;
  }
  FakeModule* AddModule() {
    auto module = std::make_unique<FakeModule>();
    FakeModule* raw = module.get();
    modules.push_back(std::move(module));
    return raw;
  }

  uint32_t crash_code = 0;
  uint64_t exception_address = 0;
  ThreadList threads;
  ModuleList modules;
  const ModuleInfo* main_module = nullptr;
  bool reader_available = true;
  // Addresses that IsReadable() claims readable whatever they hold, as if
  // they had gone away between the check and the read.
  uint64_t claimed_readable_start = 0;
  uint64_t claimed_readable_end = 0;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_FAKE_PROCESS_STATE_FOR_TEST_H_
