// A component installer program for tests.
//
// Every run appends its whole command line, as one UTF-8 line, to the file
// named after the program followed by ".calls" (beside the program). It then
// exits with the code given by "--exit-code=N"; without that switch, with the
// decimal number in the file named after the program followed by
// ".exit_code"; without either, with 0. The text "hang" in place of the
// number makes it wait for ever, as a hung installer would. A run that cannot record itself
// exits with 100, so that a test never mistakes it for a successful one.
#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"

namespace {

constexpr int kCannotRecord = 100;

bool GetOwnPath(base::FilePath* path) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH)
    return false;
  *path = base::FilePath(std::wstring(buffer, length));
  return true;
}

bool AppendLine(const base::FilePath& path, const std::string& line) {
  std::string contents;
  if (base::PathExists(path) && !base::ReadFileToString(path, &contents))
    return false;
  contents += line;
  contents += "\n";
  const int size = static_cast<int>(contents.size());
  return base::WriteFileBytes(path, contents.data(), size) == size;
}

}  // namespace

int wmain() {
  base::FilePath own_path;
  if (!GetOwnPath(&own_path))
    return kCannotRecord;
  if (!AppendLine(base::FilePath(own_path.value() + L".calls"),
                  base::WideToUTF8(::GetCommandLineW()))) {
    return kCannotRecord;
  }

  const base::CommandLine command_line = base::CommandLine::FromString(::GetCommandLineW());
  int exit_code = 0;
  std::string text;
  if (command_line.HasSwitch("exit-code")) {
    text = command_line.GetSwitchValueASCII("exit-code");
  } else if (!base::ReadFileToString(base::FilePath(own_path.value() + L".exit_code"), &text)) {
    return 0;
  }
  text = std::string(base::TrimWhitespaceASCII(text, base::TRIM_ALL));
  if (text == "hang")
    ::Sleep(INFINITE);
  if (!base::StringToInt(text, &exit_code))
    return kCannotRecord;
  return exit_code;
}
