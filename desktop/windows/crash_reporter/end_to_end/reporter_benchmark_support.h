// What the reporter benchmarks share: the host beside them, started with
// extra environment variables, and a reporter started as their own.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_BENCHMARK_SUPPORT_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_BENCHMARK_SUPPORT_H_

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "base/command_line.h"
#include "base/files/path_registry.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_reporter_client.h"
#include "desktop/windows/installer/installer_switches.h"

namespace crash_reporter {

using EnvironmentList = std::vector<std::pair<std::wstring, std::wstring>>;

inline base::FilePath HostExecutable() {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir.Append(L"installer.exe");
}

// Starts |command_line| with |environment| added to this process's.
inline base::Process LaunchWithEnvironment(const base::CommandLine& command_line,
                                           const EnvironmentList& environment) {
  for (const auto& [name, value] : environment)
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
  for (const auto& [name, value] : environment)
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
  return process;
}

// A reporter serving this process, once it listens; invalid when it did not
// start within 30 s. |with_minidumps| turns the alternative crash logging on.
inline base::Process StartOwnReporter(const EnvironmentList& environment,
                                      bool with_minidumps = false) {
  const std::wstring init_name =
      kCrashReporterInitEventPrefix + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle init_event(::CreateEventW(nullptr, TRUE, FALSE, init_name.c_str()));
  base::CommandLine command_line(HostExecutable());
  command_line.AppendSwitchASCII(installer::kCrashReporterParentIdSwitch,
                                 std::to_string(::GetCurrentProcessId()));
  if (with_minidumps)
    command_line.AppendSwitchASCII("with-feature:alternative-crash-logging", "on");
  base::Process reporter = LaunchWithEnvironment(command_line, environment);
  if (reporter.IsValid() && ::WaitForSingleObject(init_event.Get(), 30000) != WAIT_OBJECT_0) {
    reporter.Terminate(1, true);
    return base::Process();
  }
  return reporter;
}

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_END_TO_END_REPORTER_BENCHMARK_SUPPORT_H_
