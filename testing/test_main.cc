// The main of every test executable: the process command line, log lines on
// standard error, the child-process dispatch, then the gtest runner.
#include <windows.h>

#include <cstdio>

#include "base/command_line.h"
#include "base/logging.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace {

bool LogToStderr(int, const char*, int, size_t, const std::string& line) {
  fputs(line.c_str(), stderr);
  fflush(stderr);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  base::CommandLine::InitForCurrentProcess();
  logging::SetLogMessageHandler(&LogToStderr);
  logging::LoggingSettings settings;
  settings.logging_dest = logging::LOG_NONE;
  logging::InitLogging(settings);

  int exit_code = 0;
  if (testing::MaybeRunChildMain(&exit_code))
    return exit_code;

  // A crash in a test must not wait on a debugger dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
