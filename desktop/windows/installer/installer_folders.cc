#include "desktop/windows/installer/installer_folders.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/scoped_generic.h"
#include "base/string_number_conversions.h"
#include "base/string_printf.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "base/win/library_holder.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_co_task_mem.h"
#include "desktop/windows/installer/cleanup_batch_file.h"
#include "desktop/windows/installer/launch_lock.h"
#include "desktop/windows/installer/product_config.h"

namespace installer {
namespace {

// {374DE290-123F-4565-9164-39C4925E467B}
constexpr KNOWNFOLDERID kDownloadsFolderId = {0x374de290,
                                              0x123f,
                                              0x4565,
                                              {0x91, 0x64, 0x39, 0xc4, 0x92, 0x5e, 0x46, 0x7b}};
constexpr DWORD kCreateAndInitFlags = 0x8800;  // KF_FLAG_CREATE | KF_FLAG_INIT
// How long a probe copy that was ended may take to go, so that it can be
// removed.
constexpr DWORD kEndedCopyWaitMs = 10 * 1000;
// Runs started in one second that may each get a log of their own.
constexpr int kMaxLogNameSuffix = 999;

std::atomic<void (*)()> g_probe_copy_start_observer{nullptr};

}  // namespace

void SetProbeCopyStartObserverForTesting(void (*observer)()) {
  g_probe_copy_start_observer.store(observer);
}

base::FilePath GetInstallerFolderName() {
  return base::FilePath(base::ASCIIToWide(FormatWithProductName("%s Installer", false)));
}

base::FilePath LogFileNameForTime(int year, int month, int day, int hour, int minute, int second) {
  std::wstring name = base::ASCIIToWide(FormatWithProductName("%s_installer", true));
  name += base::FormatString16(L"_%02d%02d%02d%02d%02d%02d.log", year, month, day, hour, minute,
                               second);
  return base::FilePath(name);
}

base::FilePath ComputeLogFilePath() {
  base::Time::Exploded now;
  base::Time::Now().Explode(/*is_local=*/true, &now);
  base::FilePath name =
      LogFileNameForTime(now.year, now.month, now.day_of_month, now.hour, now.minute, now.second);
  base::FilePath folder;
  if (TryPathKeyDirectory(GetInstallerFolderName(), base::FilePath(), &folder,
                          base::kPathTempDirectory)) {
    return folder.Append(name);
  }
  return name;
}

base::FilePath CreateNewLogFile(const base::FilePath& first_choice) {
  const std::wstring& value = first_choice.value();
  const std::wstring extension = first_choice.Extension();
  const std::wstring stem = value.substr(0, value.size() - extension.size());
  for (int suffix = 0; suffix <= kMaxLogNameSuffix; ++suffix) {
    const base::FilePath candidate(suffix == 0 ? value
                                               : stem + L"_" + std::to_wstring(suffix) + extension);
    // Made only when new: of two runs asking at once, one gets the name and
    // the other goes on to the next.
    base::win::ScopedHandle file(::CreateFileW(
        candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.IsValid())
      return candidate;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
      break;
  }
  return first_choice;
}

void PruneInstallerLogs(const base::FilePath& current_log, size_t keep) {
  const base::FilePath folder = current_log.DirName();
  if (folder.empty() || folder == current_log || keep == 0)
    return;
  const std::wstring pattern =
      base::ASCIIToWide(FormatWithProductName("%s_installer_", true)) + L"*.log";
  std::vector<base::FilePath> logs;
  base::DirectoryEnumerator enumerator(folder, /*recursive=*/false,
                                       base::DirectoryEnumerator::FILES, pattern);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    if (!base::FilePath::CompareEqualIgnoreCase(path.value(), current_log.value()))
      logs.push_back(path);
  }
  if (logs.size() < keep)
    return;
  std::sort(logs.begin(), logs.end(), [](const base::FilePath& a, const base::FilePath& b) {
    return a.BaseName().value() < b.BaseName().value();
  });
  // The current log is one of those kept.
  const size_t excess = logs.size() - (keep - 1);
  for (size_t i = 0; i < excess; ++i) {
    if (!::DeleteFileW(logs[i].c_str())) {
      VLOG(1) << "Keeping the old installer log " << logs[i] << " (error " << ::GetLastError()
              << ")";
    }
  }
}

base::FilePath RecoverInstallFolderFromArgs(const base::CommandLine& command_line) {
  const base::CommandLine::StringVector& argv = command_line.argv();
  if (argv.size() < 2)
    return base::FilePath();
  base::FilePath candidate(argv.back());
  if (!candidate.IsAbsolute())
    return base::FilePath();
  return candidate;
}

bool RunUninstallBat(const base::FilePath& install_folder) {
  base::FilePath batch = install_folder.Append(kCleanupBatchFileName);
  if (!base::PathExists(batch))
    return false;
  return RunCleanupBatchFile(batch);
}

base::FilePath PlaceEngineBesideCopy(const base::FilePath& program,
                                     const base::FilePath& program_copy) {
  const base::FilePath engine = program.DirName().Append(kEngineFileName);
  const base::FilePath placed = program_copy.DirName().Append(kEngineFileName);
  if (::GetFileAttributesW(engine.c_str()) == INVALID_FILE_ATTRIBUTES ||
      placed.value().size() >= MAX_PATH) {
    return base::FilePath();
  }
  // A copy, never a hard link: a file whose other name is loaded by some
  // process cannot be deleted under any of its names.
  return ::CopyFileW(engine.c_str(), placed.c_str(), FALSE) ? placed : base::FilePath();
}

bool RunProbeCopy(const base::FilePath& copy, base::TimeSpan limit) {
  base::CommandLine command_line(copy);
  command_line.AppendSwitch("version");
  std::wstring writable = command_line.GetCommandLineString();
  // Open until the copy has ended, so that its output has somewhere to go.
  base::win::ScopedHandle output_read;
  PROCESS_INFORMATION info = {};
  {
    // The copy inherits handles: from the pipe's making until its own end
    // of it is closed here, no other launch may run, or it would inherit
    // that end too (and the copy whatever that launch made inheritable).
    base::AutoLock launch_lock(GetLaunchLock());
    // The copy's output (its version, a few bytes: far less than the pipe
    // holds) goes into this pipe, whose read end is never inherited. Nobody
    // reads it: that the copy ran is the answer.
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    HANDLE read_handle = nullptr;
    HANDLE write_handle = nullptr;
    if (!::CreatePipe(&read_handle, &write_handle, &inheritable, 0))
      return false;
    output_read.Reset(read_handle);
    const base::win::ScopedHandle output_write(write_handle);
    if (!::SetHandleInformation(output_read.Get(), HANDLE_FLAG_INHERIT, 0))
      return false;
    STARTUPINFOW startup_info = {};
    startup_info.cb = sizeof(startup_info);
    startup_info.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup_info.wShowWindow = SW_HIDE;
    startup_info.hStdOutput = output_write.Get();
    startup_info.hStdError = output_write.Get();
    if (void (*observer)() = g_probe_copy_start_observer.load())
      observer();
    if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup_info, &info)) {
      return false;
    }
  }
  const base::win::ScopedHandle process(info.hProcess);
  const base::win::ScopedHandle thread(info.hThread);
  if (::WaitForSingleObject(process.Get(), static_cast<DWORD>(limit.InMilliseconds())) ==
      WAIT_OBJECT_0) {
    return true;
  }
  ::TerminateProcess(process.Get(), 1);
  // So that the copy can be removed.
  ::WaitForSingleObject(process.Get(), kEndedCopyWaitMs);
  return false;
}

