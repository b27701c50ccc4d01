// Helpers shared by the installer IPC tests.
#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_TEST_UTIL_H_

#include <string>
#include <vector>

#include "base/logging.h"
#include "base/threading/lock.h"
#include "base/threading/waitable_event.h"
#include "base/time.h"
#include "desktop/windows/installer/ipc/installer_delegate.h"

namespace installer::test {

// Collects every log line (verbose level 1 on) while it exists; lines are
// still passed on to the previous handler.
class ScopedLogCapture {
 public:
  ScopedLogCapture() : previous_(logging::GetLogMessageHandler()) {
    Active() = this;
    logging::SetVlogLevels("1", "");
    logging::SetLogMessageHandler(&ScopedLogCapture::OnLogLine);
  }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;
  ~ScopedLogCapture() {
    logging::SetLogMessageHandler(previous_);
    logging::SetVlogLevels("0", "");
    Active() = nullptr;
  }

  // Waits until a line holding |text| was logged, on any thread; false when
  // none came within |bound|.
  bool WaitForLine(const std::string& text, base::TimeSpan bound) {
    const base::MonotonicTime deadline = base::MonotonicTime::Now() + bound;
    while (Count(text) == 0) {
      const base::TimeSpan left = deadline - base::MonotonicTime::Now();
      if (left <= base::TimeSpan() || !line_logged_.TimedWait(left))
        return Count(text) > 0;
    }
    return true;
  }

  // Lines holding |text|.
  int Count(const std::string& text) {
    base::AutoLock lock(lock_);
    int count = 0;
    for (const std::string& line : lines_)
      count += line.find(text) != std::string::npos;
    return count;
  }

 private:
  static ScopedLogCapture*& Active() {
    static ScopedLogCapture* active = nullptr;
    return active;
  }

  static bool OnLogLine(int severity, const char* file, int line, size_t message_start,
                        const std::string& str) {
    ScopedLogCapture* capture = Active();
    if (!capture)
      return false;
    {
      base::AutoLock lock(capture->lock_);
      capture->lines_.push_back(str.substr(message_start));
    }
    capture->line_logged_.Signal();
    return capture->previous_ && capture->previous_(severity, file, line, message_start, str);
  }

  logging::LogMessageHandlerFunction previous_;
  base::Lock lock_;
  std::vector<std::string> lines_;
  base::WaitableEvent line_logged_{base::WaitableEvent::ResetPolicy::kAutomatic,
                                   base::WaitableEvent::InitialState::kNotSignaled};
};

// Records every InstallerDelegate call as one line of text.
class MessageRecordingDelegate : public InstallerDelegate {
 public:
  void OnInstallFolderReady() override { calls.push_back("folder ready"); }
  void OnStartingNewMainProcess(bool value) override {
    calls.push_back(std::string("starting ") + (value ? "true" : "false"));
  }
  void OnReturnedToPreviousMainProcess() override { calls.push_back("returned"); }
  void OnTotalSteps(int total_steps) override {
    calls.push_back("total " + std::to_string(total_steps));
  }
  void OnStep() override { calls.push_back("step"); }
  void OnError(int string_id, const std::wstring& text, const std::string& detail) override {
    calls.push_back("error " + std::to_string(string_id));
    error_text = text;
    error_detail = detail;
  }
  void OnSuccess() override { calls.push_back("success"); }
  void OnInstallerTerminated(bool success) override {
    calls.push_back(std::string("terminated ") + (success ? "true" : "false"));
  }

  std::vector<std::string> calls;
  std::wstring error_text;
  std::string error_detail;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_TEST_UTIL_H_
