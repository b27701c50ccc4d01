#include "base/win/windows_version.h"

#include "base/logging.h"

namespace base::win {

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);

// RtlGetVersion reports the true version; GetVersionExW reports what the
// executable's manifest claims to support.
bool ReadVersion(OSVERSIONINFOEXW* info) {
  *info = {};
  info->dwOSVersionInfoSize = sizeof(*info);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  FARPROC address = ntdll ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (address) {
    auto rtl_get_version =
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void (*)()>(address));
    LONG status = rtl_get_version(info);
    if (status == 0)
      return true;
    LOG(ERROR) << "RtlGetVersion failed with status 0x" << std::hex << status;
  } else {
    PLOG(ERROR) << "RtlGetVersion not found";
  }
  *info = {};
  info->dwOSVersionInfoSize = sizeof(*info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)))
    return true;
#pragma GCC diagnostic pop
  PLOG(ERROR) << "GetVersionExW failed";
  return false;
}

WindowsArchitecture ArchitectureOf(WORD processor_architecture) {
  switch (processor_architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: return X86_ARCHITECTURE;
    case PROCESSOR_ARCHITECTURE_AMD64: return X64_ARCHITECTURE;
    case PROCESSOR_ARCHITECTURE_IA64: return IA64_ARCHITECTURE;
    default: return OTHER_ARCHITECTURE;
  }
}

}  // namespace

Version MajorMinorBuildToVersion(int major, int minor, int build) {
  if (major > 10)
    return VERSION_WIN_LAST;
  if (major == 10) {
    if (build >= 22621)
      return VERSION_WIN11_22H2;
    if (build >= 22000)
      return VERSION_WIN11;
    if (build >= 20348)
      return VERSION_SERVER_2022;
    if (build >= 19041)
      return VERSION_WIN10_20H1;
    if (build >= 18363)
      return VERSION_WIN10_19H2;
    if (build >= 18362)
      return VERSION_WIN10_19H1;
    if (build >= 17763)
      return VERSION_WIN10_RS5;
    if (build >= 17134)
      return VERSION_WIN10_RS4;
    if (build >= 16299)
      return VERSION_WIN10_RS3;
    if (build >= 15063)
      return VERSION_WIN10_RS2;
    if (build >= 14393)
      return VERSION_WIN10_RS1;
    if (build >= 10586)
      return VERSION_WIN10_TH2;
    return VERSION_WIN10;
  }
  if (major == 6) {
    switch (minor) {
      case 0: return VERSION_VISTA;
      case 1: return VERSION_WIN7;
      case 2: return VERSION_WIN8;
      default:
        // 6.3 and the 6.4 previews of Windows 10.
        return VERSION_WIN8_1;
    }
  }
  if (major == 5 && minor == 1)
    return VERSION_XP;
  if (major == 5 && minor >= 2)
    return VERSION_SERVER_2003;
  // Major numbers 7 to 9 never shipped; they would come before Windows 10.
  if (major > 6)
    return VERSION_WIN10;
  // Windows 2000 and older.
  return VERSION_PRE_XP;
}

WindowsVersionInfo::WindowsVersionInfo() {
  OSVERSIONINFOEXW info;
  if (ReadVersion(&info)) {
    version_number_ = {static_cast<int>(info.dwMajorVersion), static_cast<int>(info.dwMinorVersion),
                       static_cast<int>(info.dwBuildNumber)};
    service_pack_ = {info.wServicePackMajor, info.wServicePackMinor};
    version_ = MajorMinorBuildToVersion(version_number_.major, version_number_.minor,
                                        version_number_.build);
  }
  SYSTEM_INFO system_info = {};
  ::GetNativeSystemInfo(&system_info);
  architecture_ = ArchitectureOf(system_info.wProcessorArchitecture);
  processors_ = static_cast<int>(system_info.dwNumberOfProcessors);
}

// static
WindowsVersionInfo* WindowsVersionInfo::GetInstance() {
  // Built once under the compiler's thread-safe static initialisation and
  // leaked, so it can be read during any destructor.
  static WindowsVersionInfo* const instance = new WindowsVersionInfo();
  return instance;
}

Version GetWindowsVersion() { return WindowsVersionInfo::GetInstance()->version(); }

}  // namespace base::win