base::FilePath ProbeCopyFolder(const base::FilePath& directory) {
  return directory.Append(base::ASCIIToWide(FormatWithProductName("%s_probe_", true)) +
                          std::to_wstring(::GetCurrentProcessId()));
}

void RemoveProbeCopiesOfEndedRuns(const base::FilePath& directory) {
  const std::wstring prefix = base::ASCIIToWide(FormatWithProductName("%s_probe_", true));
  base::DirectoryEnumerator folders(directory, /*recursive=*/false,
                                    base::DirectoryEnumerator::DIRECTORIES, prefix + L"*");
  for (base::FilePath folder = folders.Next(); !folder.empty(); folder = folders.Next()) {
    const std::wstring id_text = folder.BaseName().value().substr(prefix.size());
    uint32_t id = 0;
    if (!base::StringToUint16(id_text, &id) || id == ::GetCurrentProcessId())
      continue;
    // A process that cannot be asked (another user's) counts as running.
    base::win::ScopedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
    const bool ended = process.IsValid() ? ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0
                                         : ::GetLastError() == ERROR_INVALID_PARAMETER;
    if (!ended)
      continue;
    base::DirectoryEnumerator copies(folder, /*recursive=*/false, base::DirectoryEnumerator::FILES);
    for (base::FilePath copy = copies.Next(); !copy.empty(); copy = copies.Next())
      ::DeleteFileW(copy.c_str());
    // What cannot go now (a copy still loaded) is tried again by the next run.
    ::RemoveDirectoryW(folder.c_str());
  }
}

