#include "desktop/windows/installer/service/transactions/transaction_journal.h"

#include <algorithm>
#include <utility>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"
#include "base/scoped_generic.h"
#include "base/string_split.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/service/transactions/registry_tree_snapshot.h"
#include "desktop/windows/installer/service/transactions/registry_view.h"

namespace installer {

namespace {

// The first line: this mark, the owner's process id and its start time.
constexpr char kHeaderMark[] = "journal";
constexpr wchar_t kJournalExtension[] = L".journal";
// How often the owners still running are looked at while waiting for them.
constexpr DWORD kOwnerPollMs = 50;

constexpr char kCreatedFolder[] = "folder";
constexpr char kCreatedFile[] = "file";
constexpr char kMoved[] = "moved";
constexpr char kChangedAttributes[] = "attributes";
constexpr char kCreatedKey[] = "key";
constexpr char kChangedValue[] = "value";
constexpr char kDeletedKeyTree[] = "tree";
// Not a change: the entries from the first to the last index it names were
// undone by their own process.
constexpr char kUndone[] = "undone";

// Longest wait for another process's replay of the same journals: undoing
// an installation of many thousands of files on a loaded machine.
constexpr DWORD kReplayLockWaitMs = 10 * 60 * 1000;
// How often a journal's folder is made anew when it vanishes before the
// journal is in it.
constexpr int kFolderCreationAttempts = 10;

// Releases a held mutex; the mutex's handle has a holder of its own.
struct MutexHoldTraits {
  static HANDLE InvalidValue() { return nullptr; }
  static void Free(HANDLE& mutex) {
    if (!::ReleaseMutex(mutex))
      PLOG(WARNING) << "Cannot release the journal replay lock";
  }
};
using ScopedMutexHold = base::ScopedGeneric<HANDLE, MutexHoldTraits>;

// Two processes may look for abandoned journals of one subject at once (a
// front end reading the folder's status while its back end starts). Both
// replaying one journal would undo twice: the second undo of "created a
// folder" removes the folder the first has meanwhile made anew. The replays
// of a subject run one at a time under a named mutex; the second one then
// finds the journals gone.
class ReplayLock {
 public:
  ReplayLock(const base::FilePath& folder, const std::string& subject_key) {
    // The journal folder belongs to the product and the user: its path
    // makes the name unique.
    std::wstring name = L"Local\\TransactionJournalReplay/" +
                        base::ToLowerASCII(folder.StripTrailingSeparators().value()) + L"/" +
                        base::UTF8ToWide(subject_key);
    std::replace(name.begin() + 6, name.end(), L'\\', L'/');
    if (name.size() >= MAX_PATH)
      name.resize(MAX_PATH - 1);
    mutex_.Reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
    if (!mutex_.IsValid()) {
      // (One made by a process of another integrity level may refuse this
      // one.) Replaying unguarded is what happened before there was a lock.
      PLOG(WARNING) << "Cannot create the journal replay lock " << name << "; replaying without it";
      unguarded_ = true;
      return;
    }
    const DWORD wait = ::WaitForSingleObject(mutex_.Get(), kReplayLockWaitMs);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      // An abandoned lock: its holder was ended mid-replay. The journals it
      // had not deleted yet are replayed again; each undo finds its change
      // either still there or already undone.
      hold_.Reset(mutex_.Get());
      return;
    }
    if (wait == WAIT_TIMEOUT) {
      LOG(ERROR) << "Another process has been replaying the transaction journals in " << folder
                 << " for " << kReplayLockWaitMs / 1000 << " s; not replaying them";
    } else {
      PLOG(ERROR) << "Cannot wait for the journal replay lock " << name;
    }
  }
  ReplayLock(const ReplayLock&) = delete;
  ReplayLock& operator=(const ReplayLock&) = delete;

  // Whether the replays may go ahead: the lock is held, or could not be
  // made at all.
  bool may_replay() const { return hold_.IsValid() || unguarded_; }

