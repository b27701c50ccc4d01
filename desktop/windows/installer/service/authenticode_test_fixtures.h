// Test helpers: where the build puts the Authenticode fixtures (beside the
// test executable), and a capture of the log lines written meanwhile.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_TEST_FIXTURES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_TEST_FIXTURES_H_

#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "base/files/path_registry.h"
#include "base/logging.h"

namespace installer::testing {

inline base::FilePath AuthenticodeFixture(std::string_view name) {
  base::FilePath exe_dir;
  base::PathRegistry::Get(base::kPathExeDirectory, &exe_dir);
  return exe_dir.AppendASCII("authenticode_fixtures").AppendASCII(name);
}

// Collects every log line while alive; lines still reach the previous
// handler.
class ScopedLogCapture {
 public:
  ScopedLogCapture() : previous_(logging::GetLogMessageHandler()) {
    lines().clear();
    previous_handler() = previous_;
    logging::SetLogMessageHandler(&Handler);
  }
  ~ScopedLogCapture() { logging::SetLogMessageHandler(previous_); }
  const std::string& text() const { return lines(); }

 private:
  static std::string& lines() {
    static std::string text;
    return text;
  }
  static logging::LogMessageHandlerFunction& previous_handler() {
    static logging::LogMessageHandlerFunction handler = nullptr;
    return handler;
  }
  static bool Handler(int severity, const char* file, int line, size_t start,
                      const std::string& text) {
    lines() += text;
    return previous_handler() ? previous_handler()(severity, file, line, start, text) : false;
  }

  logging::LogMessageHandlerFunction previous_;
};

}  // namespace installer::testing

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_AUTHENTICODE_TEST_FIXTURES_H_
