#include "desktop/windows/crash_reporter/crash_keys_page.h"

#include <windows.h>

#include <string>

#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/product_config.h"

namespace crash_reporter {

struct CrashKeysPageFactory {
  static constexpr bool kRegisterOnExit = false;
  static CrashKeysPage* New() { return new CrashKeysPage(); }
  static void Delete(CrashKeysPage*) {}
};

namespace {

base::LazyInstance<CrashKeysPage, CrashKeysPageFactory> g_crash_keys_page;

// Copies at most 63 characters of |text| into a slot field and terminates it.
void CopySlotText(wchar_t* field, const wchar_t* text, size_t length) {
  if (length > kCrashKeySlotChars)
    length = kCrashKeySlotChars;
  if (text)
    wmemcpy(field, text, length);
  wmemset(field + length, L'\0', kCustomInfoTextUnits - length);
}

size_t TextLength(const wchar_t* text) { return text ? wcslen(text) : 0; }

// "1" or "0" for a 32-bit process on a 64-bit system; empty when the
// question cannot be asked.
std::wstring DescribeWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, BOOL*);
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(
      kernel32 ? ::GetProcAddress(kernel32, "IsWow64Process") : nullptr));
  BOOL wow64 = FALSE;
  if (!is_wow64_process || !is_wow64_process(::GetCurrentProcess(), &wow64))
    return std::wstring();
  return wow64 ? L"1" : L"0";
}

// The process's user-mode exception policy flags; empty where the system
// does not offer them.
std::wstring DescribeExceptionPolicy() {
  using GetPolicyFunction = BOOL(WINAPI*)(DWORD*);
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  auto get_policy = reinterpret_cast<GetPolicyFunction>(reinterpret_cast<void (*)()>(
      kernel32 ? ::GetProcAddress(kernel32, "GetProcessUserModeExceptionPolicy") : nullptr));
  DWORD flags = 0;
  if (!get_policy || !get_policy(&flags))
    return std::wstring();
  wchar_t text[16];
  swprintf(text, 16, L"0x%04lx", static_cast<unsigned long>(flags));
  return text;
}

}  // namespace

CrashKeysPage* CrashKeysPage::GetInstance() { return g_crash_keys_page.Pointer(); }

CrashKeysPage::CrashKeysPage() {
  void* block =
      ::VirtualAlloc(nullptr, kCrashKeysPageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!block) {
    PLOG(ERROR) << "Cannot allocate the crash keys page";
    return;
  }
  block_ = static_cast<CustomInfoEntry*>(block);

  NameSlot(kSlotVersion, L"version", base::UTF8ToWide(installer::GetVersionString()).c_str());
  NameSlot(kSlotBuild, L"build", std::to_wstring(installer::GetBuildNumber()).c_str());
  NameSlot(kSlotBuildset, L"buildset", std::to_wstring(installer::GetBuildsetNumber()).c_str());
  NameSlot(kSlotBuildRequestTime, L"build_request_time",
           base::UTF8ToWide(installer::GetBuildRequestTime()).c_str());
  NameSlot(kSlotIsWow64, L"is_wow64", DescribeWow64().c_str());
  NameSlot(kSlotExceptionPolicy, L"exception_policy", DescribeExceptionPolicy().c_str());
  NameSlot(kSlotProcessType, L"process_type", nullptr);
  NameSlot(kSlotCrashGuid, L"crash_guid", nullptr);
  NameRange(kSlotActiveUrlFirst, kSlotActiveUrlLast, L"active_url");
  NameSlot(kSlotGpuVendorId, L"gpu_vendor_id", nullptr);
  NameSlot(kSlotGpuDeviceId, L"gpu_device_id", nullptr);
  NameSlot(kSlotGpuDriverVersion, L"gpu_driver_version", nullptr);
  NameSlot(kSlotGpuPixelShaderVersion, L"gpu_pixel_shader_version", nullptr);
  NameSlot(kSlotGpuVertexShaderVersion, L"gpu_vertex_shader_version", nullptr);
  NameRange(kSlotVlautoTestFirst, kSlotVlautoTestLast, L"vlauto_test");
  NameRange(kSlotEnabledExtensionsFirst, kSlotEnabledExtensionsLast, L"enabled_extensions");
  NameRange(kSlotDisabledExtensionsFirst, kSlotDisabledExtensionsLast, L"disabled_extensions");
  NameRange(kSlotBlacklistedExtensionsFirst, kSlotBlacklistedExtensionsLast,
            L"blacklisted_extensions");
  NameRange(kSlotTerminatedExtensionsFirst, kSlotTerminatedExtensionsLast,
            L"terminated_extensions");
  NameRange(kSlotThirdPartyInstallsFirst, kSlotThirdPartyInstallsLast, L"third_party_installs");
  NameSlot(kSlotOrigin, L"origin", nullptr);
  NameRange(kSlotModulesFirst, kSlotModulesLast, L"modules");
  NameSlot(kSlotHandleInfoItems, L"handle_info_items", nullptr);
  NameSlot(kSlotInvalidHandle, L"invalid_handle", nullptr);
  NameRange(kSlotAbTestsFirst, kSlotAbTestsLast, L"ab_tests");

  DWORD old_protection = 0;
  if (!::VirtualProtect(block_, kCrashKeysPageBytes, PAGE_READONLY, &old_protection))
    PLOG(WARNING) << "Cannot make the crash keys page read-only";
}

CustomInfo CrashKeysPage::GetCustomInfo() const {
  if (!block_)
    return CustomInfo();
  return CustomInfo{block_, kCrashKeysSlotCount};
}

void CrashKeysPage::SetValue(size_t slot, const wchar_t* text) { SetRangeValue(slot, slot, text); }

void CrashKeysPage::SetRangeValue(size_t first, size_t last, const wchar_t* text) {
  if (!block_ || first > last || last >= kCrashKeysSlotCount)
    return;
  base::AutoLock hold(lock_);
  DWORD old_protection = 0;
  if (!::VirtualProtect(block_, kCrashKeysPageBytes, PAGE_READWRITE, &old_protection)) {
    PLOG(ERROR) << "Cannot make the crash keys page writable";
    return;
  }
  WriteRange(first, last, text);
  if (!::VirtualProtect(block_, kCrashKeysPageBytes, PAGE_READONLY, &old_protection))
    PLOG(WARNING) << "Cannot make the crash keys page read-only";
}

void CrashKeysPage::NameRange(size_t first, size_t last, const wchar_t* name) {
  for (size_t slot = first; slot <= last; ++slot)
    NameSlot(slot, name, nullptr);
}

void CrashKeysPage::NameSlot(size_t slot, const wchar_t* name, const wchar_t* value) {
  CopySlotText(block_[slot].name, name, TextLength(name));
  CopySlotText(block_[slot].value, value, TextLength(value));
}

void CrashKeysPage::WriteRange(size_t first, size_t last, const wchar_t* text) {
  size_t remaining = TextLength(text);
  for (size_t slot = first; slot <= last; ++slot) {
    size_t take = remaining < kCrashKeySlotChars ? remaining : kCrashKeySlotChars;
    CopySlotText(block_[slot].value, text, take);
    if (text)
      text += take;
    remaining -= take;
  }
}

}  // namespace crash_reporter
