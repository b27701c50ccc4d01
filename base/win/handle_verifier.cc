#include "base/win/handle_verifier.h"

#include <atomic>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>

#include "base/logging.h"
#include "base/stack_trace.h"
#include "base/threading/lock.h"

namespace base::win {

namespace {

struct TrackingInfo {
  const void* owner = nullptr;
  const void* pc1 = nullptr;
  const void* pc2 = nullptr;
  DWORD thread_id = 0;
  StackTrace stack;
};

enum class Violation {
  kTrackedTwice,
  kStoppedByOtherOwner,
  kStoppedUntracked,
  kClosedWhileTracked,
};

std::string DescribeViolation(Violation violation, HANDLE handle, const void* owner,
                              const TrackingInfo* existing, const StackTrace& current) {
  std::ostringstream text;
  switch (violation) {
    case Violation::kTrackedTwice:
      text << "Handle " << handle << " taken by " << owner << " is already owned by "
           << existing->owner;
      break;
    case Violation::kStoppedByOtherOwner:
      text << "Handle " << handle << " released by " << owner << " is owned by " << existing->owner;
      break;
    case Violation::kStoppedUntracked:
      text << "Handle " << handle << " released by " << owner << " is not tracked";
      break;
    case Violation::kClosedWhileTracked:
      text << "Handle " << handle << " closed while owned by " << existing->owner;
      break;
  }
  if (existing) {
    text << " (taken on thread " << existing->thread_id << ", pc " << existing->pc1 << ", "
         << existing->pc2 << ")\nTaken at:\n"
         << existing->stack.ToString();
  }
  text << "Now at:\n" << current.ToString();
  return text.str();
}

// Stops the process. Runs outside the verifier's lock: the log line opens and
// writes files, which may come back into the verifier.
[[noreturn]] __attribute__((noinline)) void ReportViolation(Violation violation, HANDLE handle,
                                                            const void* owner,
                                                            const TrackingInfo* existing) {
  const StackTrace current;

  // Copies in this frame, where a crash dump of the stopped process finds
  // them even when the log line never reaches a file.
  volatile int violation_kind = static_cast<int>(violation);
  HANDLE volatile violating_handle = handle;
  const void* volatile violating_owner = owner;
  const void* volatile previous_owner = existing ? existing->owner : nullptr;
  volatile DWORD previous_thread_id = existing ? existing->thread_id : 0;
  const void* volatile previous_pc1 = existing ? existing->pc1 : nullptr;
  const void* volatile previous_pc2 = existing ? existing->pc2 : nullptr;
  const void* volatile acquisition_stack[StackTrace::kMaxFrames] = {};
  volatile size_t acquisition_frames = existing ? existing->stack.count() : 0;
  for (size_t i = 0; i < acquisition_frames; ++i)
    acquisition_stack[i] = existing->stack.frame(i);
  const void* volatile current_stack[StackTrace::kMaxFrames] = {};
  volatile size_t current_frames = current.count();
  for (size_t i = 0; i < current_frames; ++i)
    current_stack[i] = current.frame(i);
  // The copies must stay in memory until the trap.
  __asm__ volatile(""
                   :
                   : "r"(&violation_kind), "r"(&violating_handle), "r"(&violating_owner),
                     "r"(&previous_owner), "r"(&previous_thread_id), "r"(&previous_pc1),
                     "r"(&previous_pc2), "r"(acquisition_stack), "r"(current_stack)
                   : "memory");

  const std::string details = DescribeViolation(violation, handle, owner, existing, current);
  switch (violation) {
    case Violation::kTrackedTwice: {
      const bool handle_owned_once = false;
      CHECK(handle_owned_once) << details;
      break;
    }
    case Violation::kStoppedByOtherOwner: {
      const bool handle_released_by_its_owner = false;
      CHECK(handle_released_by_its_owner) << details;
      break;
    }
    case Violation::kStoppedUntracked: {
      const bool released_handle_is_tracked = false;
      CHECK(released_handle_is_tracked) << details;
      break;
    }
    case Violation::kClosedWhileTracked: {
      const bool closed_handle_has_no_owner = false;
      CHECK(closed_handle_has_no_owner) << details;
      break;
    }
  }
  // Tests may divert fatal lines; the violation still ends the process.
  logging::FatalTrap();
}

class ActiveVerifier final : public HandleVerifier {
 public:
  ActiveVerifier() = default;

