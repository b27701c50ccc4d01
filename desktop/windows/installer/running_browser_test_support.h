// Test support: a browser that really runs. The launcher fixture, installed
// as the browser, started from its installed place and running until the
// test ends it: its image stays mapped the way a real browser's does.
#ifndef DESKTOP_WINDOWS_INSTALLER_RUNNING_BROWSER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_RUNNING_BROWSER_TEST_SUPPORT_H_

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace installer::test {

class RunningBrowser {
 public:
  // Starts |program| (a copy of launcher_fixture.exe) so that it runs until
  // End(); IsRunning() tells whether that worked.
  explicit RunningBrowser(const base::FilePath& program) : program_(program) {
    // The name is this object's own: no other test or run shares it.
    event_name_ = L"VelmoTestRunningBrowser-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                  std::to_wstring(reinterpret_cast<uintptr_t>(this)) + L"-" +
                  std::to_wstring(::GetTickCount64());
    end_event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, event_name_.c_str()));
    EXPECT_TRUE(end_event_.IsValid()) << ::GetLastError();
    process_ = Start();
  }
  RunningBrowser(const RunningBrowser&) = delete;
  RunningBrowser& operator=(const RunningBrowser&) = delete;
  ~RunningBrowser() {
    if (process_.IsValid() && !End())
      process_.Terminate(1, /*wait=*/true);
  }

  bool IsRunning() const {
    return process_.IsValid() && ::WaitForSingleObject(process_.Handle(), 0) == WAIT_TIMEOUT;
  }

  // Tells the browser to end and waits for it; true when it ended with 0.
  bool End() {
    if (!process_.IsValid() || !::SetEvent(end_event_.Get()))
      return false;
    int exit_code = -1;
    const bool ended = process_.WaitForExit(&exit_code);
    process_.Close();
    return ended && exit_code == 0;
  }

  // Once ended: starts the browser again and waits for its end (it ends at
  // once, its event being set); true when it ran and ended with 0.
  bool StartsAndEnds() {
    base::Process again = Start();
    int exit_code = -1;
    return again.IsValid() && again.WaitForExit(&exit_code) && exit_code == 0;
  }

 private:
  base::Process Start() const {
    base::CommandLine command_line(program_);
    command_line.AppendSwitchNative("run-until-event", event_name_);
    base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
    EXPECT_TRUE(process.IsValid()) << command_line.GetCommandLineString();
    return process;
  }

  const base::FilePath program_;
  std::wstring event_name_;
  base::win::ScopedHandle end_event_;
  base::Process process_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_RUNNING_BROWSER_TEST_SUPPORT_H_
