// Helpers shared by the package fetcher's tests.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/logging.h"

namespace installer::test {

// A file or folder made at build time into <bin>/payload_fixtures.
inline base::FilePath PayloadFixture(std::wstring_view name) {
  base::FilePath dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &dir);
  return dir.Append(L"payload_fixtures").Append(name);
}

// Collects every log line of every thread while it lives; the lines still
// go to the other outputs.
class ScopedLogCapture {
 public:
  ScopedLogCapture() {
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().clear();
    previous_ = logging::GetLogMessageHandler();
    logging::SetLogMessageHandler(&Capture);
  }
  ~ScopedLogCapture() { logging::SetLogMessageHandler(previous_); }
  ScopedLogCapture(const ScopedLogCapture&) = delete;
  ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

  // Whether a line of at least |severity| holds |text|.
  bool Contains(std::string_view text, int severity = logging::LOG_INFO) const {
    std::lock_guard<std::mutex> hold(Mutex());
    for (const auto& [line_severity, line] : Lines()) {
      if (line_severity >= severity && line.find(text) != std::string::npos)
        return true;
    }
    return false;
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::pair<int, std::string>>& Lines() {
    static std::vector<std::pair<int, std::string>> lines;
    return lines;
  }
  static bool Capture(int severity, const char*, int, size_t start, const std::string& str) {
    std::lock_guard<std::mutex> hold(Mutex());
    Lines().emplace_back(severity, str.substr(start));
    return false;
  }

  logging::LogMessageHandlerFunction previous_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_TEST_SUPPORT_H_
