// The command line as the installer shows it: in its log and in the
// statistics report. Every switch that takes an address may carry a user
// name and password in it ("--internal-package-server=http://user:pw@..."),
// and none of them may reach a file or a report.
#ifndef DESKTOP_WINDOWS_INSTALLER_LOGGABLE_COMMAND_LINE_H_
#define DESKTOP_WINDOWS_INSTALLER_LOGGABLE_COMMAND_LINE_H_

#include <string>

namespace base {
class CommandLine;
}

namespace installer {

// |command_line| as GetCommandLineString writes it, with the credentials of
// every address in its switches and arguments replaced (url_credentials.h).
std::wstring LoggableCommandLine(const base::CommandLine& command_line);
// The same without the program, as GetArgumentsString writes it.
std::wstring LoggableArguments(const base::CommandLine& command_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LOGGABLE_COMMAND_LINE_H_
