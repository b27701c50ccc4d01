// Which Windows the process runs on, read once per process.
#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <windows.h>

namespace base::win {

// Later versions have larger values; the numbers are recorded in statistics
// and must not change.
enum Version {
  VERSION_PRE_XP = 0,
  VERSION_XP = 1,
  VERSION_SERVER_2003 = 2,   // Also Windows XP x64.
  VERSION_VISTA = 3,         // Also Server 2008.
  VERSION_WIN7 = 4,          // Also Server 2008 R2.
  VERSION_WIN8 = 5,          // Also Server 2012.
  VERSION_WIN8_1 = 6,        // Also Server 2012 R2.
  VERSION_WIN10 = 7,         // Build 10240.
  VERSION_WIN10_TH2 = 8,     // Build 10586.
  VERSION_WIN10_RS1 = 9,     // Build 14393, also Server 2016.
  VERSION_WIN10_RS2 = 10,    // Build 15063.
  VERSION_WIN10_RS3 = 11,    // Build 16299.
  VERSION_WIN10_RS4 = 12,    // Build 17134.
  VERSION_WIN10_RS5 = 13,    // Build 17763, also Server 2019.
  VERSION_WIN10_19H1 = 14,   // Build 18362.
  VERSION_WIN10_19H2 = 15,   // Build 18363.
  VERSION_WIN10_20H1 = 16,   // Builds 19041 to 19045 (20H1 to 22H2).
  VERSION_SERVER_2022 = 17,  // Build 20348.
  VERSION_WIN11 = 18,        // Build 22000.
  VERSION_WIN11_22H2 = 19,   // Build 22621 and later.
  VERSION_WIN_LAST,          // Past the known versions: newer major numbers.
};

enum WindowsArchitecture {
  X86_ARCHITECTURE = 0,
  X64_ARCHITECTURE = 1,
  IA64_ARCHITECTURE = 2,
  OTHER_ARCHITECTURE = 3,  // ARM64 and anything newer.
};

class WindowsVersionInfo {
 public:
  struct VersionNumber {
    int major;
    int minor;
    int build;
  };
  struct ServicePack {
    int major;
    int minor;
  };

  // The process-wide record, read on first use and never destroyed.
  static WindowsVersionInfo* GetInstance();

  WindowsVersionInfo(const WindowsVersionInfo&) = delete;
  WindowsVersionInfo& operator=(const WindowsVersionInfo&) = delete;

  Version version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  ServicePack service_pack() const { return service_pack_; }
  // The processor architecture of the machine (not of this process).
  WindowsArchitecture architecture() const { return architecture_; }
  int processors() const { return processors_; }

 private:
  WindowsVersionInfo();

  Version version_ = VERSION_PRE_XP;
  VersionNumber version_number_ = {};
  ServicePack service_pack_ = {};
  WindowsArchitecture architecture_ = OTHER_ARCHITECTURE;
  int processors_ = 0;
};

// WindowsVersionInfo::GetInstance()->version().
Version GetWindowsVersion();

// The enumerator of a version number, exposed for tests.
Version MajorMinorBuildToVersion(int major, int minor, int build);

}  // namespace base::win

#endif  // BASE_WIN_WINDOWS_VERSION_H_
