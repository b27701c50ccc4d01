#include "desktop/windows/installer/early_download_folder_probe.h"

#include <windows.h>

#include "base/bind.h"
#include "base/files/path_registry.h"
#include "base/trace_event/trace_site.h"
#include "desktop/windows/installer/installer_folders.h"

namespace installer {

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
  const base::FilePath folder = temp.Append(folder_name_);
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
    return;
  RemoveProbeCopiesOfEndedRuns(folder);
  const base::FilePath probe_folder = ProbeCopyFolder(folder);
  if (!::CreateDirectoryW(probe_folder.c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return;
  }
  const base::FilePath copy = probe_folder.Append(program_.BaseName());
  if (copy.value().size() >= MAX_PATH || !::CopyFileW(program_.c_str(), copy.c_str(), FALSE)) {
    ::RemoveDirectoryW(probe_folder.c_str());
    return;
  }
  const base::FilePath engine = PlaceEngineBesideCopy(program_, copy);
  const bool ran = RunProbeCopy(copy, limit_);
  // A copy that stays behind (read-only, still in use) is left to the usual
  // search, which replaces it and says so.
  const bool engine_gone = engine.empty() || ::DeleteFileW(engine.c_str());
  if (::DeleteFileW(copy.c_str()) && engine_gone && ::RemoveDirectoryW(probe_folder.c_str()) &&
      ran) {
    runnable_folder_ = folder;
  }
}

}  // namespace installer