 private:
  bool unguarded_ = false;
  base::win::ScopedHandle mutex_;
  // Declared after the handle: released before it is closed.
  ScopedMutexHold hold_;
};

uint64_t ProcessStartTime(HANDLE process) {
  FILETIME creation = {}, exit = {}, kernel = {}, user = {};
  if (!::GetProcessTimes(process, &creation, &exit, &kernel, &user))
    return 0;
  return (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
}

std::string Path(const base::FilePath& path) { return base::WideToUTF8(path.value()); }
base::FilePath Path(const std::string& field) { return base::FilePath(base::UTF8ToWide(field)); }

std::string Number(uint64_t value) { return std::to_string(value); }
bool Number(const std::string& field, uint64_t* value) {
  return base::StringToUint64(field, value);
}

// Only the predefined roots (the values are fixed by the system) are kept.
bool Root(const std::string& field, HKEY* root) {
  uint64_t value = 0;
  if (!Number(field, &value) || value < 0x80000000ull || value > 0x80000006ull)
    return false;
  // The roots are 32-bit values, sign-extended in a 64-bit handle.
  *root = reinterpret_cast<HKEY>(
      static_cast<intptr_t>(static_cast<LONG>(static_cast<uint32_t>(value))));
  return true;
}
std::string Root(HKEY root) { return Number(reinterpret_cast<uintptr_t>(root) & 0xFFFFFFFFull); }

bool View(const std::string& field, uint32_t* view) {
  uint64_t value = 0;
  if (!Number(field, &value) || !IsValidRegistryView(static_cast<uint32_t>(value)))
    return false;
  *view = static_cast<uint32_t>(value);
  return true;
}

// One line: the kind and the fields, each field hex-encoded so that any
// byte (a tab, a line break) is safe.
std::string EncodeLine(const TransactionJournal::Entry& entry) {
  std::string line = entry.kind;
  for (const std::string& field : entry.fields) {
    line += '\t';
    line += base::HexEncode(field);
  }
  line += '\n';
  return line;
}

bool DecodeLine(const std::string& line, TransactionJournal::Entry* entry) {
  std::vector<std::string> parts =
      base::SplitString(line, "\t", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (parts.empty() || parts[0].empty())
    return false;
  entry->kind = parts[0];
  entry->fields.clear();
  for (size_t i = 1; i < parts.size(); ++i) {
    std::vector<uint8_t> bytes;
    if (!parts[i].empty() && !base::HexStringToBytes(parts[i], &bytes))
      return false;
    entry->fields.emplace_back(bytes.begin(), bytes.end());
  }
  return true;
}

// A journal found on disk: its owner and its lines.
struct FoundJournal {
  base::FilePath path;
  DWORD pid = 0;
  uint64_t start_time = 0;
};

bool ReadHeader(const base::FilePath& path, FoundJournal* journal) {
  std::string text;
  if (!base::ReadFileToString(path, &text))
    return false;
  const size_t end = text.find('\n');
  if (end == std::string::npos)
    return false;
  std::vector<std::string> parts =
      base::SplitString(text.substr(0, end), "\t", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  uint64_t pid = 0;
  if (parts.size() != 3 || parts[0] != kHeaderMark || !Number(parts[1], &pid) ||
      pid > 0xFFFFFFFFull || !Number(parts[2], &journal->start_time)) {
    return false;
  }
  journal->path = path;
  journal->pid = static_cast<DWORD>(pid);
  return true;
}

// The owner of |journal| as a handle to wait on, or an empty handle when it
// has ended (its id unused, or used by a process started at another time).
base::win::ScopedHandle RunningOwner(const FoundJournal& journal) {
  base::win::ScopedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, journal.pid));
  if (!process.IsValid()) {
    // Not there at all; any other refusal (another user's process) counts
    // as running: a journal is never replayed under a live owner.
    if (::GetLastError() == ERROR_INVALID_PARAMETER)
      return base::win::ScopedHandle();
    base::win::ScopedHandle waitable(::OpenProcess(SYNCHRONIZE, FALSE, journal.pid));
    // A process that has ended but is not yet gone may still be opened.
    if (waitable.IsValid() && ::WaitForSingleObject(waitable.Get(), 0) == WAIT_OBJECT_0)
      return base::win::ScopedHandle();
    return waitable;
  }
  if (::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0 ||
      ProcessStartTime(process.Get()) != journal.start_time) {
    return base::win::ScopedHandle();
  }
  return process;
}

bool RemoveIfEmptyKey(HKEY root, uint32_t view, const std::wstring& key_path) {
  // Filled by someone else since (another program, or the shell
  // registration, which writes beside the transaction): theirs now. Looked
  // at first, so that a key that stays is no error of the replay.
  {
    base::win::RegistryKey key;
    if (key.Open(root, key_path.c_str(), KEY_QUERY_VALUE | view) == ERROR_FILE_NOT_FOUND)
      return true;
    if (key.Valid() && (key.GetSubkeyCount() != 0 || key.GetValueCount() != 0)) {
      LOG(WARNING) << "Created registry key " << key_path << " not removed: it is not empty";
      return true;
    }
  }
  base::win::RegistryKey base_key;
  LONG result = base_key.Open(root, L"", KEY_QUERY_VALUE | view);
  if (result == ERROR_SUCCESS)
    result = base_key.DeleteEmptyKey(key_path.c_str());
  if (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND)
    return true;
  ELOG(WARNING, static_cast<unsigned long>(result))
      << "Created registry key " << key_path << " not removed";
  return true;
}

bool RestoreValue(HKEY root, uint32_t view, const std::wstring& key_path, const std::wstring& name,
                  bool had_old_value, DWORD type, const std::string& data) {
  base::win::RegistryKey key;
  LONG result = had_old_value
                    ? key.Create(root, key_path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE | view)
                    : key.Open(root, key_path.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE | view);
  if (!had_old_value && result == ERROR_FILE_NOT_FOUND)
    return true;
  if (result == ERROR_SUCCESS) {
    result = had_old_value
                 ? key.WriteValue(name.c_str(), data.data(), static_cast<DWORD>(data.size()), type)
                 : key.DeleteValue(name.c_str());
  }
  if (result == ERROR_SUCCESS || (!had_old_value && result == ERROR_FILE_NOT_FOUND))
    return true;
  ELOG(ERROR, static_cast<unsigned long>(result))
      << "Cannot restore value \"" << name << "\" of " << key_path;
  return false;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

TransactionJournal::TransactionJournal(const base::FilePath& path, base::File file)
    : path_(path), file_(std::move(file)) {}

TransactionJournal::~TransactionJournal() = default;

// static
std::unique_ptr<TransactionJournal> TransactionJournal::Create(const base::FilePath& folder,
                                                               const std::string& subject_key) {
  const base::FilePath path =
      folder.Append(base::UTF8ToWide(subject_key + "-" + std::to_string(::GetCurrentProcessId())) +
                    kJournalExtension);
  base::File file;
  // Another process removes the folder once it is empty (its last journal
  // gone): it may do so between the folder's creation and the file's.
  for (int attempt = 1;; ++attempt) {
    if (!base::CreateDirectoryTree(folder)) {
      LOG(ERROR) << "Cannot create the transaction journal folder " << folder;
      return nullptr;
    }
    file = base::File(path, base::File::FLAG_CREATE_ALWAYS | base::File::FLAG_WRITE);
    if (file.IsValid())
      break;
    const bool folder_went = file.error_details() == ERROR_PATH_NOT_FOUND;
    if (!folder_went || attempt == kFolderCreationAttempts) {
      ELOG(ERROR, file.error_details()) << "Cannot create the transaction journal " << path;
      return nullptr;
    }
  }
  const std::string header = std::string(kHeaderMark) + "\t" + Number(::GetCurrentProcessId()) +
                             "\t" + Number(ProcessStartTime(::GetCurrentProcess())) + "\n";
  std::unique_ptr<TransactionJournal> journal(new TransactionJournal(path, std::move(file)));
  if (journal->file_.WriteAtCurrentPos(header.data(), static_cast<int>(header.size())) !=
      static_cast<int>(header.size())) {
    PLOG(ERROR) << "Cannot write the transaction journal " << path;
    journal->Discard();
    return nullptr;
  }
  return journal;
}

TransactionJournal::ReplayReport::ReplayReport() = default;
TransactionJournal::ReplayReport::~ReplayReport() = default;

bool TransactionJournal::Append(const Entry& entry, size_t* index) {
  if (!file_.IsValid()) {
    LOG(ERROR) << "The transaction journal " << path_ << " is closed";
    return false;
  }
  const std::string line = EncodeLine(entry);
  if (file_.WriteAtCurrentPos(line.data(), static_cast<int>(line.size())) !=
      static_cast<int>(line.size())) {
    PLOG(ERROR) << "Cannot write to the transaction journal " << path_;
    return false;
  }
  if (index)
    *index = next_index_;
  ++next_index_;
  return true;
}

bool TransactionJournal::MarkUndone(size_t first, size_t last) {
  return Append({kUndone, {Number(first), Number(last)}});
}

void TransactionJournal::Discard() {
  file_.Close();
  if (!::DeleteFileW(path_.c_str()) && !IsMissing(::GetLastError()))
    PLOG(ERROR) << "Cannot delete the transaction journal " << path_;
}

// static
bool TransactionJournal::RollBackAbandoned(const base::FilePath& folder,
                                           const std::string& subject_key, DWORD wait_ms,
                                           const ExtraUndo& extra_undo, ReplayReport* report) {
  std::vector<FoundJournal> journals;
  {
    base::DirectoryEnumerator enumerator(folder, false, base::DirectoryEnumerator::FILES,
                                         base::UTF8ToWide(subject_key) + L"-*" + kJournalExtension);
    for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
      FoundJournal journal;
      if (!ReadHeader(path, &journal)) {
        // Its process ended before the first line was whole: no change was
        // made under it.
        LOG(WARNING) << "Removing the unreadable transaction journal " << path;
        base::DeletePath(path, false);
        continue;
      }
      if (journal.pid == ::GetCurrentProcessId() &&
          journal.start_time == ProcessStartTime(::GetCurrentProcess())) {
        continue;  // This process's own, live.
      }
      journals.push_back(journal);
    }
  }
  // An owner still running is waited for: it may be ending on its own (and
  // then discards its journal), or its run may depend on the one being
  // undone here.
  const ULONGLONG deadline = ::GetTickCount64() + wait_ms;
  std::vector<FoundJournal> abandoned;
  for (const FoundJournal& journal : journals) {
    for (;;) {
      base::win::ScopedHandle owner = RunningOwner(journal);
      if (!owner.IsValid()) {
        abandoned.push_back(journal);
        break;
      }
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) {
        LOG(WARNING) << "The process " << journal.pid << " of the transaction journal "
                     << journal.path << " still runs; leaving it alone";
        break;
      }
      ::WaitForSingleObject(owner.Get(),
                            static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kOwnerPollMs)));
    }
  }
  // The newest run is undone first: an older one (a process waiting for the
  // one it started) made its changes before.
  std::sort(abandoned.begin(), abandoned.end(), [](const FoundJournal& a, const FoundJournal& b) {
    return a.start_time > b.start_time;
  });
  if (abandoned.empty())
    return true;
  // Held for the replays only, never while owners are waited for: an owner
  // may itself be starting and about to look for abandoned journals.
  const ReplayLock lock(folder, subject_key);
  if (!lock.may_replay())
    return false;
  bool ok = true;
  for (const FoundJournal& journal : abandoned) {
    // Another process may have replayed it while this one waited.
    FoundJournal current;
    if (!ReadHeader(journal.path, &current) || current.pid != journal.pid ||
        current.start_time != journal.start_time) {
      VLOG(1) << "The transaction journal " << journal.path << " was rolled back meanwhile";
      continue;
    }
    LOG(INFO) << "Rolling back the interrupted transaction of process " << journal.pid << " from "
              << journal.path;
    if (!Replay(journal.path, extra_undo, report))
      ok = false;
    if (report)
      ++report->replayed;
  }
  return ok;
}

