// StatusFetch: one read of an install folder's status on the Windows thread
// pool, shared by the settings that asked for it and the task that fills it.
//
// The record is reference-counted: the settings hold one reference while the
// read is pending, the pool task holds another while it runs, and the reply
// on the settings' thread a third. Dropping a fetch (a newer folder was
// chosen, or the settings are destroyed) only sets its cancel flag and lets
// go of the settings' reference; the task keeps writing into a record that
// is still alive, and whoever lets go last frees the record and the status
// in it. A cancelled fetch never reaches the settings.
//
// Every read in flight is counted process-wide, so that the end of the run
// can wait for them (WaitForStatusReadsInFlight) before the singletons the
// read uses (the product configuration, the preference pool) are destroyed.
#ifndef DESKTOP_WINDOWS_INSTALLER_STATUS_FETCH_H_
#define DESKTOP_WINDOWS_INSTALLER_STATUS_FETCH_H_

#include <atomic>
#include <memory>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/time.h"

namespace installer {

class InstallerStatus;

class StatusFetch : public base::RefCountedThreadSafe<StatusFetch> {
 public:
  using Reply = base::Callback<void(base::SharedRef<StatusFetch>)>;
  // Runs on the pool thread before the read starts (tests only).
  using ReadHook = void (*)(const base::FilePath& folder);

  // Posts the read of |folder| to the thread pool; |reply| then runs with
  // the record on the calling thread's MessageLoop (which must exist). Null
  // (logged) when the read cannot be posted; |reply| never runs then.
  static base::SharedRef<StatusFetch> Start(const base::FilePath& folder, bool replace_tarsel,
                                            Reply reply);

  // From now on the reply is of no interest; the read stops early when it
  // has not begun. Any thread.
  void Cancel();
  bool IsCancelled() const;

  const base::FilePath& folder() const { return folder_; }
  bool replace_tarsel() const { return replace_tarsel_; }

  // The status that was read; null before the read ended, after a cancelled
  // read, and once taken. For the reply's thread.
  std::unique_ptr<InstallerStatus> TakeStatus();

  // Tests: the number of records alive, and a hook run before each read.
  static int LiveCountForTesting();
  static void SetReadHookForTesting(ReadHook hook);

 private:
  friend class base::RefCountedThreadSafe<StatusFetch>;
  struct ReadJob;

  StatusFetch(const base::FilePath& folder, bool replace_tarsel);
  ~StatusFetch();

  static void RunReadJob(ReadJob job);
  // On the pool thread: COM in a single-threaded apartment for this call,
  // a new status, the folder read into it.
  void Read();

  const base::FilePath folder_;
  const bool replace_tarsel_;
  std::atomic<bool> cancelled_{false};
  // Written by the pool task only, before the reply is posted; read by the
  // reply only.
  std::unique_ptr<InstallerStatus> status_;
};

// The number of status reads posted and not yet finished, process-wide.
int GetStatusReadsInFlight();

// Waits until no status read is in flight, at most |bound|. False (logged)
// when reads were still running when the bound passed.
bool WaitForStatusReadsInFlight(base::TimeSpan bound);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STATUS_FETCH_H_
