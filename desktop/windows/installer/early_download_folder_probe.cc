#include "desktop/windows/installer/early_download_folder_probe.h"

#include <windows.h>

#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/path_registry.h"
#include "base/trace_event/trace_site.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_folders.h"

namespace installer {

namespace {

// How long a copy that was ended may take to go, so that it can be removed.
constexpr DWORD kEndedCopyWaitMs = 10 * 1000;

}  // namespace

EarlyDownloadFolderProbe::EarlyDownloadFolderProbe(const base::FilePath& folder_name,
                                                   const base::FilePath& program,
                                                   base::TimeSpan limit)
    : folder_name_(folder_name),
      program_(program),
      limit_(limit),
      thread_("Download folder probe",
              base::Bind(&EarlyDownloadFolderProbe::Probe, base::Unretained(this))) {
  // Without the thread the folder is found the usual way.
  thread_.Start();
}

EarlyDownloadFolderProbe::~EarlyDownloadFolderProbe() { thread_.Join(); }

base::FilePath EarlyDownloadFolderProbe::TakeRunnableFolder() {
  if (!thread_.HasBeenStarted())
    return base::FilePath();
  thread_.Join();
  return runnable_folder_;
}

// What the usual search does for the temporary directory, with Win32 calls
// that log nothing; any step that fails leaves the answer empty.
void EarlyDownloadFolderProbe::Probe() {
  TRACE_EVENT_SCOPE("toplevel", "EarlyDownloadFolderProbe::Probe");
  base::FilePath temp;
  if (program_.empty() || !base::PathRegistry::Get(base::kPathTempDirectory, &temp))
    return;
  // The copy's output (its version, a few bytes: far less than the pipe
  // holds) goes into this pipe, whose read end is never inherited. Nobody
  // reads it: that the copy ran is the answer.
  SECURITY_ATTRIBUTES inheritable = {};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!::CreatePipe(&read_handle, &write_handle, &inheritable, 0))
    return;
  const base::win::ScopedHandle output_read(read_handle);
  base::win::ScopedHandle output_write(write_handle);
  if (!::SetHandleInformation(output_read.Get(), HANDLE_FLAG_INHERIT, 0))
    return;
  const base::FilePath folder = temp.Append(folder_name_);
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return;
  const base::FilePath copy = folder.Append(program_.BaseName());
  if (copy.value().size() >= MAX_PATH || !::CopyFileW(program_.c_str(), copy.c_str(), FALSE))
    return;
  const base::FilePath engine = PlaceEngineBesideCopy(program_, copy);
  base::CommandLine command_line(copy);
  command_line.AppendSwitch("version");
  std::wstring writable = command_line.GetCommandLineString();
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  startup_info.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup_info.wShowWindow = SW_HIDE;
  startup_info.hStdOutput = output_write.Get();
  startup_info.hStdError = output_write.Get();
  PROCESS_INFORMATION info = {};
  bool ran = ::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup_info, &info) != 0;
  if (ran) {
    base::win::ScopedHandle process(info.hProcess);
    base::win::ScopedHandle thread(info.hThread);
    output_write.Reset();
    const DWORD limit_ms = static_cast<DWORD>(limit_.InMilliseconds());
    if (::WaitForSingleObject(process.Get(), limit_ms) != WAIT_OBJECT_0) {
      ran = false;
      ::TerminateProcess(process.Get(), 1);
      ::WaitForSingleObject(process.Get(), kEndedCopyWaitMs);
    }
  }
  // A copy that stays behind (read-only, still in use) is left to the usual
  // search, which replaces it and says so.
  const bool engine_gone = engine.empty() || ::DeleteFileW(engine.c_str());
  if (::DeleteFileW(copy.c_str()) && engine_gone && ran)
    runnable_folder_ = folder;
}

}  // namespace installer
