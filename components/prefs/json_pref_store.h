// JsonPrefStore: preferences kept in one JSON file.
//
// The file is read once, synchronously, when the store is opened: a missing
// file gives an empty store; an unreadable or corrupt one gives an empty
// store with the read error recorded (and logged); a corrupt file is first
// copied aside to "<file>.bad" so that it is not lost when the store writes.
// A file that exists but cannot be read makes the store read-only: it never
// overwrites what it could not read.
//
// Each change schedules an atomic write of the whole file (ImportantFileWriter)
// on the PrefsTaskPool sequence named after the file, at most once per commit
// interval; CommitPendingWrite() writes at once. The store is destroyed with
// its last reference; a pending change is written then.
//
// Use a store on the thread that opened it; its scheduling timer needs that
// thread's task runner (without one, every change is written at once).
#ifndef COMPONENTS_PREFS_JSON_PREF_STORE_H_
#define COMPONENTS_PREFS_JSON_PREF_STORE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/files/file_path.h"
#include "base/observer_list.h"
#include "base/ref_counted_thread_safe.h"
#include "base/shared_ref.h"
#include "base/time.h"
#include "base/values.h"
#include "components/prefs/important_file_writer.h"
#include "components/prefs/pref_store.h"
#include "components/prefs/prefs_task_pool.h"

namespace base {
class HistogramBase;
}

namespace prefs {

class JsonPrefStore : public PrefStore,
                      public base::RefCountedThreadSafe<JsonPrefStore>,
                      private ImportantFileWriter::DataSerializer {
 public:
  // Bits of a change's flags.
  enum WriteFlags : uint32_t {
    kDefaultWriteFlags = 0,
    // The change alone is not worth a write; it goes out with the next one
    // (or CommitPendingWrite, or the store's destruction).
    kLossyWriteFlag = 1u << 1,
  };

  // How the read at opening went. The numbers are stable.
  enum ReadError {
    kReadNone = 0,
    kReadNoFile = 1,        // No file yet: an empty store.
    kReadAccessDenied = 2,  // The file exists but cannot be read: read-only.
    kReadJsonParse = 3,     // Not JSON: an empty store.
    kReadJsonType = 4,      // JSON, but not a dictionary: an empty store.
  };

  // Writes per report interval go to "Settings.JsonDataWriteCount.<suffix>".
  static constexpr base::TimeSpan kWriteCountReportInterval = base::TimeSpan::FromMinutes(5);

  // |pool| runs the writes. Reads |path| now.
  JsonPrefStore(base::SharedRef<PrefsTaskPoolHolder> pool, const base::FilePath& path,
                base::TimeSpan commit_interval = ImportantFileWriter::kDefaultCommitInterval);

  // PrefStore:
  bool GetValue(std::string_view key, const base::Value** result) const override;
  void AddObserver(Observer* observer) override;
  void RemoveObserver(Observer* observer) override;

  // The value at |key| for changing in place; call ReportValueChanged()
  // afterwards. False when there is none.
  bool GetMutableValue(std::string_view key, base::Value** result);
  // Schedules a write for a value changed in place and tells the observers.
  void ReportValueChanged(std::string_view key, uint32_t flags);

  // Stores |value| at |key| (a null value is refused, logged). Nothing
  // happens when the stored value is equal. SetValue tells the observers.
  void SetValue(std::string_view key, std::unique_ptr<base::Value> value, uint32_t flags);
  void SetValueWithoutNotify(std::string_view key, std::unique_ptr<base::Value> value,
                             uint32_t flags);
  // Removes the value at |key|, if any, and tells the observers.
  void RemoveValue(std::string_view key, uint32_t flags);

  // Whether changes are never written (the file could not be read).
  bool ReadOnly() const { return read_only_; }
  ReadError GetReadError() const { return read_error_; }

  // Writes the pending changes now (posted to the file's sequence).
  void CommitPendingWrite();
  bool HasPendingWrite() const;

  const base::FilePath& path() const { return path_; }
  // The histogram suffix of this store: its file's base name without the
  // extension, letters and digits kept, others made '_'.
  const std::string& histogram_suffix() const { return histogram_suffix_; }

 private:
  friend class base::RefCountedThreadSafe<JsonPrefStore>;
  ~JsonPrefStore() override;

  void ReadFile();
  // Records the write-count histogram when a report interval has passed.
  void CountWrite();
  // Records the writes counted so far, if any, and restarts the count.
  void ReportWriteCount();
  void ScheduleWrite(uint32_t flags);
  bool SetValueInternal(std::string_view key, std::unique_ptr<base::Value> value);

  // ImportantFileWriter::DataSerializer:
  bool SerializeData(std::string* data) override;

  const base::FilePath path_;
  const std::string histogram_suffix_;
  base::SharedRef<PrefsTaskPoolHolder> pool_;
  std::unique_ptr<base::DictValue> prefs_;
  bool read_only_ = false;
  ReadError read_error_ = kReadNone;
  // A lossy change waits for the next write.
  bool pending_lossy_write_ = false;
  int writes_since_report_ = 0;
  base::MonotonicTime last_report_time_;
  base::ObserverList<Observer> observers_;
  // Last: destroyed first, flushing a pending write while the rest exists.
  std::unique_ptr<ImportantFileWriter> writer_;
};

// Opens the store over |path|, writing through |pool|.
base::SharedRef<JsonPrefStore> OpenJsonPrefStore(base::SharedRef<PrefsTaskPoolHolder> pool,
                                                 const base::FilePath& path);

}  // namespace prefs

#endif  // COMPONENTS_PREFS_JSON_PREF_STORE_H_
