// BackendCommandLine: what the process that started an installer process put
// on its command line for it (the front end's process, the non-elevated
// installer that started an elevated copy, the package still being fetched,
// the components), read in one place. Each value is checked once here; the
// caller decides whether a missing or unreadable one is an error.
//
// The front end hands its own process to the back end as an inherited
// handle; the value of "initial-proc-handle" is that handle's eight bytes as
// they lie in memory (least significant first), in hex.
#ifndef DESKTOP_WINDOWS_INSTALLER_BACKEND_COMMAND_LINE_H_
#define DESKTOP_WINDOWS_INSTALLER_BACKEND_COMMAND_LINE_H_

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"

namespace installer {

inline constexpr char kInitialProcHandleSwitch[] = "initial-proc-handle";

// The value of "initial-proc-handle" for |handle|, and back. Decoding fails
// for text that is not hex or gives fewer than eight bytes.
std::string EncodeProcessHandleSwitch(HANDLE handle);
bool DecodeProcessHandleSwitch(const std::string& text, HANDLE* handle);

class BackendCommandLine {
 public:
  // One switch's value: whether the switch was given, and whether its value
  // could be read.
  template <typename T>
  struct Value {
    bool given = false;
    bool readable = false;
    T value{};
    // Given and readable.
    bool ok() const { return given && readable; }
  };

  BackendCommandLine() = default;
  explicit BackendCommandLine(const base::CommandLine& command_line);

  // The front end's process: its inherited handle, and its id.
  const Value<HANDLE>& initial_process_handle() const { return initial_process_handle_; }
  const Value<uint32_t>& initial_pid() const { return initial_pid_; }
  // The non-elevated installer that started this elevated copy.
  const Value<uint32_t>& parent_pid() const { return parent_pid_; }
  // The installer that asked a folder-permission process for the grant.
  const Value<uint32_t>& permission_requester_pid() const { return permission_requester_pid_; }
  // The folder where the package is being unpacked; empty when the package
  // was there at the start.
  const base::FilePath& package_folder() const { return package_folder_; }
  bool waits_for_package() const { return waits_for_package_; }
  // Only the tasks that must run after an elevated copy installed.
  bool post_elevated_install_tasks() const { return post_elevated_install_tasks_; }
  // The "components" list as given; has_components() false without it.
  bool has_components() const { return has_components_; }
  const std::wstring& components() const { return components_; }

 private:
  Value<HANDLE> initial_process_handle_;
  Value<uint32_t> initial_pid_;
  Value<uint32_t> parent_pid_;
  Value<uint32_t> permission_requester_pid_;
  base::FilePath package_folder_;
  bool waits_for_package_ = false;
  bool post_elevated_install_tasks_ = false;
  bool has_components_ = false;
  std::wstring components_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_BACKEND_COMMAND_LINE_H_