bool CanRunFromDirectory(const base::FilePath& directory, const base::FilePath& program) {
  RemoveProbeCopiesOfEndedRuns(directory);
  const base::FilePath probe_folder = ProbeCopyFolder(directory);
  if (!base::DirectoryExists(probe_folder) && !base::CreateDirectoryTree(probe_folder)) {
    LOG(WARNING) << "Cannot create " << probe_folder;
    return false;
  }
  const base::FilePath copy = probe_folder.Append(program.BaseName());
  if (!base::CopySingleFile(program, copy)) {
    LOG(WARNING) << "Cannot copy " << program << " into " << probe_folder;
    ::RemoveDirectoryW(probe_folder.c_str());
    return false;
  }
  const base::FilePath engine = PlaceEngineBesideCopy(program, copy);
  const bool ran = RunProbeCopy(copy, kProbeCopyTimeout);
  bool copies_gone = true;
  for (const base::FilePath& placed : {copy, engine}) {
    if (!placed.empty() && !base::DeletePath(placed, false)) {
      LOG(ERROR) << "Could not delete the probe copy " << placed;
      copies_gone = false;
    }
  }
  if (copies_gone && !::RemoveDirectoryW(probe_folder.c_str())) {
    const DWORD error = ::GetLastError();
    ELOG(ERROR, error) << "Could not delete the probe folder " << probe_folder;
  }
  if (!ran) {
    LOG(WARNING) << "Programs cannot run from " << directory << " (a copy of " << program.BaseName()
                 << " did not start, or did not end within " << kProbeCopyTimeout.InSeconds()
                 << " s)";
  }
  return ran;
}

bool TryCreateRunnableDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                                base::FilePath* directory) {
  *directory = directory->Append(folder_name);
  if (!base::DirectoryExists(*directory) && !base::CreateDirectoryTree(*directory)) {
    LOG(WARNING) << "Cannot create " << *directory;
    return false;
  }
  if (program.empty())
    return true;
  if (CanRunFromDirectory(*directory, program))
    return true;
  ::RemoveDirectoryW(directory->c_str());
  return false;
}

bool TryPathKeyDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                         base::FilePath* directory, int path_key) {
  base::FilePath base_directory;
  if (!base::PathRegistry::Get(path_key, &base_directory))
    return false;
  *directory = base_directory;
  return TryCreateRunnableDirectory(folder_name, program, directory);
}

bool TryDownloadsFolder(const base::FilePath& folder_name, const base::FilePath& program,
                        base::FilePath* directory) {
  base::win::LibraryHolder shell32(L"shell32.dll");
  using GetKnownFolderPathFunction = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  auto get_known_folder_path =
      shell32.GetFunction<GetKnownFolderPathFunction>("SHGetKnownFolderPath");
  if (!get_known_folder_path)
    return false;
  base::win::ScopedCoTaskMemString path;
  HRESULT hr = get_known_folder_path(kDownloadsFolderId, 0, nullptr, path.Receive());
  if (FAILED(hr)) {
    hr = get_known_folder_path(kDownloadsFolderId, kCreateAndInitFlags, nullptr, path.Receive());
    if (FAILED(hr)) {
      ELOG(WARNING, hr) << "No Downloads folder";
      return false;
    }
  }
  *directory = base::FilePath(path.Get());
  return TryCreateRunnableDirectory(folder_name, program, directory);
}

bool FindRunnableDirectory(const base::FilePath& folder_name, const base::FilePath& program,
                           base::FilePath* directory) {
  return TryPathKeyDirectory(folder_name, program, directory, base::kPathTempDirectory) ||
         TryDownloadsFolder(folder_name, program, directory) ||
         TryPathKeyDirectory(folder_name, program, directory, base::kPathHomeDirectory) ||
         TryPathKeyDirectory(folder_name, program, directory, base::kPathExeDirectory);
}

}  // namespace installer