// static
bool TransactionJournal::DiscardOfEndedProcess(const base::FilePath& folder,
                                               const std::string& subject_key, HANDLE process) {
  const DWORD pid = ::GetProcessId(process);
  const uint64_t start_time = ProcessStartTime(process);
  bool ok = true;
  base::DirectoryEnumerator enumerator(folder, false, base::DirectoryEnumerator::FILES,
                                       base::UTF8ToWide(subject_key) + L"-*" + kJournalExtension);
  for (base::FilePath path = enumerator.Next(); !path.empty(); path = enumerator.Next()) {
    FoundJournal journal;
    if (!ReadHeader(path, &journal) || journal.pid != pid || journal.start_time != start_time)
      continue;
    LOG(INFO) << "Dropping the transaction journal " << path << " of the ended process " << pid
              << ": its run completed";
    if (!base::DeletePath(path, false)) {
      PLOG(ERROR) << "Cannot delete the transaction journal " << path;
      ok = false;
    }
  }
  return ok;
}

// static
bool TransactionJournal::Replay(const base::FilePath& path, const ExtraUndo& extra_undo,
                                ReplayReport* report) {
  std::string text;
  if (!base::ReadFileToString(path, &text)) {
    LOG(ERROR) << "Cannot read the transaction journal " << path;
    return false;
  }
  std::vector<Entry> entries;
  // Where each entry's line begins.
  std::vector<size_t> offsets;
  size_t start = text.find('\n');
  // A last line without its end was being written when the process ended:
  // the change it announces was not begun.
  while (start != std::string::npos) {
    const size_t end = text.find('\n', start + 1);
    if (end == std::string::npos)
      break;
    // An unreadable line keeps its place (as an entry of no kind): the
    // marks of undone entries count lines.
    Entry entry;
    if (!DecodeLine(text.substr(start + 1, end - start - 1), &entry)) {
      LOG(ERROR) << "Skipping an unreadable line of the transaction journal " << path;
      entry = Entry();
    }
    entries.push_back(std::move(entry));
    offsets.push_back(start + 1);
    start = end;
  }
  // Entries their own process undid before it was ended are left alone.
  std::vector<bool> undone(entries.size(), false);
  for (const Entry& entry : entries) {
    uint64_t first = 0, last = 0;
    if (entry.kind != kUndone)
      continue;
    if (entry.fields.size() != 2 || !Number(entry.fields[0], &first) ||
        !Number(entry.fields[1], &last)) {
      LOG(ERROR) << "Skipping an unreadable mark of the transaction journal " << path;
      continue;
    }
    for (uint64_t i = first; i <= last && i < entries.size(); ++i)
      undone[static_cast<size_t>(i)] = true;
  }
  // The journal is cut short behind each entry handled, so that it always
  // holds what is still to undo: a replay ended halfway (its process ended
  // from outside) leaves the rest to the next one, which must not undo an
  // entry again (a file created where one was moved aside would be deleted
  // after the old one came back). Without that the replay goes on all the
  // same.
  base::File shortened(path, base::File::FLAG_OPEN | base::File::FLAG_WRITE);
  if (!shortened.IsValid()) {
    ELOG(WARNING, shortened.error_details())
        << "Cannot shorten the transaction journal " << path << " while replaying it";
  }
  bool ok = true;
  for (size_t i = entries.size(); i-- > 0;) {
    if (!undone[i] && !entries[i].kind.empty() && entries[i].kind != kUndone &&
        !Undo(entries[i], extra_undo, report)) {
      ok = false;
    }
    // A failure is logged by SetLength; the replay goes on unshortened.
    if (shortened.IsValid() && !shortened.SetLength(static_cast<int64_t>(offsets[i])))
      shortened.Close();
  }
  shortened.Close();
  if (!::DeleteFileW(path.c_str()) && !IsMissing(::GetLastError())) {
    PLOG(ERROR) << "Cannot delete the replayed transaction journal " << path;
    ok = false;
  }
  return ok;
}

