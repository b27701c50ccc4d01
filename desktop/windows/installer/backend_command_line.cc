#include "desktop/windows/installer/backend_command_line.h"

#include <cstring>
#include <vector>

#include "base/string_number_conversions.h"
#include "desktop/windows/installer/elevation.h"
#include "desktop/windows/installer/installer_switches.h"
#include "desktop/windows/installer/settings_switches.h"

namespace installer {

namespace {

BackendCommandLine::Value<uint32_t> ReadPid(const base::CommandLine& command_line,
                                            const char* name) {
  BackendCommandLine::Value<uint32_t> pid;
  pid.given = command_line.HasSwitch(name);
  if (pid.given) {
    pid.readable =
        base::StringToUint(command_line.GetSwitchValueASCII(name), &pid.value) && pid.value != 0;
  }
  return pid;
}

}  // namespace

std::string EncodeProcessHandleSwitch(HANDLE handle) {
  uint64_t value = reinterpret_cast<uintptr_t>(handle);
  uint8_t bytes[8];
  static_assert(sizeof(value) == sizeof(bytes));
  memcpy(bytes, &value, sizeof(bytes));
  return base::HexEncode(bytes, sizeof(bytes));
}

bool DecodeProcessHandleSwitch(const std::string& text, HANDLE* handle) {
  std::vector<uint8_t> bytes;
  if (!base::HexStringToBytes(text, &bytes) || bytes.size() < 8)
    return false;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i)
    value = (value << 8) | bytes[i];
  *handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  return true;
}

BackendCommandLine::BackendCommandLine(const base::CommandLine& command_line) {
  initial_process_handle_.given = command_line.HasSwitch(kInitialProcHandleSwitch);
  if (initial_process_handle_.given) {
    initial_process_handle_.readable = DecodeProcessHandleSwitch(
        command_line.GetSwitchValueASCII(kInitialProcHandleSwitch), &initial_process_handle_.value);
  }
  initial_pid_ = ReadPid(command_line, kInitialPidSwitch);
  parent_pid_ = ReadPid(command_line, kParentPidSwitch);
  permission_requester_pid_ = ReadPid(command_line, kPermissionRequesterPidSwitch);
  waits_for_package_ = command_line.HasSwitch(kWaitForPackageSwitch);
  if (waits_for_package_)
    package_folder_ = command_line.GetSwitchValuePath(kWaitForPackageSwitch);
  post_elevated_install_tasks_ = command_line.HasSwitch(kPostElevatedInstallTasksSwitch);
  has_components_ = command_line.HasSwitch(kComponentsSwitch);
  if (has_components_)
    components_ = command_line.GetSwitchValueNative(kComponentsSwitch);
}

}  // namespace installer
