// The crash keys page: 100 name/value slots in one block of memory that the
// reporter copies out of a crashed installer process and turns into report
// metadata. The block is the custom info handed over the crash pipe, so each
// slot is a CustomInfoEntry. Between writes the block is read-only, so a stray
// write elsewhere in the process cannot corrupt what the reporter will read.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEYS_PAGE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEYS_PAGE_H_

#include <stddef.h>

#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"

namespace crash_reporter {

inline constexpr size_t kCrashKeysSlotCount = 100;
inline constexpr size_t kCrashKeysPageBytes = kCrashKeysSlotCount * sizeof(CustomInfoEntry);
static_assert(kCrashKeysPageBytes == 25600);

// Characters a slot's value holds (the 64th unit is the terminator).
inline constexpr size_t kCrashKeySlotChars = kCustomInfoTextUnits - 1;

// Slot numbers of the keys; a key over a range has its first and last slot.
enum CrashKeySlot : size_t {
  kSlotVersion = 0,
  kSlotBuild = 1,
  kSlotBuildset = 2,
  kSlotBuildRequestTime = 3,
  kSlotProcessType = 4,
  kSlotCrashGuid = 5,
  kSlotActiveUrlFirst = 6,
  kSlotActiveUrlLast = 21,
  kSlotGpuVendorId = 22,
  kSlotGpuDeviceId = 23,
  kSlotGpuDriverVersion = 24,
  kSlotGpuPixelShaderVersion = 25,
  kSlotGpuVertexShaderVersion = 26,
  kSlotIsWow64 = 27,
  kSlotExceptionPolicy = 28,
  kSlotVlautoTestFirst = 29,
  kSlotVlautoTestLast = 32,
  kSlotOrigin = 33,
  kSlotEnabledExtensionsFirst = 34,
  kSlotEnabledExtensionsLast = 49,
  kSlotDisabledExtensionsFirst = 50,
  kSlotDisabledExtensionsLast = 65,
  kSlotBlacklistedExtensionsFirst = 66,
  kSlotBlacklistedExtensionsLast = 69,
  kSlotTerminatedExtensionsFirst = 70,
  kSlotTerminatedExtensionsLast = 73,
  kSlotThirdPartyInstallsFirst = 74,
  kSlotThirdPartyInstallsLast = 77,
  kSlotModulesFirst = 78,
  kSlotModulesLast = 93,
  kSlotHandleInfoItems = 94,
  kSlotInvalidHandle = 95,
  kSlotAbTestsFirst = 96,
  kSlotAbTestsLast = 99,
};

class CrashKeysPage {
 public:
  // The process-wide page, built on first use and never destroyed (a crash
  // may come at any time, also during exit).
  static CrashKeysPage* GetInstance();

  // The block and its 100 entries; empty when the block could not be
  // allocated.
  CustomInfo GetCustomInfo() const;

  // The value of one slot, cut to 63 characters; null empties it.
  void SetValue(size_t slot, const wchar_t* text);
  // Spreads |text| over the slots first..last, 63 characters each; the slots
  // it does not reach are emptied, and what does not fit is cut.
  void SetRangeValue(size_t first, size_t last, const wchar_t* text);

  CrashKeysPage(const CrashKeysPage&) = delete;
  CrashKeysPage& operator=(const CrashKeysPage&) = delete;

 private:
  friend struct CrashKeysPageFactory;
  CrashKeysPage();
  ~CrashKeysPage() = delete;

  // Construction only, while the block is still writable.
  void NameRange(size_t first, size_t last, const wchar_t* name);
  void NameSlot(size_t slot, const wchar_t* name, const wchar_t* value);
  void WriteRange(size_t first, size_t last, const wchar_t* text);

  CustomInfoEntry* block_ = nullptr;
  base::Lock lock_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_KEYS_PAGE_H_
