// How many crashes each kind of process had, kept in a small JSON file
// ({"installer": 3}) by a thread of its own, so that the crash handling
// never waits for the disk.
#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_STATE_COUNTERS_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_STATE_COUNTERS_H_

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "base/files/file_path.h"
#include "base/threading/lock.h"
#include "base/threading/plain_thread.h"
#include "base/win/scoped_handle.h"

namespace crash_reporter {

class CrashStateCounters {
 public:
  using Counts = std::map<std::string, uint32_t>;

  // Failed flushes in a row after which the counts wait for the next wake.
  static constexpr int kMaxFlushRetries = 9;
  static constexpr DWORD kRetryDelayMs = 100;
  // At shutdown: attempts to store what is still pending, and their spacing.
  static constexpr int kFinalFlushAttempts = 10;
  static constexpr DWORD kFinalFlushDelayMs = 50;

  // Starts the writer thread. An empty |path| is allowed: then nothing is
  // ever stored. Tests may space the retries further apart.
  explicit CrashStateCounters(base::FilePath path, DWORD retry_delay_ms = kRetryDelayMs);
  // Stores what is pending (a few attempts) and joins the thread.
  ~CrashStateCounters();

  CrashStateCounters(const CrashStateCounters&) = delete;
  CrashStateCounters& operator=(const CrashStateCounters&) = delete;

  void Increment(const std::string& key, uint32_t n, bool wake);

  // Adds |counts| to the file's dictionary. False when the file cannot be
  // opened or read, does not hold a dictionary, or cannot be written.
  static bool WriteCounts(const base::FilePath& path, const Counts& counts);

 private:
  void ThreadMain();
  // Moves the pending counts to the file; on failure they are pending again.
  bool Flush();

  const base::FilePath path_;
  const DWORD retry_delay_ms_;
  base::win::ScopedHandle wake_event_;
  base::Lock lock_;
  Counts pending_;     // guarded by lock_
  bool stop_ = false;  // guarded by lock_
  base::PlainThread thread_;
};

}  // namespace crash_reporter

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_STATE_COUNTERS_H_
