#include "components/prefs/important_file_writer.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <utility>

#include "base/bind.h"
#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/metrics/linear_histogram.h"
#include "components/prefs/published_histogram.h"

namespace prefs {

namespace {

std::atomic<int> g_injected_failure{ImportantFileWriter::kNoFailure};
std::atomic<int> g_rename_retries{0};

// How long a target held open by another process may hold up the rename:
// long enough for a reader on a loaded machine, short enough for a write
// that waits at exit.
constexpr int kRenameAttempts = 50;
constexpr DWORD kRenameRetryDelayMs = 100;

// Renames |temp_path| over |path|, trying again while the target is held
// open elsewhere. The system's error of the last attempt stays set.
bool ReplaceWithRetries(const base::FilePath& temp_path, const base::FilePath& path) {
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(temp_path.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) ||
        attempt == kRenameAttempts) {
      return false;
    }
    g_rename_retries.fetch_add(1, std::memory_order_relaxed);
    Sleep(kRenameRetryDelayMs);
    SetLastError(error);
  }
}
std::atomic<base::HistogramBase*> g_failure_histogram{nullptr};

bool InjectedFailure(ImportantFileWriter::TempFileFailure step) {
  if (g_injected_failure.load(std::memory_order_acquire) != step)
    return false;
  SetLastError(ERROR_WRITE_FAULT);
  return true;
}

void RecordFailure(ImportantFileWriter::TempFileFailure failure) {
  base::HistogramBase* histogram = g_failure_histogram.load(std::memory_order_acquire);
  if (!histogram) {
    histogram = PublishHistogram(
        &g_failure_histogram,
        base::LinearHistogram::GetOrCreate("ImportantFile.TempFileFailures",
                                           ImportantFileWriter::kTempFileFailureCount,
                                           ImportantFileWriter::kTempFileFailureCount + 1));
  }
  if (histogram)
    histogram->Add(failure);
}

// Logs a failed step (with the system's error), records it, deletes the
// temporary and leaves the target alone.
bool FailWrite(ImportantFileWriter::TempFileFailure failure, const char* what,
               const base::FilePath& path, const base::FilePath& temp_path) {
  PLOG(ERROR) << "Writing " << path.AsUTF8Unsafe() << " failed: " << what
              << (temp_path.empty() ? "" : " ") << temp_path.AsUTF8Unsafe();
  RecordFailure(failure);
  if (!temp_path.empty() && !base::DeletePath(temp_path, false)) {
    LOG(ERROR) << "The temporary file " << temp_path.AsUTF8Unsafe() << " is left behind";
    RecordFailure(ImportantFileWriter::kFailedDeleting);
  }
  return false;
}

void WriteInBackground(const base::FilePath& path, const std::string& data) {
  ImportantFileWriter::WriteFileAtomically(path, data);
}

}  // namespace

// static
bool ImportantFileWriter::WriteFileAtomically(const base::FilePath& path, std::string_view data) {
  base::FilePath temp_path;
  if (InjectedFailure(kFailedCreating) ||
      !base::CreateTemporaryFileInDirectory(path.DirName(), &temp_path)) {
    return FailWrite(kFailedCreating, "could not create a temporary file beside it", path,
                     temp_path);
  }
  {
    base::File file;
    if (!InjectedFailure(kFailedOpening)) {
      file.Initialize(temp_path, base::File::FLAG_OPEN | base::File::FLAG_WRITE |
                                     base::File::FLAG_EXCLUSIVE_READ |
                                     base::File::FLAG_EXCLUSIVE_WRITE);
    }
    if (!file.IsValid()) {
      SetLastError(file.error_details() ? file.error_details() : ERROR_WRITE_FAULT);
      return FailWrite(kFailedOpening, "could not open", path, temp_path);
    }
    if (data.size() > static_cast<size_t>(INT_MAX)) {
      SetLastError(ERROR_FILE_TOO_LARGE);
      file.Close();
      return FailWrite(kFailedWriting, "too much data for", path, temp_path);
    }
    const int size = static_cast<int>(data.size());
    if (InjectedFailure(kFailedWriting) || file.Write(0, data.data(), size) != size) {
      file.Close();
      return FailWrite(kFailedWriting, "could not write all data to", path, temp_path);
    }
    if (InjectedFailure(kFailedFlushing) || !file.Flush()) {
      file.Close();
      return FailWrite(kFailedFlushing, "could not flush", path, temp_path);
    }
  }  // Closed before the rename.
  if (InjectedFailure(kFailedRenaming) || !ReplaceWithRetries(temp_path, path)) {
    return FailWrite(kFailedRenaming, "could not rename the temporary file", path, temp_path);
  }
  return true;
}

// static
void ImportantFileWriter::SetFailureForTesting(TempFileFailure step) {
  g_injected_failure.store(step, std::memory_order_release);
}

// static
base::HistogramBase* ImportantFileWriter::GetTempFileFailuresHistogramForTesting() {
  return g_failure_histogram.load(std::memory_order_acquire);
}

// static
int ImportantFileWriter::GetRenameRetriesForTesting() {
  return g_rename_retries.load(std::memory_order_relaxed);
}

ImportantFileWriter::ImportantFileWriter(const base::FilePath& path,
                                         base::SharedRef<base::TaskRunner> task_runner,
                                         base::TimeSpan commit_interval)
    : path_(path), task_runner_(std::move(task_runner)), commit_interval_(commit_interval) {}

ImportantFileWriter::~ImportantFileWriter() {
  if (HasPendingWrite())
    DoScheduledWrite();
}

void ImportantFileWriter::WriteNow(std::string data) {
  ++write_count_;
  // The task gets a copy, so that the data survives a refused post.
  if (task_runner_ &&
      task_runner_->PostTask(FROM_HERE, base::Bind(&WriteInBackground, path_, data))) {
    return;
  }
  LOG(ERROR) << "No task runner takes the write of " << path_.AsUTF8Unsafe()
             << "; writing it on the calling thread";
  WriteFileAtomically(path_, data);
}

void ImportantFileWriter::ScheduleWrite(DataSerializer* serializer) {
  if (!serializer) {
    LOG(ERROR) << "ImportantFileWriter::ScheduleWrite without a serializer";
    return;
  }
  serializer_ = serializer;
  if (timer_.IsRunning())
    return;
  timer_.Start(FROM_HERE, commit_interval_,
               base::Bind(&ImportantFileWriter::DoScheduledWrite, base::Unretained(this)));
  if (!timer_.IsRunning())
    DoScheduledWrite();  // No loop to wait on (logged by the timer).
}

bool ImportantFileWriter::HasPendingWrite() const { return serializer_ != nullptr; }

void ImportantFileWriter::DoScheduledWrite() {
  DataSerializer* serializer = serializer_;
  serializer_ = nullptr;
  timer_.Stop();
  if (!serializer)
    return;
  std::string data;
  if (!serializer->SerializeData(&data)) {
    LOG(ERROR) << "No data to write to " << path_.AsUTF8Unsafe();
    return;
  }
  WriteNow(std::move(data));
}

}  // namespace prefs
