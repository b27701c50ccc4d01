// Does for the soak run what a shell script cannot do from the Linux side.
//
//   browser_runner.exe <stop file> <browser>
//
// Keeps the installed stand-in browser running:
// Makes a named event, starts "<browser> --run-until-event=<event>" (the
// stand-in browser then runs until the event is signalled), and writes
// "<stop file>.running" once the browser has started. When <stop file>
// exists, it signals the event and waits for the browser to end. Exits with
// the browser's exit code; 2 when it cannot start it.
//
//   browser_runner.exe --as-standard-user <program> [<argument>...]
//
// Runs the program as a standard user: under a token of the current user
// with the Administrators group made deny-only (Wine's user is always an
// elevated administrator). Prints the token's elevation and Administrators
// membership, refuses (2) a token that is still an administrator's, waits
// for the program and exits with its exit code; 2 when it cannot start it.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "base/command_line.h"
#include "base/win/scoped_handle.h"
#include "testing/non_admin_token.h"

namespace {

// Whether |token| is elevated and whether it counts as a member of the
// Administrators group; false when it cannot tell (printed).
bool DescribeToken(HANDLE token, bool* elevated, bool* administrator) {
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
    fprintf(stderr, "GetTokenInformation(TokenElevation) failed: %lu\n", ::GetLastError());
    return false;
  }
  *elevated = elevation.TokenIsElevated != 0;
  // CheckTokenMembership wants an impersonation token.
  HANDLE raw = nullptr;
  if (!::DuplicateToken(token, SecurityIdentification, &raw)) {
    fprintf(stderr, "DuplicateToken failed: %lu\n", ::GetLastError());
    return false;
  }
  base::win::ScopedHandle identification(raw);
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  BOOL member = FALSE;
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size) ||
      !::CheckTokenMembership(identification.Get(), sid, &member)) {
    fprintf(stderr, "the Administrators membership is unknown: %lu\n", ::GetLastError());
    return false;
  }
  *administrator = member != FALSE;
  return true;
}

int RunAsStandardUser(int argc, wchar_t** argv) {
  base::win::ScopedHandle token = testing::MakeNonAdminToken();
  if (!token.IsValid())
    return 2;
  bool elevated = true;
  bool administrator = true;
  if (!DescribeToken(token.Get(), &elevated, &administrator))
    return 2;
  printf("standard user token: elevated %d, Administrators member %d\n", elevated ? 1 : 0,
         administrator ? 1 : 0);
  fflush(stdout);
  if (administrator) {
    fprintf(stderr, "the restricted token is still an administrator's\n");
    return 2;
  }
  std::wstring command;
  for (int i = 2; i < argc; ++i) {
    if (!command.empty())
      command += L' ';
    command += base::CommandLine::QuoteForCommandLine(argv[i]);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessAsUserW(token.Get(), nullptr, command.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &info)) {
    fprintf(stderr, "CreateProcessAsUserW failed: %lu\n", ::GetLastError());
    return 2;
  }
  base::win::ScopedHandle process(info.hProcess);
  base::win::ScopedHandle thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exit_code = 2;
  ::GetExitCodeProcess(process.Get(), &exit_code);
  return static_cast<int>(exit_code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"--as-standard-user")
    return RunAsStandardUser(argc, argv);
  if (argc != 3)
    return 2;
  const std::wstring stop_file = argv[1];
  const std::wstring event_name =
      L"Local\\VelmoBrowserRunner" + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  if (!event.IsValid())
    return 2;
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\" --run-until-event=" + event_name;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return 2;
  }
  base::win::ScopedHandle process(info.hProcess);
  base::win::ScopedHandle thread(info.hThread);
  base::win::ScopedHandle running(::CreateFileW((stop_file + L".running").c_str(), GENERIC_WRITE, 0,
                                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                nullptr));
  // The soak waits for the browser: nothing else ends it.
  while (::GetFileAttributesW(stop_file.c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::WaitForSingleObject(process.Get(), 100) == WAIT_TIMEOUT) {
  }
  ::SetEvent(event.Get());
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exit_code = 2;
  ::GetExitCodeProcess(process.Get(), &exit_code);
  return static_cast<int>(exit_code);
}