// static
bool TransactionJournal::Undo(const Entry& entry, const ExtraUndo& extra_undo,
                              ReplayReport* report) {
  const std::vector<std::string>& f = entry.fields;
  if (entry.kind == kCreatedFolder && f.size() == 1) {
    const base::FilePath folder = Path(f[0]);
    if (::RemoveDirectoryW(folder.c_str()) || IsMissing(::GetLastError()))
      return true;
    PLOG(WARNING) << "Created folder " << folder << " not removed";
    return ::GetLastError() == ERROR_DIR_NOT_EMPTY;
  }
  if (entry.kind == kCreatedFile && f.size() == 1) {
    const base::FilePath file = Path(f[0]);
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return true;
    if (attributes & FILE_ATTRIBUTE_READONLY)
      ::SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (::DeleteFileW(file.c_str()))
      return true;
    const DWORD error = ::GetLastError();
    // A program that runs, or a library loaded, cannot be deleted (the
    // installer replaying the journal may itself run from the interrupted
    // run's files): the caller that asked for a report sees to it later.
    if (report && (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)) {
      ELOG(WARNING, error) << "The created file " << file
                           << " stays for now: a running program may hold it";
      report->files_in_use.push_back(file);
      return true;
    }
    ELOG(ERROR, error) << "Cannot delete the created file " << file;
    return false;
  }
  if (entry.kind == kMoved && f.size() == 2) {
    const base::FilePath from = Path(f[0]);
    const base::FilePath to = Path(f[1]);
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return true;  // Never moved, or already back.
    // Whatever stands at the old name of a file was made after the move.
    const DWORD flags = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : MOVEFILE_REPLACE_EXISTING;
    if (::MoveFileExW(to.c_str(), from.c_str(), flags))
      return true;
    // Moved out of a folder that was removed since (an unpacked package
    // cleared after its installer died): it is made again to take it back.
    if (::GetLastError() == ERROR_PATH_NOT_FOUND && base::CreateDirectoryTree(from.DirName()) &&
        ::MoveFileExW(to.c_str(), from.c_str(), flags)) {
      return true;
    }
    PLOG(ERROR) << "Cannot move " << to << " back to " << from;
    return false;
  }
  if (entry.kind == kChangedAttributes && f.size() == 2) {
    const base::FilePath path = Path(f[0]);
    uint64_t attributes = 0;
    if (!Number(f[1], &attributes))
      return false;
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ||
        ::SetFileAttributesW(path.c_str(), static_cast<DWORD>(attributes))) {
      return true;
    }
    PLOG(ERROR) << "Cannot restore the attributes of " << path;
    return false;
  }
  HKEY root = nullptr;
  uint32_t view = 0;
  if (entry.kind == kCreatedKey && f.size() == 3 && Root(f[0], &root) && View(f[1], &view))
    return RemoveIfEmptyKey(root, view, base::UTF8ToWide(f[2]));
  uint64_t had = 0, type = 0;
  if (entry.kind == kChangedValue && f.size() == 7 && Root(f[0], &root) && View(f[1], &view) &&
      Number(f[4], &had) && Number(f[5], &type)) {
    return RestoreValue(root, view, base::UTF8ToWide(f[2]), base::UTF8ToWide(f[3]), had != 0,
                        static_cast<DWORD>(type), f[6]);
  }
  if (entry.kind == kDeletedKeyTree && f.size() == 4 && Root(f[0], &root) && View(f[1], &view)) {
    RegistryTreeSnapshot snapshot;
    if (!snapshot.Parse(f[3])) {
      LOG(ERROR) << "Unreadable saved registry key " << base::UTF8ToWide(f[2]);
      return false;
    }
    return snapshot.Restore(root, base::UTF8ToWide(f[2]), view);
  }
  if (!extra_undo.is_null()) {
    if (extra_undo.Run(entry))
      return true;
  }
  LOG(ERROR) << "Cannot undo the transaction journal entry \"" << entry.kind << "\"";
  return false;
}

