// One thread of the crashed process: its registers, priority and how much of
// its stack lies above the stack pointer.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_THREAD_INFO_IMPL_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_THREAD_INFO_IMPL_H_

#include <windows.h>

#include "desktop/windows/crash_reporter/crash_log/process_state.h"

namespace crash_reporter {

// The context flags read from a thread that did not crash.
inline constexpr DWORD kThreadContextFlags = 0x10000B;

class ThreadInfoImpl : public ThreadInfo {
 public:
  ThreadInfoImpl(uint32_t thread_id, bool crashed);
  ~ThreadInfoImpl() override;

  // For the crashed thread, whose context was read out of the process:
  // always true.
  bool InitFromContext(HANDLE process, const CONTEXT& context);
  // For every other thread: reads its context; false (logged) when the
  // thread cannot be opened or its context read.
  bool Init(HANDLE process);

  // The register block of |context|.
  static RegisterBlock RegistersFromContext(const CONTEXT& context);
  // Bytes from |sp| to the end of its region when the region looks like a
  // stack (private, committed, read-write); 0 (logged) otherwise.
  static uint64_t GetStackSizeAt(HANDLE process, uint64_t sp);

  uint32_t GetThreadId() const override { return thread_id_; }
  int32_t GetPriority() const override { return priority_; }
  const RegisterBlock& GetRegisters() const override { return registers_; }
  uint64_t GetStackSize() const override { return stack_size_; }
  bool IsCrashed() const override { return crashed_; }

 private:
  void ReadPriority(HANDLE thread);

  uint32_t thread_id_;
  int32_t priority_ = 0;
  uint64_t stack_size_ = 0;
  bool crashed_;
  RegisterBlock registers_ = {};
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_LOG_THREAD_INFO_IMPL_H_
