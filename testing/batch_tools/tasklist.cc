// A stand-in for "tasklist" that understands the one filter the installer's
// clean-up batch file uses:
//
//   tasklist /FI "PID eq <pid>"
//
// Like the real tool it prints a table with the process's image name when
// that process runs, and an INFO line without any image name otherwise.
// Exit code 0 when the command line was understood, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/win/scoped_handle.h"

namespace {

// The pid of a "PID eq <n>" filter (case ignored); false for another filter.
bool ParsePidFilter(const char* filter, DWORD* pid) {
  if (_strnicmp(filter, "PID eq ", 7) != 0)
    return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(filter + 7, &end, 10);
  if (end == filter + 7 || *end != '\0')
    return false;
  *pid = static_cast<DWORD>(value);
  return true;
}

// The image name of |pid| when the process is still running.
bool GetRunningImageName(DWORD pid, std::string* name) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid));
  if (!process.IsValid())
    return false;
  bool running = ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
  char path[MAX_PATH * 2] = {};
  DWORD size = sizeof(path);
  if (running && !::QueryFullProcessImageNameA(process.Get(), 0, path, &size))
    std::strcpy(path, "unknown.exe");
  process.Reset();
  if (!running)
    return false;
  const char* base = std::strrchr(path, '\\');
  *name = base ? base + 1 : path;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD pid = 0;
  if (argc != 3 || _stricmp(argv[1], "/FI") != 0 || !ParsePidFilter(argv[2], &pid)) {
    std::fprintf(stderr, "ERROR: Invalid argument/option.\n");
    return 1;
  }
  std::string name;
  if (!GetRunningImageName(pid, &name)) {
    std::printf("INFO: No tasks are running which match the specified criteria.\n");
    return 0;
  }
  std::printf("\nImage Name                     PID Session Name        Session#    Mem Usage\n");
  std::printf("========================= ======== ================ =========== ============\n");
  std::printf("%-25s %8lu Console                    1          0 K\n", name.c_str(),
              static_cast<unsigned long>(pid));
  return 0;
}
