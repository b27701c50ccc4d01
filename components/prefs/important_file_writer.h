// ImportantFileWriter: replaces a file so that, whatever fails and whenever
// the process dies, the file holds either its old or its new content in
// full, never a mix and never a truncated file.
//
// The data goes to a temporary file in the same folder (so that the rename
// stays on one volume), is flushed to the disk, and the temporary is then
// renamed over the target (MoveFileExW with MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH). A target that some process holds open refuses
// the rename for that moment (always under Wine, whatever the holder's share
// mode): the rename is tried again for a few seconds before the write is
// given up, so that a reader does not cost the data. On any failure the
// temporary is deleted, the
// target is left alone, the cause is logged and one sample goes to
// "ImportantFile.TempFileFailures" (see TempFileFailure).
//
// Scheduled writes. A writer object collects changes and writes at most once
// per commit interval: ScheduleWrite() starts a one-shot timer on the
// calling thread; when it fires, the serializer's data is written on the
// writer's task runner (a sequence, so that writes of one file never
// overlap). Use the object on the thread that made it.
#ifndef COMPONENTS_PREFS_IMPORTANT_FILE_WRITER_H_
#define COMPONENTS_PREFS_IMPORTANT_FILE_WRITER_H_

#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "base/shared_ref.h"
#include "base/threading/task_runner.h"
#include "base/threading/timer.h"
#include "base/time.h"

namespace base {
class HistogramBase;
}

namespace prefs {

class ImportantFileWriter {
 public:
  // The values of "ImportantFile.TempFileFailures". The numbers are stable.
  enum TempFileFailure {
    kFailedCreating = 0,  // No temporary file could be made in the folder.
    kFailedOpening = 1,   // The temporary file would not open for writing.
    kFailedWriting = 2,   // Writing the data failed or wrote too little.
    kFailedFlushing = 3,  // Flushing the data to the disk failed.
    kFailedRenaming = 4,  // The temporary could not replace the target.
    kFailedDeleting = 5,  // The temporary of a failed write could not be deleted.
    kTempFileFailureCount,
    // For SetFailureForTesting(): no injected failure.
    kNoFailure = kTempFileFailureCount,
  };

  // Gives the data of a scheduled write, on the writer's thread.
  class DataSerializer {
   public:
    // False (logged by the serializer) when there is nothing fit to write.
    virtual bool SerializeData(std::string* data) = 0;

   protected:
    virtual ~DataSerializer() = default;
  };

  static constexpr base::TimeSpan kDefaultCommitInterval = base::TimeSpan::FromSeconds(10);

  // Writes |data| to |path| as described at the top. Blocks; any thread.
  static bool WriteFileAtomically(const base::FilePath& path, std::string_view data);

  // Makes the next WriteFileAtomically() calls fail at |step| as if the
  // system had refused it (the real calls before that step still run).
  // kNoFailure ends it. For tests.
  static void SetFailureForTesting(TempFileFailure step);
  // The histogram "ImportantFile.TempFileFailures" once a failure was
  // recorded, else null. For tests.
  static base::HistogramBase* GetTempFileFailuresHistogramForTesting();
  // How many renames were tried again since the process started. For tests.
  static int GetRenameRetriesForTesting();

  // |task_runner| runs the writes (blocking file work).
  ImportantFileWriter(const base::FilePath& path, base::SharedRef<base::TaskRunner> task_runner,
                      base::TimeSpan commit_interval = kDefaultCommitInterval);
  ImportantFileWriter(const ImportantFileWriter&) = delete;
  ImportantFileWriter& operator=(const ImportantFileWriter&) = delete;
  // A pending scheduled write is done now (posted to the task runner).
  ~ImportantFileWriter();

  const base::FilePath& path() const { return path_; }
  base::TimeSpan commit_interval() const { return commit_interval_; }

  // Posts the write of |data| to the task runner. When the runner refuses
  // it (its pool is gone), the file is written on the calling thread: data
  // is never dropped.
  void WriteNow(std::string data);

  // Asks |serializer| for the data once the commit interval has passed
  // (an earlier schedule stays in force). Without a task runner on the
  // calling thread the write happens at once.
  void ScheduleWrite(DataSerializer* serializer);
  bool HasPendingWrite() const;
  // Does the scheduled write now.
  void DoScheduledWrite();

  // How many writes this writer handed to the task runner (or did itself).
  int write_count() const { return write_count_; }

 private:
  const base::FilePath path_;
  const base::SharedRef<base::TaskRunner> task_runner_;
  const base::TimeSpan commit_interval_;
  base::Timer timer_{base::Timer::Mode::kOneShot};
  DataSerializer* serializer_ = nullptr;
  int write_count_ = 0;
};

}  // namespace prefs

#endif  // COMPONENTS_PREFS_IMPORTANT_FILE_WRITER_H_