// static
TransactionJournal::Entry TransactionJournal::CreatedFolder(const base::FilePath& folder) {
  return {kCreatedFolder, {Path(folder)}};
}

// static
TransactionJournal::Entry TransactionJournal::CreatedFile(const base::FilePath& file) {
  return {kCreatedFile, {Path(file)}};
}

// static
TransactionJournal::Entry TransactionJournal::Moved(const base::FilePath& from,
                                                    const base::FilePath& to) {
  return {kMoved, {Path(from), Path(to)}};
}

// static
TransactionJournal::Entry TransactionJournal::ChangedAttributes(const base::FilePath& path,
                                                                DWORD old_attributes) {
  return {kChangedAttributes, {Path(path), Number(old_attributes)}};
}

// static
TransactionJournal::Entry TransactionJournal::CreatedKey(HKEY root, uint32_t view,
                                                         const std::wstring& key_path) {
  return {kCreatedKey, {Root(root), Number(view), base::WideToUTF8(key_path)}};
}

// static
TransactionJournal::Entry TransactionJournal::ChangedValue(HKEY root, uint32_t view,
                                                           const std::wstring& key_path,
                                                           const std::wstring& value_name,
                                                           bool had_old_value, DWORD old_type,
                                                           const std::vector<uint8_t>& old_data) {
  return {kChangedValue,
          {Root(root), Number(view), base::WideToUTF8(key_path), base::WideToUTF8(value_name),
           Number(had_old_value ? 1 : 0), Number(old_type),
           had_old_value ? std::string(old_data.begin(), old_data.end()) : std::string()}};
}

// static
TransactionJournal::Entry TransactionJournal::DeletedKeyTree(HKEY root, uint32_t view,
                                                             const std::wstring& key_path,
                                                             const std::string& tree) {
  return {kDeletedKeyTree, {Root(root), Number(view), base::WideToUTF8(key_path), tree}};
}

}  // namespace installer
