#include "desktop/windows/installer/loggable_command_line.h"

#include "base/command_line.h"
#include "desktop/windows/installer/url_credentials.h"

namespace installer {

std::wstring LoggableCommandLine(const base::CommandLine& command_line) {
  return command_line.GetCommandLineString(&WithoutAnyCredentials);
}

std::wstring LoggableArguments(const base::CommandLine& command_line) {
  return command_line.GetArgumentsString(&WithoutAnyCredentials);
}

}  // namespace installer
