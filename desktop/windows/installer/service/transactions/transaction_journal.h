// TransactionJournal: a transaction's undo record on disk. A process that is
// ended from outside in the middle of its transaction runs no code of its
// own, so its in-memory rollback never happens; whoever looks next (the
// process that started it and saw it die, or the next run on the same
// subject) replays the journal instead and the machine is as it was before.
//
// Every operation writes how to undo its change before it makes it, so an
// entry may describe a change that never happened: each undo looks at what
// is there first and then does nothing. A replay shortens the journal behind
// each entry it has undone, so that a replay ended halfway (its process
// ended from outside) leaves only the rest to the next one.
//
// The journal is removed first thing at commit, before the deferred work
// (deleting moved-aside files) runs, so that a process ended during its
// commit is never undone halfway. It is removed after an in-memory rollback
// too. A journal is written for the death of a process, not of the machine:
// its lines are not flushed to the disk one by one.
//
// A process that rolls its transaction back in memory marks each operation's
// entries undone as it goes, so that a replay after it was ended halfway
// undoes only what is still in place.
//
// A journal belongs to one process (its id and start time are its first
// line) and one subject (a key the caller derives from what the transaction
// works on): a journal whose process still runs is never replayed.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_JOURNAL_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_JOURNAL_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file.h"
#include "base/files/file_path.h"

namespace installer {

class TransactionJournal {
 public:
  // One way to undo a change: a kind and its fields (any bytes).
  struct Entry {
    std::string kind;
    std::vector<std::string> fields;
  };
  // Undoes an entry of a kind this class does not know (changes that live
  // above the file system and the registry). False when it could not.
  using ExtraUndo = base::Callback<bool(const Entry&)>;
  // What a replay of abandoned journals did, for a caller that settles what
  // the replay could not.
  struct ReplayReport {
    ReplayReport();
    ~ReplayReport();
    // The journals replayed: runs whose changes were undone.
    int replayed = 0;
    // Files those runs created that could not be deleted because a running
    // program holds them (an image or library in use): they stay where
    // they are, and the caller sees to them once that program has ended.
    std::vector<base::FilePath> files_in_use;
  };

  ~TransactionJournal();

  // A new journal of this process for |subject_key| in |folder| (created
  // when missing). Null (logged) when it cannot be written.
  static std::unique_ptr<TransactionJournal> Create(const base::FilePath& folder,
                                                    const std::string& subject_key);

  // Appends |entry|, the |*index|th line after the first (when |index| is
  // given). False (logged) when it cannot be written: the change it
  // describes must not be made then.
  bool Append(const Entry& entry, size_t* index = nullptr);

  // Appends that the entries |first| to |last| (indices given by Append)
  // have been undone in this process: a replay skips them. False (logged)
  // when it cannot be written; a replay then undoes them again.
  bool MarkUndone(size_t first, size_t last);

  // Closes and deletes the journal: everything it describes is committed or
  // rolled back.
  void Discard();

  const base::FilePath& path() const { return path_; }

  // Replays, newest first, every journal for |subject_key| in |folder| whose
  // process has ended, and deletes each one whatever the outcome (a journal
  // kept after a partial replay could undo a later run's work). Journals of
  // processes still running are waited for up to |wait_ms| in all; those
  // still running then are left alone. False when any undo failed (each
  // failure is logged). With |report|, a created file that is in use is no
  // failure but goes into the report (logged as a warning).
  static bool RollBackAbandoned(const base::FilePath& folder, const std::string& subject_key,
                                DWORD wait_ms, const ExtraUndo& extra_undo,
                                ReplayReport* report = nullptr);

  // Deletes, without replaying it, the journal for |subject_key| in |folder|
  // of |process|, which has ended: its run finished all the same (another
  // process completed it), so its changes stay. False (logged) when such a
  // journal is there and cannot be deleted.
  static bool DiscardOfEndedProcess(const base::FilePath& folder, const std::string& subject_key,
                                    HANDLE process);
  // Undoes the entries of the journal at |path|, last first, and deletes it.
  // |report| as for RollBackAbandoned.
  static bool Replay(const base::FilePath& path, const ExtraUndo& extra_undo,
                     ReplayReport* report = nullptr);

  // Entries the operations write.
  static Entry CreatedFolder(const base::FilePath& folder);
  static Entry CreatedFile(const base::FilePath& file);
  static Entry Moved(const base::FilePath& from, const base::FilePath& to);
  static Entry ChangedAttributes(const base::FilePath& path, DWORD old_attributes);
  static Entry CreatedKey(HKEY root, uint32_t view, const std::wstring& key_path);
  // |old_data| is ignored when |had_old_value| is false.
  static Entry ChangedValue(HKEY root, uint32_t view, const std::wstring& key_path,
                            const std::wstring& value_name, bool had_old_value, DWORD old_type,
                            const std::vector<uint8_t>& old_data);
  // |tree| is a RegistryTreeSnapshot's Serialize of the key.
  static Entry DeletedKeyTree(HKEY root, uint32_t view, const std::wstring& key_path,
                              const std::string& tree);

 private:
  TransactionJournal(const base::FilePath& path, base::File file);

  static bool Undo(const Entry& entry, const ExtraUndo& extra_undo, ReplayReport* report);

  base::FilePath path_;
  base::File file_;
  // The index of the next line appended.
  size_t next_index_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TRANSACTIONS_TRANSACTION_JOURNAL_H_
