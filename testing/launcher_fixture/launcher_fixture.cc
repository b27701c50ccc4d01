// Appends its whole command line (UTF-16 as written by GetCommandLineW, one
// line per start) to "launcher_command_line.txt" beside itself, then exits
// with 0. Exits with 1 when it cannot record.
//
// Installed as the browser, it stands for a browser that runs: started with
// "--run-until-event=NAME" it records nothing (what an installation holds
// stays as installed) and runs until the named event, which the test made,
// is signalled; it then exits with 0 (1 when there is no such event).
//
// Installed as the launcher, it answers the Add/Remove Programs entry
// ("launcher.exe" /uninstall) as the product's launcher does: it records
// nothing, starts the installer of the installation's version folder (named
// by the install log beside it) with "--uninstall" and every other argument
// it was given ("--silent" among them), waits for it and exits with its exit
// code; with 1 when there is no installation to uninstall beside it or the
// installer does not start (said on standard error).
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/string_util.h"
#include "base/win/scoped_com.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/install_log_path.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/service/install_log.h"
#include "desktop/windows/installer/service/installation.h"

namespace {

constexpr wchar_t kRunUntilEventSwitch[] = L"--run-until-event=";
constexpr wchar_t kUninstallArgument[] = L"/uninstall";

bool ToStandardError(int, const char*, int, size_t, const std::string& line) {
  std::fputs(line.c_str(), stderr);
  return true;
}

int RunUntilEvent(const std::wstring& name) {
  base::win::ScopedHandle event(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!event.IsValid())
    return 1;
  return ::WaitForSingleObject(event.Get(), INFINITE) == WAIT_OBJECT_0 ? 0 : 1;
}

// Runs the version folder's installer of the installation in |folder| with
// "--uninstall" and |arguments| (the launcher's own but "/uninstall").
int Uninstall(const base::FilePath& folder, const std::vector<std::wstring>& arguments) {
  logging::SetLogMessageHandler(&ToStandardError);
  // The install log is XML, read through COM.
  base::win::ScopedComInitializer com;
  installer::InstallLog log;
  // Without one there is nothing to uninstall (logged).
  if (!log.Load(folder.Append(installer::Installation::kInstallLogFileName)))
    return 1;
  base::FilePath program;
  // The log names the version folder; one that leads out of the
  // installation is refused (logged).
  if (!installer::ResolveInstallLogPath(
          folder, log.subfolder, base::FilePath(installer::kPackageInstallerFileName), &program)) {
    return 1;
  }
  base::CommandLine::StringVector argv = {program.value(), L"--uninstall"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const base::CommandLine command_line = base::CommandLine::FromArgv(argv);
  const base::Process process = base::LaunchProcess(command_line, base::LaunchOptions());
  if (!process.IsValid())
    return 1;
  int exit_code = 1;
  if (!process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Cannot wait for " << program;
    return 1;
  }
  return exit_code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> others;
  bool uninstall = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.rfind(kRunUntilEventSwitch, 0) == 0)
      return RunUntilEvent(arg.substr(std::wstring(kRunUntilEventSwitch).size()));
    if (base::EqualsCaseInsensitiveASCII(arg, kUninstallArgument))
      uninstall = true;
    else
      others.push_back(arg);
  }

  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 1;
  const base::FilePath folder = base::FilePath(std::wstring(path, length)).DirName();
  if (uninstall)
    return Uninstall(folder, others);
  const std::wstring record = folder.Append(L"launcher_command_line.txt").value();

  base::win::ScopedHandle file(::CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return 1;
  std::wstring line = ::GetCommandLineW();
  line += L"\n";
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(line.size() * sizeof(wchar_t));
  const BOOL ok = ::WriteFile(file.Get(), line.data(), size, &written, nullptr);
  return ok && written == size ? 0 : 1;
}