  void StartTracking(HANDLE handle, const void* owner, const void* pc1, const void* pc2) override {
    if (!enabled_.load(std::memory_order_acquire))
      return;
    // Captured before the lock: nothing under the lock may log, allocate
    // handles or otherwise come back here.
    StackTrace stack;
    std::optional<TrackingInfo> existing;
    {
      AutoLock lock(lock_);
      auto [it, inserted] =
          map_.try_emplace(handle, TrackingInfo{owner, pc1, pc2, GetCurrentThreadId(), stack});
      if (inserted)
        return;
      existing = it->second;
    }
    ReportViolation(Violation::kTrackedTwice, handle, owner, &*existing);
  }

  void StopTracking(HANDLE handle, const void* owner, const void*, const void*) override {
    if (!enabled_.load(std::memory_order_acquire))
      return;
    std::optional<TrackingInfo> existing;
    {
      AutoLock lock(lock_);
      auto it = map_.find(handle);
      if (it != map_.end()) {
        if (it->second.owner == owner) {
          map_.erase(it);
          return;
        }
        existing = it->second;
      }
    }
    // Reported after the lock is gone.
    if (!existing)
      ReportViolation(Violation::kStoppedUntracked, handle, owner, nullptr);
    ReportViolation(Violation::kStoppedByOtherOwner, handle, owner, &*existing);
  }

  void OnHandleBeingClosed(HANDLE handle) override {
    if (!enabled_.load(std::memory_order_acquire))
      return;
    std::optional<TrackingInfo> existing;
    {
      AutoLock lock(lock_);
      auto it = map_.find(handle);
      if (it == map_.end())
        return;
      existing = it->second;
    }
    ReportViolation(Violation::kClosedWhileTracked, handle, nullptr, &*existing);
  }

  void Disable() override {
    enabled_.store(false, std::memory_order_release);
    AutoLock lock(lock_);
    map_.clear();
  }

  bool IsEnabled() const override { return enabled_.load(std::memory_order_acquire); }

  const void* GetOwner(HANDLE handle) const override {
    AutoLock lock(lock_);
    auto it = map_.find(handle);
    return it == map_.end() ? nullptr : it->second.owner;
  }

 private:
  std::atomic<bool> enabled_{true};
  mutable Lock lock_;
  std::unordered_map<HANDLE, TrackingInfo> map_;
};

// The process-wide verifier word: 0 none, 1 being built, else the pointer.
constexpr uintptr_t kBeingBuilt = 1;
std::atomic<uintptr_t> g_verifier{0};

HMODULE ModuleOfAddress(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace

namespace internal {

// Nothing here may log: a log line can take a ScopedHandle, which asks for
// the verifier that is being chosen.
HandleVerifier* SelectHandleVerifier(FARPROC main_module_export, HMODULE own_module) {
  if (main_module_export) {
    const void* address = reinterpret_cast<const void*>(main_module_export);
    HMODULE export_module = ModuleOfAddress(address);
    // Our own export would hand back the verifier being built.
    if (export_module && export_module != own_module) {
      auto host_get = reinterpret_cast<GetHandleVerifierFunction>(
          reinterpret_cast<void (*)()>(main_module_export));
      if (void* host_verifier = host_get())
        return static_cast<HandleVerifier*>(host_verifier);
    }
  }
  return new ActiveVerifier();
}

}  // namespace internal

// static
HandleVerifier* HandleVerifier::Get() {
  uintptr_t state = g_verifier.load(std::memory_order_acquire);
  if (state > kBeingBuilt)
    return reinterpret_cast<HandleVerifier*>(state);

  uintptr_t expected = 0;
  if (g_verifier.compare_exchange_strong(expected, kBeingBuilt, std::memory_order_acq_rel)) {
    HMODULE main_module = GetModuleHandleW(nullptr);
    FARPROC main_export =
        main_module ? GetProcAddress(main_module, kGetHandleVerifierExport) : nullptr;
    HandleVerifier* verifier =
        internal::SelectHandleVerifier(main_export, ModuleOfAddress(&g_verifier));
    // Never destroyed: handles held by static objects are released after
    // every destructor order question has been settled.
    g_verifier.store(reinterpret_cast<uintptr_t>(verifier), std::memory_order_release);
    return verifier;
  }
  while ((state = g_verifier.load(std::memory_order_acquire)) == kBeingBuilt)
    Sleep(0);
  return reinterpret_cast<HandleVerifier*>(state);
}

}  // namespace base::win
